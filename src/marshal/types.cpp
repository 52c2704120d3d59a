#include "marshal/types.h"

#include <cstdio>
#include <iterator>

namespace zul {

namespace {

constexpr const char* kZulTypeNames[] = {
    "ZUL_TYP_UNDEF",  "ZUL_TYP_BYTE",     "ZUL_TYP_INT",     "ZUL_TYP_LONG",
    "ZUL_TYP_FLOAT",  "ZUL_TYP_DOUBLE",   "ZUL_TYP_COMPLEX", "ZUL_TYP_STRING",
    "ZUL_TYP_STRUCT", "ZUL_TYP_DCOMPLEX", "ZUL_TYP_PTR",     "ZUL_TYP_OBJREF",
    "ZUL_TYP_UINT",   "ZUL_TYP_ULONG",    "ZUL_TYP_LONG64",  "ZUL_TYP_ULONG64",
};
static_assert(std::size(kZulTypeNames) == 16);

struct VarTypeRow {
  VARTYPE vt;
  const char* name;
  uint32_t sourceSize;  // element size in a SAFEARRAY, as read; 0 when not read that way
  uint8_t arrayCode;    // ZUL type of an array element; ZUL_TYP_UNDEF when refused in arrays
  uint32_t arraySize;   // destination element size
};

constexpr VarTypeRow kVarTypes[] = {
    {VT_EMPTY, "VT_EMPTY", 0, ZUL_TYP_UNDEF, 0},
    {VT_NULL, "VT_NULL", 0, ZUL_TYP_UNDEF, 0},
    {VT_I2, "VT_I2", 2, ZUL_TYP_INT, 2},
    {VT_I4, "VT_I4", 4, ZUL_TYP_LONG, 4},
    {VT_R4, "VT_R4", 4, ZUL_TYP_FLOAT, 4},
    {VT_R8, "VT_R8", 8, ZUL_TYP_DOUBLE, 8},
    {VT_CY, "VT_CY", 0, ZUL_TYP_UNDEF, 0},
    {VT_DATE, "VT_DATE", 0, ZUL_TYP_UNDEF, 0},
    {VT_BSTR, "VT_BSTR", sizeof(BSTR), ZUL_TYP_STRING, sizeof(BridgeString)},
    {VT_DISPATCH, "VT_DISPATCH", sizeof(IDispatch*), ZUL_TYP_OBJREF, 4},
    {VT_ERROR, "VT_ERROR", 0, ZUL_TYP_UNDEF, 0},
    {VT_BOOL, "VT_BOOL", 0, ZUL_TYP_UNDEF, 0},
    {VT_VARIANT, "VT_VARIANT", sizeof(VARIANT), ZUL_TYP_UNDEF, 0},
    {VT_UNKNOWN, "VT_UNKNOWN", sizeof(IUnknown*), ZUL_TYP_OBJREF, 4},
    {VT_DECIMAL, "VT_DECIMAL", 0, ZUL_TYP_UNDEF, 0},
    {VT_I1, "VT_I1", 1, ZUL_TYP_BYTE, 1},
    {VT_UI1, "VT_UI1", 1, ZUL_TYP_BYTE, 1},
    {VT_UI2, "VT_UI2", 2, ZUL_TYP_UINT, 2},
    {VT_UI4, "VT_UI4", 4, ZUL_TYP_ULONG, 4},
    {VT_I8, "VT_I8", 8, ZUL_TYP_LONG64, 8},
    {VT_UI8, "VT_UI8", 8, ZUL_TYP_ULONG64, 8},
    {VT_INT, "VT_INT", 0, ZUL_TYP_UNDEF, 0},
    {VT_UINT, "VT_UINT", 4, ZUL_TYP_UINT, 2},
    {VT_VOID, "VT_VOID", 0, ZUL_TYP_UNDEF, 0},
    {VT_HRESULT, "VT_HRESULT", 0, ZUL_TYP_UNDEF, 0},
    {VT_PTR, "VT_PTR", 0, ZUL_TYP_UNDEF, 0},
    {VT_SAFEARRAY, "VT_SAFEARRAY", 0, ZUL_TYP_UNDEF, 0},
    {VT_CARRAY, "VT_CARRAY", 0, ZUL_TYP_UNDEF, 0},
    {VT_USERDEFINED, "VT_USERDEFINED", 0, ZUL_TYP_UNDEF, 0},
    {VT_LPSTR, "VT_LPSTR", 0, ZUL_TYP_UNDEF, 0},
    {VT_LPWSTR, "VT_LPWSTR", 0, ZUL_TYP_UNDEF, 0},
    {VT_RECORD, "VT_RECORD", 0, ZUL_TYP_UNDEF, 0},
    {VT_INT_PTR, "VT_INT_PTR", 0, ZUL_TYP_UNDEF, 0},
    {VT_UINT_PTR, "VT_UINT_PTR", 0, ZUL_TYP_UNDEF, 0},
};

const VarTypeRow* FindVarType(VARTYPE vt) noexcept {
  for (const VarTypeRow& row : kVarTypes) {
    if (row.vt == vt) return &row;
  }
  return nullptr;
}

struct OutputRow {
  uint8_t code;
  VARTYPE vt;
  uint32_t size;
};

constexpr OutputRow kOutputTypes[] = {
    {ZUL_TYP_BYTE, VT_UI1, 1},    {ZUL_TYP_INT, VT_I2, 2},    {ZUL_TYP_LONG, VT_I4, 4},
    {ZUL_TYP_FLOAT, VT_R4, 4},    {ZUL_TYP_DOUBLE, VT_R8, 8}, {ZUL_TYP_STRING, VT_BSTR, sizeof(BSTR)},
    {ZUL_TYP_UINT, VT_UI2, 2},    {ZUL_TYP_ULONG, VT_UI4, 4}, {ZUL_TYP_LONG64, VT_I8, 8},
    {ZUL_TYP_ULONG64, VT_UI8, 8},
};

}  // namespace

const char* ZulTypeName(uint8_t code) noexcept {
  return code < std::size(kZulTypeNames) ? kZulTypeNames[code] : kZulTypeNames[ZUL_TYP_UNDEF];
}

std::string VarTypeName(VARTYPE vt) {
  std::string name;
  if ((vt & VT_VECTOR) != 0) name += "VT_VECTOR|";
  if ((vt & VT_ARRAY) != 0) name += "VT_ARRAY|";
  if ((vt & VT_BYREF) != 0) name += "VT_BYREF|";
  if ((vt & VT_RESERVED) != 0) name += "VT_RESERVED|";
  const VARTYPE base = vt & VT_TYPEMASK;
  if (const VarTypeRow* row = FindVarType(base)) return name + row->name;
  char number[16];
  std::snprintf(number, sizeof number, "VT_0x%03X", static_cast<unsigned>(base));
  return name + number;
}

uint32_t ElementSizeOfVarType(VARTYPE vt) noexcept {
  const VarTypeRow* row = FindVarType(vt);
  return row != nullptr ? row->sourceSize : 0;
}

bool ArrayElementType(VARTYPE vt, uint8_t& code, uint32_t& size) noexcept {
  const VarTypeRow* row = FindVarType(vt);
  if (row == nullptr || row->arrayCode == ZUL_TYP_UNDEF) return false;
  code = row->arrayCode;
  size = row->arraySize;
  return true;
}

bool OutputVarType(uint8_t code, VARTYPE& vt, uint32_t& size) noexcept {
  for (const OutputRow& row : kOutputTypes) {
    if (row.code != code) continue;
    vt = row.vt;
    size = row.size;
    return true;
  }
  return false;
}

}  // namespace zul
