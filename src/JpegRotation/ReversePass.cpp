// The half turn of a scan without restart markers, decoded once. The output
// MCUs are the input's in reverse order (MCU k of the output is MCU N-1-k of
// the input, its blocks turned within it), so the scan is decoded from the
// front in runs of a few MCUs, and each run is coded at once, back to front,
// into bits of its own; the output scan is those bits, the last run's first.
// The first MCU a run puts in the output takes its DC prediction (T.81
// F.1.2.1) from the MCU after the run in the input, so a run is coded as soon
// as the first MCU of the next one is decoded.
//
// With threads, each decodes from its own start: the first from the scan's,
// the others from a data byte further on, as if an MCU with DC predictors 0
// began there (as the speculative index does, ScanIndex.h). A thread stops
// where one of its MCU starts is a run start of the next thread: from there on
// both decode the same bits the same way, and the next thread's DC values
// differ from the true ones by one constant per component, which the DC
// differences within its runs do not see. Only the runs at these joins and
// the scan's last one are decoded and coded again, once the constants are
// known.
//
// The pass reports nothing itself. Whatever does not decode cleanly (a code
// that matches nothing, a marker or the end of the data inside the scan, a
// DC value out of range, a symbol without a code) hands over to the index
// pass, which does everything from the start with its messages. The
// progress positions are given once the pass has succeeded, in the index
// pass's order.
#include <atomic>
#include <deque>
#include <exception>
#include <system_error>

#include "JpegRotation/IndexSource.h"

namespace plume {
namespace {

// MCUs of a run: small enough that a thread's two runs of blocks stay in the
// caches, large enough that the runs decoded twice at the joins cost nothing.
constexpr std::int64_t kRunMcus = 32;
// Fresh starts a thread may make where it is out of step before it gives up.
constexpr std::size_t kMaxFreshStarts = 256;

// A run of MCUs as a thread decoded them, with its DC values as they came
// out of that thread's predictors.
struct TRun {
    std::uint64_t startBit;
    std::int32_t startPredictor[4];
    // The DC values of the first MCU's blocks that the output codes last in
    // each component: the prediction of the run before it.
    std::int32_t firstDc[4];
    std::int32_t dcLow[4], dcHigh[4];
    std::int64_t mcus;  // decoded cleanly
    bool fresh;         // the MCU before it did not decode: predictors 0
    bool coded;
    std::size_t begin, end;  // its bits in the lane's bytes
    TScanWriter::TPending pending;
};

// What became of a part of the scan: nobody's yet, taken by a thread, or
// reached first by the lane of a part before it, which decodes on through it.
enum : std::uint8_t { kPartFree, kPartTaken, kPartAbsorbed };

}  // namespace

// The decoding of one part of the scan, from its start on, until it joins
// the lane of a part after it, or the scan ends.
struct TJpegRotation::TReversalLane {
    enum class TEnd : std::uint8_t { Broken, Joined, ScanEnd, Cancelled };

    // What the lanes of one pass share.
    struct TShared {
        std::vector<std::unique_ptr<TReversalLane>> lanes;  // one per part, in order
        std::unique_ptr<std::atomic<std::uint8_t>[]> states;
        std::atomic<std::size_t> nextPart{1};
        std::atomic<bool> cancel{false};

        // Decodes the parts nobody has taken, one after the other.
        void TakeParts() {
            for (;;) {
                if (cancel.load(std::memory_order_relaxed)) return;
                const std::size_t part = nextPart.fetch_add(1);
                if (part >= lanes.size()) return;
                std::uint8_t expected = kPartFree;
                if (states[part].compare_exchange_strong(expected, kPartTaken)) lanes[part]->Run();
            }
        }
    };

    const TJpegRotation* engine = nullptr;
    TShared* shared = nullptr;
    std::size_t index = 0;
    TIndexSource<TTranscodedBlock> source;
    std::size_t startByte = 0;
    std::int64_t total = 0;  // MCUs of the scan

