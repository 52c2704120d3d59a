// The string operations of the error model and of every name that crosses to the bridge.
// Narrow texts are in the thread's ANSI code page (CP_THREAD_ACP) in both directions.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/resources.h"

namespace zul {

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

// Converts text into the caller's buffer of capacity characters. Returns buffer, or null for a null
// buffer or text (buffer[0] is 0 then) and when the conversion fails.
OLECHAR* NarrowToWide(OLECHAR* buffer, int capacity, const char* text) noexcept;

// A wide name or text converted for the bridge, at most two bytes per character. Get() is null for a
// null input, for 0x3FFFFFFF characters or more, and when a character does not fit; the bridge then
// receives null. Short texts are converted on the stack, long ones (commands of millions of
// characters) on the heap.
class NarrowText {
 public:
  explicit NarrowText(const OLECHAR* wide) noexcept;
  NarrowText(const NarrowText&) = delete;
  NarrowText& operator=(const NarrowText&) = delete;

  const char* Get() const noexcept { return text_; }

 private:
  static constexpr std::size_t kInlineBytes = 4096;
  char inline_[kInlineBytes];
  std::unique_ptr<char[]> heap_;
  const char* text_ = nullptr;
};

// Length of a zero-terminated wide text, found by scanning (a BSTR's prefix is not consulted).
std::size_t WideLength(const OLECHAR* text) noexcept;

}  // namespace zul
