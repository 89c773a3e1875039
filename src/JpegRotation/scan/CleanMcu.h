// The decoding of one MCU without its coefficients, and the decoding of one
// MCU by a pass that reports nothing itself: whatever such a pass cannot
// decode cleanly (a block that does not decode, a marker
// inside the data, bits past its end) it leaves to the index pass, which
// decodes the scan from the start and reports as it goes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "BitStreamFile/MemoryStream.h"
#include "JpegRotation/entropy/BlockDecoder.h"
#include "JpegRotation/entropy/HuffmanCoding.h"
#include "JpegRotation/scan/McuPlan.h"

namespace plume {

// One MCU as decoded, with the events its bits passed.
struct TMcuStep {
    bool decoded = true;  // every block decoded
    bool marker = false;  // a marker lay inside its bits (or an earlier MCU's)
    bool end = false;     // its bits ran past the end of the data
    bool Clean() const { return decoded && !marker && !end; }
};

// A scan reader that notes the markers its bits pass instead of reporting them.
class TQuietReader {
  public:
    TQuietReader(const std::uint8_t* data, std::size_t size, std::size_t start = 0)
        : reader_(data, size, start, [this] { marker_ = true; }) {}
    TQuietReader(const TQuietReader&) = delete;
    TQuietReader& operator=(const TQuietReader&) = delete;

    TScanReader& Reader() { return reader_; }
    // Decodes one MCU through decode(reader), which returns whether every
    // block decoded, then raises the events its bits passed.
    template <class TDecode>
    TMcuStep Step(TDecode&& decode) {
        TMcuStep step;
        step.decoded = decode(reader_);
        try {
            reader_.CheckEvents();
        } catch (const EStreamError&) {
            step.end = true;
        }
        step.marker = marker_;
        return step;
    }

  private:
    bool marker_ = false;
    TScanReader reader_;
};

// The blocks of one MCU decoded with every check and without keeping their
// coefficients: the status of the first that does not decode, or Ok. With
// kTrackCoding, *canonical is cleared for a block that the coder would code
// otherwise (BlockDecoder.h).
template <bool kTrackCoding = false>
TBlockStatus SkipMcu(TScanReader& reader, const TMcuPlan& plan, std::int32_t (&predictor)[kSlots],
                     bool* canonical = nullptr) {
    for (int b = 0; b < plan.blockCount; ++b) {
        const int s = plan.slot[b];
        const TBlockStatus status = DecodeBlockInto<true, kTrackCoding>(
            reader, *plan.dc[s], *plan.ac[s], predictor[s], TSkipSink{}, canonical);
        if (status != TBlockStatus::Ok) return status;
    }
    return TBlockStatus::Ok;
}

}  // namespace plume
