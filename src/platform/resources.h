// RAII owners of the raw COM and system resources. Taking ownership is always spelled out (Adopt);
// copying is deleted; each owner is the size of what it owns.
#pragma once

#include <type_traits>
#include <utility>

#include "platform/ole.h"

namespace zul {

// Owns one handle of the kind Traits describes: kInvalid, the value that owns nothing, and Free(handle),
// which releases any other and never throws. Every owner below is this template, with the same verbs.
template <class T, class Traits>
class UniqueHandle {
 public:
  UniqueHandle() = default;
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  ~UniqueHandle() { Reset(); }

  static UniqueHandle Adopt(T handle) noexcept {
    UniqueHandle owner;
    owner.handle_ = handle;
    return owner;
  }

  T Get() const noexcept { return handle_; }
  // The interface's members, for an owner of an interface pointer.
  T operator->() const noexcept requires std::is_class_v<std::remove_pointer_t<T>> { return handle_; }
  // Hands the handle to the caller, who frees it.
  [[nodiscard]] T Release() noexcept { return std::exchange(handle_, Traits::kInvalid); }
  // Frees what is held, unless it is handle itself, and holds handle.
  void Reset(T handle = Traits::kInvalid) noexcept {
    T old = std::exchange(handle_, handle);
    if (old != Traits::kInvalid && old != handle) Traits::Free(old);
  }
  void Swap(UniqueHandle& other) noexcept { std::swap(handle_, other.handle_); }
  // For out-parameters: frees what is held and lends the slot.
  T* Receive() noexcept {
    Reset();
    return &handle_;
  }
  // Null and zero-length strings both count as empty.
  bool IsEmpty() const noexcept requires std::is_same_v<T, BSTR> { return SysStringLen(handle_) == 0; }

 private:
  T handle_ = Traits::kInvalid;
};

struct BstrTraits {
  static constexpr BSTR kInvalid = nullptr;
  static void Free(BSTR bstr) noexcept { SysFreeString(bstr); }
};
// Owns one BSTR, which may be null.
using UniqueBstr = UniqueHandle<BSTR, BstrTraits>;
static_assert(sizeof(UniqueBstr) == sizeof(BSTR));

struct SafeArrayTraits {
  static constexpr SAFEARRAY* kInvalid = nullptr;
  static void Free(SAFEARRAY* array) noexcept { SafeArrayDestroy(array); }
};
// Owns one SAFEARRAY and destroys it with SafeArrayDestroy.
using UniqueSafeArray = UniqueHandle<SAFEARRAY*, SafeArrayTraits>;
static_assert(sizeof(UniqueSafeArray) == sizeof(SAFEARRAY*));

template <class Interface>
struct ComTraits {
  static constexpr Interface* kInvalid = nullptr;
  static void Free(Interface* pointer) noexcept { pointer->Release(); }
};
// Owns one reference to a COM interface.
template <class Interface>
using UniqueComPtr = UniqueHandle<Interface*, ComTraits<Interface>>;
static_assert(sizeof(UniqueComPtr<IUnknown>) == sizeof(IUnknown*));

struct ModuleTraits {
  static constexpr HMODULE kInvalid = nullptr;
  static void Free(HMODULE module) noexcept { FreeLibrary(module); }
};
// Owns one loaded module and frees it with FreeLibrary.
using UniqueModule = UniqueHandle<HMODULE, ModuleTraits>;
static_assert(sizeof(UniqueModule) == sizeof(HMODULE));

// Owns one VARIANT and clears it with VariantClear.
class UniqueVariant {
 public:
  UniqueVariant() noexcept { VariantInit(&variant_); }
  UniqueVariant(const UniqueVariant&) = delete;
  UniqueVariant& operator=(const UniqueVariant&) = delete;
  UniqueVariant(UniqueVariant&& other) noexcept : variant_(other.Release()) {}
  UniqueVariant& operator=(UniqueVariant&& other) noexcept {
    if (this != &other) {
      VariantClear(&variant_);
      variant_ = other.Release();
    }
    return *this;
  }
  ~UniqueVariant() { VariantClear(&variant_); }

  static UniqueVariant Adopt(const VARIANT& variant) noexcept {
    UniqueVariant owner;
    owner.variant_ = variant;
    return owner;
  }

  VARIANT* Get() noexcept { return &variant_; }
  const VARIANT* Get() const noexcept { return &variant_; }
  VARIANT* operator->() noexcept { return &variant_; }
  // Hands the contents to the caller, leaving VT_EMPTY.
  [[nodiscard]] VARIANT Release() noexcept {
    VARIANT out = variant_;
    VariantInit(&variant_);
    return out;
  }
  void Reset() noexcept { VariantClear(&variant_); }

 private:
  VARIANT variant_;
};
static_assert(sizeof(UniqueVariant) == sizeof(VARIANT));

// Holds SafeArrayAccessData for one scope; Data() is null when the array could not be locked.
class SafeArrayLock {
 public:
  explicit SafeArrayLock(SAFEARRAY* array) noexcept : array_(array) {
    if (array_ == nullptr || FAILED(SafeArrayAccessData(array_, &data_))) {
      array_ = nullptr;
      data_ = nullptr;
    }
  }
  SafeArrayLock(const SafeArrayLock&) = delete;
  SafeArrayLock& operator=(const SafeArrayLock&) = delete;
  ~SafeArrayLock() {
    if (array_ != nullptr) SafeArrayUnaccessData(array_);
  }

  bool Locked() const noexcept { return array_ != nullptr; }
  void* Data() const noexcept { return data_; }

 private:
  SAFEARRAY* array_;
  void* data_ = nullptr;
};

}  // namespace zul
