#include "server.h"

#include <sstream>

namespace zul::typegen {
namespace {

// The C type of a scalar in the header widl makes, and its VARTYPE's name.
struct CNames {
  const char* c;
  const char* vt;
};
CNames ScalarNames(BaseType base) {
  switch (base) {
    case BaseType::kByte:
      return {"BYTE", "VT_UI1"};
    case BaseType::kShort:
      return {"SHORT", "VT_I2"};
    case BaseType::kLong:
      return {"LONG", "VT_I4"};
    case BaseType::kUlong:
      return {"ULONG", "VT_UI4"};
    case BaseType::kLong64:
      return {"LONGLONG", "VT_I8"};
    case BaseType::kFloat:
      return {"FLOAT", "VT_R4"};
    case BaseType::kDouble:
      return {"DOUBLE", "VT_R8"};
    case BaseType::kCurrency:
      return {"CY", "VT_CY"};
    case BaseType::kDate:
      return {"DATE", "VT_DATE"};
    case BaseType::kBool:
      return {"VARIANT_BOOL", "VT_BOOL"};
    case BaseType::kString:
      return {"BSTR", "VT_BSTR"};
    case BaseType::kVariant:
      return {"VARIANT", "VT_VARIANT"};
    case BaseType::kObject:
      break;
  }
  return {"IDispatch*", "VT_DISPATCH"};
}

std::string CType(const Type& t) {
  if (t.base == BaseType::kObject) return "I" + t.className + "*";
  return t.array ? "SAFEARRAY*" : ScalarNames(t.base).c;
}

std::string VarType(const Type& t) {
  const std::string vt = ScalarNames(t.base).vt;
  return t.array ? "VT_ARRAY | " + vt : vt;
}

// The arguments of a result conversion: its VARTYPE, where it goes, and an object's interface.
std::string ResultArguments(const Type& t, const std::string& out) {
  std::string text = VarType(t) + ", " + out;
  if (t.base == BaseType::kObject) text += ", &IID_I" + t.className;
  return text;
}

std::string Wide(const std::string& s) {
  return "L\"" + s + "\"";
}

// The arguments in parameter order, as a chain on a Call.
std::string Arguments(const std::vector<Parameter>& parameters) {
  std::string chain;
  for (const Parameter& p : parameters) {
    if (p.byReference) {
      chain += ".InOut(" + VarType(p.type) + ", " + p.name + ")";
    } else {
      chain += ".In(" + VarType(p.type) + ", &" + p.name + ")";
    }
  }
  return chain;
}

std::string Signature(const std::vector<Parameter>& parameters, const std::optional<Type>& result) {
  std::string text;
  for (const Parameter& p : parameters)
    text += (text.empty() ? "" : ", ") + CType(p.type) + (p.byReference ? "* " : " ") + p.name;
  if (result) text += (text.empty() ? "" : ", ") + CType(*result) + "* result";
  return text;
}

void Body(std::ostream& out, const std::string& call) {
  out << "    return zul::typed::Guarded([&] { return zul::typed::Call(core_)" << call << "; });\n  }\n";
}

void EmitMember(std::ostream& out, const Member& m) {
  if (m.kind == Member::Kind::kProperty) {
    const Type& t = *m.result;
    if (m.readable) {
      out << "  HRESULT STDMETHODCALLTYPE get_" << m.name << "(" << CType(t) << "* value) override {\n";
      Body(out, ".Get(" + Wide(m.name) + ", " + ResultArguments(t, "value") + ")");
    }
    if (m.writable) {
      const char* put = t.base == BaseType::kObject ? "putref_" : "put_";
      out << "  HRESULT STDMETHODCALLTYPE " << put << m.name << "(" << CType(t) << " value) override {\n";
      Body(out, ".In(" + VarType(t) + ", &value).Put(" + Wide(m.name) + ")");
    }
    return;
  }
  out << "  HRESULT STDMETHODCALLTYPE " << m.name << "(" << Signature(m.parameters, m.result)
      << ") override {\n";
  if (m.kind == Member::Kind::kConstructor) {
    Body(out, Arguments(m.parameters) + ".Construct()");
  } else {
    std::string call = Arguments(m.parameters) + ".Method(" + Wide(m.name);
    if (m.result) call += ", " + ResultArguments(*m.result, "result");
    Body(out, call + ")");
  }
}

bool HasConstructor(const Class& c) {
  for (const Member& m : c.members)
    if (m.kind == Member::Kind::kConstructor) return true;
  return false;
}

}  // namespace

std::string EmitServer(const Description& d, const std::string& source, const std::string& header) {
  std::ostringstream out;
  out << "// Made by zul-typegen from " << source << ": change the description, not this file.\n"
      << "#include \"typed_object.h\"\n\n#include <initguid.h>\n\n#include \"" << header
      << "\"\n\nnamespace {\n\n";
  for (const Class& c : d.classes) {
    const std::string object = c.name + "Object";  // the coclass's own name is widl's
    if (!c.events.empty()) {
      out << "const zul::typed::EventInfo k" << c.name << "Events[] = {\n";
      for (const Event& e : c.events)
        out << "    {" << Wide(e.name) << ", " << e.dispid << ", " << (e.argument ? "true" : "false")
            << "},\n";
      out << "};\n";
    }
    const std::string events = c.events.empty() ? "nullptr, nullptr, 0"
                                                : "&DIID_" + EventsName(c) + ", k" + c.name + "Events, " +
                                                      std::to_string(c.events.size());
    out << "const zul::typed::ClassInfo k" << c.name << " = {" << Wide(c.name) << ", " << Wide(c.progId)
        << ", &IID_" << InterfaceName(c) << ", &CLSID_" << c.name << ", "
        << (HasConstructor(c) ? "false" : "true") << ", " << events << "};\n\n"
        << "class " << object << " final : public zul::typed::TypedObject<" << InterfaceName(c)
        << "> {\n public:\n"
        << "  " << object << "() : TypedObject(k" << c.name << ") {}\n\n";
    for (const Member& m : c.members) EmitMember(out, m);
    out << "};\n\nzul::automation::ClassFactory g_" << c.name << "Factory(&zul::typed::Create<" << object
        << ">);\n\n";
  }
  out << "const zul::typed::ServerClass kClasses[] = {\n";
  for (const Class& c : d.classes)
    out << "    {&k" << c.name << ", " << c.version << ", &g_" << c.name << "Factory},\n";
  out << "};\nconst zul::typed::Server kServer = {kClasses, " << d.classes.size() << ", &LIBID_" << d.library
      << ", " << d.major << ", " << d.minor << "};\n\n}  // namespace\n\n"
      << "STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* object) {\n"
      << "  return zul::typed::GetClassObject(kServer, clsid, iid, object);\n}\n"
      << "STDAPI DllCanUnloadNow() {\n  return zul::automation::ModuleUsers() == 0 ? S_OK : S_FALSE;\n}\n"
      << "STDAPI DllRegisterServer() {\n  return zul::typed::RegisterServer(kServer);\n}\n"
      << "STDAPI DllUnregisterServer() {\n  return zul::typed::UnregisterServer(kServer);\n}\n";
  return out.str();
}

}  // namespace zul::typegen
