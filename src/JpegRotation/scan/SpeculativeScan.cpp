#include "JpegRotation/scan/SpeculativeScan.h"

#include <algorithm>

#include "JpegRotation/entropy/BlockDecoder.h"
#include "JpegRotation/scan/CleanMcu.h"

namespace plume {
namespace {

// A predictor this far from 0 can only come from bits decoded out of step.
constexpr std::int32_t kDrift = std::int32_t{1} << 24;

}  // namespace

TSpeculativeScan::TSpeculativeScan(const std::uint8_t* data, std::size_t size, std::size_t start,
                                   const TMcuPlan& plan, bool trackCoding, std::size_t capacity,
                                   TSpeculativeScan* next)
    : data_(data), size_(size), start_(start), plan_(plan), trackCoding_(trackCoding), next_(next) {
    entries_.Reserve(capacity);
    ranges_.assign(capacity / kChunk + 1, TDcRange::Empty());
    run_ = TWorkerPool::Shared().Run([this] { Run(); });
}

TSpeculativeScan::~TSpeculativeScan() {
    cancel_.store(true, std::memory_order_relaxed);
    Finish();
}

void TSpeculativeScan::Finish() {
    run_.Wait();
}

void TSpeculativeScan::Run() {
    try {
        if (trackCoding_)
            Decode<true>();
        else
            Decode<false>();
    } catch (...) {
        // No memory for a note: the entries so far stand.
    }
    entries_.Publish(true);
}

template <bool kTrackCoding>
void TSpeculativeScan::Decode() {
    TQuietReader quiet(data_, size_, start_);
    TScanReader& reader = quiet.Reader();
    std::int32_t predictor[kSlots] = {};
    std::int32_t counter = 0;
    while (entries_.Count() < entries_.Capacity() && !cancel_.load(std::memory_order_relaxed)) {
        const std::size_t index = entries_.Count();
        TEntry& entry = entries_.Add();
        entry.bit = reader.BitPosition();
        std::copy(predictor, predictor + kSlots, entry.predictor);
        TDcRange& range = ranges_[index / kChunk];
        if ((entries_.Count() & 31) == 0) entries_.Publish();
        // From an MCU start of the next lane on, it decodes these very bits.
        if (next_ != nullptr && entry.bit >= next_->StartBit() && NextHasEntryAt(entry.bit)) break;

        bool canonical = true;
        const TMcuStep step = quiet.Step([&](TScanReader& from) {
            bool clean = true;
            for (int b = 0; b < plan_.blockCount && clean; ++b) {
                const int s = plan_.slot[b];
                clean = DecodeBlockInto<false, kTrackCoding>(from, *plan_.dc[s], *plan_.ac[s],
                                                             predictor[s], TSkipSink{},
                                                             &canonical) == TBlockStatus::Ok &&
                        predictor[s] > -kDrift && predictor[s] < kDrift;
                range.Add(s, predictor[s]);
            }
            return clean;
        });
        if (kTrackCoding && !canonical && unnotedFrom_ == SIZE_MAX) {
            if (codedOtherwise_.size() < kNotedLimit)
                codedOtherwise_.push_back(index);
            else
                unnotedFrom_ = index;
        }
        if (step.end || step.marker) break;
        const bool restart = plan_.restartInterval > 0 && ++counter == plan_.restartInterval;
        if (restart) counter = 0;
        if (!step.decoded) {
            // Out of step, or the data is bad here: a new segment starts
            // where the reader stands.
            segmentStarts_.push_back(entries_.Count());
            std::fill(predictor, predictor + kSlots, 0);
            continue;
        }
        if (restart) {
            std::fill(predictor, predictor + kSlots, 0);
            const std::size_t position = reader.BytePosition();
            if (position + 2 > size_) break;
            reader.Restart(position + 2);
        }
    }
}

std::size_t TSpeculativeScan::CleanEnd(std::size_t first,
                                       const std::int32_t (&delta)[kSlots]) const {
    const auto next = std::upper_bound(segmentStarts_.begin(), segmentStarts_.end(), first);
    const std::size_t last = (next != segmentStarts_.end() ? *next : entries_.Count()) - 1;
    for (std::size_t e = first; e < last; e = (e / kChunk + 1) * kChunk)
        if (!ranges_[e / kChunk].FitsWith(delta)) return e;
    return last;
}

bool TSpeculativeScan::CodedAsTheCoderDoes(std::size_t first, std::size_t last) const {
    if (last > unnotedFrom_) return false;
    const auto noted = std::lower_bound(codedOtherwise_.begin(), codedOtherwise_.end(), first);
    return noted == codedOtherwise_.end() || *noted >= last;
}

}  // namespace plume
