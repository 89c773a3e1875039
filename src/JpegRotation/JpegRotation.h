// TJpegRotation: lossless rotation and mirroring of a JPEG held in memory:
// baseline files, and with TEngineOptions::AnyJpeg the other Huffman-coded
// 8-bit DCT files (progressive, extended, several scans, four components). Only the entropy coding
// is done anew: the quantised DCT blocks are moved and sign-changed, never decoded to pixels.
//
// A host calls ValidateJpeg and, when it returns true, RotateJpeg on the same
// data. Bad input is reported through OnMessage (level 1 warning, level 2
// error) and a false result; an input that ends too early gives a false
// result and LastPass().inputEnded, for the host to report. No pass throws
// for bad input.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "BitStreamFile/MemoryStream.h"
#include "BitStreamFile/MessageEvent.h"
#include "JpegRotation/EngineOptions.h"
#include "JpegRotation/PassEvents.h"
#include "JpegRotation/entropy/CodedBlock.h"
#include "JpegRotation/frame/Frame.h"
#include "JpegRotation/frame/Turn.h"

namespace plume {

// The host's mode numbers: the turns of TTurn; the application produces 0 to 3.
enum : std::uint8_t {
    kModeNone = 0,         // decoded and re-encoded unchanged
    kModeRotateRight = 1,  // 90 degrees clockwise
    kModeRotateLeft = 2,   // 90 degrees counter-clockwise
    kModeRotate180 = 3,
    kModeFlipHorizontal = 4,
    kModeFlipVertical = 5,
    kModeTranspose = 6,   // mirrored across the top-left to bottom-right diagonal
    kModeTransverse = 7,  // mirrored across the top-right to bottom-left diagonal
};
inline constexpr int kModeCount = kTurnCount;
// The quarter turns and the two diagonal mirrors exchange width and height.
inline bool ExchangesDimensions(std::uint8_t mode) {
    return ExchangesDimensions(TurnOfMode(mode));
}

class TJpegRotation {
  public:
    TJpegRotation();
    ~TJpegRotation();
    TJpegRotation(const TJpegRotation&) = delete;
    TJpegRotation& operator=(const TJpegRotation&) = delete;

    // Header pass: true when the file can be rotated (possibly after a
    // partial-MCU warning, unless WarnPartialMcu is off).
    [[nodiscard]] bool ValidateJpeg(TMemoryStream& stream);
    // After ValidateJpeg: whether `mode` carries an edge of the picture that
    // ends inside an MCU (the right or the bottom one) to the output's top or
    // left side, where the encoder's padding would then show.
    [[nodiscard]] bool MovesPartialEdge(std::uint8_t mode) const;
    // After ValidateJpeg: whether the padding still shows at the output's top
    // or left side with TrimPartialEdges as it is set: such an edge that
    // trimming cannot drop, because less than one whole MCU lies in that
    // direction, shows its padding as without trimming.
    [[nodiscard]] bool ShowsPadding(std::uint8_t mode) const;
    // Rotate-and-write pass; on success outStream holds the new JPEG,
    // position 0. An input that ends too early leaves it empty.
    [[nodiscard]] bool RotateJpeg(TMemoryStream& inStream, TMemoryStream& outStream,
                                  std::uint8_t mode);

    const TEngineOptions& Options() const { return options_; }
    void SetOptions(const TEngineOptions& options) { options_ = options; }
    // Called before a file of `inputBytes` bytes is read, so that the other
    // threads are awake by the time its scan is decoded.
    void PrepareThreads(std::uint64_t inputBytes) const;
    // What the last ValidateJpeg or RotateJpeg did.
    const TPassReport& LastPass() const { return last_; }

    // ---- Callbacks (the host replaces what it wants) ----
    TMessageEvent OnMessage;
    TNotifyEvent OnNonStandardHuffman;
    TProgressEvent OnProgressMax;
    TProgressEvent OnProgress;

  private:
    THostEvents HostEvents() const;
    // Whether the header pass would take the file with AnyJpeg on; reports nothing.
    bool TakenWithAnyJpeg(TMemoryStream& stream) const;

    TEngineOptions options_;
    TFrame frame_;  // as the last pass read it
    TPassReport last_;
};

}  // namespace plume
