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

// A source block as the output sees it; the source is left as decoded.
inline void MapBlock(const TCoefBlock& source, const TBlockMap& map, TCoefBlock& block) {
    if (map.Moves) {
        for (int k = 0; k < 64; ++k) block[k] = static_cast<std::int16_t>(source[map.Source[k]] * map.Sign[k]);
    } else {
        for (int k = 0; k < 64; ++k) block[k] = static_cast<std::int16_t>(source[k] * map.Sign[k]);
    }
}

// The output geometry once BeginOutput has set it up. The blocks cover the
// whole turned grid of MCUs; the output is the part of it that starts at MCU
// (firstColumn, firstRow), which TrimPartialEdges may move by one.
struct TJpegRotation::TOutputLayout {
    std::size_t width[4];   // blocks per row of each slot
    std::size_t height[4];  // block rows of each slot
    const TBlockMap* map;
    int firstColumn, firstRow;
    std::int64_t mcusPerRow, mcuRows;  // output MCUs
};

// Codes the output MCUs [range.first, range.last) with range's predictors
// and restart state. Before each MCU source.Load(row, column) is called with
// its place in the turned grid; then each output block (x, y) of slot s is
// source.At(s, x, y), as decoded or, when the source's kMapped is set,
// already turned. Progress is reported only when `report` is set.
template <class TBlockSource>
void TJpegRotation::EncodeMcus(TBlockSource& source, TEncodeRange& range, TScanWriter& writer, int progressBase,
                               bool report) {
    const std::int64_t total = source.mcusPerRow * source.mcuRows;
    std::size_t mcuBlocks = 0;
    for (int s = 0; s < 4; ++s) mcuBlocks += static_cast<std::size_t>(HSampling[s]) * VSampling[s];
    TCoefBlock mapped;
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
                    const TCoefBlock* block = &source.At(s, x, y);
                    if constexpr (!TBlockSource::kMapped) {
                        MapBlock(*block, *source.map, mapped);
                        block = &mapped;
                    }
                    if (!CodeBlock(*block, range.predictor[s], dc, ac, bits)) range.failed = true;
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

// Writes the whole output scan from two sources of the same blocks: the
// first half from `first` on this thread, the second half from `second` on
// another one when the image is large enough. The second half's start state
// (predictors, restart count and number) follows from the blocks before it.
template <class TBlockSource>
bool TJpegRotation::EncodeOutput(TBlockSource& first, TBlockSource& second, int progressBase) {
    std::size_t blocks = 0;
    for (int s = 0; s < 4; ++s) blocks += first.width[s] * first.height[s];
    const std::int64_t perRow = first.mcusPerRow;
    const std::int64_t total = perRow * first.mcuRows;
    const bool restarts = HasRestart && RestartInterval > 0;

    std::int64_t split = total;
    if (AllowParallelCoding && static_cast<std::int64_t>(blocks) >= ParallelMinBlocks && total > 1 &&
        std::thread::hardware_concurrency() > 1) {
        split = total / 2;
        if (restarts) split -= split % RestartInterval;  // start right after a marker
        if (split <= 0) split = total;
    }

    std::vector<std::uint8_t>& out = OutBits->Stream().Bytes();
    out.reserve(out.size() + InBits->Stream().Size() + InBits->Stream().Size() / 16);
    TScanWriter writer(out);
    TEncodeRange head{0, split, {0, 0, 0, 0}, 0, 0, false};
    if (split == total) {
        EncodeMcus(first, head, writer, progressBase, true);
    } else {
        TEncodeRange tail{split, total, {0, 0, 0, 0}, 0, 0, false};
        std::vector<std::uint8_t> tailBytes;
        tailBytes.reserve(InBits->Stream().Size() / 2 + InBits->Stream().Size() / 16 + 4096);
        TScanWriter tailWriter(tailBytes, !restarts);
        std::exception_ptr failure;
        const auto codeTail = [&] {
            try {
                if (restarts) {
                    tail.restartIndex = static_cast<int>((split / RestartInterval) & 7);
                } else {
                    // The last block of each slot in the MCU before the split;
                    // DC never moves or changes sign.
                    const int row = static_cast<int>((split - 1) / perRow) + second.firstRow;
                    const int col = static_cast<int>((split - 1) % perRow) + second.firstColumn;
                    second.Load(row, col);
                    for (int s = 0; s < 4; ++s) {
                        if (HSampling[s] == 0 || VSampling[s] == 0) continue;
                        const std::size_t x = static_cast<std::size_t>(col) * HSampling[s] + HSampling[s] - 1;
                        const std::size_t y = static_cast<std::size_t>(row) * VSampling[s] + VSampling[s] - 1;
                        tail.predictor[s] = second.At(s, x, y)[0];
                    }
                }
                EncodeMcus(second, tail, tailWriter, progressBase, false);
            } catch (...) {
                failure = std::current_exception();
            }
        };
        std::thread worker;
        try {
            worker = std::thread(codeTail);
        } catch (const std::system_error&) {
            // No thread to be had: the tail is coded here after the head.
        }
        try {
            EncodeMcus(first, head, writer, progressBase, true);
        } catch (...) {
            if (worker.joinable()) worker.join();
            throw;
        }
        if (worker.joinable())
            worker.join();
        else
            codeTail();
        if (failure) std::rethrow_exception(failure);
        for (std::int64_t mcu = split; mcu < total; ++mcu)
            if (mcu % perRow == 0 && OnProgress)
                OnProgress(progressBase + static_cast<int>(mcu / perRow));
        if (restarts) {
            tailWriter.FlushWithPadding();
            writer.AppendBytes(tailBytes.data(), tailWriter.Length());
        } else {
            writer.AppendRaw(tailWriter);
        }
        head.failed = head.failed || tail.failed;
    }
    return EndOutputScan(writer, head.failed);
}

}  // namespace plume