    // The runs, published one by one to the lanes before this one.
    std::unique_ptr<TRun[]> runs;
    std::size_t capacity = 0;
    std::atomic<std::size_t> published{0};
    std::size_t count = 0;
    std::vector<std::uint8_t> bytes;  // the coded runs, raw
    std::vector<TTranscodedBlock> buffer[2];

    TEnd end = TEnd::Broken;
    TReversalLane* joined = nullptr;  // at Joined: the lane, and its run there
    std::size_t joinRun = 0;
    std::int32_t joinPredictor[4] = {};
    std::int64_t decoded = 0;  // MCUs decoded cleanly
    std::exception_ptr failure;

    void Run() {
        try {
            const auto blocks = static_cast<std::size_t>(kRunMcus * source.plan->blockCount);
            for (auto& run : buffer) run.resize(blocks);
            Decode();
        } catch (const EStreamError&) {
            end = TEnd::Broken;  // bits past the end of the data
        } catch (...) {
            end = TEnd::Broken;
            failure = std::current_exception();
        }
        // The first lane alone knows when the scan is done, or broken.
        if (index == 0 && end != TEnd::Joined)
            shared->cancel.store(true, std::memory_order_relaxed);
    }

    std::uint64_t StartBit() const { return std::uint64_t{startByte} << 3; }

    // The run of `lane` that starts at `bit`, when it has published one;
    // calls come with rising bits.
    static bool RunAt(const TReversalLane& lane, std::uint64_t bit, std::size_t& cursor,
                      std::size_t& found) {
        const std::size_t available = lane.published.load(std::memory_order_acquire);
        while (cursor < available && lane.runs[cursor].startBit < bit) ++cursor;
        if (cursor >= available || lane.runs[cursor].startBit != bit) return false;
        found = cursor;
        return true;
    }

    // The DC values of the blocks of `mcu` that the output codes last in
    // each component.
    void LastDc(const TTranscodedBlock* mcu, std::int32_t (&dc)[4]) const {
        for (int s = 0; s < 4; ++s) {
            const int blocks = engine->HSampling[s] * engine->VSampling[s];
            dc[s] = blocks > 0 ? mcu[source.offset[s] + blocks - 1].dc : 0;
        }
    }

    // Codes the MCUs of `blocks` back to front, the last one predicted from
    // `predictor`, into `into`; false when a symbol has no code.
    bool Code(const TTranscodedBlock* blocks, std::int64_t mcus, std::int32_t (&predictor)[4],
              std::vector<std::uint8_t>& into, TRun& run) const {
        const auto blockCount = static_cast<std::size_t>(source.plan->blockCount);
        run.begin = into.size();
        TScanWriter writer(into, true);
        bool ok = true;
        for (std::int64_t i = mcus; i-- > 0;) {
            const TTranscodedBlock* mcu = blocks + static_cast<std::size_t>(i) * blockCount;
            TScanWriter::TBits bits = writer.Open(blockCount * TScanWriter::kBlockWorstCase);
            for (int s = 0; s < 4; ++s) {
                const THuffmanEncodeTable& dc = engine->encodeTables_[0][engine->DcSelector[s]];
                const TTranscodedBlock* block = mcu + source.offset[s];
                for (int b = 0; b < engine->HSampling[s] * engine->VSampling[s]; ++b)
                    ok = CodeTranscoded(block[b], predictor[s], dc, bits) && ok;
            }
            writer.Close(bits);
        }
        run.pending = writer.Pending();
        writer.Finish();
        run.end = into.size();
        return ok;
    }

