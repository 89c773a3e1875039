#include "JpegRotation/scan/ScanPass.h"

#include "JpegRotation/scan/CopyPass.h"
#include "JpegRotation/scan/IndexCoder.h"
#include "JpegRotation/scan/IndexPass.h"
#include "JpegRotation/scan/IntervalPass.h"
#include "JpegRotation/scan/ReversePass.h"

namespace plume {
namespace {

// Every table the scan uses codes the output as it is, so that decoding and
// coding agree code for code; a table replaced for the output would also be
// the index pass's for decoding, should it have to take over.
bool UsedTablesComplete(const TScanJob& job) {
    for (const TSlot& slot : job.frame.slot)
        if (slot.Present() &&
            !(job.tables.complete[0][slot.dcTable] && job.tables.complete[1][slot.acTable]))
            return false;
    return true;
}

// The progress of a pass that decoded the scan once, as the index pass
// gives it: the input's MCU rows, then the output's.
void ReportRows(const TScanJob& job, TPassEvents& events) {
    for (std::int64_t row = 0; row < job.frame.McuRows(); ++row)
        events.Progress(static_cast<int>(row));
    for (std::int64_t row = 0; row < job.output.mcuRows; ++row)
        events.Progress(job.output.progressBase + static_cast<int>(row));
}

}  // namespace

const char* ScanPassName(TScanPass pass) {
    switch (pass) {
        case TScanPass::Index:
            return "index";
        case TScanPass::Copy:
            return "copy";
        case TScanPass::IntervalsHeld:
            return "intervals held";
        case TScanPass::IntervalsWalked:
            return "intervals walked";
        case TScanPass::HalfTurnOnce:
            return "half turn once";
        case TScanPass::Counted:
            return "counted";
        case TScanPass::Store:
            return "store";
    }
    return "?";
}

// Which pass takes which scan, and what it buys over the index pass: time
// of both passes over the bench photos on one thread, as bench/run.sh
// --passes measured it (24-megapixel photo without restart markers,
// 12-megapixel camera photo with an interval of one MCU row, a batch of
// those turned as their EXIF says; two cores).
//
//   pass              takes                                         gain
//   copy              no turn, no restart markers, used tables      63 % (photo, mode 0)
//                     complete
//   intervals held    restart markers, used tables complete, no     27 % (camera, mode 3)
//                     trim, each interval carried whole (a half     19 % (batch)
//                     turn or mirror of row intervals, any turn
//                     of one-MCU intervals)
//   intervals walked  the same, the output needing each             21 % (camera, mode 1)
//                     interval's MCUs in their order (a quarter
//                     turn right of row intervals)
//   half turn once    a half turn without restart markers, used     30 % (photo, mode 3)
//                     tables complete, no trim
//   index             any other scan, and any that one of the       -
//                     above cannot take cleanly
TScanPass ChooseScanPass(const TScanJob& job) {
    const TScanSchemes& schemes = job.options.schemes;
    const TFrame& frame = job.frame;
    const bool trimmed = job.output.firstColumn != 0 || job.output.firstRow != 0;
    if (!UsedTablesComplete(job)) return TScanPass::Index;
    if (frame.restartInterval == 0) {
        if (job.turn == TTurn::None && schemes.copy) return TScanPass::Copy;
        if (job.turn == TTurn::Rotate180 && schemes.halfTurnOnce && !trimmed &&
            frame.McuCount() > 0)
            return TScanPass::HalfTurnOnce;
        return TScanPass::Index;
    }
    if (!schemes.intervalPass || trimmed ||
        std::int64_t{frame.restartInterval} * frame.McuBlocks() > kMaxHeldBlocks)
        return TScanPass::Index;
    if (IntervalsCarriedWhole(frame, job.turn)) return TScanPass::IntervalsHeld;
    if (IntervalsWalkedInOrder(frame, job.turn)) return TScanPass::IntervalsWalked;
    return TScanPass::Index;
}

bool WriteScan(const TScanJob& job, TPassEvents& events, std::vector<std::uint8_t>& out,
               TScanResult& result) {
    const TScanPass chosen = ChooseScanPass(job);
    result = {chosen, 0, 0};
    const std::size_t outSize = out.size();
    bool once = false;
    if (chosen == TScanPass::IntervalsHeld || chosen == TScanPass::IntervalsWalked)
        once = CodeByIntervals(job, chosen == TScanPass::IntervalsWalked, out, result.scanEnd);
    else if (chosen == TScanPass::HalfTurnOnce)
        once = CodeHalfTurnOnce(job, out, result.scanEnd, result.speculatedMcus);
    if (once) {
        ReportRows(job, events);
        return true;
    }
    out.resize(outSize);

    const bool copy = chosen == TScanPass::Copy;
    result.pass = TScanPass::Index;
    TScanIndex index;
    const bool indexed = IndexScan(job, copy, events, index);
    result.speculatedMcus = index.speculatedMcus;
    if (!indexed || events.ErrorReported()) return false;
    result.scanEnd = index.scanEnd;
    if (copy && ScanCopyable(job, index)) {
        CopyScan(job, index, out);
        for (std::int64_t row = 0; row < job.output.mcuRows; ++row)
            events.Progress(job.output.progressBase + static_cast<int>(row));
        result.pass = TScanPass::Copy;
        return true;
    }
    return CodeFromIndex(job, index, events, out);
}

}  // namespace plume
