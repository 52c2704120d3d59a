// An early-bound client of the reference classes: the vtable interfaces of zul_reference_types.dll,
// through the header widl makes, as a C++ program would use them. Prints "N passed, N failed".
#include <windows.h>
#include <initguid.h>

#include <cstdio>
#include <string>
#include <vector>

#include "reference.h"

namespace {

int passed = 0, failed = 0;

void Check(const char* label, const std::wstring& got, const std::wstring& expected) {
  if (got == expected) return void(++passed);
  ++failed;
  std::printf("FAIL %s: got %ls, expected %ls\n", label, got.c_str(), expected.c_str());
}

// A value as text: "I4 5", "BSTR x", an array as its elements "R8[1 2; 3 4]" (first index varying slowest).
std::wstring Shown(const VARIANT& v) {
  VARIANT copy;
  VariantInit(&copy);
  if ((v.vt & VT_ARRAY) == 0) {
    VariantChangeType(&copy, const_cast<VARIANT*>(&v), 0, VT_BSTR);
    std::wstring text = (v.vt == VT_BSTR ? L"BSTR "
                         : v.vt == VT_I4 ? L"I4 "
                                         : L"vt" + std::to_wstring(v.vt) + L" ");
    text += copy.bstrVal != nullptr ? copy.bstrVal : L"?";
    VariantClear(&copy);
    return text;
  }
  SAFEARRAY* a = v.parray;
  const UINT dims = SafeArrayGetDim(a);
  LONG rows = 0, cols = 0;
  SafeArrayGetUBound(a, 1, dims == 2 ? &rows : &cols);
  if (dims == 2) SafeArrayGetUBound(a, 2, &cols);
  std::wstring text = L"[";
  for (LONG i = 0; i <= rows; ++i) {
    for (LONG j = 0; j <= cols; ++j) {
      LONG at[] = {dims == 2 ? i : j, j};
      VARIANT element;
      VariantInit(&element);
      element.vt = v.vt & VT_TYPEMASK;
      if (element.vt == VT_VARIANT)
        SafeArrayGetElement(a, at, &element);
      else
        SafeArrayGetElement(a, at, &element.bVal);
      const std::wstring item = Shown(element);
      text += (i + j == 0 ? L"" : j == 0 ? L"; " : L" ") + item.substr(item.find(L' ') + 1);
      VariantClear(&element);
    }
  }
  return text + L"]";
}

std::wstring Shown(VARTYPE vt, SAFEARRAY* a) {
  VARIANT v;
  v.vt = VT_ARRAY | vt;
  v.parray = a;
  return Shown(v);
}

// A variant of vt holding the array rows x cols (cols 0: one dimension) of the values.
VARIANT Array(VARTYPE vt, LONG rows, LONG cols, std::vector<double> values) {
  SAFEARRAYBOUND bounds[] = {{static_cast<ULONG>(rows), 0}, {static_cast<ULONG>(cols), 0}};
  VARIANT v;
  v.vt = VT_ARRAY | vt;
  v.parray = SafeArrayCreate(vt, cols > 0 ? 2 : 1, bounds);
  for (LONG k = 0; k < static_cast<LONG>(values.size()); ++k) {
    LONG at[] = {cols > 0 ? k / cols : k, cols > 0 ? k % cols : 0};
    VARIANT element;
    element.vt = VT_R8;
    element.dblVal = values[k];
    VariantChangeType(&element, &element, 0, vt);
    SafeArrayPutElement(v.parray, at, &element.bVal);
  }
  return v;
}

std::wstring ErrorText(HRESULT hr) {
  IErrorInfo* error = nullptr;
  BSTR text = nullptr;
  if (GetErrorInfo(0, &error) == S_OK) error->GetDescription(&text), error->Release();
  wchar_t code[16];
  std::swprintf(code, 16, L"%08lX ", static_cast<unsigned long>(hr));
  std::wstring result = code + std::wstring(text != nullptr ? text : L"");
  SysFreeString(text);
  return result;
}

// Records each event as "Name(argument)".
class Sink final : public IDispatch {
 public:
  std::wstring heard;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    *object =
        IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, DIID_IWorkerEvents)
            ? this
            : nullptr;
    return *object != nullptr ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    const wchar_t* names[] = {L"?", L"Progress", L"Done", L"Aborted"};
    heard += std::wstring(names[id >= 1 && id <= 3 ? id : 0]) + L"(" +
             (params->cArgs == 1 ? params->rgvarg[0].bstrVal : L"") + L") ";
    return S_OK;
  }
};

