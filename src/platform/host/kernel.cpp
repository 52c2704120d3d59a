// Win32 services of the host: the last-error slot, code page conversion (every code page is UTF-8),
// critical sections and debugger output.
#include "kernel.h"

#include <pthread.h>
#include <sched.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

thread_local DWORD last_error = ERROR_SUCCESS;

constexpr uint32_t kInvalid = 0xffffffff;
constexpr uint32_t kReplacement = 0xfffd;
constexpr DWORD kMultiByteFlags = MB_PRECOMPOSED | MB_COMPOSITE | MB_USEGLYPHCHARS | MB_ERR_INVALID_CHARS;
constexpr DWORD kWideCharFlags = WC_DISCARDNS | WC_SEPCHARS | WC_DEFAULTCHAR | WC_ERR_INVALID_CHARS |
                                 WC_COMPOSITECHECK | WC_NO_BEST_FIT_CHARS;

int Fail(DWORD error) {
  last_error = error;
  return 0;
}

// Decodes the sequence whose lead byte (0x80 or above) is at src[pos] and moves pos past what it
// consumed. Where the input is ill-formed, the bytes consumed before giving up, and hence the number of
// U+FFFD produced, follow Windows: a truncated sequence at the end swallows the rest of the input, and
// a byte that makes the sequence overlong, a surrogate or too large ends it there.
uint32_t DecodeSequence(const unsigned char* src, std::size_t len, std::size_t& pos) {
  const unsigned char lead = src[pos++];
  std::size_t trail;
  uint32_t value;
  if (lead >= 0xc2 && lead <= 0xdf) {
    trail = 1;
    value = lead & 0x1f;
  } else if (lead >= 0xe0 && lead <= 0xef) {
    trail = 2;
    value = lead & 0x0f;
  } else if (lead >= 0xf0 && lead <= 0xf4) {
    trail = 3;
    value = lead & 0x07;
  } else {
    return kInvalid;
  }
  if (len - pos < trail) {
    pos = len;
    return kInvalid;
  }
  for (std::size_t left = trail; left > 0; --left) {
    const unsigned char bits = src[pos] ^ 0x80;
    if (bits >= 0x40) return kInvalid;
    value = (value << 6) | bits;
    if (left == 3) {
      ++pos;
      if (value < 0x10) return kInvalid;
    } else if (left == 2) {
      if (value >= (0x110000 >> 6)) return kInvalid;
      ++pos;
      if (value < 0x20) return kInvalid;
      if (value >= (0xd800 >> 6) && value <= (0xdfff >> 6)) return kInvalid;
    } else {
      ++pos;
      if (value < 0x80) return kInvalid;
    }
  }
  return value;
}

// Encodes one code point; returns the byte count.
int EncodeUtf8(uint32_t cp, unsigned char out[4]) {
  if (cp < 0x80) {
    out[0] = static_cast<unsigned char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<unsigned char>(0xc0 | (cp >> 6));
    out[1] = static_cast<unsigned char>(0x80 | (cp & 0x3f));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<unsigned char>(0xe0 | (cp >> 12));
    out[1] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3f));
    out[2] = static_cast<unsigned char>(0x80 | (cp & 0x3f));
    return 3;
  }
  out[0] = static_cast<unsigned char>(0xf0 | (cp >> 18));
  out[1] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3f));
  out[2] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3f));
  out[3] = static_cast<unsigned char>(0x80 | (cp & 0x3f));
  return 4;
}

bool IsHighSurrogate(WCHAR c) {
  return c >= 0xd800 && c <= 0xdbff;
}
bool IsLowSurrogate(WCHAR c) {
  return c >= 0xdc00 && c <= 0xdfff;
}

// Reads one code point from UTF-16 at src[i] and moves i past it; a lone surrogate reads as kInvalid.
uint32_t NextCodePoint(const WCHAR* src, std::size_t len, std::size_t& i) {
  const WCHAR c = src[i++];
  if (IsHighSurrogate(c) && i < len && IsLowSurrogate(src[i])) {
    return 0x10000 + ((static_cast<uint32_t>(c) - 0xd800) << 10) + (src[i++] - 0xdc00);
  }
  if (IsHighSurrogate(c) || IsLowSurrogate(c)) return kInvalid;
  return c;
}

std::size_t WideLength(const WCHAR* s) {
  std::size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

}  // namespace

