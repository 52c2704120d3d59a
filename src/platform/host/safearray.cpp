// SAFEARRAY with the memory layout of 64-bit Windows. Every descriptor we allocate is preceded by 16
// hidden bytes: the element IID at -16 (FADF_HAVEIID), the IRecordInfo pointer at -8 (FADF_RECORD) and
// the VARTYPE at -4 (FADF_HAVEVARTYPE). rgsabound holds the bounds last dimension first.
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "allocation_counts.h"
#include "zul/host/oleauto.h"

namespace {

constexpr std::size_t kHidden = 16;
constexpr UINT kMaxDims = 0xffff;
constexpr ULONG kMaxLocks = 0xffff;
constexpr USHORT kCallerOwned = FADF_AUTO | FADF_STATIC | FADF_EMBEDDED;
// Windows gives a record array this element size until the IRecordInfo reports a size.
constexpr ULONG kDefaultRecordSize = 32;

unsigned char* Hidden(SAFEARRAY* psa) {
  return reinterpret_cast<unsigned char*>(psa) - kHidden;
}

void SetHiddenVartype(SAFEARRAY* psa, VARTYPE vt) {
  const DWORD value = vt;
  std::memcpy(Hidden(psa) + 12, &value, sizeof value);
}

VARTYPE HiddenVartype(SAFEARRAY* psa) {
  DWORD value;
  std::memcpy(&value, Hidden(psa) + 12, sizeof value);
  return static_cast<VARTYPE>(value);
}

void SetHiddenIid(SAFEARRAY* psa, const GUID& iid) {
  std::memcpy(Hidden(psa), &iid, sizeof iid);
}

IRecordInfo* HiddenRecordInfo(SAFEARRAY* psa) {
  IRecordInfo* info;
  std::memcpy(&info, Hidden(psa) + 8, sizeof info);
  return info;
}

void SetHiddenRecordInfo(SAFEARRAY* psa, IRecordInfo* info) {
  std::memcpy(Hidden(psa) + 8, &info, sizeof info);
}

// Element sizes of the types Windows accepts in a SAFEARRAY; 0 for any other.
ULONG ElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_R4:
    case VT_ERROR:
    case VT_INT:
    case VT_UINT:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_INT_PTR:
    case VT_UINT_PTR:
    case VT_BSTR:
    case VT_UNKNOWN:
    case VT_DISPATCH:
      return sizeof(void*);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    case VT_VARIANT:
      return sizeof(VARIANT);
    case VT_RECORD:
      return kDefaultRecordSize;
    default:
      return 0;
  }
}

// Number of elements, or false when it does not fit a 32-bit count. A zero-sized dimension empties the array.
bool CellCount(const SAFEARRAY* psa, uint64_t* cells) {
  uint64_t count = 1;
  for (USHORT i = 0; i < psa->cDims; ++i) {
    const ULONG n = psa->rgsabound[i].cElements;
    if (n == 0) {
      *cells = 0;
      return true;
    }
    count *= n;
    if (count > UINT32_MAX) return false;
  }
  *cells = count;
  return true;
}

SAFEARRAY* AllocateDescriptor(UINT cDims) {
  const std::size_t size = kHidden + sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
  auto* block = static_cast<unsigned char*>(std::calloc(1, size));
  if (block == nullptr) return nullptr;
  zul::host::CountLive(zul::host::Allocation::kSafeArray, 1);
  auto* psa = reinterpret_cast<SAFEARRAY*>(block + kHidden);
  psa->cDims = static_cast<USHORT>(cDims);
  return psa;
}

void FreeDescriptor(SAFEARRAY* psa) {
  zul::host::CountLive(zul::host::Allocation::kSafeArray, -1);
  std::free(Hidden(psa));
}

