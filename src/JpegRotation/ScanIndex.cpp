#include "JpegRotation/ScanIndex.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "JpegRotation/BlockDecoder.h"

namespace plume {
namespace {

// A predictor this far from 0 can only come from bits decoded out of step.
constexpr std::int32_t kDrift = std::int32_t{1} << 24;

}  // namespace

TSpeculativeScan::TSpeculativeScan(const std::uint8_t* data, std::size_t size, std::size_t start,
                                   const TMcuPlan& plan, std::size_t capacity,
                                   TSpeculativeScan* next)
    : data_(data),
      size_(size),
      start_(start),
      plan_(plan),
      capacity_(capacity),
      entries_(std::make_unique_for_overwrite<TEntry[]>(capacity)),
      next_(next) {
    TDcRange empty{};
    for (int s = 0; s < 4; ++s) {
        empty.low[s] = std::numeric_limits<std::int32_t>::max();
        empty.high[s] = std::numeric_limits<std::int32_t>::min();
    }
    ranges_.assign(capacity / kChunk + 1, empty);
    run_ = TWorkerPool::Shared().Run([this] { Run(); });
}

TSpeculativeScan::~TSpeculativeScan() {
    cancel_.store(true, std::memory_order_relaxed);
    Finish();
}

void TSpeculativeScan::Finish() {
    run_.Wait();
}

void TSpeculativeScan::Publish(bool finished) {
    published_.store(count_ | (finished ? kFinished : 0), std::memory_order_release);
    published_.notify_all();
}

void TSpeculativeScan::Run() {
    if (plan_.trackCoding)
        Decode<true>();
    else
        Decode<false>();
    Publish(true);
}

template <bool kTrackCoding>
void TSpeculativeScan::Decode() {
    bool stopped = false;  // a marker was met
    try {
        TScanReader reader(data_, size_, start_, [&stopped] { stopped = true; });
        std::int32_t predictor[4] = {};
        std::int32_t counter = 0;
        while (count_ < capacity_ && !cancel_.load(std::memory_order_relaxed)) {
            TEntry& entry = entries_[count_];
            entry.bit = reader.BitPosition();
            std::copy(predictor, predictor + 4, entry.predictor);
            TDcRange& range = ranges_[count_ / kChunk];
            if ((++count_ & 31) == 0) Publish(false);
            // From an MCU start of the next scan on, it decodes these very bits.
            if (next_ != nullptr && entry.bit >= next_->StartBit() && NextHasEntryAt(entry.bit))
                break;

            bool clean = true, canonical = true;
            for (int b = 0; b < plan_.blockCount && clean; ++b) {
                const int s = plan_.slot[b];
                clean = DecodeBlockInto<false, kTrackCoding>(reader, *plan_.dc[s], *plan_.ac[s],
                                                             predictor[s], TSkipSink{},
                                                             &canonical) == TBlockStatus::Ok &&
                        predictor[s] > -kDrift && predictor[s] < kDrift;
                range.low[s] = std::min(range.low[s], predictor[s]);
                range.high[s] = std::max(range.high[s], predictor[s]);
            }
            if (kTrackCoding && !canonical && unnotedFrom_ == SIZE_MAX) {
                if (codedOtherwise_.size() < kNotedLimit)
                    codedOtherwise_.push_back(count_ - 1);
                else
                    unnotedFrom_ = count_ - 1;
            }
            reader.CheckEvents();
            if (stopped) break;
            const bool restart = plan_.restartInterval > 0 && ++counter == plan_.restartInterval;
            if (restart) counter = 0;
            if (!clean) {
                // Out of step, or the data is bad here: a new segment starts
                // where the reader stands.
                segmentStarts_.push_back(count_);
                std::fill(predictor, predictor + 4, 0);
                continue;
            }
            if (restart) {
                std::fill(predictor, predictor + 4, 0);
                const std::size_t position = reader.BytePosition();
                if (position + 2 > size_) break;
                reader.Restart(position + 2);
            }
        }
    } catch (...) {
        // The end of the data, or no memory: the entries so far stand.
    }
}

bool TSpeculativeScan::NextHasEntryAt(std::uint64_t bit) {
    const std::size_t count =
        static_cast<std::size_t>(next_->published_.load(std::memory_order_acquire) & ~kFinished);
    while (nextCursor_ < count && next_->entries_[nextCursor_].bit < bit) ++nextCursor_;
    return nextCursor_ < count && next_->entries_[nextCursor_].bit == bit;
}

std::int64_t TSpeculativeScan::EntryAt(std::uint64_t bit) {
    for (;;) {
        const std::uint64_t state = published_.load(std::memory_order_acquire);
        const std::size_t count = static_cast<std::size_t>(state & ~kFinished);
        while (cursor_ < count && entries_[cursor_].bit < bit) ++cursor_;
        if (cursor_ < count)
            return entries_[cursor_].bit == bit ? static_cast<std::int64_t>(cursor_) : kNoEntry;
        if (state & kFinished) return kExhausted;
        published_.wait(state, std::memory_order_acquire);
    }
}

std::size_t TSpeculativeScan::CleanEnd(std::size_t first, const std::int32_t (&delta)[4]) const {
    const auto next = std::upper_bound(segmentStarts_.begin(), segmentStarts_.end(), first);
    const std::size_t last = (next != segmentStarts_.end() ? *next : count_) - 1;
    for (std::size_t e = first; e < last; e = (e / kChunk + 1) * kChunk) {
        const TDcRange& range = ranges_[e / kChunk];
        for (int s = 0; s < 4; ++s) {
            if (range.low[s] > range.high[s]) continue;
            if (std::int64_t{range.low[s]} + delta[s] < -32768 ||
                std::int64_t{range.high[s]} + delta[s] > 32767)
                return e;
        }
    }
    return last;
}

bool TSpeculativeScan::CodedAsTheCoderDoes(std::size_t first, std::size_t last) const {
    if (last > unnotedFrom_) return false;
    const auto noted = std::lower_bound(codedOtherwise_.begin(), codedOtherwise_.end(), first);
    return noted == codedOtherwise_.end() || *noted >= last;
}

}  // namespace plume
