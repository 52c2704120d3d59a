#include "idl.h"

#include <sstream>

namespace zul::typegen {
namespace {

std::string IdlType(const Type& type, const Description& d) {
  if (type.base == BaseType::kObject) {
    for (const Class& c : d.classes)
      if (c.name == type.className) return InterfaceName(c) + "*";
  }
  const std::string scalar = type.info().idl;
  return type.array ? "SAFEARRAY(" + scalar + ")" : scalar;
}

std::string Parameter(const Parameter& p, const Description& d) {
  return (p.byReference ? "[in, out] " : "[in] ") + IdlType(p.type, d) + (p.byReference ? "* " : " ") +
         p.name;
}

std::string MethodSignature(const Member& m, const Description& d) {
  std::string text = m.name + "(";
  for (const auto& p : m.parameters) text += (text.back() == '(' ? "" : ", ") + Parameter(p, d);
  if (m.result)
    text += (text.back() == '(' ? "" : ", ") +
            ("[out, retval] " + IdlType(*m.result, d) + "* " + Spelled(d, "result"));
  return text + ");";
}

void EmitInterface(std::ostream& out, const Class& c, const Description& d) {
  out << "  [object, uuid(" << GuidText(c.iid) << "), dual, oleautomation, nonextensible,\n"
      << "   helpstring(\"" << c.name << " of " << d.library << "\")]\n"
      << "  interface " << InterfaceName(c) << " : IDispatch\n  {\n";
  for (const Member& m : c.members) {
    const std::string id = "    [id(" + std::to_string(m.dispid) + ")";
    if (m.kind != Member::Kind::kProperty) {
      out << id << "] HRESULT " << MethodSignature(m, d) << "\n";
      continue;
    }
    const std::string type = IdlType(*m.result, d);
    if (m.readable)
      out << id << ", propget] HRESULT " << m.name << "([out, retval] " << type << "* " << Spelled(d, "value")
          << ");\n";
    // An object is assigned by reference (Set in Basic), a value by value (Let).
    const char* put = m.result->base == BaseType::kObject ? "propputref" : "propput";
    if (m.writable)
      out << id << ", " << put << "] HRESULT " << m.name << "([in] " << type << " " << Spelled(d, "value")
          << ");\n";
  }
  out << "  };\n\n";
}

void EmitEvents(std::ostream& out, const Class& c) {
  out << "  [uuid(" << GuidText(c.eventsIid) << "), helpstring(\"Events of " << c.name << "\")]\n"
      << "  dispinterface " << EventsName(c) << "\n  {\n  properties:\n  methods:\n";
  for (const Event& e : c.events) {
    out << "    [id(" << e.dispid << ")] void " << e.name << "(";
    if (e.argument) out << "[in] BSTR " << e.argument->name;
    out << ");\n";
  }
  out << "  };\n\n";
}

}  // namespace

std::string EmitIdl(const Description& d, const std::string& source) {
  std::ostringstream out;
  out << "// Made by zul-typegen from " << source << ": change the description, not this file.\n"
      << "import \"oaidl.idl\";\nimport \"ocidl.idl\";\n\n"
      << "[uuid(" << GuidText(d.libid) << "), version(" << d.major << "." << d.minor << "), helpstring(\""
      << d.library << "\")]\n"
      << "library " << d.library << "\n{\n  importlib(\"stdole2.tlb\");\n\n";
  // Interfaces may pass each other's objects, in any order.
  for (const Class& c : d.classes) out << "  interface " << InterfaceName(c) << ";\n";
  out << "\n";
  for (const Class& c : d.classes) {
    EmitInterface(out, c, d);
    if (!c.events.empty()) EmitEvents(out, c);
    out << "  [uuid(" << GuidText(c.clsid) << "), helpstring(\"" << c.progId << "\")]\n"
        << "  coclass " << c.name << "\n  {\n    [default] interface " << InterfaceName(c) << ";\n";
    if (!c.events.empty()) out << "    [default, source] dispinterface " << EventsName(c) << ";\n";
    out << "  };\n\n";
  }
  out << "};\n";
  return out.str();
}

}  // namespace zul::typegen