    // Decodes the first `mcus` MCUs of `run` again, with true predictors
    // (`start`), and codes them into `into` as `coded`, the last predicted
    // from `prediction`. `end` takes the byte after the last one used.
    // False unless every MCU decodes cleanly and codes.
    bool Redo(const TRun& run, const std::int32_t (&start)[4], std::int64_t mcus,
              std::int32_t (&prediction)[4], std::vector<std::uint8_t>& into, TRun& coded,
              std::size_t& end) {
        const auto blockCount = static_cast<std::size_t>(source.plan->blockCount);
        bool marker = false;
        TScanReader reader(source.reader->Data(), source.reader->Size(), 0,
                           [&marker] { marker = true; });
        reader.Seek(run.startBit);
        std::int32_t predictor[4];
        std::copy(start, start + 4, predictor);
        TTranscodedBlock* blocks = buffer[0].data();
        try {
            for (std::int64_t i = 0; i < mcus; ++i) {
                if (!source.DecodeMcu<true>(reader, predictor,
                                            blocks + static_cast<std::size_t>(i) * blockCount))
                    return false;
                reader.CheckEvents();
                if (marker) return false;
            }
        } catch (const EStreamError&) {
            return false;
        }
        end = reader.BytePosition();
        return Code(blocks, mcus, prediction, into, coded);
    }

