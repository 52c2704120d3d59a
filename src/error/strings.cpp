#include "error/strings.h"

#include <new>

#include "error/failure.h"

namespace zul {

namespace {

constexpr std::size_t kMaxWideChars = 0x3FFFFFFF;  // characters with the terminator; 2 bytes each fits an int

}  // namespace

std::size_t WideLength(const OLECHAR* text) noexcept {
  std::size_t length = 0;
  while (text[length] != 0) ++length;
  return length;
}

void AssignNarrow(UniqueBstr& field, const char* text) {
  field.Reset();
  if (text == nullptr) return;
  const int units = MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, nullptr, 0);  // terminator included
  if (units <= 0) throw BstrFailure{};
  UniqueBstr converted = UniqueBstr::Adopt(SysAllocStringLen(nullptr, static_cast<UINT>(units - 1)));
  if (converted.Get() == nullptr) throw BstrFailure{};
  if (MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, converted.Get(), units) != units) throw BstrFailure{};
  field = std::move(converted);
}

void AssignWide(UniqueBstr& field, const OLECHAR* text) {
  field.Reset();
  if (text == nullptr) return;
  field.Reset(SysAllocString(text));
  if (field.Get() == nullptr) throw BstrFailure{};
}

void AssignBstr(UniqueBstr& field, BSTR source) {
  if (field.Get() == source) return;
  field.Reset();
  if (source == nullptr) return;
  field.Reset(SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source), SysStringByteLen(source)));
  if (field.Get() == nullptr) throw BstrFailure{};
}

HRESULT CopyBstrOut(BSTR source, BSTR* destination) noexcept {
  if (destination == nullptr) return E_POINTER;
  *destination = nullptr;
  if (source == nullptr) return S_OK;
  *destination = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(source), SysStringByteLen(source));
  return *destination != nullptr ? S_OK : E_OUTOFMEMORY;
}

OLECHAR* NarrowToWide(OLECHAR* buffer, int capacity, const char* text) noexcept {
  if (buffer == nullptr || text == nullptr) return nullptr;
  buffer[0] = 0;
  if (MultiByteToWideChar(CP_THREAD_ACP, 0, text, -1, buffer, capacity) == 0) return nullptr;
  return buffer;
}

NarrowText::NarrowText(const OLECHAR* wide) noexcept {
  if (wide == nullptr) return;
  // An ASCII text, as nearly all names are, reads the same in every ANSI code page: copied as it is.
  std::size_t ascii = 0;
  for (; ascii < kInlineBytes && wide[ascii] != 0 && wide[ascii] < 0x80; ++ascii) {
    inline_[ascii] = static_cast<char>(wide[ascii]);
  }
  if (ascii < kInlineBytes && wide[ascii] == 0) {
    inline_[ascii] = 0;
    text_ = inline_;
    return;
  }
  const std::size_t units = WideLength(wide) + 1;
  if (units > kMaxWideChars) return;
  const std::size_t bytes = 2 * units;
  char* buffer = inline_;
  if (bytes > kInlineBytes) {
    heap_.reset(new (std::nothrow) char[bytes]);
    if (!heap_) return;
    buffer = heap_.get();
  }
  buffer[0] = 0;
  if (WideCharToMultiByte(CP_THREAD_ACP, 0, wide, static_cast<int>(units), buffer, static_cast<int>(bytes),
                          nullptr, nullptr) == 0) {
    return;
  }
  text_ = buffer;
}

}  // namespace zul
