#include "error/strings.h"

#include <algorithm>
#include <iterator>
#include <new>
#include <string_view>

#include "error/failure.h"
#include "error/messages.h"

namespace zul {

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

namespace detail {

std::size_t MeasureWide(const OLECHAR* wide, std::size_t units, bool& ascii) noexcept {
  std::size_t length = 0;
  OLECHAR high = 0;
  for (; length < units && wide[length] != 0; ++length) high |= wide[length];
  ascii = high < 0x80;
  return length;
}

std::size_t CodePageBytes(const OLECHAR* wide, std::size_t units) noexcept {
  if (units == 0 || units > kMaxConvertedUnits) return 0;
  const int bytes =
      WideCharToMultiByte(CP_THREAD_ACP, 0, wide, static_cast<int>(units), nullptr, 0, nullptr, nullptr);
  return bytes > 0 ? static_cast<std::size_t>(bytes) : 0;
}

bool ToCodePage(const OLECHAR* wide, std::size_t units, char* out, std::size_t bytes) noexcept {
  const int count = static_cast<int>(bytes);
  return WideCharToMultiByte(CP_THREAD_ACP, 0, wide, static_cast<int>(units), out, count, nullptr, nullptr) ==
         count;
}

// A round trip, not the converter's used-default flag: UTF-8 code pages refuse that flag, and a best-fit
// character (another character that looks alike) is a loss that the flag does not report.
bool ReadsBack(const char* text, std::size_t bytes, const OLECHAR* wide, std::size_t units) noexcept {
  const int count = static_cast<int>(bytes);
  if (MultiByteToWideChar(CP_THREAD_ACP, 0, text, count, nullptr, 0) != static_cast<int>(units)) return false;
  OLECHAR small[256];
  std::unique_ptr<OLECHAR[]> large;
  OLECHAR* back = small;
  if (units > std::size(small)) {
    large.reset(new (std::nothrow) OLECHAR[units]);
    if (!large) return false;
    back = large.get();
  }
  return MultiByteToWideChar(CP_THREAD_ACP, 0, text, count, back, static_cast<int>(units)) ==
             static_cast<int>(units) &&
         std::equal(back, back + units, wide);
}

}  // namespace detail

NarrowText::NarrowText(const OLECHAR* wide) noexcept {
  if (wide == nullptr) return;
  text_ = ConvertForBridge(
      wide, kWhole,
      [this](std::size_t bytes) noexcept -> char* {
        if (bytes <= kInlineBytes) return inline_;
        heap_.reset(new (std::nothrow) char[bytes]);
        return heap_.get();
      },
      &exact_);
}

UniqueBstr UnrepresentableNameMessage(const OLECHAR* name) {
  const std::string_view before = kUnrepresentableNameBefore, after = kUnrepresentableNameAfter;
  const std::size_t length = WideLength(name);
  UniqueBstr message =
      UniqueBstr::Adopt(SysAllocStringLen(nullptr, static_cast<UINT>(before.size() + length + after.size())));
  if (message.Get() == nullptr) throw BstrFailure{};
  OLECHAR* out = std::copy(before.begin(), before.end(), message.Get());
  std::copy(after.begin(), after.end(), std::copy(name, name + length, out));
  return message;
}

}  // namespace zul
