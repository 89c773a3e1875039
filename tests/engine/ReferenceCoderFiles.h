// Baseline JPEG files made from chosen or random coefficient blocks through
// the reference encoder: any sampling, restart interval, marker numbers and
// Huffman tables (Annex K, complete but reordered, or incomplete).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ReferenceCoder.h"
#include "fixtures/SegmentBuilder.h"

namespace plume::test {

enum class TTableKind {
    kAnnexK,     // the four tables of T.81 Annex K
    kReordered,  // 12 and 162 codes with Annex K's lengths, symbols shuffled: complete, not
                 // standard
    kIncomplete  // Annex K's codes for the symbols the scan uses only (as an optimising encoder)
};
std::string TableKindName(TTableKind kind);

struct TBlockFileOptions {
    int width = 32;
    int height = 16;
    // Identifiers 0 to 3; the first component uses tables 0, the others 1.
    std::vector<fixtures::TFrameComponent> components = {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}};
    bool writeDri = false;
    int restartInterval = 0;
    std::vector<int> rstNumbers;  // numbers the markers carry (RST0, RST1, ... when empty)
    TTableKind tables = TTableKind::kAnnexK;
    std::uint32_t tableSeed = 7;               // the shuffle of kReordered
    fixtures::TBytes trailing = {0xFF, 0xD9};  // after the scan data
};

// A file whose scan codes store (input raster order, whole MCUs).
struct TBlockFile {
    fixtures::TBytes jpeg;
    TRefScanSetup setup;
    TRefStore blocks;
    bool scanEndsOnByte = false;  // the last code ends a byte: no padding bits
};
TBlockFile MakeBlockFile(const TBlockFileOptions& options, const TRefStore& blocks);

// The setup (geometry, selectors, restart) of options, without tables.
TRefScanSetup LayoutOf(const TBlockFileOptions& options);

// Random blocks: DC anywhere in -1024..1023 (some equal to their neighbour),
// AC sparse or dense with magnitudes of every size category 1..maxAcSize,
// some blocks with position 63 set or long zero runs.
struct TRandomBlocks {
    std::uint32_t seed = 1;
    int density = 25;    // percent of AC positions that are not zero, on average
    int maxAcSize = 10;  // largest size category of AC values (10 for 8-bit data)
};
TRefStore RandomStore(const TRefScanSetup& layout, const TRandomBlocks& random);

// A block of zeros with the given (position, value) pairs.
TCoefBlock BlockWith(std::initializer_list<std::pair<int, int>> values);

// A small deterministic generator (xorshift32).
class TRandom {
  public:
    explicit TRandom(std::uint32_t seed) : state_(seed * 2654435761u + 0x6D2B79F5u) {
        if (state_ == 0) state_ = 1;
    }
    std::uint32_t Next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    // 0 .. n - 1
    int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint32_t>(n)); }

  private:
    std::uint32_t state_;
};

}  // namespace plume::test
