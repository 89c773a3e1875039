// The scan index: where the decoding of every MCU starts, so that the MCUs
// can be decoded again in any order, one at a time, without a store for the
// whole image. A second thread can build the index of the scan's second
// half before the first half has been decoded (TSpeculativeScan).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "JpegRotation/HuffmanCoding.h"
#include "JpegRotation/WorkerPool.h"

namespace plume {

// The decoder's state at the start of one MCU: the bit position that
// TScanReader::BitPosition gives and the DC predictor of each slot.
struct TMcuStart {
    std::uint64_t bit;
    std::int16_t predictor[4];
};

// The blocks of one MCU in decoding order (T.81 A.2.3): slot and tables.
struct TMcuPlan {
    static constexpr int kMaxBlocks = 64;  // 4 slots of at most 4 x 4 blocks
    int blockCount = 0;
    std::uint8_t slot[kMaxBlocks] = {};
    const THuffmanDecodeTable* dc[4] = {};
    const THuffmanDecodeTable* ac[4] = {};
    std::int32_t restartInterval = 0;  // 0: no restart markers
    // Whether to note MCUs that the engine's coder would code differently.
    bool trackCoding = false;
};

// Decodes the scan from a byte in its middle on a thread of its own, as if an
// MCU with DC predictors 0 started there, recording the start of every MCU.
// Until its bits fall into step with the real MCU boundaries the entries are
// meaningless; the main decoder, once it has reached this start, looks for an
// entry whose bit position equals that of one of its own MCU starts. From
// there on both decode the same bits the same way, and the entries are true
// but for a constant difference of each DC predictor. With restart markers
// the thread starts just after a marker, where the predictors really are 0.
//
// Any trouble (a code that matches nothing, a marker met, the end of the
// data) stops the thread or starts a new segment of entries: whatever the
// entries do not cover cleanly is decoded again by the main decoder, which
// reports as it always does.
//
// Several of them share a scan from different starts: each stops where it
// meets an entry of the next one (`next`), which has decoded on from there.
class TSpeculativeScan {
  public:
    static constexpr std::size_t kChunk = 16;  // MCUs per DC range record

    TSpeculativeScan(const std::uint8_t* data, std::size_t size, std::size_t start,
                     const TMcuPlan& plan, std::size_t capacity, TSpeculativeScan* next);
    ~TSpeculativeScan();
    TSpeculativeScan(const TSpeculativeScan&) = delete;
    TSpeculativeScan& operator=(const TSpeculativeScan&) = delete;

    std::uint64_t StartBit() const { return std::uint64_t{start_} << 3; }
    // The entry recorded at exactly `bit`, waiting for the thread when it has
    // not got that far; -1 when there is none. Calls must come with rising bits.
    std::int64_t EntryAt(std::uint64_t bit);
    // Waits for the thread to end.
    void Finish();

    static constexpr std::int64_t kNoEntry = -1;    // no entry at that bit
    static constexpr std::int64_t kExhausted = -2;  // and none will come

    // The decoder's state at the start of one MCU, predictors in full.
    struct TEntry {
        std::uint64_t bit;
        std::int32_t predictor[4];
    };
    // After Finish: the entries, and the last entry up to which the entries
    // from `first` on cover whole MCUs one after the other, each decoded
    // cleanly and with DC values inside 16 bits once `delta` is added.
    const TEntry& Entry(std::size_t i) const { return entries_[i]; }
    std::size_t CleanEnd(std::size_t first, const std::int32_t (&delta)[4]) const;
    // After Finish, with the plan's trackCoding: whether the MCUs of the
    // entries [first, last) are all coded as the engine's coder codes them.
    bool CodedAsTheCoderDoes(std::size_t first, std::size_t last) const;

  private:
    struct TDcRange {
        std::int32_t low[4], high[4];
    };
    void Run();
    template <bool kTrackCoding>
    void Decode();
    void Publish(bool finished);
    // Whether the next scan has published an entry at `bit`; calls come with
    // rising bits, and never wait.
    bool NextHasEntryAt(std::uint64_t bit);

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t start_;
    TMcuPlan plan_;
    std::size_t capacity_;
    std::unique_ptr<TEntry[]> entries_;
    std::vector<TDcRange> ranges_;            // one per kChunk entries
    std::vector<std::size_t> segmentStarts_;  // entries that follow a failed MCU
    // MCUs coded otherwise than the coder does, up to a limit; past
    // unnotedFrom_ they are no longer noted.
    static constexpr std::size_t kNotedLimit = 4096;
    std::vector<std::size_t> codedOtherwise_;
    std::size_t unnotedFrom_ = SIZE_MAX;
    std::size_t count_ = 0;  // entries written by the thread
    // Entries the main decoder may read, with kFinished once the thread is done.
    static constexpr std::uint64_t kFinished = std::uint64_t{1} << 63;
    std::atomic<std::uint64_t> published_{0};
    std::atomic<bool> cancel_{false};
    std::size_t cursor_ = 0;
    TSpeculativeScan* next_;
    std::size_t nextCursor_ = 0;  // into next_'s entries, for this thread
    TWorkerPool::TTicket run_;
};

}  // namespace plume
