// The interval pass: when the turn carries every restart interval of the
// scan whole onto one interval of the output, each is decoded once, when
// the output first needs it, and coded straight away (IndexCoder.cpp), so
// that the scan need not be indexed first and decoded again.
//
// The pass reports nothing itself. Whatever it cannot do cleanly (a damaged
// interval, markers out of place) the index pass then does from the start,
// with its messages; its progress positions are held back and given in the
// index pass's order once it has succeeded.
#include <algorithm>
#include <cstring>

#include "JpegRotation/BlockTables.h"
#include "JpegRotation/JpegRotation.h"

namespace plume {
namespace {

// Blocks of one interval that a thread holds at a time: a camera's interval
// of one MCU row of a 6000-pixel-wide 4:2:0 photo holds 2,250.
constexpr std::int64_t kMaxHeldBlocks = std::int64_t{1} << 14;

// Which input MCU a turn brings to each output MCU, both counted in raster order.
struct TMcuMapping {
    std::uint8_t inverse;
    std::int64_t inputPerRow, outputPerRow, outputRows;

    TMcuMapping(std::uint8_t mode, std::int64_t perRow, std::int64_t rows)
        : inverse(InverseMode(mode)),
          inputPerRow(perRow),
          outputPerRow(ExchangesDimensions(mode) ? rows : perRow),
          outputRows(ExchangesDimensions(mode) ? perRow : rows) {}
    std::int64_t InputOf(std::int64_t output) const {
        const TGridPoint input =
            Turned(inverse, output % outputPerRow, output / outputPerRow, outputPerRow, outputRows);
        return input.y * inputPerRow + input.x;
    }
};

}  // namespace

// Each output interval's MCUs come from one input interval, and from all of
// its MCUs: the mapping of MCUs is one to one, so then is that of intervals.
bool TJpegRotation::IntervalsCarriedWhole() const {
    const std::int64_t length = RestartInterval;
    const std::int64_t total = std::int64_t{McusPerRow} * McuRows;
    const TMcuMapping mapping(Mode, McusPerRow, McuRows);
    for (std::int64_t first = 0; first < total; first += length) {
        const std::int64_t count = std::min(length, total - first);
        std::int64_t interval = -1;
        for (std::int64_t o = first; o < first + count; ++o) {
            const std::int64_t from = mapping.InputOf(o) / length;
            if (interval < 0) interval = from;
            if (from != interval) return false;
        }
        if (std::min(length, total - interval * length) != count) return false;
    }
    return true;
}

// The output MCUs, coded in order, need the MCUs of each input interval in
// their own order: each is decoded on from where the last one ended (a
// quarter turn to the right or a transposition of intervals within MCU rows,
// any turn of one-MCU intervals).
bool TJpegRotation::IntervalsWalkedInOrder() const {
    const std::int64_t total = std::int64_t{McusPerRow} * McuRows;
    const std::int64_t length = RestartInterval;
    const TMcuMapping mapping(Mode, McusPerRow, McuRows);
    std::vector<std::int64_t> last(static_cast<std::size_t>((total + length - 1) / length), -1);
    for (std::int64_t o = 0; o < total; ++o) {
        const std::int64_t m = mapping.InputOf(o);
        std::int64_t& before = last[static_cast<std::size_t>(m / length)];
        if (m != before + 1 && !(before < 0 && m % length == 0)) return false;
        before = m;
    }
    return true;
}

// Where each interval's data begins: the scan's start, then the byte after
// each restart marker, which must come in their order RST0, RST1 ... The
// intervals' decoding checks that each ends right before its marker.
bool TJpegRotation::FindIntervalStarts(TIntervalPlan& plan) const {
    const TMemoryStream& in = InBits->Stream();
    const std::uint8_t* data = in.Memory();
    const std::size_t size = in.Size();
    const auto count = static_cast<std::size_t>((plan.mcus + plan.length - 1) / plan.length);
    plan.starts.clear();
    plan.starts.reserve(count);
    plan.starts.push_back(scanStart_);
    std::size_t at = scanStart_;
    int number = 0;  // of the marker due next
    while (plan.starts.size() < count) {
        const void* found = at < size ? std::memchr(data + at, 0xFF, size - at) : nullptr;
        if (found == nullptr) return false;
        at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - data);
        if (at + 1 >= size) return false;
        const std::uint8_t code = data[at + 1];
        at += 2;
        if (code == 0x00) continue;  // a 0xFF of the data
        if (code != 0xD0 + number) return false;
        number = (number + 1) & 7;
        plan.starts.push_back(at);
    }
    return true;
}

bool TJpegRotation::EncodeByIntervals() {
    if (!AllowIntervalPass || !HasRestart || RestartInterval <= 0) return false;
    if (trim_.firstColumn != 0 || trim_.firstRow != 0) return false;
    indexPlan_ = DecodePlan();
    if (std::int64_t{RestartInterval} * indexPlan_.blockCount > kMaxHeldBlocks) return false;
    // A table replaced for the output would also be the index pass's for
    // decoding, should it have to take over.
    if (!UsedTablesComplete()) return false;
    TIntervalPlan plan;
    if (!IntervalsCarriedWhole()) {
        if (!IntervalsWalkedInOrder()) return false;
        plan.walk = true;
    }

    BeginScanDecoding();
    scanStart_ = InBits->Stream().Position();
    std::size_t scanEnd = 0;
    plan.length = RestartInterval;
    plan.mcus = std::int64_t{McusPerRow} * McuRows;
    plan.scanEnd = &scanEnd;
    if (!FindIntervalStarts(plan)) {
        scanReader_.reset();
        return false;
    }
    ReplaceIncompleteTables();  // those the scan does not use
    BuildSymbolIndex();

    // What a failure must leave as it was: the grid, which BeginOutput
    // exchanges for a quarter turn, and the output.
    const int perRow = McusPerRow, rows = McuRows;
    std::int32_t hSampling[4], vSampling[4];
    std::copy(HSampling, HSampling + 4, hSampling);
    std::copy(VSampling, VSampling + 4, vSampling);
    TMemoryStream& out = OutBits->Stream();
    const std::size_t outSize = out.Size();

    std::vector<int> progress;
    struct THeldBack {
        TJpegRotation& engine;
        TProgressEvent host;
        THeldBack(TJpegRotation& e, std::vector<int>& progress)
            : engine(e), host(std::move(e.OnProgress)) {
            engine.OnProgress = nullptr;
            if (host)
                engine.OnProgress = [&progress](int position) { progress.push_back(position); };
            engine.quietOutputFailure_ = true;
        }
        ~THeldBack() {
            engine.OnProgress = std::move(host);
            engine.quietOutputFailure_ = false;
        }
    };
    bool encoded;
    {
        const THeldBack heldBack(*this, progress);
        encoded = EncodeFromIndex(&plan);
    }
    scanReader_.reset();
    if (!encoded) {
        McusPerRow = perRow;
        McuRows = rows;
        std::copy(hSampling, hSampling + 4, HSampling);
        std::copy(vSampling, vSampling + 4, VSampling);
        out.Bytes().resize(outSize);
        out.SetPosition(outSize);
        return false;
    }
    if (OnProgress) {
        for (int row = 0; row < rows; ++row) OnProgress(row);
        for (const int position : progress) OnProgress(position);
    }
    InBits->Stream().SetPosition(scanEnd);
    InBits->AlignToByte();
    return true;
}

}  // namespace plume
