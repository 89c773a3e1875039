// The rotate-and-write pass without a coefficient store, first half: the
// scan is decoded once to index where every MCU starts, each part of the
// scan data from its own start on a thread of its own when the image is
// large (IndexCoder.cpp codes the output from the index). The messages and
// progress positions are those of decoding into the store.
#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "JpegRotation/BlockDecoder.h"
#include "JpegRotation/JpegRotation.h"
#include "JpegRotation/ScanIndex.h"
#include "JpegRotation/WorkerPool.h"

namespace plume {
namespace {

// One more thread pays when each part of the scan data is at least this long.
constexpr std::size_t kSpeculationMinBytes = 1 << 15;
constexpr int kMaxThreads = 64;

// Where part `part` of `parts` of a scan from `start` to `end` may begin: on
// a data byte at that fraction of the data; with restart markers, just after
// the first marker from there on. 0 when there is no such place.
std::size_t ScanSplit(const std::uint8_t* data, std::size_t start, std::size_t end, int part,
                      int parts, bool restarts) {
    std::size_t at = start + static_cast<std::size_t>(static_cast<std::uint64_t>(end - start) *
                                                      static_cast<unsigned>(part) /
                                                      static_cast<unsigned>(parts));
    if (!restarts) {
        while (at < end && data[at - 1] == 0xFF) ++at;
        return at < end ? at : 0;
    }
    for (; at + 1 < end; ++at)
        if (data[at] == 0xFF && data[at + 1] >= 0xD0 && data[at + 1] <= 0xD7) return at + 2;
    return 0;
}

}  // namespace

TMcuPlan TJpegRotation::DecodePlan() const {
    TMcuPlan plan;
    for (int i = 0; i < 4; ++i) {
        plan.dc[i] = &decodeTables_[0][DcSelector[i]];
        plan.ac[i] = &decodeTables_[1][AcSelector[i]];
        for (int b = 0; b < HSampling[i] * VSampling[i]; ++b)
            plan.slot[plan.blockCount++] = static_cast<std::uint8_t>(i);
    }
    plan.restartInterval = HasRestart ? RestartInterval : 0;
    return plan;
}

// Index entries that scan data of `bytes` bytes can need at most: every
// block takes at least two bits (a DC code and an end of block), and the
// read error ends decoding one MCU past the data.
std::size_t TJpegRotation::McuCapacity(std::size_t bytes) const {
    const std::uint64_t total = static_cast<std::uint64_t>(McusPerRow) * McuRows;
    const std::uint64_t bound =
        std::uint64_t{bytes} * 8 / (2 * static_cast<std::uint64_t>(indexPlan_.blockCount)) + 2;
    return static_cast<std::size_t>(std::min(total + 1, bound));
}

void TJpegRotation::PrepareThreads(std::uint64_t inputBytes) const {
    // Scan data of this size holds well over ParallelMinBlocks blocks.
    constexpr std::uint64_t kWorthPreparing = std::uint64_t{1} << 18;
    const int threads = ThreadsToUse();
    // Awake while the file is read and its headers are parsed: half a
    // millisecond for each megabyte (reading from the page cache), and two more.
    const auto awake = std::chrono::microseconds(2000 + inputBytes / 2048);
    if (threads > 1 && inputBytes >= kWorthPreparing)
        TWorkerPool::Shared().Prepare(threads - 1, awake);
}

int TJpegRotation::CodingThreads(std::int64_t blocks) const {
    return blocks >= ParallelMinBlocks ? ThreadsToUse() : 1;
}

int TJpegRotation::ThreadsToUse() const {
    if (!AllowParallelCoding) return 1;
    if (ThreadCount > 0) return std::min(ThreadCount, kMaxThreads);
    static const unsigned hardware = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(hardware, 1u, unsigned{kMaxThreads}));
}

// Ends the threads of all the scans before any of them goes: each one reads
// the entries of the next.
struct TJpegRotation::TSpeculations {
    std::vector<std::unique_ptr<TSpeculativeScan>> scans;
    ~TSpeculations() {
        for (auto& scan : scans) scan.reset();
    }
};

