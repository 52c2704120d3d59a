#include "ops/identity.h"

#include <cstdio>
#include <cstring>

#include "platform/ole.h"

namespace zul::ops {

namespace {
char g_guidText[512];
}  // namespace

const char* CreateGuidText() noexcept {
  std::memset(g_guidText, 0, sizeof g_guidText);
  GUID guid;
  if (FAILED(CoCreateGuid(&guid))) return g_guidText;
  std::snprintf(g_guidText, sizeof g_guidText, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0], guid.Data4[1],
                guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5], guid.Data4[6], guid.Data4[7]);
  return g_guidText;
}

}  // namespace zul::ops
