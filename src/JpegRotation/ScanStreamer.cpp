// Modes 0 and 4 leave every MCU row where it is, so the scan is decoded and
// coded row by row through a small ring of row buffers, the coding on a
// second thread, instead of through a store for the whole image. The caller
// sees the same messages and progress values in the same order as with the
// store: decoding rows first, then the rows written.
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/McuCoder.h"

namespace plume {
namespace {

constexpr int kRingRows = 4;

// The table record as read, to put back when the scan does not decode.
struct TTableRecord {
    std::int32_t count[2][2];
    std::vector<std::int32_t> lengths[2][2], symbols[2][2], codes[2][2];
};

}  // namespace

// One ring of MCU rows as the source of the output blocks.
struct TJpegRotation::TRowSource : TOutputLayout {
    static constexpr bool kMapped = false;
    TCoefBlock* rows[kRingRows][4];
    bool mirror;

    const TCoefBlock& At(int s, std::size_t x, std::size_t y) const {
        // y counts block rows of the whole image; the ring holds one MCU row.
        const std::size_t mcuRow = y / rowsPerMcu[s];
        const std::size_t inRow = y % rowsPerMcu[s];
        return rows[mcuRow % kRingRows][s][inRow * width[s] + (mirror ? width[s] - 1 - x : x)];
    }
    void Load(int, int) {}
    std::size_t rowsPerMcu[4];
};

bool TJpegRotation::StreamScan() {
    // Row buffers: kRingRows MCU rows of every slot.
    TRowSource source{};
    source.mirror = Mode == kModeFlipHorizontal;
    source.map = &kModeBlockMaps[Mode];
    // A mirror left to right may drop its first MCU column; no row moves.
    source.firstColumn = trim_.firstColumn;
    source.firstRow = 0;
    source.mcusPerRow = McusPerRow - trim_.firstColumn;
    source.mcuRows = McuRows;
    std::size_t rowBlocks = 0;
    for (int s = 0; s < 4; ++s) {
        source.width[s] = static_cast<std::size_t>(McusPerRow) * HSampling[s];
        source.height[s] = static_cast<std::size_t>(McuRows) * VSampling[s];
        source.rowsPerMcu[s] = VSampling[s] > 0 ? static_cast<std::size_t>(VSampling[s]) : 1;
        rowBlocks += source.width[s] * VSampling[s];
    }
    auto ring = std::make_unique_for_overwrite<TCoefBlock[]>(rowBlocks * kRingRows);
    TCoefBlock* next = ring.get();
    for (int r = 0; r < kRingRows; ++r)
        for (int s = 0; s < 4; ++s) {
            source.rows[r][s] = next;
            next += source.width[s] * VSampling[s];
        }

    BeginScanDecoding();
    TTableRecord asRead;
    for (int c = 0; c < 2; ++c)
        for (int t = 0; t < 2; ++t) {
            asRead.count[c][t] = HuffCount[c][t];
            asRead.lengths[c][t] = HuffLengths[c][t];
            asRead.symbols[c][t] = HuffSymbols[c][t];
            asRead.codes[c][t] = HuffCodes[c][t];
        }
    const auto restoreTables = [&] {
        for (int c = 0; c < 2; ++c)
            for (int t = 0; t < 2; ++t) {
                HuffCount[c][t] = asRead.count[c][t];
                HuffLengths[c][t] = std::move(asRead.lengths[c][t]);
                HuffSymbols[c][t] = std::move(asRead.symbols[c][t]);
                HuffCodes[c][t] = std::move(asRead.codes[c][t]);
            }
    };
    ReplaceIncompleteTables();
    BuildSymbolIndex();

    std::vector<std::uint8_t>& out = OutBits->Stream().Bytes();
    out.reserve(out.size() + InBits->Stream().Size());
    TScanWriter writer(out);
    TEncodeRange range{0, 0, {0, 0, 0, 0}, 0, 0, false};
    const std::int64_t mcusPerRow = source.mcusPerRow;

    // Rows decoded and rows coded so far; the coder may not pass the decoder,
    // nor the decoder get a whole ring ahead of the coder.
    std::mutex mutex;
    std::condition_variable changed;
    int decodedRows = 0, codedRows = 0;
    bool stop = false;
    std::exception_ptr coderFailure;
    const auto codeRow = [&](int row) {
        range.first = row * mcusPerRow;
        range.last = range.first + mcusPerRow;
        EncodeMcus(source, range, writer, 0, false);
    };
    const auto coder = [&] {
        try {
            for (int row = 0; row < McuRows; ++row) {
                {
                    std::unique_lock lock(mutex);
                    changed.wait(lock, [&] { return stop || decodedRows > row; });
                    if (decodedRows <= row) return;
                }
                codeRow(row);
                std::lock_guard lock(mutex);
                codedRows = row + 1;
                changed.notify_all();
            }
        } catch (...) {
            std::lock_guard lock(mutex);
            coderFailure = std::current_exception();
            stop = true;
            changed.notify_all();
        }
    };
    const bool parallel = AllowParallelCoding && McuRows > 1 && std::thread::hardware_concurrency() > 1;
    std::thread worker;
    if (parallel) worker = std::thread(coder);
    const auto finishWorker = [&](bool halt) {
        if (!worker.joinable()) return;
        {
            std::lock_guard lock(mutex);
            if (halt) stop = true;
            changed.notify_all();
        }
        worker.join();
    };
    struct TJoinGuard {
        const decltype(finishWorker)& finish;
        ~TJoinGuard() { finish(true); }
    } joinGuard{finishWorker};

    for (int y = 0; y < McuRows; ++y) {
        if (parallel) {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return stop || y - codedRows < kRingRows; });
            if (coderFailure) break;
        }
        // The ring row of MCU row y, in input order; mirroring happens on output.
        TBlockPlacement placement{};
        for (int s = 0; s < 4; ++s) {
            placement.base[s] = source.rows[y % kRingRows][s];
            placement.rowStride[s] = static_cast<std::ptrdiff_t>(source.width[s]);
            placement.columnStride[s] = 1;
            placement.origin[s] = -static_cast<std::ptrdiff_t>(y) * VSampling[s] * placement.rowStride[s];
        }
        if (!DecodeMcuRow(y, placement)) {
            finishWorker(true);
            restoreTables();
            return false;
        }
        if (parallel) {
            std::lock_guard lock(mutex);
            decodedRows = y + 1;
            changed.notify_all();
        } else {
            codeRow(y);
        }
    }
    finishWorker(false);
    if (coderFailure) std::rethrow_exception(coderFailure);
    EndScanDecoding();
    if (errorReported_) {
        restoreTables();
        return false;
    }

    for (int row = 0; row < McuRows; ++row)
        if (OnProgress) OnProgress(McuRows + row);
    return EndOutputScan(writer, range.failed);
}

}  // namespace plume
