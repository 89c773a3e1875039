// What the passes that decode a scan on several threads share: lanes that
// start inside the scan.
//
// A lane decodes the scan from a byte in its middle, as if an MCU with DC
// predictors 0 started there. Until its bits fall into step with the real
// MCU boundaries what it finds is meaningless; it publishes marks (the bit
// positions where its MCUs, or runs of them, start) for the lane before it,
// which stops where one of its own MCU starts is such a mark: from there on
// both decode the same bits the same way, and the later lane's DC values
// differ from the true ones by one constant per component (T.81 F.1.2.1
// codes DC as differences), known at the join. Its DC values are checked
// against 16 bits once that constant is added. With restart markers a lane
// starts just after a marker, where the predictors really are 0.
//
// Whatever a lane does not decode cleanly it leaves: the pass decodes that
// stretch itself, or hands the scan to the index pass, which reports as it
// always does.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>

#include "JpegRotation/frame/Frame.h"

namespace plume {

// The marks of one lane: written by its thread, read by the lane before it.
// TMark has the bit position `bit` of its MCU start.
template <class TMark>
class TLaneMarks {
  public:
    static constexpr std::int64_t kNoMark = -1;     // none at that bit
    static constexpr std::int64_t kExhausted = -2;  // and none will come

    void Reserve(std::size_t capacity) {
        marks_ = std::make_unique_for_overwrite<TMark[]>(capacity);
        capacity_ = capacity;
    }
    std::size_t Capacity() const { return capacity_; }
    std::size_t Count() const { return count_; }  // on the writing thread
    TMark& operator[](std::size_t i) { return marks_[i]; }
    const TMark& operator[](std::size_t i) const { return marks_[i]; }

    // The writer's next mark; there must be room for it.
    TMark& Add() { return marks_[count_++]; }
    // Lets the readers see the marks added so far.
    void Publish(bool finished = false) {
        published_.store(count_ | (finished ? kFinished : 0), std::memory_order_release);
        published_.notify_all();
    }

    // Whether the writer has published a mark at exactly `bit`, without
    // waiting; calls come with rising bits and share `cursor`.
    bool Find(std::uint64_t bit, std::size_t& cursor, std::size_t& found) const {
        const std::size_t count = PublishedCount(published_.load(std::memory_order_acquire));
        while (cursor < count && marks_[cursor].bit < bit) ++cursor;
        if (cursor >= count || marks_[cursor].bit != bit) return false;
        found = cursor;
        return true;
    }
    // The mark at exactly `bit`, waiting for the writer when it has not got
    // that far: kNoMark when there is none, kExhausted when the writer ended
    // before it. Calls come with rising bits and share `cursor`.
    std::int64_t WaitFor(std::uint64_t bit, std::size_t& cursor) const {
        for (;;) {
            const std::uint64_t state = published_.load(std::memory_order_acquire);
            const std::size_t count = PublishedCount(state);
            while (cursor < count && marks_[cursor].bit < bit) ++cursor;
            if (cursor < count)
                return marks_[cursor].bit == bit ? static_cast<std::int64_t>(cursor) : kNoMark;
            if (state & kFinished) return kExhausted;
            published_.wait(state, std::memory_order_acquire);
        }
    }

  private:
    static constexpr std::uint64_t kFinished = std::uint64_t{1} << 63;
    static std::size_t PublishedCount(std::uint64_t state) {
        return static_cast<std::size_t>(state & ~kFinished);
    }

    std::unique_ptr<TMark[]> marks_;
    std::size_t capacity_ = 0;
    std::size_t count_ = 0;
    std::atomic<std::uint64_t> published_{0};
};

// The DC values that a lane found over a stretch of MCUs, per slot. Plain
// data, so that the pages of records never made are never touched.
struct TDcRange {
    std::int32_t low[kSlots], high[kSlots];

    static TDcRange Empty() {
        TDcRange range;
        for (int s = 0; s < kSlots; ++s) {
            range.low[s] = std::numeric_limits<std::int32_t>::max();
            range.high[s] = std::numeric_limits<std::int32_t>::min();
        }
        return range;
    }
    void Add(int s, std::int32_t value) {
        if (value < low[s]) low[s] = value;
        if (value > high[s]) high[s] = value;
    }
    // Whether the values shifted by the lane's constants stay inside 16 bits.
    bool FitsWith(const std::int32_t (&delta)[kSlots]) const {
        for (int s = 0; s < kSlots; ++s) {
            if (low[s] > high[s]) continue;  // no value in this slot
            if (std::int64_t{low[s]} + delta[s] < -32768 ||
                std::int64_t{high[s]} + delta[s] > 32767)
                return false;
        }
        return true;
    }
};

// The constants of a joined lane: the true predictors at the join less the
// lane's own there.
inline void JoinDelta(const std::int32_t (&truePredictor)[kSlots],
                      const std::int32_t (&lanePredictor)[kSlots], std::int32_t (&delta)[kSlots]) {
    for (int s = 0; s < kSlots; ++s) delta[s] = truePredictor[s] - lanePredictor[s];
}

}  // namespace plume
