// The runtime of the typed servers that zul-typegen makes: one ZUL object behind a dual interface of
// the type library embedded in the server's DLL. The generated classes only declare their members.
#ifndef ZUL_WRAPPER_TYPED_OBJECT_H
#define ZUL_WRAPPER_TYPED_OBJECT_H

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "com_support.h"

namespace zul::typed {

// An event: raised when ZUL notifies with its name (case ignored), the notice's second text its argument.
struct EventInfo {
  const wchar_t* name;
  DISPID id;
  bool argument;
};

// What a generated class tells its base.
struct ClassInfo {
  const wchar_t* name;    // the ZUL class
  const wchar_t* progId;  // the source of its error objects
  const IID* iid;         // its dual interface
  const CLSID* clsid;
  bool createsAtOnce;    // no constructor arguments: the ZUL object is made with the COM object
  const IID* eventsIid;  // null: no events
  const EventInfo* events;
  std::size_t eventCount;
};

class TypedCore;

// The connection point of a class's events, and the container that finds it; both count their
// references on the object.
class EventContainer final : public IConnectionPointContainer {
 public:
  explicit EventContainer(TypedCore& core) : core_(core) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

 private:
  TypedCore& core_;
};

class EventPoint final : public IConnectionPoint {
 public:
  explicit EventPoint(TypedCore& core) : core_(core) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetConnectionInterface(IID* iid) override;
  HRESULT STDMETHODCALLTYPE GetConnectionPointContainer(IConnectionPointContainer** container) override;
  HRESULT STDMETHODCALLTYPE Advise(IUnknown* sink, DWORD* cookie) override;
  HRESULT STDMETHODCALLTYPE Unadvise(DWORD cookie) override;
  HRESULT STDMETHODCALLTYPE EnumConnections(IEnumConnections** connections) override;

 private:
  TypedCore& core_;
};

// Everything of a typed object but the vtable of its own interface.
class TypedCore {
 public:
  // owner: the object's IUnknown, on which the connection point and its container count references.
  TypedCore(const ClassInfo& info, IUnknown* owner);
  ~TypedCore();
  TypedCore(const TypedCore&) = delete;
  TypedCore& operator=(const TypedCore&) = delete;

  // Registers the wrapper, and makes the ZUL object when the class takes no constructor arguments.
  HRESULT Start();
  int32_t Cookie() const { return cookie_; }
  const ClassInfo& Info() const { return info_; }

  // A failure leaves an error object with the library's text of it (or `text`) for the caller.
  HRESULT Fail(HRESULT hr, const std::wstring& text = std::wstring()) const;

  // IDispatch over the type information of the interface; "Cookie" (how the library finds the ZUL
  // object behind an object argument) is answered here, not in the type library.
  HRESULT IdsOfNames(LPOLESTR* names, UINT count, DISPID* ids);
  HRESULT Invoke(IDispatch* self, DISPID id, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* exception, UINT* argError);
  HRESULT ClassTypeInfo(ITypeInfo** info);

  // The ZUL constructor with the arguments the call collected.
  HRESULT Construct(std::vector<VARIANT>& args, std::vector<uint32_t>& flags);

  IUnknown* Owner() const { return owner_; }
  EventContainer* Events() { return info_.eventCount > 0 ? &container_ : nullptr; }

 private:
  friend class EventContainer;
  friend class EventPoint;

  // Runs on the bridge's threads; lets nothing escape.
  static void OnNotify(BSTR first, BSTR second, void* userData);

  ClassInfo info_;
  IUnknown* owner_;
  EventContainer container_{*this};
  EventPoint point_{*this};
  std::mutex sinksLock_;
  std::vector<std::pair<DWORD, IDispatch*>> sinks_;  // each holds a reference
  DWORD nextSink_ = 0;
  int32_t cookie_ = 0;
  bool constructed_ = false;
};

// One call's arguments in parameter order: each refers to the caller's storage, so a by-reference
// argument is written back by the library in place.
class Call {
 public:
  explicit Call(TypedCore& core) : core_(core) {}
  // vt: the declared type (VT_ARRAY|T for arrays, VT_DISPATCH for objects); value: where it is.
  Call& In(VARTYPE vt, void* value);
  Call& InOut(VARTYPE vt, void* value);