template <class Interface>
Interface* Make(REFCLSID clsid, REFIID iid) {
  Interface* made = nullptr;
  const HRESULT hr =
      CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(&made));
  if (FAILED(hr)) std::printf("cannot create a class: %08lX\n", static_cast<unsigned long>(hr)), std::exit(1);
  return made;
}

}  // namespace

int main() {
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  IEcho* echo = Make<IEcho>(CLSID_Echo, IID_IEcho);
  IMatrix* m = Make<IMatrix>(CLSID_Matrix, IID_IMatrix);
  IMatrix* n = Make<IMatrix>(CLSID_Matrix, IID_IMatrix);
  IWorker* worker = Make<IWorker>(CLSID_Worker, IID_IWorker);
  LONG result = -1;

  VARIANT a, b;
  a.vt = VT_I4, a.lVal = 5;
  b.vt = VT_BSTR, b.bstrVal = SysAllocString(L"x");
  echo->Swap(&a, &b, &result);
  Check("Swap writes both back", Shown(a) + L", " + Shown(b), L"BSTR x, I4 5");
  VARIANT values = Array(VT_I4, 3, 0, {1, 2, 3});
  echo->Resize(&values, 5, &result);
  Check("an array by reference, replaced", Shown(values), L"[1 2 3 0 0]");
  VARIANT grid = Array(VT_R8, 2, 2, {1, 2, 3, 4});
  VARIANT seven;
  seven.vt = VT_I4, seven.lVal = 7;
  echo->Fill(&grid, seven, &result);
  Check("an array by reference, filled in place", Shown(grid), L"[7 7; 7 7]");

  // The client's a(2, 3) is ZUL's 3 rows of 2; n is its transpose.
  VARIANT data = Array(VT_R8, 2, 3, {1, 2, 3, 4, 5, 6});
  m->Create(data);
  SAFEARRAY* transposed = nullptr;
  m->Transpose(&transposed);
  VARIANT t;
  t.vt = VT_ARRAY | VT_R8, t.parray = transposed;
  n->Create(t);
  SAFEARRAY* product = nullptr;
  const HRESULT multiplied = m->Multiply(n, &product);
  Check("an object argument", Shown(VT_R8, product), L"[17 22 27; 22 29 36; 27 36 45]");
  Check("Multiply succeeded", std::to_wstring(multiplied), L"0");

  IMatrix* empty = Make<IMatrix>(CLSID_Matrix, IID_IMatrix);
  DISPID id = 0;
  LPOLESTR name = const_cast<LPOLESTR>(L"Cookie");
  DISPPARAMS none = {nullptr, nullptr, 0, 0};
  VARIANT wrapper;
  VariantInit(&wrapper);
  const IID unnamed = {};
  empty->GetIDsOfNames(unnamed, &name, 1, 0, &id);
  empty->Invoke(id, unnamed, 0, DISPATCH_PROPERTYGET, &none, &wrapper, nullptr, nullptr);
  LONG rows = 0;
  HRESULT hr = empty->get_Rows(&rows);
  Check("an error object with the library's text", ErrorText(hr),
        L"80004005 Wrapper " + std::to_wstring(wrapper.lVal) +
            L" (Matrix) has no object: call ZUL_QEL_CreateObject first.");
  hr = m->Create(data);
  Check("Create twice", ErrorText(hr), L"8000FFFF Create has already been called on this Matrix.");

  Sink sink;
  IConnectionPointContainer* container = nullptr;
  IConnectionPoint* point = nullptr;
  DWORD cookie = 0;
  worker->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
  container->FindConnectionPoint(DIID_IWorkerEvents, &point);
  point->Advise(&sink, &cookie);
  worker->Run(20, &result);
  worker->Start(10, &result);
  for (int i = 0; i < 500 && sink.heard.find(L"Done") == std::wstring::npos; ++i) Sleep(10);
  Check("events with their arguments", sink.heard,
        L"Progress(worker1: 10 of 20 ms) Progress(worker1: 20 of 20 ms) Progress(worker1: 10 of 10 ms) "
        L"Done(worker1) ");
  point->Unadvise(cookie);
  sink.heard.clear();
  worker->Run(10, &result);
  Check("no events after Unadvise", sink.heard, L"");

  point->Release(), container->Release(), worker->Release(), empty->Release(), n->Release(), m->Release();
  echo->Release();
  VariantClear(&a), VariantClear(&b), VariantClear(&values), VariantClear(&grid), VariantClear(&data);
  VariantClear(&t), SafeArrayDestroy(product);
  CoUninitialize();
  std::printf("%d passed, %d failed\n", passed, failed);
  return failed == 0 ? 0 : 1;
}
