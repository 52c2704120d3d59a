// The type tables shared by the conversions: ZUL type codes, their names and the VARTYPEs on each side.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ole.h"
#include "zul/qel.h"

namespace zul {

// The name reported for a type code; codes above 15 are named ZUL_TYP_UNDEF.
const char* ZulTypeName(uint8_t code) noexcept;

// A VARTYPE as text, flags included ("VT_BYREF|VT_I4"), for our own messages.
std::string VarTypeName(VARTYPE vt);

// Bytes of one element of a SAFEARRAY of this VARTYPE as the conversions read it; 0 for others.
uint32_t ElementSizeOfVarType(VARTYPE vt) noexcept;

// The ZUL type code and destination size of an array element of this VARTYPE; false when arrays of it
// are not accepted.
bool ArrayElementType(VARTYPE vt, uint8_t& code, uint32_t& size) noexcept;

// The VARTYPE and element size that a ZUL type code becomes on the way out; false for codes without
// a counterpart (undefined, complex, struct, pointer, object reference, unknown).
bool OutputVarType(uint8_t code, VARTYPE& vt, uint32_t& size) noexcept;

}  // namespace zul
