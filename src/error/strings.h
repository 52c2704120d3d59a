// The string operations of the error model and of every name that crosses to the bridge.
// Narrow texts are in the thread's ANSI code page (CP_THREAD_ACP) in both directions.
#pragma once

#include <climits>
#include <cstddef>
#include <memory>

#include "platform/resources.h"

namespace zul {

// The longest texts converted, in UTF-16 units, so that every size handed to the converters and to
// SysAllocStringLen fits an int: a BSTR takes 2 bytes a unit, its code-page form up to 3.
inline constexpr std::size_t kMaxBstrUnits = 0x3FFFFFFF;
inline constexpr std::size_t kMaxConvertedUnits = 0x2AAAAAAA;
static_assert(kMaxBstrUnits == INT_MAX / 2 && kMaxConvertedUnits == INT_MAX / 3);

// Replaces field with text converted to UTF-16; a null text leaves the field null.
// Throws BstrFailure (field left null) when the BSTR cannot be allocated or converted.
void AssignNarrow(UniqueBstr& field, const char* text);

// Replaces field with a copy of a zero-terminated wide text. Throws BstrFailure.
void AssignWide(UniqueBstr& field, const OLECHAR* text);

// Replaces field with a byte-for-byte copy of source (embedded NULs and odd byte lengths survive);
// nothing happens when both are the same BSTR. Throws BstrFailure.
void AssignBstr(UniqueBstr& field, BSTR source);

// Hands the caller a copy of source: E_POINTER for a null destination; a null source stores null.
HRESULT CopyBstrOut(BSTR source, BSTR* destination) noexcept;

// The one conversion of wide texts for the bridge, into the thread's ANSI code page. The first units
// UTF-16 units of wide (all of it up to its NUL for kWhole), up to a NUL among them, are converted
// whole into the block that allocate(bytes) gives for the converted bytes and a NUL; the block is
// returned, or null when allocate gave none. The size is the real converted byte count: a code page
// may need more bytes than UTF-16 units (up to three in UTF-8). Characters the code page cannot
// represent become its default character; a text that cannot be converted at all becomes empty.
// exact, when given, tells whether the text reads back unchanged: no character was lost.
inline constexpr std::size_t kWhole = static_cast<std::size_t>(-1);
template <class Allocate>  // char* (std::size_t bytes) noexcept
char* ConvertForBridge(const OLECHAR* wide, std::size_t units, Allocate&& allocate,
                       bool* exact = nullptr) noexcept;

// A wide name or command converted for the bridge by ConvertForBridge. Get() is null for a null input
// and when the heap block for a long text cannot be allocated; the bridge then receives null. Short
// texts are converted on the stack, long ones (commands of millions of characters) on the heap.
class NarrowText {
 public:
  explicit NarrowText(const OLECHAR* wide) noexcept;
  NarrowText(const NarrowText&) = delete;
  NarrowText& operator=(const NarrowText&) = delete;

  const char* Get() const noexcept { return text_; }
  // False when a character was lost to the code page (a null input loses none).
  bool Exact() const noexcept { return exact_; }

 private:
  static constexpr std::size_t kInlineBytes = 4096;
  char inline_[kInlineBytes];
  std::unique_ptr<char[]> heap_;
  const char* text_ = nullptr;
  bool exact_ = true;
};

// The text recorded for a name that the code page cannot hold, quoting the name as the client wrote
// it. Throws BstrFailure.
UniqueBstr UnrepresentableNameMessage(const OLECHAR* name);

// Length of a zero-terminated wide text, found by scanning (a BSTR's prefix is not consulted).
std::size_t WideLength(const OLECHAR* text) noexcept;

namespace detail {

// The units of wide up to the first NUL among at most units; ascii tells whether all are below 0x80.
std::size_t MeasureWide(const OLECHAR* wide, std::size_t units, bool& ascii) noexcept;
// The bytes of the code-page form of units UTF-16 units (no NUL among them); 0 when it cannot be had.
std::size_t CodePageBytes(const OLECHAR* wide, std::size_t units) noexcept;
// Writes that form, exactly bytes of it, into out; false when the conversion fails.
bool ToCodePage(const OLECHAR* wide, std::size_t units, char* out, std::size_t bytes) noexcept;
// Whether bytes of code-page text read back as exactly the units of wide.
bool ReadsBack(const char* text, std::size_t bytes, const OLECHAR* wide, std::size_t units) noexcept;

}  // namespace detail

template <class Allocate>
char* ConvertForBridge(const OLECHAR* wide, std::size_t units, Allocate&& allocate, bool* exact) noexcept {
  bool ascii = true;
  units = wide != nullptr ? detail::MeasureWide(wide, units, ascii) : 0;
  if (exact != nullptr) *exact = true;
  // ASCII, the common case, reads the same in every ANSI code page.
  const std::size_t bytes = ascii ? units : detail::CodePageBytes(wide, units);
  char* out = allocate(bytes + 1);
  if (out == nullptr) return nullptr;
  if (ascii) {
    for (std::size_t i = 0; i < units; ++i) out[i] = static_cast<char>(wide[i]);
  } else if (bytes == 0 || !detail::ToCodePage(wide, units, out, bytes)) {
    out[0] = 0;
    if (exact != nullptr) *exact = false;
    return out;
  } else if (exact != nullptr) {
    *exact = detail::ReadsBack(out, bytes, wide, units);
  }
  out[bytes] = 0;
  return out;
}

}  // namespace zul
