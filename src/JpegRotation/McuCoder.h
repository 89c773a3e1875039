// The walk over the output MCUs shared by the coders from the store and from
// the scan index: Huffman coding, restart markers, and the split of the
// output between threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>

#include "JpegRotation/BlockCoder.h"
#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/JpegRotation.h"
#include "JpegRotation/WorkerPool.h"

namespace plume {

// The output geometry once BeginOutput has set it up. The blocks cover the
// whole turned grid of MCUs; the output is the part of it that starts at MCU
// (firstColumn, firstRow), which TrimPartialEdges may move by one.
struct TJpegRotation::TOutputLayout {
    std::size_t width[4];   // blocks per row of each slot
    std::size_t height[4];  // block rows of each slot
    const TBlockMap* map;
    int firstColumn, firstRow;
    std::int64_t mcusPerRow, mcuRows;  // output MCUs
    bool failed = false;               // a source block could not be had
};

// Codes the output MCUs [range.first, range.last) with range's predictors
// and restart state. Before each MCU source.Load(row, column) is called with
// its place in the turned grid; then each output block (x, y) of slot s is
// coded, turned, by source.Code(s, x, y, ...), and source.Dc(s, x, y) is its
// DC value. Progress is reported only when `report` is set.
template <class TBlockSource>
void TJpegRotation::EncodeMcus(TBlockSource& source, TEncodeRange& range, TScanWriter& writer,
                               int progressBase, bool report) {
    const std::int64_t total = source.mcusPerRow * source.mcuRows;
    std::size_t mcuBlocks = 0;
    for (int s = 0; s < 4; ++s) mcuBlocks += static_cast<std::size_t>(HSampling[s]) * VSampling[s];
    for (std::int64_t mcu = range.first; mcu < range.last; ++mcu) {
        const int outputRow = static_cast<int>(mcu / source.mcusPerRow);
        const int col = static_cast<int>(mcu % source.mcusPerRow) + source.firstColumn;
        if (col == source.firstColumn && report && OnProgress) OnProgress(progressBase + outputRow);
        const int row = outputRow + source.firstRow;
        source.Load(row, col);
        TScanWriter::TBits bits = writer.Open(mcuBlocks * TScanWriter::kBlockWorstCase);
        for (int s = 0; s < 4; ++s) {
            const THuffmanEncodeTable& dc = encodeTables_[0][DcSelector[s]];
            const THuffmanEncodeTable& ac = encodeTables_[1][AcSelector[s]];
            for (int v = 0; v < VSampling[s]; ++v) {
                const std::size_t y = static_cast<std::size_t>(row) * VSampling[s] + v;
                for (int h = 0; h < HSampling[s]; ++h) {
                    const std::size_t x = static_cast<std::size_t>(col) * HSampling[s] + h;
                    if (!source.Code(s, x, y, range.predictor[s], dc, ac, bits))
                        range.failed = true;
                }
            }
        }
        writer.Close(bits);
        if (HasRestart) {
            ++range.restartCounter;
            if (mcu != total - 1 && range.restartCounter == RestartInterval) {
                for (auto& predictor : range.predictor) predictor = 0;
                range.restartCounter = 0;
                writer.FlushWithPadding();
                writer.PutMarker(static_cast<std::uint16_t>(0xFFD0 + range.restartIndex));
                range.restartIndex = (range.restartIndex + 1) & 7;
            }
        }
    }
}

// Writes the whole output scan from `source`. When the image is large enough
// for ThreadsToUse threads, the output MCUs are cut into parts (whole
// restart intervals when there are markers), which the threads take in
// order, each coding its part from a copy of the source into bytes of its
// own; this thread, one of them, puts the finished parts into the output in
// order as soon as they are there. No part is taken more than a few parts
// ahead of the first one not yet put, so that few wait at a time however
// the threads are scheduled. A part's start state (predictors, restart
// count and number) follows from the blocks before it; with restart markers
// it starts right after one. Progress is reported here, in order, as the
// rows are put into the output.
template <class TBlockSource>
bool TJpegRotation::EncodeOutput(TBlockSource& source, int progressBase) {
    std::size_t blocks = 0;
    for (int s = 0; s < 4; ++s) blocks += source.width[s] * source.height[s];
    const std::int64_t perRow = source.mcusPerRow;
    const std::int64_t total = perRow * source.mcuRows;
    const bool restarts = HasRestart && RestartInterval > 0;
    const int threads = CodingThreads(static_cast<std::int64_t>(blocks));

    std::vector<std::uint8_t>& out = OutBits->Stream().Bytes();
    const std::size_t inputSize = InBits->Stream().Size();
    out.reserve(out.size() + inputSize + inputSize / 16);
    TScanWriter writer(out);
    if (threads < 2 || total < 2) {
        TEncodeRange range{0, total, {0, 0, 0, 0}, 0, 0, false};
        EncodeMcus(source, range, writer, progressBase, true);
        return EndOutputScan(writer, range.failed);
    }

    // Parts of about kPartBytes of input each, at least two per thread.
    constexpr std::size_t kPartBytes = std::size_t{1} << 15;
    const auto wanted = static_cast<std::int64_t>(std::clamp<std::size_t>(
        inputSize / kPartBytes, 2 * static_cast<std::size_t>(threads), 4096));
    const std::int64_t unit = restarts ? RestartInterval : 1;
    std::vector<std::int64_t> starts{0};
    for (std::int64_t p = 1; p < wanted; ++p) {
        std::int64_t split = total * p / wanted;
        split -= split % unit;
        if (split > starts.back() && split < total) starts.push_back(split);
    }
    starts.push_back(total);
    const std::size_t partCount = starts.size() - 1;
    const std::size_t window = static_cast<std::size_t>(threads) + 1;

    // A part's bytes; as many as may wait at a time, made once and used
    // again, so that their memory is not spread over each thread's heap.
    struct TPart {
        TEncodeRange range;
        std::vector<std::uint8_t> bytes;
        std::optional<TScanWriter> writer;
        void Start(std::int64_t first, std::int64_t last, bool raw) {
            range = {first, last, {0, 0, 0, 0}, 0, 0, false};
            bytes.clear();
            writer.emplace(bytes, raw);
        }
    };
    std::vector<TPart> pool(window + 1);
    std::vector<TPart*> spare;
    for (TPart& part : pool) {
        part.bytes.reserve(inputSize / partCount + inputSize / (16 * partCount) + 4096);
        spare.push_back(&part);
    }
    // Shared, under the mutex: the parts coded and not yet put, the first
    // part nobody took, the first part not yet put.
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<TPart*> done(partCount, nullptr);
    std::size_t next = 0, put = 0;
    bool stop = false;
    std::exception_ptr failure;
    bool sourceFailed = false;
    const auto mayTake = [&] { return next < partCount && next < put + window; };

    // Codes part p from `own` into `part`.
    const auto codePart = [&](TBlockSource& own, std::size_t p, TPart& part) {
        part.Start(starts[p], starts[p + 1], !restarts);
        const std::int64_t first = starts[p];
        if (restarts) {
            part.range.restartIndex = static_cast<int>((first / RestartInterval) & 7);
        } else if (first > 0) {
            // The last block of each slot in the MCU before the part; DC
            // never moves or changes sign.
            const int row = static_cast<int>((first - 1) / perRow) + source.firstRow;
            const int col = static_cast<int>((first - 1) % perRow) + source.firstColumn;
            own.Load(row, col);
            for (int s = 0; s < 4; ++s) {
                if (HSampling[s] == 0 || VSampling[s] == 0) continue;
                const std::size_t x =
                    static_cast<std::size_t>(col) * HSampling[s] + HSampling[s] - 1;
                const std::size_t y =
                    static_cast<std::size_t>(row) * VSampling[s] + VSampling[s] - 1;
                part.range.predictor[s] = own.Dc(s, x, y);
            }
        }
        EncodeMcus(own, part.range, *part.writer, progressBase, false);
        const std::lock_guard lock(mutex);
        done[p] = &part;
        changed.notify_all();
    };
    // Each thread's copy of the source, made before any thread starts.
    std::vector<TBlockSource> copies(static_cast<std::size_t>(threads - 1), source);
    const auto work = [&](TBlockSource& own) {
        try {
            for (;;) {
                std::size_t p;
                TPart* part;
                {
                    std::unique_lock lock(mutex);
                    changed.wait(lock, [&] { return stop || next >= partCount || mayTake(); });
                    if (stop || next >= partCount) break;
                    p = next++;
                    part = spare.back();
                    spare.pop_back();
                }
                codePart(own, p, *part);
            }
        } catch (...) {
            const std::lock_guard lock(mutex);
            if (!failure) failure = std::current_exception();
            stop = true;
        }
        const std::lock_guard lock(mutex);
        sourceFailed = sourceFailed || own.failed;
        changed.notify_all();
    };
    std::vector<TWorkerPool::TTicket> workers;
    workers.reserve(copies.size());
    const auto stopWorkers = [&] {
        {
            const std::lock_guard lock(mutex);
            stop = true;
            changed.notify_all();
        }
        for (TWorkerPool::TTicket& worker : workers) worker.Wait();
    };
    try {
        for (TBlockSource& copy : copies)
            workers.push_back(TWorkerPool::Shared().Run([&work, &copy] { work(copy); }));
    } catch (const std::system_error&) {
        // Fewer threads than asked for: this one takes the parts left.
    } catch (...) {
        stopWorkers();
        throw;
    }

    bool failed = false;
    try {
        while (put < partCount) {
            TPart* part = nullptr;
            TPart* free = nullptr;
            std::size_t take = partCount;
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return failure || done[put] || mayTake(); });
                if (failure) break;
                if (done[put]) {
                    part = done[put];
                } else {
                    take = next++;
                    free = spare.back();
                    spare.pop_back();
                }
            }
            if (!part) {
                codePart(source, take, *free);
                continue;
            }
            for (std::int64_t mcu = part->range.first; mcu < part->range.last; ++mcu)
                if (mcu % perRow == 0 && OnProgress)
                    OnProgress(progressBase + static_cast<int>(mcu / perRow));
            if (restarts) {
                part->writer->FlushWithPadding();
                writer.AppendBytes(part->bytes.data(), part->writer->Length());
            } else {
                writer.AppendRaw(*part->writer);
            }
            failed = failed || part->range.failed;
            const std::lock_guard lock(mutex);
            done[put++] = nullptr;
            spare.push_back(part);
            changed.notify_all();
        }
    } catch (...) {
        stopWorkers();
        throw;
    }
    stopWorkers();
    // The file's last parallel work: what follows is writing it.
    TWorkerPool::Shared().Rest();
    if (failure) std::rethrow_exception(failure);
    source.failed = source.failed || sourceFailed;
    return EndOutputScan(writer, failed);
}

}  // namespace plume
