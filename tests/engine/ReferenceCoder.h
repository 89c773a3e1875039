// A plain reference coder for the scan, written for clarity and not for
// speed, to check the engine's fast paths against:
//   - decoding bit by bit through TInBitStreamFile::ReadBit/ReadBits, each
//     symbol found by a linear search over the canonical code list (T.81
//     F.2.2.3 without lookup tables), with the restart rule of the decoder;
//   - encoding through TOutBitStreamFile::WriteBits (T.81 F.1.2.1, F.1.2.2);
//   - block transforms from the frequencies of each position and the source
//     block of every output block taken from the plain index formulas.
// It knows nothing of the engine's tables, maps or threads.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "BitStreamFile/InBitStreamFile.h"
#include "BitStreamFile/OutBitStreamFile.h"
#include "EngineTestSupport.h"
#include "JpegRotation/entropy/CodedBlock.h"
#include "fixtures/SegmentBuilder.h"

namespace plume::test {

// A Huffman table as three lists in canonical order (T.81 Annex C).
struct TRefTable {
    std::vector<int> lengths;
    std::vector<int> symbols;
    std::vector<int> codes;
    int Count() const { return static_cast<int>(lengths.size()); }
    // A code for every symbol of the class, each once: the DC sizes 0 to 11,
    // or the 162 AC symbols (EOB, ZRL, runs 0 to 15 with sizes 1 to 10).
    // Such a table codes the output as read; any other is replaced.
    bool CompleteFor(int tableClass) const;
};

// Canonical codes of a table given as BITS and HUFFVAL.
TRefTable CanonicalTable(const fixtures::THuffmanTable& table);
// The Annex K table of a class and index.
TRefTable AnnexKTable(int tableClass, int index);

// One block store per component slot, row-major, covering whole MCUs.
using TRefStore = std::array<std::vector<TCoefBlock>, 4>;

// What the scan coder needs to know about one scan.
struct TRefScanSetup {
    int width = 0;
    int height = 0;
    int h[4] = {};  // 0: the slot is not in the frame
    int v[4] = {};
    int dcSelector[4] = {};
    int acSelector[4] = {};
    TRefTable tables[2][2];  // [class][index]; empty when the file defines none
    bool hasRestart = false;
    int restartInterval = 0;
    int mcusPerRow = 0;
    int mcuRows = 0;

    // Blocks per row and block rows of a slot.
    int BlocksPerRow(int s) const { return mcusPerRow * h[s]; }
    int BlockRows(int s) const { return mcuRows * v[s]; }
    // Sets mcusPerRow and mcuRows from the size and factors. A frame of one
    // component is coded one block per MCU (T.81 A.2.2).
    void ComputeGeometry();
};

// Reads the frame, Huffman tables, scan header and DRI of a file. Throws
// std::runtime_error when the headers are not those of one baseline scan.
TRefScanSetup ReadScanSetup(const TBytes& jpeg);

// Decoding one bit at a time, each code looked up in the canonical list.
class TRefDecoder {
  public:
    TRefDecoder(TInBitStreamFile& in, const TRefScanSetup& setup) : in_(in), setup_(setup) {}

    // The symbol, or -1 when the bits read match no code.
    int DecodeSymbol(int tableClass, int tableIndex);
    // False after the Huffman-block error (reported through onMessage).
    bool DecodeBlock(int component, TCoefBlock& block);
    // Fills store in input order; false at the first block that fails.
    bool DecodeScan(TRefStore& store);

    TMessageEvent onMessage;

  private:
    bool Fail();

    TInBitStreamFile& in_;
    const TRefScanSetup& setup_;
    std::int32_t predictor_[4] = {};
};

// Plain encoding: the code through the symbol index, the
// size category through the bit length, then WriteBits.
class TRefEncoder {
  public:
    TRefEncoder(TOutBitStreamFile& out, const TRefScanSetup& setup);

    void EncodeDC(int tableIndex, std::int32_t diff);
    void EncodeAC(int tableIndex, std::int32_t value, std::int32_t run);
    void EncodeBlock(int component, const TCoefBlock& block);
    // Codes store (in the setup's raster order) with restart markers;
    // marker i carries the number rstNumber(i) (RST0 + i mod 8 when empty).
    void EncodeScan(const TRefStore& store, const std::vector<int>& rstNumbers = {});

    // Set when a symbol had no code in its table (nothing is written for it).
    bool missingSymbol = false;
    // Every symbol coded, per table.
    bool symbolUsed[2][2][256] = {};

  private:
    static int SizeCategory(std::uint32_t magnitude);
    void WriteCode(int tableClass, int tableIndex, int symbol);

    TOutBitStreamFile& out_;
    const TRefScanSetup& setup_;
    int symbolIndex_[2][2][256];
    std::int32_t predictor_[4] = {};
};

// Zigzag position of each frequency pair and back (T.81 Figure A.6).
struct TFrequency {
    int v;
    int u;
};
TFrequency FrequencyOf(int k);
int ZigzagPosition(int v, int u);

// The block as the mode shows it (modes 0 to 7), from frequencies: a quarter
// turn or a diagonal mirror transposes, and odd frequencies change sign when
// mirrored.
TCoefBlock RefTransformBlock(const TCoefBlock& block, int mode);
// Index in the input raster (W x Hb blocks of the output, or Hb x W of the
// input when the mode exchanges the dimensions) of the block at output
// column x, row y.
std::size_t RefSourceIndex(int mode, std::size_t x, std::size_t y, std::size_t w, std::size_t hb);
// The whole output store of a mode from the input store of setup.
TRefStore RefTransformStore(const TRefScanSetup& input, const TRefStore& store, int mode);
// The output's scan setup: factors and geometry exchanged for quarter turns
// and diagonal mirrors, incomplete tables replaced by Annex K's.
TRefScanSetup RefOutputSetup(const TRefScanSetup& input, int mode);

// The reference's rotate-and-write of the scan part of a file.
struct TRefRotation {
    bool ok = false;         // decoded without any level-2 report
    bool readError = false;  // the scan ran past the end (EStreamError)
    std::string readErrorText;
    std::vector<TMessage> messages;
    TRefStore decoded;        // input order
    std::size_t scanEnd = 0;  // input position after the scan
    TBytes scan;              // output scan data, then the input's bytes after its scan
    bool missingSymbol = false;
};
TRefRotation ReferenceRotate(const TBytes& jpeg, int mode);

// The offset of the scan data of a file (after the first SOS).
std::size_t ScanStart(const TBytes& jpeg);

}  // namespace plume::test
