// Saved state records and the 80-bit extended reals they carry.
//
// A state file is a flat sequence of records, no header:
//   Key (int32) | name length N (int32) | name (N bytes) | tag (1 byte) | payload
// with the tags "I" (int32), "W" (uint16), "E" (80-bit extended real), "O"
// (the Key of a referenced element) and "S" (int32 length + bytes). All
// integers little-endian. TNBDB::SaveState / LoadState walk the tree.
#pragma once

#include <cstdint>

namespace nb {

constexpr uint8_t kStateTagInt = 'I';
constexpr uint8_t kStateTagWord = 'W';
constexpr uint8_t kStateTagExtended = 'E';
constexpr uint8_t kStateTagElement = 'O';
constexpr uint8_t kStateTagString = 'S';

// 80-bit extended precision: 64-bit significand with an explicit integer bit,
// 15-bit exponent biased by 16383, sign bit; little-endian (significand
// first, then sign and exponent). Every double converts exactly (denormals
// become normal extended values); infinities and NaNs keep their class.
void DoubleToExtended(double v, uint8_t out[10]);
// The nearest double; values beyond the double range become infinities or
// zeros of their sign.
double ExtendedToDouble(const uint8_t in[10]);

}  // namespace nb
