// The IDL emitter: a description as a type library in MIDL syntax, for widl or MIDL.
#ifndef ZUL_TYPEGEN_IDL_H
#define ZUL_TYPEGEN_IDL_H

#include <string>

#include "description.h"

namespace zul::typegen {

// `source` names the description in the header comment.
std::string EmitIdl(const Description& description, const std::string& source);

}  // namespace zul::typegen

#endif
