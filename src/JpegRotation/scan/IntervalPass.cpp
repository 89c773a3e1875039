#include "JpegRotation/scan/IntervalPass.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <memory>
#include <optional>
#include <system_error>

#include "JpegRotation/scan/BlockSource.h"
#include "JpegRotation/scan/CleanMcu.h"
#include "JpegRotation/scan/OutputCoder.h"
#include "JpegRotation/threads/WorkerPool.h"

namespace plume {
namespace {

// Which input MCU a turn brings to each output MCU, both counted in raster order.
struct TMcuMapping {
    TTurn inverse;
    std::int64_t inputPerRow, outputPerRow, outputRows;

    TMcuMapping(const TFrame& frame, TTurn turn)
        : inverse(Inverse(turn)),
          inputPerRow(frame.McusPerRow()),
          outputPerRow(ExchangesDimensions(turn) ? frame.McuRows() : frame.McusPerRow()),
          outputRows(ExchangesDimensions(turn) ? frame.McusPerRow() : frame.McuRows()) {}
    std::int64_t InputOf(std::int64_t output) const {
        const TGridPoint input =
            Turned(inverse, output % outputPerRow, output / outputPerRow, outputPerRow, outputRows);
        return input.y * inputPerRow + input.x;
    }
};

// The input's restart intervals: where each one's data begins, and where the
// scan ends once the last one is decoded.
struct TIntervals {
    std::int64_t length = 0;  // MCUs per interval
    std::int64_t mcus = 0;    // in the input
    std::vector<std::size_t> starts;
    std::size_t* scanEnd = nullptr;

    // An interval decoded to its last MCU must end right before the marker
    // found for the next one; the last interval's end is the scan's. False
    // when it does not.
    bool End(std::int64_t interval, std::size_t end) const {
        const auto next = static_cast<std::size_t>(interval) + 1;
        if (next < starts.size()) return end + 2 == starts[next];
        *scanEnd = end;  // one thread alone codes the last interval
        return true;
    }
};

// Where each interval's data begins: the scan's start, then the byte after
// each restart marker, which must come in their order RST0, RST1 ... The
// intervals' decoding checks that each ends right before its marker.
bool FindIntervalStarts(const TScanJob& job, TIntervals& intervals) {
    const std::uint8_t* data = job.data;
    const std::size_t size = job.size;
    const auto count =
        static_cast<std::size_t>((intervals.mcus + intervals.length - 1) / intervals.length);
    intervals.starts.reserve(count);
    intervals.starts.push_back(job.scanStart);
    std::size_t at = job.scanStart;
    int number = 0;  // of the marker due next
    while (intervals.starts.size() < count) {
        const void* found = at < size ? std::memchr(data + at, 0xFF, size - at) : nullptr;
        if (found == nullptr) return false;
        at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(found) - data);
        if (at + 1 >= size) return false;
        const std::uint8_t code = data[at + 1];
        at += 2;
        if (code == 0x00) continue;  // a 0xFF of the data
        if (code != 0xD0 + number) return false;
        number = (number + 1) & 7;
        intervals.starts.push_back(at);
    }
    return true;
}

// What both kinds of interval source work from: the job, the decoder, the
// input's intervals, and the input MCU of each output MCU.
template <class TSource, class TBlock>
class TIntervalSource : public TOutputBlocks<TSource, TBlock> {
  protected:
    TIntervalSource(const TScanJob& job, const TTurnedMcuDecoder<TBlock>& decoder,
                    const TIntervals& intervals)
        : TOutputBlocks<TSource, TBlock>(decoder.Layout()),
          job_(&job),
          decoder_(&decoder),
          intervals_(&intervals),
          mapping_(job.frame, job.turn) {}

    // Places the output MCU and gives the input MCU that the turn brings there.
    std::int64_t InputOf(int row, int column) {
        this->Place(row, column);
        return mapping_.InputOf(row * job_->output.gridPerRow + column);
    }

