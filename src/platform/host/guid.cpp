// Interface identifiers with their Windows values, and random GUIDs.
#include <sys/random.h>

#include <cerrno>
#include <cstddef>

#include "zul/host/oleauto.h"

extern "C" {

const IID IID_NULL = {0x00000000, 0x0000, 0x0000, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
const IID IID_IErrorInfo = {0x1cf2b120, 0x547d, 0x101b, {0x8e, 0x65, 0x08, 0x00, 0x2b, 0x2b, 0xd1, 0x19}};
const IID IID_ICreateErrorInfo = {
    0x22f03340, 0x547d, 0x101b, {0x8e, 0x65, 0x08, 0x00, 0x2b, 0x2b, 0xd1, 0x19}};

// A version-4 GUID (RFC 4122): 122 random bits, the version nibble 4 and the variant bits 10.
HRESULT CoCreateGuid(GUID* pguid) {
  if (pguid == nullptr) return E_INVALIDARG;
  auto* bytes = reinterpret_cast<unsigned char*>(pguid);
  std::size_t filled = 0;
  while (filled < sizeof *pguid) {
    const ssize_t got = getrandom(bytes + filled, sizeof *pguid - filled, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      return E_FAIL;
    }
    filled += static_cast<std::size_t>(got);
  }
  pguid->Data3 = static_cast<uint16_t>((pguid->Data3 & 0x0fff) | 0x4000);
  pguid->Data4[0] = static_cast<uint8_t>((pguid->Data4[0] & 0x3f) | 0x80);
  return S_OK;
}

}  // extern "C"
