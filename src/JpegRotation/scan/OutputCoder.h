// The walk over the output MCUs that every pass but the copy and the half
// turn decoded once ends in: Huffman coding, restart markers (T.81 B.2.4.4,
// F.1.2.3), and the split of the output between threads.
#pragma once

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include "JpegRotation/PassEvents.h"
#include "JpegRotation/entropy/BlockCoder.h"
#include "JpegRotation/scan/ScanJob.h"
#include "JpegRotation/threads/WorkerPool.h"

namespace plume {

// The output MCUs [first, last) with their predictors and restart state.
struct TCodeRange {
    std::int64_t first, last;
    std::int32_t predictor[kSlots];
    int restartCounter;
    int restartIndex;
    bool failed;  // a symbol without a code
};

// Pads the last byte of the output scan and trims the writer's vector;
// false when a range failed, which the caller reports.
[[nodiscard]] inline bool FinishScan(TScanWriter& writer, bool failed) {
    writer.FlushWithPadding();
    writer.Finish();
    return !failed;
}

// Codes the output MCUs [range.first, range.last) with range's predictors
// and restart state into `writer`. Before each MCU source.Load(row, column) is called with
// its place in the turned grid; then each output block (x, y) of slot s is
// coded, turned, by source.Code(s, x, y, ...), and source.Dc(s, x, y) is its
// DC value. Progress is reported only through `progress`, when given.
template <class TBlockSource>
void CodeMcus(const TScanJob& job, TBlockSource& source, TCodeRange& range, TScanWriter& writer,
              TPassEvents* progress) {
    const TOutputGeometry& output = job.output;
    const std::int64_t total = output.McuCount();
    const std::int32_t interval = job.frame.restartInterval;
    std::size_t mcuBlocks = 0;
    for (int s = 0; s < kSlots; ++s)
        mcuBlocks += static_cast<std::size_t>(output.h[s]) * output.v[s];
    for (std::int64_t mcu = range.first; mcu < range.last; ++mcu) {
        const int outputRow = static_cast<int>(mcu / output.mcusPerRow);
        const int col = static_cast<int>(mcu % output.mcusPerRow) + output.firstColumn;
        if (col == output.firstColumn && progress)
            progress->Progress(output.progressBase + outputRow);
        const int row = outputRow + output.firstRow;
        source.Load(row, col);
        TScanWriter::TBits bits = writer.Open(mcuBlocks * TScanWriter::kBlockWorstCase);
        for (int s = 0; s < kSlots; ++s) {
            const THuffmanEncodeTable& dc = job.tables.encode[0][job.frame.slot[s].dcTable];
            const THuffmanEncodeTable& ac = job.tables.encode[1][job.frame.slot[s].acTable];
            for (int v = 0; v < output.v[s]; ++v) {
                const std::size_t y = static_cast<std::size_t>(row) * output.v[s] + v;
                for (int h = 0; h < output.h[s]; ++h) {
                    const std::size_t x = static_cast<std::size_t>(col) * output.h[s] + h;
                    if (!source.Code(s, x, y, range.predictor[s], dc, ac, bits))
                        range.failed = true;
                }
            }
        }
        writer.Close(bits);
        if (interval > 0) {
            ++range.restartCounter;
            if (mcu != total - 1 && range.restartCounter == interval) {
                for (auto& predictor : range.predictor) predictor = 0;
                range.restartCounter = 0;
                writer.FlushWithPadding();
                writer.PutMarker(static_cast<std::uint16_t>(0xFFD0 + range.restartIndex));
                range.restartIndex = (range.restartIndex + 1) & 7;
            }
        }
    }
}

// Appends the whole output scan from `source` to `out`; false when a symbol
// has no code in the output's tables, which the caller reports. When the
// image is large enough for the job's threads, the output MCUs are cut into parts (whole
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
[[nodiscard]] bool CodeOutput(const TScanJob& job, TBlockSource& source, TPassEvents* progress,
                              std::vector<std::uint8_t>& out) {
    const TOutputGeometry& output = job.output;
    const std::int64_t perRow = output.mcusPerRow;
    const std::int64_t total = output.McuCount();
    const std::int32_t interval = job.frame.restartInterval;
    const bool restarts = interval > 0;
    const int threads = job.options.schemes.partedOutput ? job.CodingThreads(output.Blocks()) : 1;

    const std::size_t inputSize = job.size;
    out.reserve(out.size() + inputSize + inputSize / 16);
    TScanWriter writer(out);
    if (threads < 2 || total < 2) {
        TCodeRange range{0, total, {0, 0, 0, 0}, 0, 0, false};
        CodeMcus(job, source, range, writer, progress);
        return FinishScan(writer, range.failed);
    }

    // Parts of about kPartBytes of input each, at least two per thread.
    constexpr std::size_t kPartBytes = std::size_t{1} << 15;
    const auto wanted = static_cast<std::int64_t>(std::clamp<std::size_t>(
        inputSize / kPartBytes, 2 * static_cast<std::size_t>(threads), 4096));
    const std::int64_t unit = restarts ? interval : 1;
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
        TCodeRange range;
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
            part.range.restartIndex = static_cast<int>((first / interval) & 7);
        } else if (first > 0) {
            // The last block of each slot in the MCU before the part; DC
            // never moves or changes sign.
            const int row = static_cast<int>((first - 1) / perRow) + output.firstRow;
            const int col = static_cast<int>((first - 1) % perRow) + output.firstColumn;
            own.Load(row, col);
            for (int s = 0; s < kSlots; ++s) {
                const int h = output.h[s], v = output.v[s];
                if (h == 0 || v == 0) continue;
                const std::size_t x = static_cast<std::size_t>(col) * h + h - 1;
                const std::size_t y = static_cast<std::size_t>(row) * v + v - 1;
                part.range.predictor[s] = own.Dc(s, x, y);
            }
        }
        CodeMcus(job, own, part.range, *part.writer, nullptr);
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
                if (mcu % perRow == 0 && progress)
                    progress->Progress(output.progressBase + static_cast<int>(mcu / perRow));
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
    return FinishScan(writer, failed);
}

}  // namespace plume
