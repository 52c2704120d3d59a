// The type library made from a description holds what the description says: its identities, and every
// class, member and event in vtable order with its parameters, as OLE Automation reads them back.
//   zul_typelib_test DESCRIPTION TLB
#include <windows.h>
#include <oaidl.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "description.h"

using namespace zul::typegen;

namespace {

int failures = 0;

void Check(bool ok, const std::string& what) {
  if (!ok) ++failures, std::printf("FAILED: %s\n", what.c_str());
}

std::string Narrow(const wchar_t* text) {
  std::string s;
  for (; text && *text; ++text) s += static_cast<char>(*text);
  return s;
}

std::string TypeText(ITypeInfo* info, const TYPEDESC& t) {
  if (t.vt == VT_PTR) return TypeText(info, *t.lptdesc) + "*";
  if (t.vt == VT_SAFEARRAY) return TypeText(info, *t.lptdesc) + "[]";
  if (t.vt == VT_USERDEFINED) {
    ITypeInfo* ref = nullptr;
    BSTR name = nullptr;
    if (SUCCEEDED(info->GetRefTypeInfo(t.hreftype, &ref)))
      ref->GetDocumentation(MEMBERID_NIL, &name, 0, 0, 0);
    const std::string text = Narrow(name);
    SysFreeString(name);
    if (ref) ref->Release();
    return text;
  }
  for (const TypeInfo& known : Types())
    if (known.varType == t.vt && *known.keyword) return known.keyword;
  return "vt" + std::to_string(t.vt);
}

std::string Expected(const Type& t) {
  if (t.base == BaseType::kObject) return "I" + t.className + "*";
  return std::string(t.info().keyword) + (t.array ? "[]" : "");
}

std::string Signature(const std::string& kind, const std::string& name, int32_t id,
                      const std::vector<std::string>& parameters) {
  std::string text = kind + " " + name + "#" + std::to_string(id) + "(";
  for (const auto& p : parameters) text += p + ";";
  return text + ")";
}

// The functions of a type, as signatures in order.
std::vector<std::string> Functions(ITypeInfo* info) {
  std::vector<std::string> found;
  TYPEATTR* attr = nullptr;
  if (FAILED(info->GetTypeAttr(&attr))) return found;
  for (UINT i = 0; i < attr->cFuncs; ++i) {
    FUNCDESC* f = nullptr;
    if (FAILED(info->GetFuncDesc(i, &f))) continue;
    BSTR name = nullptr;
    info->GetDocumentation(f->memid, &name, 0, 0, 0);
    const char* kind = f->invkind == INVOKE_PROPERTYGET      ? "get"
                       : f->invkind == INVOKE_PROPERTYPUT    ? "put"
                       : f->invkind == INVOKE_PROPERTYPUTREF ? "putref"
                                                             : "call";
    std::vector<std::string> parameters;
    for (SHORT p = 0; p < f->cParams; ++p) {
      const ELEMDESC& e = f->lprgelemdescParam[p];
      const USHORT flags = e.paramdesc.wParamFlags;
      parameters.push_back(std::string(flags & PARAMFLAG_FIN ? "in " : "") +
                           (flags & PARAMFLAG_FOUT ? "out " : "") +
                           (flags & PARAMFLAG_FRETVAL ? "retval " : "") + TypeText(info, e.tdesc));
    }
    found.push_back(Signature(kind, Narrow(name), f->memid, parameters));
    SysFreeString(name);
    info->ReleaseFuncDesc(f);
  }
  info->ReleaseTypeAttr(attr);
  return found;
}

std::vector<std::string> ExpectedFunctions(const Class& c) {
  std::vector<std::string> expected;
  for (const Member& m : c.members) {
    if (m.kind == Member::Kind::kProperty) {
      const std::string type = Expected(*m.result);
      if (m.readable) expected.push_back(Signature("get", m.name, m.dispid, {"out retval " + type + "*"}));
      const char* put = m.result->base == BaseType::kObject ? "putref" : "put";
      if (m.writable) expected.push_back(Signature(put, m.name, m.dispid, {"in " + type}));
      continue;
    }
    std::vector<std::string> parameters;
    for (const Parameter& p : m.parameters)
      parameters.push_back(p.byReference ? "in out " + Expected(p.type) + "*" : "in " + Expected(p.type));
    if (m.result) parameters.push_back("out retval " + Expected(*m.result) + "*");
    expected.push_back(Signature("call", m.name, m.dispid, parameters));
  }
  return expected;
}

void Compare(const std::string& where, const std::vector<std::string>& expected,
             const std::vector<std::string>& found) {
  Check(expected.size() == found.size(),
        where + ": " + std::to_string(found.size()) + " functions, not " + std::to_string(expected.size()));
  for (size_t i = 0; i < expected.size() && i < found.size(); ++i)
    Check(expected[i] == found[i], where + ": expected " + expected[i] + ", found " + found[i]);
}

GUID ToGuid(const Guid& guid) {
  GUID id;
  std::wstring text = L"{";
  for (char c : GuidText(guid)) text += static_cast<wchar_t>(c);
  CLSIDFromString((text + L"}").c_str(), &id);
  return id;
}

ITypeInfo* InfoOf(ITypeLib* library, const Guid& guid, const std::string& what) {
  ITypeInfo* info = nullptr;
  Check(SUCCEEDED(library->GetTypeInfoOfGuid(ToGuid(guid), &info)), what + " is missing");
  return info;
}

void CheckClass(ITypeLib* library, const Class& c) {
  ITypeInfo* coclass = InfoOf(library, c.clsid, "coclass " + c.name);
  ITypeInfo* dual = InfoOf(library, c.iid, "interface of " + c.name);
  if (!coclass || !dual) return;
  // The coclass's interfaces by identity, with their flags (1 default, 2 source).
  std::vector<std::string> implemented;
  TYPEATTR* attr = nullptr;
  coclass->GetTypeAttr(&attr);
  for (UINT i = 0; i < attr->cImplTypes; ++i) {
    HREFTYPE ref;
    ITypeInfo* info = nullptr;
    INT flags = 0;
    TYPEATTR* implAttr = nullptr;
    coclass->GetRefTypeOfImplType(i, &ref), coclass->GetImplTypeFlags(i, &flags);
    coclass->GetRefTypeInfo(ref, &info), info->GetTypeAttr(&implAttr);
    const char* which = implAttr->guid == ToGuid(c.iid)         ? "interface "
                        : implAttr->guid == ToGuid(c.eventsIid) ? "events "
                                                                : "other ";
    implemented.push_back(which + std::to_string(flags));
    info->ReleaseTypeAttr(implAttr), info->Release();
  }
  coclass->ReleaseTypeAttr(attr);
  Check(implemented == (c.events.empty() ? std::vector<std::string>{"interface 1"}
                                         : std::vector<std::string>{"interface 1", "events 3"}),
        c.name + ": the coclass's default interface and source");
  // The vtable half of the dual interface holds the members; the dispatch half adds IDispatch's.
  HREFTYPE vtable;
  ITypeInfo* functions = nullptr;
  if (SUCCEEDED(dual->GetRefTypeOfImplType(-1, &vtable)) &&
      SUCCEEDED(dual->GetRefTypeInfo(vtable, &functions))) {
    Compare(InterfaceName(c), ExpectedFunctions(c), Functions(functions));
    functions->Release();
  } else {
    Check(false, InterfaceName(c) + " is not dual");
  }
  if (!c.events.empty()) {
    std::vector<std::string> expected;
    for (const Event& e : c.events)
      expected.push_back(
          Signature("call", e.name, e.dispid,
                    e.argument ? std::vector<std::string>{"in string"} : std::vector<std::string>{}));
    if (ITypeInfo* events = InfoOf(library, c.eventsIid, EventsName(c))) {
      Compare(EventsName(c), expected, Functions(events));
      events->Release();
    }
  }
  coclass->Release(), dual->Release();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return std::printf("usage: zul_typelib_test DESCRIPTION TLB\n"), 2;
  std::ifstream in(argv[1], std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  const Description d = ParseDescription(text.str(), argv[1]);
  std::wstring path;
  for (const char* c = argv[2]; *c; ++c) path += static_cast<wchar_t>(*c);
  ITypeLib* library = nullptr;
  if (FAILED(LoadTypeLib(path.c_str(), &library))) return std::printf("FAILED: LoadTypeLib %s\n", argv[2]), 1;
  UINT expected = 0;
  for (const Class& c : d.classes) expected += c.events.empty() ? 2 : 3;
  Check(library->GetTypeInfoCount() == expected, "GetTypeInfoCount is " +
                                                     std::to_string(library->GetTypeInfoCount()) + ", not " +
                                                     std::to_string(expected));
  TLIBATTR* attr = nullptr;
  library->GetLibAttr(&attr);
  Check(attr->guid == ToGuid(d.libid) && attr->wMajorVerNum == d.major && attr->wMinorVerNum == d.minor,
        "the library's identity and version");
  for (const Class& c : d.classes) CheckClass(library, c);
  library->ReleaseTLibAttr(attr);
  library->Release();
  std::printf("%zu classes: %d failed\n", d.classes.size(), failures);
  return failures == 0 ? 0 : 1;
}
