#include "marshal/text.h"

#include <cstring>
#include <memory>
#include <new>

#include "marshal/bridge_memory.h"

namespace zul {

namespace {

constexpr std::size_t kMaxUnits = 0x3FFFFFFF;

// The length of a cut of text to at most maxBytes that does not split a character.
std::size_t CharacterBoundary(const char* text, std::size_t length, std::size_t maxBytes) {
  if (length <= maxBytes) return length;
#ifdef _WIN32
  std::size_t end = 0;
  while (end < maxBytes) {
    const std::size_t step = IsDBCSLeadByte(static_cast<BYTE>(text[end])) ? 2 : 1;
    if (end + step > maxBytes) break;
    end += step;
  }
  return end;
#else
  std::size_t end = maxBytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;  // a UTF-8 continuation
  return end;
#endif
}

}  // namespace

char* BridgeTextFromWide(int32_t cookie, const OLECHAR* text, UINT length) noexcept {
  char* chars = static_cast<char*>(AllocateBridgeMemory(cookie, static_cast<uint64_t>(length) + 1));
  if (chars == nullptr) return nullptr;
  chars[0] = 0;
  if (text == nullptr) return chars;

  // ASCII, the common case, is the same in every ANSI code page.
  UINT units = 0;
  bool ascii = true;
  for (; units < length && text[units] != 0; ++units) ascii = ascii && text[units] < 0x80;
  if (ascii) {
    for (UINT i = 0; i < units; ++i) chars[i] = static_cast<char>(text[i]);
    chars[units] = 0;
    return chars;
  }
  if (static_cast<std::size_t>(units) + 1 > kMaxUnits) return chars;

  const int wideCount = static_cast<int>(units);
  const int bytes = WideCharToMultiByte(CP_THREAD_ACP, 0, text, wideCount, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return chars;
  std::unique_ptr<char[]> converted(new (std::nothrow) char[static_cast<std::size_t>(bytes)]);
  if (!converted || WideCharToMultiByte(CP_THREAD_ACP, 0, text, wideCount, converted.get(), bytes, nullptr,
                                        nullptr) != bytes) {
    return chars;
  }
  const std::size_t kept = CharacterBoundary(converted.get(), static_cast<std::size_t>(bytes), length);
  std::memcpy(chars, converted.get(), kept);
  chars[kept] = 0;
  return chars;
}

BSTR BstrFromBridgeText(const char* chars) noexcept {
  if (chars == nullptr) return nullptr;
  std::size_t length = 0;
  bool ascii = true;
  for (; chars[length] != 0; ++length) ascii = ascii && static_cast<unsigned char>(chars[length]) < 0x80;
  if (length + 1 > kMaxUnits) return nullptr;

  if (ascii) {
    BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (bstr == nullptr) return nullptr;
    for (std::size_t i = 0; i < length; ++i) bstr[i] = static_cast<OLECHAR>(chars[i]);
    return bstr;
  }
  const int count = static_cast<int>(length);
  const int units = MultiByteToWideChar(CP_THREAD_ACP, 0, chars, count, nullptr, 0);
  if (units <= 0) return nullptr;
  BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (bstr == nullptr) return nullptr;
  if (MultiByteToWideChar(CP_THREAD_ACP, 0, chars, count, bstr, units) != units) {
    SysFreeString(bstr);
    return nullptr;
  }
  return bstr;
}

}  // namespace zul
