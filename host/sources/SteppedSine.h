#pragma once
// The sine and cosine of a phase that moves on by a fixed step each frame,
// a block of kBlock frames at a time: from the exact phase a at the block's
// first frame, frame j of the block is
//   sin(a + j step) = sin a cos(j step) + cos a sin(j step),
// with cos(j step) and sin(j step) from a table made once per step. One sine
// and cosine a block instead of one a frame, and no error builds up since
// every block starts from the exact phase.

#include <array>
#include <cmath>
#include <cstddef>
#include <numbers>

namespace host {

class SteppedSine {
public:
    static constexpr size_t kBlock = 128;

    // The step, in cycles a frame. Cheap to call again with the same step.
    void setStep(double cycles) {
        if (cycles == step_) return;
        step_ = cycles;
        for (size_t j = 0; j < kBlock; ++j) {
            const double turns = cycles * static_cast<double>(j);
            const double angle = 2.0 * std::numbers::pi * (turns - std::floor(turns));
            cosStep_[j] = std::cos(angle);
            sinStep_[j] = std::sin(angle);
        }
    }
    // The exact phase, in cycles, at the block's first frame (reduced first,
    // so a large phase keeps full precision).
    void setPhase(double cycles) {
        const double angle = 2.0 * std::numbers::pi * (cycles - std::floor(cycles));
        cos_ = std::cos(angle);
        sin_ = std::sin(angle);
    }
    // Frame j (< kBlock) of the block.
    double sinAt(size_t j) const { return sin_ * cosStep_[j] + cos_ * sinStep_[j]; }
    double cosAt(size_t j) const { return cos_ * cosStep_[j] - sin_ * sinStep_[j]; }
    // amplitude * sinAt(first + i) into out[i] for i < count (first + count <= kBlock).
    // Works on local copies so the compiler can vectorise it: `out` might
    // otherwise alias the members.
    void renderSin(double* out, size_t first, size_t count, double amplitude) const {
        const double s = sin_ * amplitude, c = cos_ * amplitude;
        const double* cosStep = cosStep_.data() + first;
        const double* sinStep = sinStep_.data() + first;
        for (size_t i = 0; i < count; ++i) out[i] = s * cosStep[i] + c * sinStep[i];
    }

private:
    double step_ = -1;  // no table yet
    double cos_ = 1;
    double sin_ = 0;
    std::array<double, kBlock> cosStep_{};
    std::array<double, kBlock> sinStep_{};
};

}  // namespace host
