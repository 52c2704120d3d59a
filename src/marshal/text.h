// Texts between BSTRs and the bridge's multibyte strings (the thread's ANSI code page).
#pragma once

#include <cstdint>

#include "platform/ole.h"

namespace zul {

// The characters of a bridge string for text of length UTF-16 units: a block of bridge memory holding
// the whole text up to its first NUL, converted by ConvertForBridge, and a NUL. The string's length
// field stays the UTF-16 count; the bridge reads the text up to the NUL. Null when the block cannot
// be allocated.
char* BridgeTextFromWide(int32_t cookie, const OLECHAR* text, UINT length) noexcept;

// A new BSTR holding a bridge string's text up to its NUL; null for a null text, for a text of
// kMaxBstrUnits bytes or more, and when the conversion or the allocation fails.
BSTR BstrFromBridgeText(const char* chars) noexcept;

}  // namespace zul