    const TScanJob* job_;
    const TTurnedMcuDecoder<TBlock>* decoder_;
    const TIntervals* intervals_;
    TMcuMapping mapping_;
};

// The output's MCUs from input intervals decoded whole, with every check,
// the first time they are needed; an interval's MCUs are held until the
// output moves on to another one.
template <class TBlock>
class THeldSource : public TIntervalSource<THeldSource<TBlock>, TBlock> {
    using TBase = TIntervalSource<THeldSource<TBlock>, TBlock>;
    using TBase::decoder_, TBase::intervals_, TBase::job_;

  public:
    THeldSource(const TScanJob& job, const TTurnedMcuDecoder<TBlock>& decoder,
                const TIntervals& intervals)
        : TBase(job, decoder, intervals) {}

    void Load(int row, int column) {
        const std::int64_t m = this->InputOf(row, column);
        const std::int64_t interval = m / intervals_->length;
        if (interval != heldInterval_) Decode(interval);
        first_ = static_cast<std::size_t>(m - interval * intervals_->length) *
                 static_cast<std::size_t>(decoder_->Plan().blockCount);
    }
    const TBlock* Mcu() const { return held_.data() + first_; }

  private:
    void Decode(std::int64_t interval) {
        heldInterval_ = interval;
        const std::int64_t first = interval * intervals_->length;
        const std::int64_t count = std::min(intervals_->length, intervals_->mcus - first);
        const auto blockCount = static_cast<std::size_t>(decoder_->Plan().blockCount);
        held_.resize(static_cast<std::size_t>(count) * blockCount);
        TQuietReader from(job_->data, job_->size,
                          intervals_->starts[static_cast<std::size_t>(interval)]);
        std::int32_t predictor[kSlots] = {};
        for (std::int64_t i = 0; i < count; ++i) {
            TBlock* mcu = held_.data() + static_cast<std::size_t>(i) * blockCount;
            const TMcuStep step = from.Step([&](TScanReader& reader) {
                return decoder_->template Decode<true>(reader, predictor, mcu);
            });
            if (!step.Clean()) {
                this->failed = true;
                return;
            }
        }
        if (!intervals_->End(interval, from.Reader().BytePosition())) this->failed = true;
    }

    std::vector<TBlock> held_;        // the MCUs of the interval decoded last
    std::int64_t heldInterval_ = -1;  // which one
    std::size_t first_ = 0;           // the loaded MCU's first block in held_
};

// The output's MCUs from input intervals walked: each decoded on from where
// it stopped, every MCU with every check, so that the output must need each
// interval's MCUs in their order.
template <class TBlock>
class TWalkSource : public TIntervalSource<TWalkSource<TBlock>, TBlock> {
    using TBase = TIntervalSource<TWalkSource<TBlock>, TBlock>;
    using TBase::decoder_, TBase::intervals_, TBase::job_;

  public:
    TWalkSource(const TScanJob& job, const TTurnedMcuDecoder<TBlock>& decoder,
                const TIntervals& intervals)
        : TBase(job, decoder, intervals),
          reader_(std::make_unique<TQuietReader>(job.data, job.size)) {
        cursors_.resize(intervals.starts.size());
        for (std::size_t i = 0; i < cursors_.size(); ++i)
            cursors_[i] = {std::uint64_t{intervals.starts[i]} << 3,
                           {},
                           static_cast<std::int64_t>(i) * intervals.length};
    }

    // Puts the walk of each interval i at MCU first[i] (or past its last),
    // skipping the MCUs before it with every check of decoding them but
    // without their coefficients; false when one does not decode cleanly.
    bool SkipTo(const std::vector<std::int64_t>& first) {
        TQuietReader from(job_->data, job_->size);
        const TMcuPlan& plan = decoder_->Plan();
        for (std::size_t i = 0; i < cursors_.size(); ++i) {
            TCursor& cursor = cursors_[i];
            if (cursor.next >= first[i]) continue;
            from.Reader().Seek(cursor.bit);
            for (; cursor.next < first[i]; ++cursor.next) {
                const TMcuStep step = from.Step([&](TScanReader& reader) {
                    return SkipMcu(reader, plan, cursor.predictor) == TBlockStatus::Ok;
                });
                if (!step.Clean()) return false;
            }
            cursor.bit = from.Reader().BitPosition();
        }
        return true;
    }

