// The server emitter: a description as the C++ of one in-process server, over the header that widl
// makes from the IDL and the typed-object runtime of wrapper/.
#ifndef ZUL_TYPEGEN_SERVER_H
#define ZUL_TYPEGEN_SERVER_H

#include <string>

#include "description.h"

namespace zul::typegen {

// `source` names the description in the header comment; `header` is the widl header to include.
std::string EmitServer(const Description& description, const std::string& source, const std::string& header);

}  // namespace zul::typegen

#endif
