#include "JpegRotation/scan/ReversePass.h"

#include <algorithm>
#include <atomic>
#include <deque>
#include <exception>
#include <memory>
#include <system_error>

#include "JpegRotation/scan/BlockSource.h"
#include "JpegRotation/scan/CleanMcu.h"
#include "JpegRotation/scan/MidScanLane.h"
#include "JpegRotation/scan/OutputCoder.h"
#include "JpegRotation/threads/WorkerPool.h"

namespace plume {
namespace {

// MCUs of a run: small enough that a thread's two runs of blocks stay in the
// caches, large enough that the runs decoded twice at the joins cost nothing.
constexpr std::int64_t kRunMcus = 32;
// Fresh starts a lane may make where it is out of step before it gives up.
constexpr std::size_t kMaxFreshStarts = 256;

// A run of MCUs as a lane decoded them, with its DC values as they came out
// of that lane's predictors; the lane's mark.
struct TRun {
    std::uint64_t bit;  // where its first MCU starts
    std::int32_t startPredictor[kSlots];
    // The DC values of the first MCU's blocks that the output codes last in
    // each component: the prediction of the run before it.
    std::int32_t firstDc[kSlots];
    TDcRange dc;
    std::int64_t mcus;  // decoded cleanly
    bool fresh;         // the MCU before it did not decode: predictors 0
    bool coded;
    std::size_t begin, end;  // its bits in the lane's bytes
    TScanWriter::TPending pending;
};

// What became of a part of the scan: nobody's yet, taken by a thread, or
// reached first by the lane of a part before it, which decodes on through it.
enum : std::uint8_t { kPartFree, kPartTaken, kPartAbsorbed };

using TDecoder = TTurnedMcuDecoder<TTranscodedBlock>;

// The decoding of one part of the scan, from its start on, until it joins
// the lane of a part after it, or the scan ends.
struct TReversalLane {
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

    const TScanJob* job = nullptr;
    const TDecoder* decoder = nullptr;
    TShared* shared = nullptr;
    std::size_t index = 0;
    std::size_t startByte = 0;
    std::int64_t total = 0;  // MCUs of the scan

    TLaneMarks<TRun> runs;            // published one by one to the lanes before this one
    std::vector<std::uint8_t> bytes;  // the coded runs, raw
    std::vector<TTranscodedBlock> buffer[2];

    TEnd end = TEnd::Broken;
    TReversalLane* joined = nullptr;  // at Joined: the lane, and its run there
    std::size_t joinRun = 0;
    std::int32_t joinPredictor[kSlots] = {};
    std::int64_t decoded = 0;  // MCUs decoded cleanly
    std::exception_ptr failure;

    int BlockCount() const { return decoder->Plan().blockCount; }

    void Run() {
        try {
            const auto blocks = static_cast<std::size_t>(kRunMcus * BlockCount());
            for (auto& run : buffer) run.resize(blocks);
            Decode();
        } catch (...) {
            end = TEnd::Broken;
            failure = std::current_exception();
        }
        // The first lane alone knows when the scan is done, or broken.
        if (index == 0 && end != TEnd::Joined)
            shared->cancel.store(true, std::memory_order_relaxed);
    }

    std::uint64_t StartBit() const { return std::uint64_t{startByte} << 3; }

    // The DC values of the blocks of `mcu` that the output codes last in
    // each component.
    void LastDc(const TTranscodedBlock* mcu, std::int32_t (&dc)[kSlots]) const {
        const TMcuLayout& layout = decoder->Layout();
        for (int s = 0; s < kSlots; ++s) {
            const int blocks = job->output.h[s] * job->output.v[s];
            dc[s] = blocks > 0 ? mcu[layout.offset[s] + blocks - 1].dc : 0;
        }
    }

