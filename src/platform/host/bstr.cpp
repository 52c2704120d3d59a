// BSTR allocation with the 64-bit Windows layout: the block starts 8 bytes before the characters,
// 4 bytes of padding then the 32-bit byte length, and 2 NUL bytes always follow the data.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "allocation_counts.h"
#include "zul/host/oleauto.h"

namespace {

constexpr std::size_t kHeader = 8;
constexpr std::size_t kTerminator = sizeof(OLECHAR);
// Windows refuses byte lengths whose allocation size would overflow 32 bits.
constexpr UINT kMaxByteLen = UINT32_MAX - kTerminator - sizeof(uint32_t) - 1;

BSTR Allocate(const void* data, UINT byte_len) {
  if (byte_len > kMaxByteLen) return nullptr;
  if (!zul::host::AllocationAllowed(zul::host::Allocation::kBstr)) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(kHeader + byte_len + kTerminator));
  if (block == nullptr) return nullptr;
  zul::host::CountLive(zul::host::Allocation::kBstr, 1);
  std::memset(block, 0, kHeader - sizeof(uint32_t));
  const uint32_t prefix = byte_len;
  std::memcpy(block + kHeader - sizeof(prefix), &prefix, sizeof(prefix));
  unsigned char* chars = block + kHeader;
  // Windows leaves the characters of a sourceless string uninitialised; zeroes are one such content.
  if (data != nullptr) {
    std::memcpy(chars, data, byte_len);
  } else {
    std::memset(chars, 0, byte_len);
  }
  chars[byte_len] = 0;
  chars[byte_len + 1] = 0;
  return reinterpret_cast<BSTR>(chars);
}

std::size_t Length(const OLECHAR* psz) {
  std::size_t n = 0;
  while (psz[n] != 0) ++n;
  return n;
}

}  // namespace

extern "C" {

BSTR SysAllocString(const OLECHAR* psz) {
  if (psz == nullptr) return nullptr;
  const std::size_t len = Length(psz);
  if (len > kMaxByteLen / sizeof(OLECHAR)) return nullptr;
  return Allocate(psz, static_cast<UINT>(len * sizeof(OLECHAR)));
}

BSTR SysAllocStringLen(const OLECHAR* strIn, UINT ui) {
  if (ui > kMaxByteLen / sizeof(OLECHAR)) return nullptr;
  return Allocate(strIn, ui * static_cast<UINT>(sizeof(OLECHAR)));
}

BSTR SysAllocStringByteLen(LPCSTR psz, UINT len) {
  return Allocate(psz, len);
}

void SysFreeString(BSTR bstrString) {
  if (bstrString == nullptr) return;
  zul::host::CountLive(zul::host::Allocation::kBstr, -1);
  std::free(reinterpret_cast<unsigned char*>(bstrString) - kHeader);
}

UINT SysStringByteLen(BSTR bstr) {
  if (bstr == nullptr) return 0;
  uint32_t prefix;
  std::memcpy(&prefix, reinterpret_cast<const unsigned char*>(bstr) - sizeof(prefix), sizeof(prefix));
  return prefix;
}

UINT SysStringLen(BSTR pbstr) {
  return SysStringByteLen(pbstr) / sizeof(OLECHAR);
}

// Concatenates bytes, not characters: odd byte lengths add up exactly, as on Windows.
HRESULT VarBstrCat(BSTR bstrLeft, BSTR bstrRight, LPBSTR pbstrResult) {
  if (pbstrResult == nullptr) return E_INVALIDARG;
  const UINT left = SysStringByteLen(bstrLeft);
  const UINT right = SysStringByteLen(bstrRight);
  if (right > kMaxByteLen - left) return E_OUTOFMEMORY;
  BSTR result = Allocate(nullptr, left + right);
  if (result == nullptr) return E_OUTOFMEMORY;
  auto* bytes = reinterpret_cast<unsigned char*>(result);
  if (left != 0) std::memcpy(bytes, bstrLeft, left);
  if (right != 0) std::memcpy(bytes + left, bstrRight, right);
  *pbstrResult = result;
  return S_OK;
}

}  // extern "C"