    void Load(int row, int column) {
        const std::int64_t m = this->InputOf(row, column);
        const std::int64_t interval = m / intervals_->length;
        TCursor& cursor = cursors_[static_cast<std::size_t>(interval)];
        if (cursor.next != m) {  // the walk's order rules this out
            this->failed = true;
            return;
        }
        reader_->Reader().Seek(cursor.bit);
        const TMcuStep step = reader_->Step([&](TScanReader& reader) {
            return decoder_->template Decode<true>(reader, cursor.predictor, blocks_);
        });
        if (!step.Clean()) this->failed = true;
        cursor.bit = reader_->Reader().BitPosition();
        if (++cursor.next == std::min(intervals_->mcus, (interval + 1) * intervals_->length) &&
            !intervals_->End(interval, reader_->Reader().BytePosition()))
            this->failed = true;
    }
    const TBlock* Mcu() const { return blocks_; }

  private:
    // A walk's place in one interval: where its next MCU starts.
    struct TCursor {
        std::uint64_t bit;
        std::int32_t predictor[kSlots];
        std::int64_t next;
    };

    std::unique_ptr<TQuietReader> reader_;
    std::vector<TCursor> cursors_;
    TBlock blocks_[TMcuPlan::kMaxBlocks];
};

// A walk, on as many threads as the image is worth: the output is cut into
// ranges of whole output intervals, one per thread (a single range on one).
// The first thread walks every input interval from its start; each further
// one first skips through the input intervals to the first MCU its range
// needs from each, and walks on from there.
// Skipping an MCU costs about a third of decoding and coding it, so the
// earlier ranges are the longer ones.
template <class TBlock>
bool CodeWalkedInRanges(const TScanJob& job, const TTurnedMcuDecoder<TBlock>& decoder,
                        const TIntervals& intervals, std::vector<std::uint8_t>& out) {
    constexpr double kSkipShare = 0.3;
    const TOutputGeometry& output = job.output;
    const std::int64_t total = output.McuCount();
    const std::int64_t unit = job.frame.restartInterval;
    const int threads =
        total < 2 || !job.options.schemes.walkRanges ? 1 : job.CodingThreads(output.Blocks());
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
    const TMcuMapping mapping(job.frame, job.turn);
    const std::int64_t length = intervals.length;
    std::vector<std::int64_t> next(intervals.starts.size());
    for (std::size_t i = 0; i < next.size(); ++i) next[i] = static_cast<std::int64_t>(i) * length;
    std::vector<std::vector<std::int64_t>> first(rangeCount);
    for (std::size_t range = 1, o = 0; range < rangeCount; ++range) {
        for (; static_cast<std::int64_t>(o) < ends[range]; ++o) {
            const std::int64_t m = mapping.InputOf(static_cast<std::int64_t>(o));
            next[static_cast<std::size_t>(m / length)] = m + 1;
        }
        first[range] = next;
    }

    struct TRange {
        TWalkSource<TBlock> source;
        TCodeRange range;
        std::vector<std::uint8_t> bytes;
        std::optional<TScanWriter> writer;
        std::exception_ptr failure;
    };
    std::vector<std::unique_ptr<TRange>> ranges(rangeCount);
    for (std::size_t t = 0; t < rangeCount; ++t) {
        ranges[t] = std::make_unique<TRange>(TRange{
            TWalkSource<TBlock>(job, decoder, intervals),
            {ends[t], ends[t + 1], {0, 0, 0, 0}, 0, static_cast<int>((ends[t] / unit) & 7), false},
            {},
            std::nullopt,
            nullptr});
        if (t == 0) continue;
        TRange& part = *ranges[t];
        part.bytes.reserve(job.size / static_cast<std::size_t>(total) *
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
            CodeMcus(job, part.source, part.range, *part.writer, nullptr);
            part.writer->FlushWithPadding();
        } catch (...) {
            part.failure = std::current_exception();
        }
    };
    std::vector<TWorkerPool::TTicket> workers;
    std::size_t started = 1;
    for (; started < rangeCount; ++started) {
        try {
            TRange* part = ranges[started].get();
            const std::vector<std::int64_t>* from = &first[started];
            workers.push_back(
                TWorkerPool::Shared().Run([&work, part, from] { work(*part, *from); }));
        } catch (const std::system_error&) {
            break;  // fewer threads: this one codes the ranges left after its own
        }
    }

    out.reserve(out.size() + job.size + job.size / 16);
    TScanWriter writer(out);
    TRange& own = *ranges[0];
    try {
        CodeMcus(job, own.source, own.range, writer, nullptr);
        for (std::size_t t = started; t < rangeCount; ++t) work(*ranges[t], first[t]);
    } catch (...) {
        for (TWorkerPool::TTicket& worker : workers) worker.Wait();
        throw;
    }
    for (TWorkerPool::TTicket& worker : workers) worker.Wait();
    TWorkerPool::Shared().Rest();
    bool failed = own.range.failed || own.source.failed;
    for (std::size_t t = 1; t < rangeCount; ++t) {
        TRange& part = *ranges[t];
        if (part.failure) std::rethrow_exception(part.failure);
        failed = failed || part.source.failed || part.range.failed;
        writer.AppendBytes(part.bytes.data(), part.writer->Length());
    }
    return FinishScan(writer, failed);
}

template <class TBlock>
bool CodeByIntervalsAs(const TScanJob& job, bool walk, const TIntervals& intervals,
                       std::vector<std::uint8_t>& out) {
    const TMcuPlan plan = MakePlan(job.frame, job.tables);
    const TMcuLayout layout = TurnedMcuLayout(job.output, job.turn);
    const auto sinks = std::make_unique<TSinkTables<TBlock>>(job.tables);
    const TTurnedMcuDecoder<TBlock> decoder(job, plan, layout, *sinks);
    if (walk) return CodeWalkedInRanges(job, decoder, intervals, out);
    THeldSource<TBlock> source(job, decoder, intervals);
    const bool coded = CodeOutput(job, source, nullptr, out);
    return coded && !source.failed;
}

}  // namespace

