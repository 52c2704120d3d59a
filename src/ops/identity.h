#pragma once

namespace zul::ops {

// A fresh GUID as 36 lower-case hexadecimal characters and hyphens, in one process-wide buffer that
// the next call overwrites (the empty string when no GUID can be made).
const char* CreateGuidText() noexcept;

}  // namespace zul::ops
