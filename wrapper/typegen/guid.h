// GUIDs of described classes: written out, read back, and derived from names.
#ifndef ZUL_TYPEGEN_GUID_H
#define ZUL_TYPEGEN_GUID_H

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zul::typegen {

// The 16 bytes in text order (the first group most significant byte first), as they are written.
struct Guid {
  std::array<uint8_t, 16> bytes{};
  bool operator==(const Guid&) const = default;
};

// "cea5c633-5f68-4feb-9447-c578f1a10ce5", lower case, no braces.
std::string GuidText(const Guid& guid);
// Reads 8-4-4-4-12 hex digits, with or without braces; nullopt for anything else.
std::optional<Guid> ParseGuid(std::string_view text);
// A name-based GUID (version 5: SHA-1 of the namespace's bytes and the name).
Guid NameBasedGuid(const Guid& space, std::string_view name);
// The namespace of every GUID zul-typegen derives.
const Guid& TypegenNamespace();

}  // namespace zul::typegen

#endif
