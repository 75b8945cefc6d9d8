#pragma once

#include "core/system.h"

namespace vlm::win32 {

// UTF-8 (the core's strings) to UTF-16 (the wide Windows APIs) and back, converted as the core converts its paths.
using sys::Narrow;
using sys::Widen;

} // namespace vlm::win32
