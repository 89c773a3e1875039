// Shared pieces of the fuzz targets: the engine driven as a host drives it,
// and inputs put into place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "JpegRotation/metadata/MultiPicture.h"

namespace plume::fuzz {

using TBytes = std::vector<std::uint8_t>;

// The engine's options that a target varies.
struct TFuzzOptions {
    bool allowBreakDcf = false;
    bool trimPartialEdges = false;
    bool anyJpeg = false;
    bool optimizeTables = false;
};

// ValidateJpeg, then RotateJpeg when it accepted the file, in one mode on three
// engines: one with two threads (however small the file), one with one, and
// one with one that always goes through the scan index (no interval pass).
// Any difference in what they report or write traps. A read past the end of
// the input is the only exception a pass may raise; anything else escapes to
// the fuzzer.
void RotateEveryWay(const TBytes& jpeg, std::uint8_t mode, const TFuzzOptions& options);
// The most 8x8 blocks that a frame header (SOF0, SOF1 or SOF2) anywhere in
// the bytes declares: the file's, its thumbnail's, or one inside a damaged segment.
std::uint64_t LargestDeclaredFrame(const TBytes& bytes);
// Inputs that declare larger frames are refused before the engine runs: each
// pass allocates and walks the declared frame, so one large frame costs as
// much as thousands of small inputs, while the paths that a frame's size
// decides (the memory cap, the split between threads, forced here at any
// size) are the same. The engine's tests cover the largest frames.
inline constexpr std::uint64_t kMaxFuzzBlocks = 2048;
// ValidateJpeg and RotateJpeg on one engine; true when both accepted the file.
bool ValidateAndRotate(const TBytes& jpeg, std::uint8_t mode, const TFuzzOptions& options,
                       TBytes* output);

// Where the engine notes a multi-picture segment (the first APP2 "MPF\0"
// before the scan) and ends the primary (fill bytes and EOI right after the
// entropy-coded data); nothing when it would not rewrite the file's tail.
// place.outBody is left 0.
std::optional<TMultiPicturePlace> LocateMultiPicture(const TBytes& file);
// Traps when the input's multi-picture index names whole JPEGs (SOI to EOI),
// the first the primary, the others after it, none overlapping another, and
// the output's does not.
void CheckWholeImages(const TBytes& input, const TBytes& output);

// jpeg with its APP0 segments dropped and an APP1 holding body put right
// after SOI (body is cut to what a segment can hold).
TBytes WithApp1AfterSoi(const TBytes& jpeg, const std::uint8_t* body, std::size_t size);

}  // namespace plume::fuzz
