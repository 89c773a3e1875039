// The progress of a pass through the coefficient store, in the positions
// the other passes give: the input's MCU rows while its scans are read (as
// far as the bytes read go), then the output's MCU rows while its scans are
// written (as far as the blocks written go). Every position is reported
// once, in order, on the thread that runs the pass.
#pragma once

#include <cstddef>
#include <cstdint>

#include "JpegRotation/PassEvents.h"

namespace plume {

class TStoreProgress {
  public:
    // The scans' data lie from scanStart to inputSize.
    TStoreProgress(TPassEvents& events, int inputRows, int outputRows, std::size_t scanStart,
                   std::size_t inputSize)
        : events_(events),
          inputRows_(inputRows),
          outputRows_(outputRows),
          scanStart_(scanStart),
          inputSize_(inputSize) {}

    // The scans are read up to this byte of the input.
    void Read(std::size_t position) {
        const std::size_t span = inputSize_ > scanStart_ ? inputSize_ - scanStart_ : 1;
        const std::size_t done = position > scanStart_ ? position - scanStart_ : 0;
        ReachRow(static_cast<int>(static_cast<std::uint64_t>(done) * inputRows_ / span));
    }
    void ReadingDone() { ReachRow(inputRows_ - 1); }
    // Blocks written of the output's scans; set the total first.
    void SetOutputBlocks(std::uint64_t total) { outputBlocks_ = total == 0 ? 1 : total; }
    void Written(std::uint64_t blocks) {
        written_ += blocks;
        ReachRow(inputRows_ + static_cast<int>(written_ * outputRows_ / outputBlocks_));
    }
    void WritingDone() { ReachRow(inputRows_ + outputRows_ - 1); }

  private:
    void ReachRow(int row) {
        const int last = inputRows_ + outputRows_ - 1;
        if (row > last) row = last;
        while (next_ <= row) events_.Progress(next_++);
    }

    TPassEvents& events_;
    int inputRows_, outputRows_;
    std::size_t scanStart_, inputSize_;
    std::uint64_t outputBlocks_ = 1, written_ = 0;
    int next_ = 0;
};

}  // namespace plume
