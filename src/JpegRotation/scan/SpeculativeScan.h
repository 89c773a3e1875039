// A lane of the index pass (MidScanLane.h): a further thread that indexes
// its part of the scan ahead of the pass, recording the start of every MCU,
// so that the pass, once it reaches a start the lane recorded, takes the
// lane's entries instead of decoding those MCUs itself. Several of them
// share a scan from different starts: each stops where it meets an entry of
// the next one, which has decoded on from there.
//
// Any trouble (a code that matches nothing, a marker met, the end of the
// data) stops the lane or starts a new segment of entries: whatever the
// entries do not cover cleanly the index pass decodes itself.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "JpegRotation/scan/McuPlan.h"
#include "JpegRotation/scan/MidScanLane.h"
#include "JpegRotation/threads/WorkerPool.h"

namespace plume {

class TSpeculativeScan {
  public:
    static constexpr std::size_t kChunk = 16;  // MCUs per DC range record

    // trackCoding: note MCUs that the engine's coder would code otherwise.
    TSpeculativeScan(const std::uint8_t* data, std::size_t size, std::size_t start,
                     const TMcuPlan& plan, bool trackCoding, std::size_t capacity,
                     TSpeculativeScan* next);
    ~TSpeculativeScan();
    TSpeculativeScan(const TSpeculativeScan&) = delete;
    TSpeculativeScan& operator=(const TSpeculativeScan&) = delete;

    std::uint64_t StartBit() const { return std::uint64_t{start_} << 3; }
    // The entry recorded at exactly `bit`, waiting for the thread when it has
    // not got that far; negative when there is none. Calls must come with
    // rising bits.
    std::int64_t EntryAt(std::uint64_t bit) { return entries_.WaitFor(bit, cursor_); }
    // Waits for the thread to end.
    void Finish();

    // The decoder's state at the start of one MCU, predictors in full.
    struct TEntry {
        std::uint64_t bit;
        std::int32_t predictor[kSlots];
    };
    // After Finish: the entries, and the last entry up to which the entries
    // from `first` on cover whole MCUs one after the other, each decoded
    // cleanly and with DC values inside 16 bits once `delta` is added.
    const TEntry& Entry(std::size_t i) const { return entries_[i]; }
    std::size_t CleanEnd(std::size_t first, const std::int32_t (&delta)[kSlots]) const;
    // After Finish, with trackCoding: whether the MCUs of the entries
    // [first, last) are all coded as the engine's coder codes them.
    bool CodedAsTheCoderDoes(std::size_t first, std::size_t last) const;

  private:
    void Run();
    template <bool kTrackCoding>
    void Decode();
    // Whether the next lane has published an entry at `bit`.
    bool NextHasEntryAt(std::uint64_t bit) {
        std::size_t found;
        return next_->entries_.Find(bit, nextCursor_, found);
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t start_;
    TMcuPlan plan_;
    bool trackCoding_;
    TLaneMarks<TEntry> entries_;
    std::vector<TDcRange> ranges_;            // one per kChunk entries
    std::vector<std::size_t> segmentStarts_;  // entries that follow a failed MCU
    // MCUs coded otherwise than the coder does, up to a limit; past
    // unnotedFrom_ they are no longer noted.
    static constexpr std::size_t kNotedLimit = 4096;
    std::vector<std::size_t> codedOtherwise_;
    std::size_t unnotedFrom_ = SIZE_MAX;
    std::atomic<bool> cancel_{false};
    std::size_t cursor_ = 0;  // into the entries, for EntryAt
    TSpeculativeScan* next_;
    std::size_t nextCursor_ = 0;  // into next_'s entries, for this thread
    TWorkerPool::TTicket run_;
};

}  // namespace plume
