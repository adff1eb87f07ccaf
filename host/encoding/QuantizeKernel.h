#pragma once
// The hot loop of integer encoding: many doubles (full scale +-1.0) to N-bit
// codes, rounded to nearest with ties to even and saturated, two at a time
// with SSE2 where the machine has it.

#include <cstddef>
#include <cstdint>

namespace host {

// Writes the codes of in[0 .. count - 1] to codes[0 .. count - 1] for
// `bits` (8..32) and returns how many had to be saturated. NaN gives 0.
uint64_t quantizeToCodes(const double* in, size_t count, uint32_t bits, int32_t* codes);

}  // namespace host
