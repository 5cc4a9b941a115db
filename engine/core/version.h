// The version words of this build, shared by the configuration record
// (SYSCFG) and the build-identifier calls.
#pragma once

#include <cstdint>

namespace zv {

// Version word: major << 24 | minor << 16 | patch (0.1.0).
constexpr uint32_t kVersionWord = (0u << 24) | (1u << 16) | 0u;
// Version of the configuration record itself: 0x00MMmmpp.
constexpr int32_t kConfigVersion = 0x000100;
// Packed build identifier: minor version 1 in the low 7 bits, build 1 above.
constexpr uint32_t kVersionId2 = (1u << 7) | 1u;
// Base build identifier.
constexpr uint32_t kVersionIdBase = 0;
// Path separator of file names on this platform.
constexpr char kPathSeparator = '/';

}  // namespace zv