bool IntervalsCarriedWhole(const TFrame& frame, TTurn turn) {
    const std::int64_t length = frame.restartInterval;
    const std::int64_t total = frame.McuCount();
    const TMcuMapping mapping(frame, turn);
    for (std::int64_t first = 0; first < total; first += length) {
        const std::int64_t count = std::min(length, total - first);
        std::int64_t interval = -1;
        for (std::int64_t o = first; o < first + count; ++o) {
            const std::int64_t from = mapping.InputOf(o) / length;
            if (interval < 0) interval = from;
            if (from != interval) return false;
        }
        // The mapping of MCUs is one to one, so then is that of intervals.
        if (std::min(length, total - interval * length) != count) return false;
    }
    return true;
}

bool IntervalsWalkedInOrder(const TFrame& frame, TTurn turn) {
    const std::int64_t total = frame.McuCount();
    const std::int64_t length = frame.restartInterval;
    const TMcuMapping mapping(frame, turn);
    std::vector<std::int64_t> last(static_cast<std::size_t>((total + length - 1) / length), -1);
    for (std::int64_t o = 0; o < total; ++o) {
        const std::int64_t m = mapping.InputOf(o);
        std::int64_t& before = last[static_cast<std::size_t>(m / length)];
        if (m != before + 1 && !(before < 0 && m % length == 0)) return false;
        before = m;
    }
    return true;
}

bool CodeByIntervals(const TScanJob& job, bool walk, std::vector<std::uint8_t>& out,
                     std::size_t& scanEnd) {
    TIntervals intervals;
    intervals.length = job.frame.restartInterval;
    intervals.mcus = job.frame.McuCount();
    intervals.scanEnd = &scanEnd;
    if (!FindIntervalStarts(job, intervals)) return false;
    if (BlocksFitTurn<TCodedBlock>(job.turn))
        return CodeByIntervalsAs<TCodedBlock>(job, walk, intervals, out);
    return CodeByIntervalsAs<TTranscodedBlock>(job, walk, intervals, out);
}

}  // namespace plume
