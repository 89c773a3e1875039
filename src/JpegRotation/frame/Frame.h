// The frame as the header stage describes it (T.81 B.2.2, B.2.3, B.2.4.4):
// size, components, sampling, table selectors, restart interval and the MCU
// grid; and what a turn makes of it: the output's grid, its sampling, and
// the partial MCU column or row that trimming drops. Read-only once made.
#pragma once

#include <cstddef>
#include <cstdint>

#include "JpegRotation/frame/Turn.h"

namespace plume {

// The frame's quantised coefficients may not take more than this many
// bytes (64 coefficients of 16 bits a block): a larger frame is refused
// before anything is allocated from its size.
inline constexpr std::uint64_t kCoefficientMemoryCap = std::uint64_t{2} << 30;
inline constexpr std::uint64_t kBlockBytes = 64 * sizeof(std::int16_t);

// Slot s holds the component whose identifier is s (0 to 3); a slot without
// a component has factors 0.
struct TSlot {
    int h = 0, v = 0;  // sampling factors
    int quantTable = 0;
    int dcTable = 0, acTable = 0;  // Huffman table indexes of the scan
    bool Present() const { return h > 0 && v > 0; }
    int Blocks() const { return h * v; }  // in one MCU
};
inline constexpr int kSlots = 4;

// The coding process the frame marker names (T.81 B.1.1.3, Table B.1): the
// three Huffman DCT processes of 8-bit samples that the engine turns.
enum class TFrameKind : std::uint8_t {
    Baseline,     // SOF0
    Extended,     // SOF1: up to four tables of each class
    Progressive,  // SOF2: the coefficients spread over several scans (Annex G)
};

struct TFrame {
    TFrameKind kind = TFrameKind::Baseline;
    std::int32_t width = 0, height = 0;
    TSlot slot[kSlots];
    int componentCount = 0;
    int maxH = 1, maxV = 1;
    std::int32_t restartInterval = 0;  // MCUs between restart markers; 0: none

    std::int64_t McusPerRow() const { return (width + 8 * maxH - 1) / (8 * maxH); }
    std::int64_t McuRows() const { return (height + 8 * maxV - 1) / (8 * maxV); }
    std::int64_t McuCount() const { return McusPerRow() * McuRows(); }
    int McuBlocks() const {
        int blocks = 0;
        for (const TSlot& each : slot) blocks += each.Present() ? each.Blocks() : 0;
        return blocks;
    }
    // The picture is a whole number of MCUs (T.81 A.2.4 pads it otherwise).
    bool WholeMcus() const { return width % (8 * maxH) == 0 && height % (8 * maxV) == 0; }
};

// The input's edges that end inside an MCU and that a turn carries to the
// output's top or left side, where the encoder's padding would then show.
struct TFrontEdges {
    bool right = false, bottom = false;
    bool Any() const { return right || bottom; }
};
TFrontEdges PartialFrontEdges(const TFrame& frame, TTurn turn);

// What the output drops when partial edges are trimmed: its first MCU
// column and row (0 or 1 each), and the size its frame then gives.
struct TEdgeTrim {
    int firstColumn = 0, firstRow = 0;
    std::int32_t width = 0, height = 0;
    bool Any() const { return firstColumn != 0 || firstRow != 0; }
};
// trim: the host's TrimPartialEdges. As jpegtran, an edge is dropped only
// where a whole MCU is left in that direction.
TEdgeTrim EdgeTrimOf(const TFrame& frame, TTurn turn, bool trim);
// With `trim` as the host sets it: whether the padding still shows at the
// output's top or left side, because an edge carried there cannot be dropped.
bool ShowsPadding(const TFrame& frame, TTurn turn, bool trim);

// The output's MCU grid and sampling. The blocks cover the whole turned grid;
// the MCUs coded are the part of it from (firstColumn, firstRow) on.
struct TOutputGeometry {
    std::int64_t gridPerRow = 0, gridRows = 0;  // the turned grid of MCUs
    int h[kSlots] = {}, v[kSlots] = {};         // output sampling factors
    std::size_t width[kSlots] = {};             // blocks per row of each slot
    std::size_t height[kSlots] = {};            // block rows of each slot
    int firstColumn = 0, firstRow = 0;
    std::int64_t mcusPerRow = 0, mcuRows = 0;  // MCUs coded
    // Progress: the input's MCU rows come first, then each output row.
    int progressBase = 0;

    std::int64_t McuCount() const { return mcusPerRow * mcuRows; }
    std::size_t Blocks() const {
        std::size_t blocks = 0;
        for (int s = 0; s < kSlots; ++s) blocks += width[s] * height[s];
        return blocks;
    }
};
TOutputGeometry OutputGeometryOf(const TFrame& frame, TTurn turn, const TEdgeTrim& trim);

}  // namespace plume