extern "C" {

DWORD GetLastError(void) {
  return last_error;
}

void SetLastError(DWORD dwErrCode) {
  last_error = dwErrCode;
}

DWORD GetCurrentProcessorNumber(void) {
  const int cpu = sched_getcpu();
  return cpu < 0 ? 0 : static_cast<DWORD>(cpu);
}

int MultiByteToWideChar(UINT /*CodePage*/, DWORD dwFlags, LPCSTR lpMultiByteStr, int cbMultiByte,
                        LPWSTR lpWideCharStr, int cchWideChar) {
  if (lpMultiByteStr == nullptr || cbMultiByte == 0 || (lpWideCharStr == nullptr && cchWideChar != 0) ||
      cchWideChar < 0) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if ((dwFlags & ~kMultiByteFlags) != 0) return Fail(ERROR_INVALID_FLAGS);
  const auto* src = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
  const std::size_t len =
      cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : static_cast<std::size_t>(cbMultiByte);
  const std::size_t room = static_cast<std::size_t>(cchWideChar);

  std::size_t out = 0;
  bool replaced = false;
  for (std::size_t pos = 0; pos < len;) {
    uint32_t cp = src[pos];
    if (cp < 0x80) {
      ++pos;
    } else if ((cp = DecodeSequence(src, len, pos)) == kInvalid) {
      cp = kReplacement;
      replaced = true;
    }
    const std::size_t units = cp > 0xffff ? 2 : 1;
    if (room != 0) {
      if (out + units > room) return Fail(ERROR_INSUFFICIENT_BUFFER);
      if (units == 2) {
        lpWideCharStr[out] = static_cast<WCHAR>(0xd800 + ((cp - 0x10000) >> 10));
        lpWideCharStr[out + 1] = static_cast<WCHAR>(0xdc00 + ((cp - 0x10000) & 0x3ff));
      } else {
        lpWideCharStr[out] = static_cast<WCHAR>(cp);
      }
    }
    out += units;
  }
  if (replaced && (dwFlags & MB_ERR_INVALID_CHARS) != 0) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  return static_cast<int>(out);
}

int WideCharToMultiByte(UINT /*CodePage*/, DWORD dwFlags, LPCWSTR lpWideCharStr, int cchWideChar,
                        LPSTR lpMultiByteStr, int cbMultiByte, LPCSTR lpDefaultChar,
                        BOOL* lpUsedDefaultChar) {
  // Every code page here is UTF-8, which takes neither a default character nor its flag.
  if (lpWideCharStr == nullptr || cchWideChar == 0 || (lpMultiByteStr == nullptr && cbMultiByte != 0) ||
      cbMultiByte < 0 || lpDefaultChar != nullptr || lpUsedDefaultChar != nullptr) {
    return Fail(ERROR_INVALID_PARAMETER);
  }
  if ((dwFlags & ~kWideCharFlags) != 0) return Fail(ERROR_INVALID_FLAGS);
  const std::size_t len =
      cchWideChar < 0 ? WideLength(lpWideCharStr) + 1 : static_cast<std::size_t>(cchWideChar);
  const std::size_t room = static_cast<std::size_t>(cbMultiByte);

  std::size_t out = 0;
  bool replaced = false;
  for (std::size_t i = 0; i < len;) {
    uint32_t cp = NextCodePoint(lpWideCharStr, len, i);
    if (cp == kInvalid) {
      cp = kReplacement;
      replaced = true;
    }
    unsigned char bytes[4];
    const int n = EncodeUtf8(cp, bytes);
    if (room != 0) {
      // A character that does not fit whole is not written in part.
      if (out + n > room) return Fail(ERROR_INSUFFICIENT_BUFFER);
      std::memcpy(lpMultiByteStr + out, bytes, n);
    }
    out += n;
    if (out > INT_MAX) return Fail(ERROR_INSUFFICIENT_BUFFER);
  }
  if (replaced && (dwFlags & WC_ERR_INVALID_CHARS) != 0) return Fail(ERROR_NO_UNICODE_TRANSLATION);
  return static_cast<int>(out);
}

void InitializeCriticalSection(CRITICAL_SECTION* lpCriticalSection) {
  pthread_mutexattr_t attributes;
  pthread_mutexattr_init(&attributes);
  pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
  pthread_mutex_init(&lpCriticalSection->mutex, &attributes);
  pthread_mutexattr_destroy(&attributes);
}

void EnterCriticalSection(CRITICAL_SECTION* lpCriticalSection) {
  pthread_mutex_lock(&lpCriticalSection->mutex);
}

void LeaveCriticalSection(CRITICAL_SECTION* lpCriticalSection) {
  pthread_mutex_unlock(&lpCriticalSection->mutex);
}

void DeleteCriticalSection(CRITICAL_SECTION* lpCriticalSection) {
  pthread_mutex_destroy(&lpCriticalSection->mutex);
}

void OutputDebugStringA(LPCSTR lpOutputString) {
  if (lpOutputString == nullptr) return;
  std::fputs(lpOutputString, stderr);
  std::fflush(stderr);
}

void OutputDebugStringW(LPCWSTR lpOutputString) {
  if (lpOutputString == nullptr) return;
  const std::size_t len = WideLength(lpOutputString);
  std::string text;
  text.reserve(len);
  for (std::size_t i = 0; i < len;) {
    uint32_t cp = NextCodePoint(lpOutputString, len, i);
    unsigned char bytes[4];
    const int n = EncodeUtf8(cp == kInvalid ? kReplacement : cp, bytes);
    text.append(reinterpret_cast<const char*>(bytes), n);
  }
  OutputDebugStringA(text.c_str());
}

}  // extern "C"
