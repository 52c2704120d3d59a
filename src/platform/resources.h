// RAII owners of the raw COM resources. Taking ownership is always spelled out (Adopt); copying is
// deleted; each owner is the size of what it owns.
#pragma once

#include <utility>

#include "platform/ole.h"

namespace zul {

// Owns one BSTR, which may be null.
class UniqueBstr {
 public:
  UniqueBstr() = default;
  UniqueBstr(const UniqueBstr&) = delete;
  UniqueBstr& operator=(const UniqueBstr&) = delete;
  UniqueBstr(UniqueBstr&& other) noexcept : bstr_(other.Release()) {}
  UniqueBstr& operator=(UniqueBstr&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  ~UniqueBstr() { Reset(); }

  static UniqueBstr Adopt(BSTR bstr) noexcept {
    UniqueBstr owner;
    owner.bstr_ = bstr;
    return owner;
  }

  BSTR Get() const noexcept { return bstr_; }
  // Hands the BSTR to the caller, who frees it.
  [[nodiscard]] BSTR Release() noexcept { return std::exchange(bstr_, nullptr); }
  void Reset(BSTR bstr = nullptr) noexcept {
    BSTR old = std::exchange(bstr_, bstr);
    if (old != nullptr && old != bstr) SysFreeString(old);
  }
  void Swap(UniqueBstr& other) noexcept { std::swap(bstr_, other.bstr_); }
  // For out-parameters: frees what is held and lends the slot.
  BSTR* Receive() noexcept {
    Reset();
    return &bstr_;
  }
  // Null and zero-length strings both count as empty.
  bool IsEmpty() const noexcept { return bstr_ == nullptr || SysStringLen(bstr_) == 0; }

 private:
  BSTR bstr_ = nullptr;
};
static_assert(sizeof(UniqueBstr) == sizeof(BSTR));

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

// Owns one SAFEARRAY and destroys it with SafeArrayDestroy.
class UniqueSafeArray {
 public:
  UniqueSafeArray() = default;
  UniqueSafeArray(const UniqueSafeArray&) = delete;
  UniqueSafeArray& operator=(const UniqueSafeArray&) = delete;
  UniqueSafeArray(UniqueSafeArray&& other) noexcept : array_(other.Release()) {}
  UniqueSafeArray& operator=(UniqueSafeArray&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  ~UniqueSafeArray() { Reset(); }

  static UniqueSafeArray Adopt(SAFEARRAY* array) noexcept {
    UniqueSafeArray owner;
    owner.array_ = array;
    return owner;
  }

  SAFEARRAY* Get() const noexcept { return array_; }
  [[nodiscard]] SAFEARRAY* Release() noexcept { return std::exchange(array_, nullptr); }
  void Reset(SAFEARRAY* array = nullptr) noexcept {
    SAFEARRAY* old = std::exchange(array_, array);
    if (old != nullptr && old != array) SafeArrayDestroy(old);
  }

 private:
  SAFEARRAY* array_ = nullptr;
};
static_assert(sizeof(UniqueSafeArray) == sizeof(SAFEARRAY*));

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

// Owns one reference to a COM interface.
template <class Interface>
class UniqueComPtr {
 public:
  UniqueComPtr() = default;
  UniqueComPtr(const UniqueComPtr&) = delete;
  UniqueComPtr& operator=(const UniqueComPtr&) = delete;
  UniqueComPtr(UniqueComPtr&& other) noexcept : ptr_(other.Release()) {}
  ~UniqueComPtr() { Reset(); }

  static UniqueComPtr Adopt(Interface* ptr) noexcept {
    UniqueComPtr owner;
    owner.ptr_ = ptr;
    return owner;
  }

  Interface* Get() const noexcept { return ptr_; }
  Interface* operator->() const noexcept { return ptr_; }
  [[nodiscard]] Interface* Release() noexcept { return std::exchange(ptr_, nullptr); }
  void Reset() noexcept {
    if (Interface* old = std::exchange(ptr_, nullptr)) old->Release();
  }
  Interface** Receive() noexcept {
    Reset();
    return &ptr_;
  }

 private:
  Interface* ptr_ = nullptr;
};

}  // namespace zul