    void Decode() {
        const int blockCount = source.plan->blockCount;
        bool marker = false;
        TScanReader reader(source.reader->Data(), source.reader->Size(), startByte,
                           [&marker] { marker = true; });
        const std::vector<std::unique_ptr<TReversalLane>>& lanes = shared->lanes;
        std::size_t part = index;        // the part the reader is in
        TReversalLane* ahead = nullptr;  // its lane, when another thread took it
        std::size_t aheadCursor = 0;
        std::int32_t predictor[4] = {};
        bool fresh = true;
        std::size_t current = 0, freshStarts = 0;
        for (;;) {
            if (shared->cancel.load(std::memory_order_relaxed)) {
                end = TEnd::Cancelled;
                return;
            }
            const std::uint64_t bit = reader.BitPosition();
            while (part + 1 < lanes.size() && bit >= lanes[part + 1]->StartBit()) {
                // Into the next part: decoded on here unless a thread has it.
                std::uint8_t state = kPartFree;
                shared->states[++part].compare_exchange_strong(state, kPartAbsorbed);
                ahead = state == kPartTaken ? lanes[part].get() : nullptr;
                aheadCursor = 0;
            }
            if (ahead != nullptr && RunAt(*ahead, bit, aheadCursor, joinRun)) {
                // A join after an MCU that did not decode leaves a gap.
                end = fresh ? TEnd::Broken : TEnd::Joined;
                joined = ahead;
                std::copy(predictor, predictor + 4, joinPredictor);
                return;
            }
            if (decoded == total) {  // the whole scan, or out of step
                end = index == 0 ? TEnd::ScanEnd : TEnd::Broken;
                return;
            }
            if (fresh || runs[current].mcus == kRunMcus) {
                if (count == capacity) return;
                TRun& run = runs[count];
                run = {};
                run.startBit = bit;
                std::copy(predictor, predictor + 4, run.startPredictor);
                std::fill(run.dcLow, run.dcLow + 4, 32767);
                std::fill(run.dcHigh, run.dcHigh + 4, -32768);
                run.fresh = fresh;
                fresh = false;
                current = count++;
                published.store(count, std::memory_order_release);
            }
            TRun& run = runs[current];
            TTranscodedBlock* mcu =
                buffer[current & 1].data() + static_cast<std::size_t>(run.mcus * blockCount);
            const bool clean = source.DecodeMcu<true>(reader, predictor, mcu);
            reader.CheckEvents();
            if (marker) return;  // nothing after it is the scan's
            if (!clean) {
                // The first lane's predictors are true: the scan is broken.
                if (index == 0 || ++freshStarts > kMaxFreshStarts) return;
                std::fill(predictor, predictor + 4, 0);
                fresh = true;
                continue;
            }
            for (int b = 0; b < blockCount; ++b) {
                const int s = source.plan->slot[b];
                run.dcLow[s] = std::min(run.dcLow[s], mcu[b].dc);
                run.dcHigh[s] = std::max(run.dcHigh[s], mcu[b].dc);
            }
            if (run.mcus == 0) {
                LastDc(mcu, run.firstDc);
                if (current > 0 && !run.fresh) {
                    TRun& before = runs[current - 1];
                    std::int32_t prediction[4];
                    std::copy(run.firstDc, run.firstDc + 4, prediction);
                    before.coded = Code(buffer[(current - 1) & 1].data(), before.mcus, prediction,
                                        bytes, before);
                }
            }
            ++run.mcus;
            ++decoded;
        }
    }
};

bool TJpegRotation::ScanReversible() const {
    return AllowReversedPass && Mode == kModeRotate180 && !(HasRestart && RestartInterval > 0) &&
           trim_.firstColumn == 0 && trim_.firstRow == 0 && McusPerRow > 0 && McuRows > 0 &&
           UsedTablesComplete();
}

bool TJpegRotation::EncodeReversed() {
    if (!ScanReversible()) return false;
    BeginScanDecoding();
    scanReader_.reset();
    scanStart_ = InBits->Stream().Position();
    indexPlan_ = DecodePlan();
    ReplaceIncompleteTables();  // those the scan does not use
    BuildSymbolIndex();
    const std::int64_t total = std::int64_t{McusPerRow} * McuRows;

    TIndexSource<TTranscodedBlock> source;
    TSourceTables tables;
    const int progressBase = PrepareIndexSource(source, tables);
    const TMemoryStream& in = InBits->Stream();

    // Parts of the scan that the threads take in turn, several per thread,
    // so that none waits long for the others when the machine is busy.
    const std::vector<std::size_t> starts = SpeculationStarts(4 * ThreadsToUse());
    TReversalLane::TShared shared;
    shared.lanes.resize(starts.size() + 1);
    shared.states = std::make_unique<std::atomic<std::uint8_t>[]>(shared.lanes.size());
    for (std::size_t i = 0; i < shared.lanes.size(); ++i) {
        auto lane = std::make_unique<TReversalLane>();
        lane->engine = this;
        lane->shared = &shared;
        lane->index = i;
        lane->source = source;
        lane->startByte = i == 0 ? scanStart_ : starts[i - 1];
        lane->total = total;
        const std::size_t share = (i < starts.size() ? starts[i] : in.Size()) - lane->startByte;
        // Every run but the first of a fresh start holds kRunMcus MCUs; the
        // pages of those never made are never touched.
        lane->capacity =
            McuCapacity(in.Size() - lane->startByte) / static_cast<std::size_t>(kRunMcus) + 2 +
            kMaxFreshStarts;
        lane->runs = std::make_unique_for_overwrite<TRun[]>(lane->capacity);
        lane->bytes.reserve(share + share / 8 + 4096);
        shared.states[i].store(i == 0 ? kPartTaken : kPartFree, std::memory_order_relaxed);
        shared.lanes[i] = std::move(lane);
    }
    std::vector<TWorkerPool::TTicket> workers;
    const int threads = std::min<int>(ThreadsToUse(), static_cast<int>(shared.lanes.size()));
    for (int i = 1; i < threads; ++i) {
        try {
            workers.push_back(TWorkerPool::Shared().Run([&shared] { shared.TakeParts(); }));
        } catch (const std::system_error&) {
            break;  // fewer threads: the parts left wait for those there are
        }
    }
    shared.lanes[0]->Run();
    shared.TakeParts();
    for (TWorkerPool::TTicket& worker : workers) worker.Wait();
    TWorkerPool::Shared().Rest();
    const auto& lanes = shared.lanes;
    for (const auto& lane : lanes)
        if (lane->failure) std::rethrow_exception(lane->failure);

    // The runs of the scan in input order, from lane to lane at the joins.
    struct TPiece {
        std::vector<std::uint8_t>* bytes;
        const TRun* run;
    };
    std::vector<TPiece> pieces;
    std::vector<std::uint8_t> redone;  // the runs at the joins and the last, coded again
    std::deque<TRun> redoneRuns;
    std::int32_t delta[4] = {};  // true DC values less the lane's
    std::int64_t m = 0;          // the first MCU of the run
    std::size_t scanEnd = 0;
    TReversalLane* lane = lanes[0].get();
    std::size_t r = 0;
    for (;;) {
        if (r >= lane->count) return false;
        const TRun& run = lane->runs[r];
        if (run.mcus == 0) return false;
        std::int32_t start[4];
        for (int s = 0; s < 4; ++s) start[s] = run.startPredictor[s] + delta[s];
        if (m + run.mcus >= total) {  // the scan's last run: the output's first
            std::int32_t prediction[4] = {};
            TRun& coded = redoneRuns.emplace_back();
            if (!lanes[0]->Redo(run, start, total - m, prediction, redone, coded, scanEnd))
                return false;
            pieces.push_back({&redone, &coded});
            break;
        }
        if (r + 1 < lane->count && !lane->runs[r + 1].fresh) {
            for (int s = 0; s < 4; ++s)
                if (HSampling[s] * VSampling[s] > 0 &&
                    (run.dcLow[s] + delta[s] < -32768 || run.dcHigh[s] + delta[s] > 32767))
                    return false;
            if (!run.coded) return false;
            pieces.push_back({&lane->bytes, &run});
            m += run.mcus;
            ++r;
            continue;
        }
        // The lane's last run: its MCUs end where a run of the lane it joined begins.
        if (r + 1 != lane->count || lane->end != TReversalLane::TEnd::Joined) return false;
        TReversalLane& next = *lane->joined;
        const TRun& joined = next.runs[lane->joinRun];
        if (joined.mcus == 0) return false;
        std::int32_t nextDelta[4], prediction[4];
        for (int s = 0; s < 4; ++s) {
            nextDelta[s] = delta[s] + lane->joinPredictor[s] - joined.startPredictor[s];
            prediction[s] = joined.firstDc[s] + nextDelta[s];
        }
        TRun& coded = redoneRuns.emplace_back();
        std::size_t unused = 0;
        if (!lanes[0]->Redo(run, start, run.mcus, prediction, redone, coded, unused)) return false;
        pieces.push_back({&redone, &coded});
        m += run.mcus;
        std::copy(nextDelta, nextDelta + 4, delta);
        r = lane->joinRun;
        lane = &next;
    }

    // The output: the runs back to front.
    std::vector<std::uint8_t>& out = OutBits->Stream().Bytes();
    std::size_t size = 0;
    for (const TPiece& piece : pieces) size += piece.run->end - piece.run->begin;
    out.reserve(out.size() + size + size / 64 + 4096);
    TScanWriter writer(out);
    for (std::size_t i = pieces.size(); i-- > 0;) {
        const TRun& run = *pieces[i].run;
        std::vector<std::uint8_t>& bytes = *pieces[i].bytes;
        writer.AppendRaw(bytes.data() + run.begin, run.end - run.begin, run.pending);
        // A lane's runs come one after the other: once its first is in the
        // output, its bytes go, so that the output and the lanes' bytes are
        // not all held at once.
        if (&bytes != &redone && (i == 0 || pieces[i - 1].bytes != &bytes))
            std::vector<std::uint8_t>().swap(bytes);
    }
    EndOutputScan(writer, false);
    SpeculatedMcus = total - lanes[0]->decoded;
    if (OnProgress) {
        // A half turn keeps the grid: as many rows in as out.
        for (int row = 0; row < McuRows; ++row) OnProgress(row);
        for (int row = 0; row < McuRows; ++row) OnProgress(progressBase + row);
    }
    InBits->Stream().SetPosition(scanEnd);
    InBits->AlignToByte();
    return true;
}

}  // namespace plume