void SetFeatures(SAFEARRAY* psa, VARTYPE vt) {
  switch (vt) {
    case VT_UNKNOWN:
      psa->fFeatures = FADF_HAVEIID | FADF_UNKNOWN;
      SetHiddenIid(psa, IID_IUnknown);
      break;
    case VT_DISPATCH:
      psa->fFeatures = FADF_HAVEIID | FADF_DISPATCH;
      SetHiddenIid(psa, IID_IDispatch);
      break;
    case VT_RECORD:
      psa->fFeatures = FADF_RECORD;
      break;
    default:
      psa->fFeatures = FADF_HAVEVARTYPE;
      if (vt == VT_BSTR) psa->fFeatures |= FADF_BSTR;
      if (vt == VT_VARIANT) psa->fFeatures |= FADF_VARIANT;
      SetHiddenVartype(psa, vt);
      break;
  }
}

SAFEARRAY* Create(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* rgsabound, void* pvExtra) {
  if (rgsabound == nullptr || cDims == 0 || cDims > kMaxDims) return nullptr;
  ULONG element_size = ElementSize(vt);
  if (element_size == 0) return nullptr;
  auto* record_info = static_cast<IRecordInfo*>(pvExtra);
  if (vt == VT_RECORD) {
    if (record_info == nullptr) return nullptr;
    // Windows takes whatever size GetSize left behind, even when it reports a failure.
    ULONG record_size = 0;
    record_info->GetSize(&record_size);
    if (record_size != 0) element_size = record_size;
  }

  if (!zul::host::AllocationAllowed(zul::host::Allocation::kSafeArray)) return nullptr;
  SAFEARRAY* psa = AllocateDescriptor(cDims);
  if (psa == nullptr) return nullptr;
  SetFeatures(psa, vt);
  psa->cbElements = element_size;
  // The binding layout: the caller lists the leftmost dimension first, the descriptor stores it last.
  for (UINT i = 0; i < cDims; ++i) psa->rgsabound[cDims - 1 - i] = rgsabound[i];

  uint64_t cells;
  if (!CellCount(psa, &cells) || cells * element_size > UINT32_MAX) {
    FreeDescriptor(psa);
    return nullptr;
  }
  const std::size_t bytes = static_cast<std::size_t>(cells * element_size);
  psa->pvData = std::calloc(bytes != 0 ? bytes : 1, 1);
  if (psa->pvData == nullptr) {
    FreeDescriptor(psa);
    return nullptr;
  }

  if (vt == VT_RECORD) {
    record_info->AddRef();
    SetHiddenRecordInfo(psa, record_info);
  } else if ((vt == VT_UNKNOWN || vt == VT_DISPATCH) && pvExtra != nullptr) {
    SetHiddenIid(psa, *static_cast<const GUID*>(pvExtra));
  }
  return psa;
}

// Releases what the elements own; the element memory itself stays.
void ReleaseElements(SAFEARRAY* psa) {
  uint64_t cells;
  if (psa->pvData == nullptr || !CellCount(psa, &cells)) return;
  auto* data = static_cast<unsigned char*>(psa->pvData);
  if ((psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) != 0) {
    auto* items = static_cast<IUnknown**>(psa->pvData);
    for (uint64_t i = 0; i < cells; ++i) {
      if (items[i] != nullptr) items[i]->Release();
    }
  } else if ((psa->fFeatures & FADF_RECORD) != 0) {
    if (IRecordInfo* info = HiddenRecordInfo(psa)) {
      for (uint64_t i = 0; i < cells; ++i) info->RecordClear(data + i * psa->cbElements);
    }
  } else if ((psa->fFeatures & FADF_BSTR) != 0) {
    auto* items = static_cast<BSTR*>(psa->pvData);
    for (uint64_t i = 0; i < cells; ++i) SysFreeString(items[i]);
  } else if ((psa->fFeatures & FADF_VARIANT) != 0) {
    // As on Windows, an element that fails to clear (a locked nested array) does not stop the others.
    auto* items = static_cast<VARIANT*>(psa->pvData);
    for (uint64_t i = 0; i < cells; ++i) VariantClear(&items[i]);
  }
}

std::atomic_ref<ULONG> LockCount(SAFEARRAY* psa) {
  return std::atomic_ref<ULONG>(psa->cLocks);
}

}  // namespace

