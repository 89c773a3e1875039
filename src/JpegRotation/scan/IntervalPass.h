// The interval pass: a scan with restart markers decoded once, each restart
// interval as the output needs it, and coded straight away, so that the scan
// need not be indexed first and decoded again. Either the turn carries each
// interval whole onto one of the output (a half turn or a mirror whose rows
// hold whole intervals, any turn of one-MCU intervals): each is decoded
// whole when the output first needs it and held; or the output needs each
// interval's MCUs in their order (a turn to the right of intervals within
// rows): each is walked, decoded on from where it stopped.
//
// The pass reports nothing. Whatever it cannot do cleanly (a damaged
// interval, markers out of place) it leaves, with nothing written, to the
// index pass, which reports as it goes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "JpegRotation/scan/ScanJob.h"

namespace plume {

// Blocks of one interval that a thread holds at a time: a camera's interval
// of one MCU row of a 6000-pixel-wide 4:2:0 photo holds 2,250.
inline constexpr std::int64_t kMaxHeldBlocks = std::int64_t{1} << 14;

// Each output interval's MCUs come from one input interval, and from all of its MCUs.
bool IntervalsCarriedWhole(const TFrame& frame, TTurn turn);
// The output MCUs, coded in order, need the MCUs of each input interval in their own order.
bool IntervalsWalkedInOrder(const TFrame& frame, TTurn turn);

// Appends the output scan to `out` and sets scanEnd; false, with whatever
// it appended to be dropped, when the scan does not decode cleanly that way.
[[nodiscard]] bool CodeByIntervals(const TScanJob& job, bool walk, std::vector<std::uint8_t>& out,
                                   std::size_t& scanEnd);

}  // namespace plume
