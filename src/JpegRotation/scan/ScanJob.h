// What a scan pass works on: the frame and the tables from the header stage,
// the turn and the output geometry, the input's bytes, and the options that
// say how many threads may share the scan. Read-only for every pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "JpegRotation/entropy/HuffmanTables.h"
#include "JpegRotation/frame/Frame.h"
#include "JpegRotation/frame/Turn.h"
#include "JpegRotation/scan/McuPlan.h"

namespace plume {

// The ways a pass may go other than the index pass on one thread. Each
// gives the bytes, messages and progress of the index pass; they are
// switched off only to measure or test them one at a time. The passes are
// in ScanPass.cpp with what they buy; the thread schemes buy, in wall time
// on two cores over the same work on one thread (bench/run.sh --passes):
// the speculative index 8 to 12 %, 35 % for a scan not turned; the parted
// output 25 to 44 %; the walk in ranges 39 %; the half turn's lanes 40 %.
// None serves a batch, whose files take one core each.
struct TScanSchemes {
    bool copy = true;              // a scan not turned copied as it is
    bool intervalPass = true;      // restart intervals decoded once, as the output needs them
    bool halfTurnOnce = true;      // a half turn decoded once, from the front
    bool speculativeIndex = true;  // further threads index their parts of the scan ahead
    bool partedOutput = true;      // the output coded in parts on every thread
    bool walkRanges = true;        // walked intervals coded in ranges on every thread
    bool halfTurnLanes = true;     // the half turn decoded in parts on every thread
};

struct TScanOptions {
    int threads = 1;  // that may share one file's scan
    // Images of fewer blocks are done on one thread, where more cost more
    // than they save; 0 lets threads share any image.
    std::int64_t parallelMinBlocks = std::int64_t{1} << 14;
    TScanSchemes schemes;
    // The host's advice on large buffers (TEngineOptions::AdviseLargeBuffer).
    std::function<void(void*, std::size_t)> adviseLargeBuffer;
};

struct TScanJob {
    const TFrame& frame;
    const TCodingTables& tables;
    TTurn turn;
    const TOutputGeometry& output;
    TScanOptions options;
    const std::uint8_t* data;  // the whole input
    std::size_t size;
    std::size_t scanStart;  // of the scan data

    // Threads that code an output of `blocks` blocks.
    int CodingThreads(std::size_t blocks) const;
    // Where the parts of the scan after the first begin when it is cut into
    // `parts` (data bytes or, with restart markers, the bytes after
    // markers), in order; none where parts would be too small to pay, or
    // where there is one thread.
    std::vector<std::size_t> PartStarts(int parts) const;
    // MCU starts that scan data of `bytes` bytes can hold at most: every
    // block takes at least two bits (a DC code and an end of block), and the
    // read error ends decoding one MCU past the data.
    std::size_t McuCapacity(std::size_t bytes) const;
};

}  // namespace plume