std::vector<std::size_t> TJpegRotation::SpeculationStarts(int parts) const {
    std::vector<std::size_t> starts;
    const std::int64_t total = static_cast<std::int64_t>(McusPerRow) * McuRows;
    if (ThreadsToUse() < 2 || parts < 2 || total * indexPlan_.blockCount < ParallelMinBlocks || total < 2) return starts;
    const TMemoryStream& in = InBits->Stream();
    const std::size_t end = in.Size();
    const bool restarts = indexPlan_.restartInterval > 0;
    for (int part = 1; part < parts; ++part) {
        const std::size_t at = ScanSplit(in.Memory(), scanStart_, end, part, parts, restarts);
        if (at == 0) break;
        const std::size_t previous = starts.empty() ? scanStart_ : starts.back();
        if (at <= previous) continue;
        if (ParallelMinBlocks > 0 &&
            (at - previous < kSpeculationMinBytes || end - at < kSpeculationMinBytes))
            continue;
        starts.push_back(at);
    }
    return starts;
}

void TJpegRotation::StartSpeculations(TSpeculations& speculations) const {
    const std::vector<std::size_t> starts = SpeculationStarts(ThreadsToUse());
    const TScanReader& reader = *scanReader_;
    const std::size_t end = reader.Size();
    // The last first, so that each can be given the next.
    speculations.scans.resize(starts.size());
    TSpeculativeScan* next = nullptr;
    for (std::size_t i = starts.size(); i-- > 0;) {
        try {
            speculations.scans[i] = std::make_unique<TSpeculativeScan>(
                reader.Data(), end, starts[i], indexPlan_, McuCapacity(end - starts[i]), next);
        } catch (const std::system_error&) {
            // No thread to be had: the ones before it decode further.
            speculations.scans.erase(
                speculations.scans.begin(),
                speculations.scans.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            return;
        }
        next = speculations.scans[i].get();
    }
}

// At the start of MCU m, whose entry is the index's last: when the second
// thread's entries are in step with it, takes as many of them as are clean.
// Returns the MCU up to which the index is now complete: m when nothing was
// taken, total when the scan is done (the index then ends with the scan's
// end), else an MCU at whose start the reader and predictors now stand.
std::int64_t TJpegRotation::TakeSpeculation(TSpeculativeScan& speculation, std::int64_t m) {
    const std::int64_t total = static_cast<std::int64_t>(McusPerRow) * McuRows;
    const std::int64_t interval = indexPlan_.restartInterval;
    const std::int64_t found = speculation.EntryAt(scanIndex_.back().bit);
    if (found < 0 || (interval > 0 && found % interval != m % interval)) return m;
    std::int32_t delta[4];
    for (int s = 0; s < 4; ++s)
        delta[s] = DcPredictor[s] - speculation.Entry(static_cast<std::size_t>(found)).predictor[s];
    // After a restart marker the predictors are 0 in both: any difference means another place.
    if (interval > 0 && std::any_of(delta, delta + 4, [](std::int32_t d) { return d != 0; }))
        return m;

    speculation.Finish();
    const auto first = static_cast<std::size_t>(found);
    const std::int64_t reach = std::min<std::int64_t>(
        total, m + static_cast<std::int64_t>(speculation.CleanEnd(first, delta) - first));
    if (reach == m) return m;
    SpeculatedMcus += reach - m;
    if (trackCoding_ &&
        !speculation.CodedAsTheCoderDoes(first, first + static_cast<std::size_t>(reach - m)))
        codedAsCoder_ = false;
    const auto entryOf = [&](std::int64_t mcu) {
        const TSpeculativeScan::TEntry& entry =
            speculation.Entry(first + static_cast<std::size_t>(mcu - m));
        TMcuStart start{entry.bit, {}};
        for (int s = 0; s < 4; ++s)
            start.predictor[s] = static_cast<std::int16_t>(entry.predictor[s] + delta[s]);
        return start;
    };
    for (std::int64_t i = m + 1; i < reach; ++i) scanIndex_.push_back(entryOf(i));
    if (reach == total) {
        scanIndex_.push_back(entryOf(total));
        return total;
    }
    // Decoding goes on where the clean entries end.
    const TMcuStart resume = entryOf(reach);
    scanReader_->Seek(resume.bit);
    for (int s = 0; s < 4; ++s) DcPredictor[s] = resume.predictor[s];
    if (HasRestart)
        RestartCounter = static_cast<std::int32_t>(interval > 0 ? reach % interval : reach);
    return reach;
}

template <bool kTrackCoding>
bool TJpegRotation::SkipMcu() {
    TScanReader& reader = *scanReader_;
    for (int b = 0; b < indexPlan_.blockCount; ++b) {
        const int s = indexPlan_.slot[b];
        const TBlockStatus status =
            DecodeBlockInto<true, kTrackCoding>(reader, *indexPlan_.dc[s], *indexPlan_.ac[s],
                                                DcPredictor[s], TSkipSink{}, &codedAsCoder_);
        if (status != TBlockStatus::Ok) return BlockDecoded(status);
    }
    return true;
}

bool TJpegRotation::IndexScan() {
    BeginScanDecoding();
    SpeculatedMcus = 0;
    codedAsCoder_ = true;
    indexPlan_ = DecodePlan();
    indexPlan_.trackCoding = trackCoding_;
    const std::int64_t total = static_cast<std::int64_t>(McusPerRow) * McuRows;
    TScanReader& reader = *scanReader_;
    scanStart_ = InBits->Stream().Position();
    scanIndex_.clear();
    scanIndex_.reserve(McuCapacity(reader.Size() - scanStart_));
    TSpeculations speculations;
    StartSpeculations(speculations);
    const auto& scans = speculations.scans;

    std::size_t current = 0;  // the last scan that starts at or before the reader
    int nextRow = 0;
    std::int64_t m = 0;
    while (m < total) {
        for (; nextRow < McuRows && static_cast<std::int64_t>(nextRow) * McusPerRow <= m; ++nextRow)
            if (OnProgress) OnProgress(nextRow);
        TMcuStart start{reader.BitPosition(), {}};
        for (int s = 0; s < 4; ++s) start.predictor[s] = static_cast<std::int16_t>(DcPredictor[s]);
        scanIndex_.push_back(start);
        while (current + 1 < scans.size() && scans[current + 1]->StartBit() <= start.bit) ++current;
        if (current < scans.size() && scans[current]->StartBit() <= start.bit) {
            const std::int64_t reach = TakeSpeculation(*scans[current], m);
            if (reach == total) break;
            if (reach > m) {
                m = reach;
                continue;
            }
        }
        if (!(trackCoding_ ? SkipMcu<true>() : SkipMcu<false>())) return false;
        FinishMcu(m == total - 1);
        ++m;
    }
    for (; nextRow < McuRows; ++nextRow)
        if (OnProgress) OnProgress(nextRow);

    if (m == total) {
        scanIndex_.push_back({reader.BitPosition(), {}});
        EndScanDecoding();
        return true;
    }
    // The end of the last MCU, as a speculative scan recorded it: the byte
    // just past the last one of which a bit was used.
    const std::uint64_t bit = scanIndex_[total].bit;
    std::size_t end = static_cast<std::size_t>(bit >> 3);
    const int interval = indexPlan_.restartInterval;
    if (interval > 0 && total % interval == 0) {
        end -= 2;  // the thread went on past the restart marker due there
    } else if ((bit & 7) != 0) {
        end = std::min(reader.Size(), end + (reader.Data()[end] == 0xFF ? 2 : 1));
    }
    scanReader_.reset();
    InBits->Stream().SetPosition(end);
    InBits->AlignToByte();
    return true;
}

}  // namespace plume
