// The walk over the output MCUs shared by the coders from the store, from the
// scan index and from MCU rows: block mapping, Huffman coding, restart
// markers, and the split of the scan between two threads.
#pragma once

#include <exception>
#include <system_error>
#include <thread>

#include "JpegRotation/BlockCoder.h"
#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/JpegRotation.h"

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

// Writes the whole output scan from `source`: the output MCUs are split into
// as many parts as ThreadsToUse gives when the image is large enough, each
// coded on a thread of its own from a copy of the source, the first one on
// this thread straight into the output. The start state of each later part
// (predictors, restart count and number) follows from the blocks before it;
// with restart markers it starts right after one.
template <class TBlockSource>
bool TJpegRotation::EncodeOutput(TBlockSource& source, int progressBase) {
    std::size_t blocks = 0;
    for (int s = 0; s < 4; ++s) blocks += source.width[s] * source.height[s];
    const std::int64_t perRow = source.mcusPerRow;
    const std::int64_t total = perRow * source.mcuRows;
    const bool restarts = HasRestart && RestartInterval > 0;

    std::vector<std::int64_t> starts{0};
    if (static_cast<std::int64_t>(blocks) >= ParallelMinBlocks) {
        const int parts = ThreadsToUse();
        for (int part = 1; part < parts; ++part) {
            std::int64_t split = total * part / parts;
            if (restarts) split -= split % RestartInterval;
            if (split > starts.back() && split < total) starts.push_back(split);
        }
    }
    starts.push_back(total);

    std::vector<std::uint8_t>& out = OutBits->Stream().Bytes();
    const std::size_t inputSize = InBits->Stream().Size();
    out.reserve(out.size() + inputSize + inputSize / 16);
    TScanWriter writer(out);
    TEncodeRange head{0, starts[1], {0, 0, 0, 0}, 0, 0, false};
    if (starts.size() == 2) {
        EncodeMcus(source, head, writer, progressBase, true);
        return EndOutputScan(writer, head.failed);
    }

    struct TPart {
        TBlockSource source;
        TEncodeRange range;
        std::vector<std::uint8_t> bytes;
        TScanWriter writer;
        std::exception_ptr failure;
        std::thread thread;
        bool started = false;
        TPart(const TBlockSource& from, std::int64_t first, std::int64_t last, bool raw)
            : source(from), range{first, last, {0, 0, 0, 0}, 0, 0, false}, writer(bytes, raw) {}
    };
    std::vector<std::unique_ptr<TPart>> parts;
    const std::size_t partBytes = inputSize / (starts.size() - 1) + inputSize / 16 + 4096;
    for (std::size_t p = 1; p + 1 < starts.size(); ++p) {
        parts.push_back(std::make_unique<TPart>(source, starts[p], starts[p + 1], !restarts));
        parts.back()->bytes.reserve(partBytes);
    }
    const auto codePart = [&](TPart& part) {
        try {
            const std::int64_t first = part.range.first;
            if (restarts) {
                part.range.restartIndex = static_cast<int>((first / RestartInterval) & 7);
            } else {
                // The last block of each slot in the MCU before the part; DC
                // never moves or changes sign.
                const int row = static_cast<int>((first - 1) / perRow) + source.firstRow;
                const int col = static_cast<int>((first - 1) % perRow) + source.firstColumn;
                part.source.Load(row, col);
                for (int s = 0; s < 4; ++s) {
                    if (HSampling[s] == 0 || VSampling[s] == 0) continue;
                    const std::size_t x =
                        static_cast<std::size_t>(col) * HSampling[s] + HSampling[s] - 1;
                    const std::size_t y =
                        static_cast<std::size_t>(row) * VSampling[s] + VSampling[s] - 1;
                    part.range.predictor[s] = part.source.Dc(s, x, y);
                }
            }
            EncodeMcus(part.source, part.range, part.writer, progressBase, false);
        } catch (...) {
            part.failure = std::current_exception();
        }
    };
    for (auto& part : parts) {
        try {
            part->thread = std::thread(codePart, std::ref(*part));
            part->started = true;
        } catch (const std::system_error&) {
            // No thread to be had: the part is coded here after the first.
        }
    }
    const auto joinAll = [&] {
        for (auto& part : parts)
            if (part->thread.joinable()) part->thread.join();
    };
    try {
        EncodeMcus(source, head, writer, progressBase, true);
    } catch (...) {
        joinAll();
        throw;
    }
    joinAll();
    bool failed = head.failed;
    for (auto& part : parts) {
        if (!part->started) codePart(*part);
        if (part->failure) std::rethrow_exception(part->failure);
        failed = failed || part->range.failed;
        source.failed = source.failed || part->source.failed;
    }
    for (std::int64_t mcu = starts[1]; mcu < total; ++mcu)
        if (mcu % perRow == 0 && OnProgress)
            OnProgress(progressBase + static_cast<int>(mcu / perRow));
    for (auto& part : parts) {
        if (restarts) {
            part->writer.FlushWithPadding();
            writer.AppendBytes(part->bytes.data(), part->writer.Length());
        } else {
            writer.AppendRaw(part->writer);
        }
        part.reset();  // its memory goes before the next one grows the output
    }
    return EndOutputScan(writer, failed);
}

}  // namespace plume
