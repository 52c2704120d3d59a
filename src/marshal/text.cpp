#include "marshal/text.h"

#include "error/strings.h"
#include "marshal/bridge_memory.h"

namespace zul {

char* BridgeTextFromWide(int32_t cookie, const OLECHAR* text, UINT length) noexcept {
  return ConvertForBridge(text, length, [cookie](std::size_t bytes) noexcept {
    return static_cast<char*>(AllocateBridgeMemory(cookie, bytes));
  });
}

BSTR BstrFromBridgeText(const char* chars) noexcept {
  if (chars == nullptr) return nullptr;
  std::size_t length = 0;
  bool ascii = true;
  for (; chars[length] != 0; ++length) ascii = ascii && static_cast<unsigned char>(chars[length]) < 0x80;
  if (length + 1 > kMaxBstrUnits) return nullptr;  // never more units than bytes

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