  // Each result is converted to the declared type vt (VT_EMPTY: none) into *out; an object result to
  // the interface iid.
  HRESULT Method(const wchar_t* name, VARTYPE vt = VT_EMPTY, void* out = nullptr, const IID* iid = nullptr);
  HRESULT Get(const wchar_t* name, VARTYPE vt, void* out, const IID* iid = nullptr);
  HRESULT Put(const wchar_t* name);
  HRESULT Construct();

 private:
  HRESULT Result(VARIANT& value, const wchar_t* name, VARTYPE vt, void* out, const IID* iid);

  TypedCore& core_;
  bool missing_ = false;  // a null pointer where the caller's variable belongs
  std::vector<VARIANT> args_;
  std::vector<uint32_t> flags_;
};

// A member's body: no C++ exception crosses the interface.
template <class Body>
HRESULT Guarded(Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return automation::CaughtHResult();
  }
}

// A typed object: IUnknown, IDispatch, ISupportErrorInfo and IProvideClassInfo around the generated
// class's interface.
template <class Interface>
class TypedObject : public Interface, public ISupportErrorInfo, public IProvideClassInfo {
 public:
  explicit TypedObject(const ClassInfo& info) : core_(info, static_cast<Interface*>(this)) {
    ++automation::g_liveObjects;
  }
  TypedObject(const TypedObject&) = delete;
  TypedObject& operator=(const TypedObject&) = delete;

  template <class Derived>
  friend HRESULT Create(REFIID iid, void** object);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, *core_.Info().iid)) {
      *object = static_cast<Interface*>(this);
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
      *object = static_cast<ISupportErrorInfo*>(this);
    } else if (IsEqualIID(iid, IID_IProvideClassInfo)) {
      *object = static_cast<IProvideClassInfo*>(this);
    } else if (IsEqualIID(iid, IID_IConnectionPointContainer) && core_.Events() != nullptr) {
      *object = core_.Events();
    } else {
      return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 1;
    return S_OK;
  }
  // The coclass: scripts name an object (TypeName) after it; its default interface is this one.
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID, ITypeInfo** info) override {
    if (info == nullptr) return E_POINTER;
    *info = nullptr;
    return index == 0 ? core_.ClassTypeInfo(info) : DISP_E_BADINDEX;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID,
                                          DISPID* ids) override {
    return IsEqualIID(iid, IID_NULL) ? core_.IdsOfNames(names, count, ids) : DISP_E_UNKNOWNINTERFACE;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID, WORD flags, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
    if (!IsEqualIID(iid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    return core_.Invoke(static_cast<Interface*>(this), id, flags, params, result, exception, argError);
  }

  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return IsEqualIID(iid, *core_.Info().iid) ? S_OK : S_FALSE;
  }
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** info) override { return core_.ClassTypeInfo(info); }

 protected:
  virtual ~TypedObject() { --automation::g_liveObjects; }
  TypedCore core_;

 private:
  std::atomic<ULONG> references_{1};
};

// A class factory's work for a generated class (not a member of it, whose names are the description's).
template <class Derived>
HRESULT Create(REFIID iid, void** object) {
  auto* made = new (std::nothrow) Derived();
  if (made == nullptr) return E_OUTOFMEMORY;
  HRESULT hr = made->core_.Start();
  if (SUCCEEDED(hr)) hr = made->QueryInterface(iid, object);
  made->Release();
  return hr;
}

// The module's entry points over the table of its classes.
struct ServerClass {
  const ClassInfo* info;
  int version;
  automation::ClassFactory* factory;
};
struct Server {
  const ServerClass* classes;
  std::size_t count;
  const GUID* library;
  WORD major, minor;
};
HRESULT GetClassObject(const Server& server, REFCLSID clsid, REFIID iid, void** object);
HRESULT RegisterServer(const Server& server);
HRESULT UnregisterServer(const Server& server);

}  // namespace zul::typed

#endif  // ZUL_WRAPPER_TYPED_OBJECT_H
