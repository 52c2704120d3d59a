// zul_typelib_test DESCRIPTION TLB: the type library holds what the description says, as OLE Automation
// reads it back: its identities, every class, and every member and event in order with its parameters.
#include <windows.h>
#include <oaidl.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "description.h"

using namespace zul::typegen;

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  if (!ok) ++failures, std::printf("FAILED: %s\n", what.c_str());
}

std::string Name(ITypeInfo* info, MEMBERID id) {
  BSTR name = nullptr;
  info->GetDocumentation(id, &name, nullptr, nullptr, nullptr);
  const std::string text(name, name + SysStringLen(name));
  SysFreeString(name);
  return text;
}

std::string TypeText(ITypeInfo* info, const TYPEDESC& t) {
  if (t.vt == VT_PTR) return TypeText(info, *t.lptdesc) + "*";
  if (t.vt == VT_SAFEARRAY) return TypeText(info, *t.lptdesc) + "[]";
  ITypeInfo* ref = nullptr;
  if (t.vt == VT_USERDEFINED && SUCCEEDED(info->GetRefTypeInfo(t.hreftype, &ref))) {
    const std::string name = Name(ref, MEMBERID_NIL);
    return ref->Release(), name;
  }
  for (const TypeInfo& known : Types())
    if (known.varType == t.vt && *known.keyword) return known.keyword;
  return "vt" + std::to_string(t.vt);
}

std::string Expected(const Type& t) {
  return t.base == BaseType::kObject ? "I" + t.className + "*"
                                     : t.info().keyword + std::string(t.array ? "[]" : "");
}

// One line per function, in order: "put Data#4(in variant)".
std::string Functions(ITypeInfo* info) {
  std::string found;
  TYPEATTR* attr = nullptr;
  info->GetTypeAttr(&attr);
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* f = nullptr;
    info->GetFuncDesc(i, &f);
    const char* kinds[] = {"", "call ", "get ", "", "put ", "", "", "", "putref "};
    found += kinds[f->invkind] + Name(info, f->memid) + "#" + std::to_string(f->memid) + "(";
    for (SHORT p = 0; p < f->cParams; ++p) {
      const USHORT flags = f->lprgelemdescParam[p].paramdesc.wParamFlags;
      found += std::string(p ? ", " : "") + (flags & PARAMFLAG_FIN ? "in " : "") +
               (flags & PARAMFLAG_FOUT ? "out " : "") + (flags & PARAMFLAG_FRETVAL ? "retval " : "") +
               TypeText(info, f->lprgelemdescParam[p].tdesc);
    }
    found += ")\n";
    info->ReleaseFuncDesc(f);
  }
  info->ReleaseTypeAttr(attr);
  return found;
}

std::string ExpectedFunctions(const Class& c) {
  std::string expected;
  for (const Member& m : c.members) {
    const std::string id = m.name + "#" + std::to_string(m.dispid) + "(";
    if (m.kind == Member::Kind::kProperty) {
      const std::string type = Expected(*m.result);
      if (m.readable) expected += "get " + id + "out retval " + type + "*)\n";
      const char* put = m.result->base == BaseType::kObject ? "putref " : "put ";
      if (m.writable) expected += put + id + "in " + type + ")\n";
      continue;
    }
    std::string parameters;
    for (const Parameter& p : m.parameters)
      parameters += ", " + (p.byReference ? "in out " + Expected(p.type) + "*" : "in " + Expected(p.type));
    if (m.result) parameters += ", out retval " + Expected(*m.result) + "*";
    expected += "call " + id + (parameters.empty() ? "" : parameters.substr(2)) + ")\n";
  }
  return expected;
}

GUID ToGuid(const Guid& guid) {
  GUID id;
  const std::string text = "{" + GuidText(guid) + "}";
  CLSIDFromString(std::wstring(text.begin(), text.end()).c_str(), &id);
  return id;
}

// The functions of the type that `guid` names (of its vtable half, for a dual interface) are `expected`.
void Compare(ITypeLib* library, const Guid& guid, const std::string& what, const std::string& expected) {
  ITypeInfo *info = nullptr, *vtable = nullptr;
  HREFTYPE ref;
  if (FAILED(library->GetTypeInfoOfGuid(ToGuid(guid), &info))) return Check(false, what + " is missing");
  if (SUCCEEDED(info->GetRefTypeOfImplType(-1, &ref)) && SUCCEEDED(info->GetRefTypeInfo(ref, &vtable)))
    info->Release(), info = vtable;
  const std::string found = Functions(info);
  Check(found == expected, what + ": expected\n" + expected + "found\n" + found);
  info->Release();
}

void CheckClass(ITypeLib* library, const Class& c) {
  Compare(library, c.clsid, "coclass " + c.name, "");
  Compare(library, c.iid, InterfaceName(c), ExpectedFunctions(c));
  std::string events;
  for (const Event& e : c.events)
    events += "call " + e.name + "#" + std::to_string(e.dispid) + (e.argument ? "(in string)\n" : "()\n");
  if (!c.events.empty()) Compare(library, c.eventsIid, EventsName(c), events);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return std::printf("usage: zul_typelib_test DESCRIPTION TLB\n"), 2;
  std::ifstream in(argv[1], std::ios::binary);
  const Description d = ParseDescription(std::string(std::istreambuf_iterator<char>(in), {}), argv[1]);
  const std::string path = argv[2];
  ITypeLib* library = nullptr;
  if (FAILED(LoadTypeLib(std::wstring(path.begin(), path.end()).c_str(), &library)))
    return std::printf("FAILED: LoadTypeLib %s\n", argv[2]), 1;
  UINT expected = 0;
  for (const Class& c : d.classes) expected += c.events.empty() ? 2 : 3;
  Check(library->GetTypeInfoCount() == expected,
        "GetTypeInfoCount " + std::to_string(library->GetTypeInfoCount()));
  TLIBATTR* attr = nullptr;
  library->GetLibAttr(&attr);
  Check(attr->guid == ToGuid(d.libid) && attr->wMajorVerNum == d.major && attr->wMinorVerNum == d.minor,
        "the library's identity and version");
  library->ReleaseTLibAttr(attr);
  for (const Class& c : d.classes) CheckClass(library, c);
  library->Release();
  std::printf("%zu classes, %d failed\n", d.classes.size(), failures);
  return failures == 0 ? 0 : 1;
}
