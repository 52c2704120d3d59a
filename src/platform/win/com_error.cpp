// _com_error raised as Microsoft's C++ runtime throws it on x64, so that callers built with Microsoft's
// toolchain catch it as `_com_error&`: exception code 0xE06D7363, the thrown object laid out as their
// compiler lays out _com_error, and throw information whose parts refer to each other by offsets from the
// base of the image that holds them (this one).
#include "platform/com_error.h"

#ifdef _WIN32  // built only there

#include <cstddef>
#include <cstdint>

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace zul {
namespace {

constexpr DWORD kCxxExceptionCode = 0xE06D7363;
constexpr ULONG_PTR kCxxMagic = 0x19930520;

// Microsoft's _com_error: its only virtual function is the destructor.
struct ComErrorObject {
  const void* const* vtable;
  HRESULT hr;
  IErrorInfo* errorInfo;  // owned reference, or null
  wchar_t* message;       // made by the caller's ErrorMessage() with FormatMessage; freed with LocalFree
};
static_assert(offsetof(ComErrorObject, hr) == 8 && offsetof(ComErrorObject, errorInfo) == 16 &&
              offsetof(ComErrorObject, message) == 24 && sizeof(ComErrorObject) == 32);

// The runtime calls these with Microsoft's x64 member-function convention, which is the mingw one.
void Destroy(ComErrorObject* self) {
  if (self->errorInfo != nullptr) self->errorInfo->Release();
  if (self->message != nullptr) LocalFree(self->message);
}

// The object is never on the heap: the thrown one lives in RaiseComError's frame, copies in catch frames.
void* DestroyThroughVtable(ComErrorObject* self, unsigned /*deleteFlags*/) {
  Destroy(self);
  return self;
}

void Copy(ComErrorObject* to, const ComErrorObject* from) {
  *to = *from;
  to->message = nullptr;
  if (to->errorInfo != nullptr) to->errorInfo->AddRef();
}

// The slot before the first function is the type's run-time information, which no catch reads.
const void* const kVtable[] = {nullptr, reinterpret_cast<const void*>(&DestroyThroughVtable)};

struct TypeDescriptor {
  const void* typeInfoVtable;  // catches match by name
  void* spare;
  char name[sizeof ".?AV_com_error@@"];
};

struct CatchableType {
  uint32_t properties;
  int32_t type;  // offsets from the image base, as every reference below
  int32_t memberDisplacement, vbaseTableDisplacement, vbaseDisplacement;
  int32_t size;
  int32_t copy;
};

struct ThrowInfo {
  uint32_t attributes;
  int32_t destroy;
  int32_t forwardCompat;
  int32_t catchableTypes;
};

struct ThrowData {
  TypeDescriptor type;
  CatchableType catchable;
  int32_t catchableCount;
  int32_t catchable0;
  ThrowInfo info;
};

int32_t ImageOffset(const void* address) {
  return static_cast<int32_t>(reinterpret_cast<const char*>(address) -
                              reinterpret_cast<const char*>(&__ImageBase));
}

const ThrowInfo& ComErrorThrowInfo() {
  static ThrowData data{{nullptr, nullptr, ".?AV_com_error@@"}, {}, 1, 0, {}};
  static const bool filled = [] {
    data.catchable = {0,
                      ImageOffset(&data.type),
                      0,
                      -1,
                      0,
                      sizeof(ComErrorObject),
                      ImageOffset(reinterpret_cast<const void*>(&Copy))};
    data.catchable0 = ImageOffset(&data.catchable);
    data.info = {0, ImageOffset(reinterpret_cast<const void*>(&Destroy)), 0,
                 ImageOffset(&data.catchableCount)};
    return true;
  }();
  static_cast<void>(filled);
  return data.info;
}

}  // namespace

void RaiseComError(HRESULT hr, IErrorInfo* errorInfo) {
  ComErrorObject object{&kVtable[1], hr, errorInfo, nullptr};
  const ULONG_PTR arguments[] = {kCxxMagic, reinterpret_cast<ULONG_PTR>(&object),
                                 reinterpret_cast<ULONG_PTR>(&ComErrorThrowInfo()),
                                 reinterpret_cast<ULONG_PTR>(&__ImageBase)};
  RaiseException(kCxxExceptionCode, EXCEPTION_NONCONTINUABLE, 4, arguments);
  __builtin_unreachable();  // a non-continuable exception never returns here
}

}  // namespace zul

#endif  // _WIN32
