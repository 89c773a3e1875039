// What a host sets before a pass, and what it may read after one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "JpegRotation/scan/ScanJob.h"
#include "JpegRotation/scan/ScanPass.h"

namespace plume {

struct TEngineOptions {
    // A JPEG thumbnail, or a large thumbnail of a multi-picture file, may
    // turn sideways (and the EXIF describe it so), leaving DCF.
    bool AllowBreakDCF = false;
    // Drops the partial MCU column or row that the turn carries to the top or
    // left side, as `jpegtran -trim` does, where at least one whole MCU is
    // left in that direction: the output frame and the EXIF pixel dimensions
    // give the smaller size. Thumbnails and secondary images follow.
    bool TrimPartialEdges = false;
    // ValidateJpeg warns of a picture that is not a whole number of MCUs. A
    // host that decides itself what becomes of partial edges (it trims them,
    // or leaves such a photo alone) turns the warning off.
    bool WarnPartialMcu = true;
    // Threads share the work of one file (one per core unless ThreadCount
    // says how many); the bytes written, messages and progress are the same
    // either way, and the callbacks are called on the caller's thread only.
    bool AllowParallelCoding = true;
    int ThreadCount = 0;
    // Images of fewer blocks are done on one thread, where more cost more
    // than they save.
    std::int64_t ParallelMinBlocks = std::int64_t{1} << 14;
    // The passes that decode the scan once and the ways threads share it
    // (ScanJob.h), all on unless switched off to measure or test them.
    TScanSchemes Schemes;
    // Every JPEG that a lossless turn can take: progressive frames (kept
    // progressive), sequential files of several scans, extended (SOF1)
    // frames, four components and any component identifiers. Off, such a
    // file is refused as by a baseline-only reader.
    bool AnyJpeg = false;
    // Huffman tables made from the output's own symbol counts, for every
    // file; a progressive output has them whatever this says.
    bool OptimizeTables = false;
    // Called with a large buffer that nothing has touched yet (the
    // coefficient store), so that the host can ask the system for huge
    // pages, which many megabytes fill with far fewer page faults.
    std::function<void(void* data, std::size_t size)> AdviseLargeBuffer;
};

// What the last RotateJpeg did.
struct TPassReport {
    // The input ended before the pass could finish: a file cut short, which
    // the host reports itself (no message is given).
    bool inputEnded = false;
    TScanPass pass = TScanPass::Index;  // the pass that wrote the scan
    std::int64_t speculatedMcus = 0;    // MCUs that further threads decoded ahead
    int xmpPacketsLeft = 0;             // XMP packets in which a change did not fit
    // ValidateJpeg refused the file with AnyJpeg off, and would have taken
    // it with AnyJpeg on: set before the refusal is reported, so that the
    // host's message callback can already see it.
    bool anyJpegTakes = false;
    // A progressive output got the standard scan script instead of the
    // input's: a band of the input would not stay one band after the turn.
    bool scriptReplaced = false;
    int scansWritten = 0;  // the output's scans
};

}  // namespace plume
