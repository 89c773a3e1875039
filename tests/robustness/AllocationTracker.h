// Counts the bytes that operator new hands out in this test program, so that
// a test can see the most memory a pass held at once.
#pragma once

#include <cstddef>

namespace plume::test {

// Live bytes now, and the most live bytes since the last ResetPeak().
std::size_t LiveBytes();
std::size_t PeakBytes();
void ResetPeak();

// Peak bytes held during fn beyond what was live when it started.
template <class F>
std::size_t PeakGrowthDuring(F&& fn) {
    ResetPeak();
    const std::size_t before = LiveBytes();
    fn();
    const std::size_t peak = PeakBytes();
    return peak > before ? peak - before : 0;
}

}  // namespace plume::test