    // Codes the MCUs of `blocks` back to front, the last one predicted from
    // `predictor`, into `into`; false when a symbol has no code.
    bool Code(const TTranscodedBlock* blocks, std::int64_t mcus, std::int32_t (&predictor)[kSlots],
              std::vector<std::uint8_t>& into, TRun& run) const {
        const auto blockCount = static_cast<std::size_t>(BlockCount());
        const TMcuLayout& layout = decoder->Layout();
        run.begin = into.size();
        TScanWriter writer(into, true);
        bool ok = true;
        for (std::int64_t i = mcus; i-- > 0;) {
            const TTranscodedBlock* mcu = blocks + static_cast<std::size_t>(i) * blockCount;
            TScanWriter::TBits bits = writer.Open(blockCount * TScanWriter::kBlockWorstCase);
            for (int s = 0; s < kSlots; ++s) {
                const THuffmanEncodeTable& dc = job->tables.encode[0][job->frame.slot[s].dcTable];
                const TTranscodedBlock* block = mcu + layout.offset[s];
                for (int b = 0; b < job->output.h[s] * job->output.v[s]; ++b)
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
    // from `prediction`. `scanEnd` takes the byte after the last one used.
    // False unless every MCU decodes cleanly and codes.
    bool Redo(const TRun& run, const std::int32_t (&start)[kSlots], std::int64_t mcus,
              std::int32_t (&prediction)[kSlots], std::vector<std::uint8_t>& into, TRun& coded,
              std::size_t& scanEnd) {
        const auto blockCount = static_cast<std::size_t>(BlockCount());
        TQuietReader from(job->data, job->size);
        from.Reader().Seek(run.bit);
        std::int32_t predictor[kSlots];
        std::copy(start, start + kSlots, predictor);
        TTranscodedBlock* blocks = buffer[0].data();
        for (std::int64_t i = 0; i < mcus; ++i) {
            TTranscodedBlock* mcu = blocks + static_cast<std::size_t>(i) * blockCount;
            const TMcuStep step = from.Step(
                [&](TScanReader& reader) { return decoder->Decode<true>(reader, predictor, mcu); });
            if (!step.Clean()) return false;
        }
        scanEnd = from.Reader().BytePosition();
        return Code(blocks, mcus, prediction, into, coded);
    }

    void Decode() {
        const int blockCount = BlockCount();
        TQuietReader from(job->data, job->size, startByte);
        const std::vector<std::unique_ptr<TReversalLane>>& lanes = shared->lanes;
        std::size_t part = index;        // the part the reader is in
        TReversalLane* ahead = nullptr;  // its lane, when another thread took it
        std::size_t aheadCursor = 0;
        std::int32_t predictor[kSlots] = {};
        bool fresh = true;
        std::size_t current = 0, freshStarts = 0;
        for (;;) {
            if (shared->cancel.load(std::memory_order_relaxed)) {
                end = TEnd::Cancelled;
                return;
            }
            const std::uint64_t bit = from.Reader().BitPosition();
            while (part + 1 < lanes.size() && bit >= lanes[part + 1]->StartBit()) {
                // Into the next part: decoded on here unless a thread has it.
                std::uint8_t state = kPartFree;
                shared->states[++part].compare_exchange_strong(state, kPartAbsorbed);
                ahead = state == kPartTaken ? lanes[part].get() : nullptr;
                aheadCursor = 0;
            }
            if (ahead != nullptr && ahead->runs.Find(bit, aheadCursor, joinRun)) {
                // A join after an MCU that did not decode leaves a gap.
                end = fresh ? TEnd::Broken : TEnd::Joined;
                joined = ahead;
                std::copy(predictor, predictor + kSlots, joinPredictor);
                return;
            }
            if (decoded == total) {  // the whole scan, or out of step
                end = index == 0 ? TEnd::ScanEnd : TEnd::Broken;
                return;
            }
            if (fresh || runs[current].mcus == kRunMcus) {
                if (runs.Count() == runs.Capacity()) return;
                current = runs.Count();
                TRun& run = runs.Add();
                run = {};
                run.bit = bit;
                run.dc = TDcRange::Empty();
                std::copy(predictor, predictor + kSlots, run.startPredictor);
                run.fresh = fresh;
                fresh = false;
                runs.Publish();
            }
            TRun& run = runs[current];
            TTranscodedBlock* mcu =
                buffer[current & 1].data() + static_cast<std::size_t>(run.mcus * blockCount);
            const TMcuStep step = from.Step(
                [&](TScanReader& reader) { return decoder->Decode<true>(reader, predictor, mcu); });
            if (step.end || step.marker) return;  // nothing after it is the scan's
            if (!step.decoded) {
                // The first lane's predictors are true: the scan is broken.
                if (index == 0 || ++freshStarts > kMaxFreshStarts) return;
                std::fill(predictor, predictor + kSlots, 0);
                fresh = true;
                continue;
            }
            for (int b = 0; b < blockCount; ++b) run.dc.Add(decoder->Plan().slot[b], mcu[b].dc);
            if (run.mcus == 0) {
                LastDc(mcu, run.firstDc);
                if (current > 0 && !run.fresh) {
                    TRun& before = runs[current - 1];
                    std::int32_t prediction[kSlots];
                    std::copy(run.firstDc, run.firstDc + kSlots, prediction);
                    before.coded = Code(buffer[(current - 1) & 1].data(), before.mcus, prediction,
                                        bytes, before);
                }
            }
            ++run.mcus;
            ++decoded;
        }
    }
};

// The runs of the scan in input order, from lane to lane at the joins, as
// the pieces of the output, back to front.
struct TPiece {
    std::vector<std::uint8_t>* bytes;
    const TRun* run;
};

}  // namespace

bool CodeHalfTurnOnce(const TScanJob& job, std::vector<std::uint8_t>& out, std::size_t& scanEnd,
                      std::int64_t& speculatedMcus) {
    const std::int64_t total = job.frame.McuCount();
    const TMcuPlan plan = MakePlan(job.frame, job.tables);
    const TMcuLayout layout = TurnedMcuLayout(job.output, job.turn);
    const auto sinks = std::make_unique<TSinkTables<TTranscodedBlock>>(job.tables);
    const TDecoder decoder(job, plan, layout, *sinks);

    // Parts of the scan that the threads take in turn, several per thread,
    // so that none waits long for the others when the machine is busy.
    const std::vector<std::size_t> starts = job.options.schemes.halfTurnLanes
                                                ? job.PartStarts(4 * job.options.threads)
                                                : std::vector<std::size_t>{};
    TReversalLane::TShared shared;
    shared.lanes.resize(starts.size() + 1);
    shared.states = std::make_unique<std::atomic<std::uint8_t>[]>(shared.lanes.size());
    for (std::size_t i = 0; i < shared.lanes.size(); ++i) {
        auto lane = std::make_unique<TReversalLane>();
        lane->job = &job;
        lane->decoder = &decoder;
        lane->shared = &shared;
        lane->index = i;
        lane->startByte = i == 0 ? job.scanStart : starts[i - 1];
        lane->total = total;
        const std::size_t share = (i < starts.size() ? starts[i] : job.size) - lane->startByte;
        // Every run but the first of a fresh start holds kRunMcus MCUs; the
        // pages of those never made are never touched.
        lane->runs.Reserve(job.McuCapacity(job.size - lane->startByte) /
                               static_cast<std::size_t>(kRunMcus) +
                           2 + kMaxFreshStarts);
        lane->bytes.reserve(share + share / 8 + 4096);
        shared.states[i].store(i == 0 ? kPartTaken : kPartFree, std::memory_order_relaxed);
        shared.lanes[i] = std::move(lane);
    }
    std::vector<TWorkerPool::TTicket> workers;
    const int threads = std::min<int>(job.options.threads, static_cast<int>(shared.lanes.size()));
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

    std::vector<TPiece> pieces;
    std::vector<std::uint8_t> redone;  // the runs at the joins and the last, coded again
    std::deque<TRun> redoneRuns;
    std::int32_t delta[kSlots] = {};  // true DC values less the lane's
    std::int64_t m = 0;               // the first MCU of the run
    TReversalLane* lane = lanes[0].get();
    std::size_t r = 0;
    for (;;) {
        if (r >= lane->runs.Count()) return false;
        const TRun& run = lane->runs[r];
        if (run.mcus == 0) return false;
        std::int32_t start[kSlots];
        for (int s = 0; s < kSlots; ++s) start[s] = run.startPredictor[s] + delta[s];
        if (m + run.mcus >= total) {  // the scan's last run: the output's first
            std::int32_t prediction[kSlots] = {};
            TRun& coded = redoneRuns.emplace_back();
            if (!lanes[0]->Redo(run, start, total - m, prediction, redone, coded, scanEnd))
                return false;
            pieces.push_back({&redone, &coded});
            break;
        }
        if (r + 1 < lane->runs.Count() && !lane->runs[r + 1].fresh) {
            if (!run.dc.FitsWith(delta) || !run.coded) return false;
            pieces.push_back({&lane->bytes, &run});
            m += run.mcus;
            ++r;
            continue;
        }
        // The lane's last run: its MCUs end where a run of the lane it joined begins.
        if (r + 1 != lane->runs.Count() || lane->end != TReversalLane::TEnd::Joined) return false;
        TReversalLane& next = *lane->joined;
        const TRun& joined = next.runs[lane->joinRun];
        if (joined.mcus == 0) return false;
        std::int32_t truePredictor[kSlots], nextDelta[kSlots], prediction[kSlots];
        for (int s = 0; s < kSlots; ++s) truePredictor[s] = lane->joinPredictor[s] + delta[s];
        JoinDelta(truePredictor, joined.startPredictor, nextDelta);
        for (int s = 0; s < kSlots; ++s) prediction[s] = joined.firstDc[s] + nextDelta[s];
        TRun& coded = redoneRuns.emplace_back();
        std::size_t unused = 0;
        if (!lanes[0]->Redo(run, start, run.mcus, prediction, redone, coded, unused)) return false;
        pieces.push_back({&redone, &coded});
        m += run.mcus;
        std::copy(nextDelta, nextDelta + kSlots, delta);
        r = lane->joinRun;
        lane = &next;
    }

    // The output: the runs back to front.
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
    speculatedMcus = total - lanes[0]->decoded;
    // Every run was coded: no symbol lacks a code.
    return FinishScan(writer, false);
}

}  // namespace plume