extern "C" {

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) {
  if (vt == VT_RECORD) return nullptr;
  return Create(vt, cDims, rgsabound, nullptr);
}

SAFEARRAY* SafeArrayCreateEx(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound, PVOID pvExtra) {
  return Create(vt, cDims, rgsabound, pvExtra);
}

HRESULT SafeArrayDestroyData(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (LockCount(psa).load() != 0) return DISP_E_ARRAYISLOCKED;
  ReleaseElements(psa);
  if (psa->pvData == nullptr) return S_OK;
  // Memory the caller provided is cleared, never freed.
  if ((psa->fFeatures & kCallerOwned) != 0) {
    uint64_t cells;
    if (CellCount(psa, &cells))
      std::memset(psa->pvData, 0, static_cast<std::size_t>(cells * psa->cbElements));
    return S_OK;
  }
  std::free(psa->pvData);
  psa->pvData = nullptr;
  return S_OK;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (psa == nullptr) return S_OK;
  if (LockCount(psa).load() != 0) return DISP_E_ARRAYISLOCKED;
  SafeArrayDestroyData(psa);
  if ((psa->fFeatures & FADF_RECORD) != 0) {
    if (IRecordInfo* info = HiddenRecordInfo(psa)) info->Release();
    SetHiddenRecordInfo(psa, nullptr);
  }
  if ((psa->fFeatures & kCallerOwned) == 0) FreeDescriptor(psa);
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (LockCount(psa).fetch_add(1) + 1 > kMaxLocks) {
    LockCount(psa).fetch_sub(1);
    return E_UNEXPECTED;
  }
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  auto count = LockCount(psa);
  ULONG current = count.load();
  do {
    if (current == 0) return E_UNEXPECTED;
  } while (!count.compare_exchange_weak(current, current - 1));
  return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) {
  if (psa == nullptr || ppvData == nullptr) return E_INVALIDARG;
  const HRESULT hr = SafeArrayLock(psa);
  *ppvData = SUCCEEDED(hr) ? psa->pvData : nullptr;
  return hr;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* psa) {
  return SafeArrayUnlock(psa);
}

// Windows answers E_INVALIDARG, not DISP_E_BADVARTYPE, for a descriptor without type information.
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (psa == nullptr || pvt == nullptr) return E_INVALIDARG;
  const USHORT features = psa->fFeatures;
  if ((features & FADF_RECORD) != 0) {
    *pvt = VT_RECORD;
  } else if ((features & (FADF_HAVEIID | FADF_DISPATCH)) == (FADF_HAVEIID | FADF_DISPATCH)) {
    *pvt = VT_DISPATCH;
  } else if ((features & FADF_HAVEIID) != 0) {
    *pvt = VT_UNKNOWN;
  } else if ((features & FADF_HAVEVARTYPE) != 0) {
    *pvt = HiddenVartype(psa);
  } else {
    return E_INVALIDARG;
  }
  return S_OK;
}

HRESULT SafeArrayGetIID(SAFEARRAY* psa, GUID* pguid) {
  if (psa == nullptr || pguid == nullptr || (psa->fFeatures & FADF_HAVEIID) == 0) return E_INVALIDARG;
  std::memcpy(pguid, Hidden(psa), sizeof *pguid);
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) {
  return psa != nullptr ? psa->cDims : 0;
}

UINT SafeArrayGetElemsize(SAFEARRAY* psa) {
  return psa != nullptr ? psa->cbElements : 0;
}

// nDim counts from 1 for the leftmost dimension as the creator listed it.
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (psa == nullptr || plLbound == nullptr) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  *plLbound = psa->rgsabound[psa->cDims - nDim].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (psa == nullptr || plUbound == nullptr) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& bound = psa->rgsabound[psa->cDims - nDim];
  // Wraps like the 32-bit arithmetic of Windows.
  *plUbound = static_cast<LONG>(static_cast<ULONG>(bound.lLbound) + bound.cElements - 1);
  return S_OK;
}

}  // extern "C"
