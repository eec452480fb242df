// Limits of the interpreter, gathered in one place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nb::scriptlimits {

// One counter bounds every kind of nesting that recurses on the C++ stack:
// statement lists (blocks, loop bodies, branches), parenthesised
// sub-expressions and nested evaluations (arguments, indices), and calls of
// script procedures. Runaway nesting becomes a script error long before the
// stack is at risk; a pool of ten interpreters may each be this deep at once,
// and sanitizer builds use much bigger frames, so the limit stays modest.
inline constexpr int kMaxDepth = 200;

// USES and INCLUDE files opened inside each other; a file that includes
// itself stops here with an error instead of recursing.
inline constexpr int kMaxIncludeDepth = 16;

// Compiled texts whose token arrays and parse caches an interpreter keeps.
// When either bound is passed the cache is emptied and refills on demand.
inline constexpr size_t kMaxCachedUnits = 4096;
inline constexpr size_t kMaxCachedBytes = size_t(16) << 20;

// Error code of the nesting and include limits (unused by the other messages).
inline constexpr int32_t kDepthErrorCode = 27;

}  // namespace nb::scriptlimits
