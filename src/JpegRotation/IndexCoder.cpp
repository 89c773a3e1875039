// The rotate-and-write pass without a coefficient store, second half: each
// output MCU is decoded again from the scan index, turned and coded straight
// away, the parts of the output on threads of their own. The bytes are
// those of decoding into the store and coding from it.
//
// A quarter turn or a diagonal mirror changes the order of the coefficients
// in every block, so each block is decoded into its coded form in the new
// order and then coded. The other modes keep that order and only change
// signs: each block is coded as it is decoded, symbol by symbol, into bits
// of its own that are put in the output in the order the output MCU wants.
#include <cmath>

#include "JpegRotation/IndexSource.h"

namespace plume {

// A walk, on as many threads as the image is worth: the output is cut into
// ranges of whole output intervals, one per thread (a single range on one).
// The first thread walks every input interval from its start; each further
// one first skips through the input intervals to the first MCU its range
// needs from each, and walks on from there.
// Skipping an MCU costs about a third of decoding and coding it, so the
// earlier ranges are the longer ones.
template <class TBlock>
bool TJpegRotation::EncodeWalkedInRanges(TIndexSource<TBlock>& source, int progressBase) {
    constexpr double kSkipShare = 0.3;
    const std::int64_t total = source.mcusPerRow * source.mcuRows;
    const std::int64_t unit = RestartInterval;
    std::size_t blocks = 0;
    for (int s = 0; s < 4; ++s) blocks += source.width[s] * source.height[s];
    const int threads = total < 2 ? 1 : CodingThreads(static_cast<std::int64_t>(blocks));
    // Range t ends at X(t + 1) = (1 - share) X(t) + w, so that skipping to
    // X(t) and coding up to X(t + 1) cost the same on every thread.
    const double w = static_cast<double>(total) * kSkipShare /
                     (1 - std::pow(1 - kSkipShare, static_cast<double>(threads)));
    std::vector<std::int64_t> ends{0};
    double x = 0;
    for (int t = 1; t < threads; ++t) {
        x = (1 - kSkipShare) * x + w;
        const std::int64_t end = static_cast<std::int64_t>(x) / unit * unit;
        if (end > ends.back() && end < total) ends.push_back(end);
    }
    ends.push_back(total);
    const std::size_t rangeCount = ends.size() - 1;

    // The MCU each range needs first from each input interval: the one
    // after those the ranges before it take.
    const std::int64_t length = source.intervals->length;
    std::vector<std::int64_t> next(source.intervals->starts.size());
    for (std::size_t i = 0; i < next.size(); ++i) next[i] = static_cast<std::int64_t>(i) * length;
    std::vector<std::vector<std::int64_t>> first(rangeCount);
    for (std::size_t range = 1, o = 0; range < rangeCount; ++range) {
        for (; static_cast<std::int64_t>(o) < ends[range]; ++o) {
            const auto row = static_cast<std::int64_t>(o) / source.mcusPerRow;
            const auto col = static_cast<std::int64_t>(o) % source.mcusPerRow;
            const TGridPoint input =
                Turned(source.inverseMode, static_cast<int>(col), static_cast<int>(row),
                       source.outputPerRow, source.outputRows);
            const std::int64_t m = input.y * source.inputPerRow + input.x;
            next[static_cast<std::size_t>(m / length)] = m + 1;
        }
        first[range] = next;
    }

    struct TRange {
        TIndexSource<TBlock> source;
        TEncodeRange range;
        std::vector<std::uint8_t> bytes;
        std::optional<TScanWriter> writer;
        std::exception_ptr failure;
    };
    std::vector<TRange> ranges(rangeCount);
    const std::size_t inputSize = InBits->Stream().Size();
    for (std::size_t t = 1; t < rangeCount; ++t) {
        TRange& part = ranges[t];
        part.source = source;
        part.source.reader.emplace(source.reader->Data(), source.reader->Size(), 0,
                                   [met = &part.source.markerMet] { *met = true; });
        part.range = {ends[t], ends[t + 1], {0, 0, 0, 0}, 0, static_cast<int>((ends[t] / unit) & 7),
                      false};
        part.bytes.reserve(inputSize / static_cast<std::size_t>(total) *
                               static_cast<std::size_t>(ends[t + 1] - ends[t]) +
                           4096);
        part.writer.emplace(part.bytes);
    }
    const auto work = [&](TRange& part, const std::vector<std::int64_t>& from) {
        try {
            if (!part.source.SkipTo(from)) {
                part.source.failed = true;
                return;
            }
            EncodeMcus(part.source, part.range, *part.writer, progressBase, false);
            part.writer->FlushWithPadding();
        } catch (...) {
            part.failure = std::current_exception();
        }
    };
    std::vector<TWorkerPool::TTicket> workers;
    std::size_t started = 1;
    for (; started < rangeCount; ++started) {
        try {
            TRange* part = &ranges[started];
            const std::vector<std::int64_t>* from = &first[started];
            workers.push_back(
                TWorkerPool::Shared().Run([&work, part, from] { work(*part, *from); }));
        } catch (const std::system_error&) {
            break;  // fewer threads: this one codes the ranges left after its own
        }
    }

    std::vector<std::uint8_t>& out = OutBits->Stream().Bytes();
    out.reserve(out.size() + inputSize + inputSize / 16);
    TScanWriter writer(out);
    TEncodeRange range{0, ends[1], {0, 0, 0, 0}, 0, 0, false};
    try {
        EncodeMcus(source, range, writer, progressBase, false);
        for (std::size_t t = started; t < rangeCount; ++t) work(ranges[t], first[t]);
    } catch (...) {
        for (TWorkerPool::TTicket& worker : workers) worker.Wait();
        throw;
    }
    for (TWorkerPool::TTicket& worker : workers) worker.Wait();
    TWorkerPool::Shared().Rest();
    bool failed = range.failed;
    for (std::size_t t = 1; t < rangeCount; ++t) {
        TRange& part = ranges[t];
        if (part.failure) std::rethrow_exception(part.failure);
        source.failed = source.failed || part.source.failed;
        failed = failed || part.range.failed;
        writer.AppendBytes(part.bytes.data(), part.writer->Length());
    }
    for (std::int64_t row = 0; row < source.mcuRows; ++row)
        if (OnProgress) OnProgress(progressBase + static_cast<int>(row));
    return EndOutputScan(writer, failed);
}

template <class TBlock>
bool TJpegRotation::EncodeFromIndexAs(const TIntervalPlan* intervals) {
    TIndexSource<TBlock> source;
    TSourceTables tables;
    const int progressBase = PrepareIndexSource(source, tables);
    source.intervals = intervals;
    const bool ok = intervals != nullptr && intervals->walk
                        ? EncodeWalkedInRanges(source, progressBase)
                        : EncodeOutput(source, progressBase);
    if (source.failed) {
        // The index is made from bits that decoded cleanly: not expected.
        // The interval pass hands over to the index pass without a word.
        if (intervals == nullptr) ReportError(kMsgHuffmanBlock);
        return false;
    }
    return ok;
}

bool TJpegRotation::EncodeFromIndex(const TIntervalPlan* intervals) {
    if (kModeBlockMaps[Mode < kModeCount ? Mode : std::uint8_t{kModeNone}].Moves)
        return EncodeFromIndexAs<TCodedBlock>(intervals);
    return EncodeFromIndexAs<TTranscodedBlock>(intervals);
}

}  // namespace plume
