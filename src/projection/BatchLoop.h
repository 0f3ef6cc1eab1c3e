#pragma once
// Shared pieces of the batch loops. They work through the points in blocks and make each
// maths-library call of a formula in its own pass over the block: a run of independent calls
// keeps the processor busy, where a chain of dependent calls per point (tan then log, exp then
// atan) leaves it waiting on each result. Every point still goes through the same operations
// as the per-point formulas, so the results are the same bits.

#include <algorithm>
#include <cstddef>
#include <functional>
#include <span>

namespace BatchLoop {

inline constexpr std::size_t kBlockSize = 128;

// True when the output shares memory with the input without being the same array. A block
// writes its outputs only after reading all its inputs, which is right for outputs that are
// the inputs themselves but not for arrays shifted against each other; those callers get the
// per-point operations, one point after the other.
inline bool OverlapsShifted(std::span<const double> out, std::span<const double> in) {
    if (out.empty() || in.empty() || out.data() == in.data()) {
        return false;
    }
    const std::less<const double*> before;
    return before(out.data(), in.data() + in.size()) && before(in.data(), out.data() + out.size());
}

inline bool AnyOverlapsShifted(std::span<const double> inA, std::span<const double> inB,
                               std::span<const double> outA, std::span<const double> outB) {
    return OverlapsShifted(outA, inA) || OverlapsShifted(outA, inB) || OverlapsShifted(outB, inA) ||
           OverlapsShifted(outB, inB);
}

// Calls body(first, count) for consecutive blocks of at most kBlockSize points.
template <typename Body>
void ForEachBlock(std::size_t size, Body&& body) {
    for (std::size_t first = 0; first < size; first += kBlockSize) {
        body(first, std::min(kBlockSize, size - first));
    }
}

} // namespace BatchLoop
