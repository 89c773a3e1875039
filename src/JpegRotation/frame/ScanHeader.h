// One scan as its header describes it (T.81 B.2.3): the components it
// codes, their tables, the spectral band and the successive approximation
// bits; and the order of a file's scans, which a progressive frame must keep
// (T.81 G.1.1.1) and a sequential one codes each component in once (T.81
// B.2.3, 4.10).
#pragma once

#include <cstdint>

#include "JpegRotation/frame/Frame.h"

namespace plume {

struct TScanHeader {
    int count = 0;             // components in the scan, 1 to 4
    int slot[kSlots] = {};     // each one's slot, in the scan's order
    int dcTable[kSlots] = {};  // table selectors, 0 to 3
    int acTable[kSlots] = {};
    int ss = 0, se = 63;               // spectral band, zigzag positions (T.81 G.1.1.1.1)
    int ah = 0, al = 0;                // successive approximation bits (T.81 G.1.1.1.2)
    std::int32_t restartInterval = 0;  // the DRI in force for the scan

    bool DcBand() const { return ss == 0; }
    bool Refinement() const { return ah != 0; }
    // A scan of one component is coded block by block over the blocks that
    // carry picture; one of several is coded MCU by MCU (T.81 A.2.2, A.2.3).
    bool Interleaved() const { return count > 1; }
    // Whether the scan uses a Huffman table of its own: a DC refinement sends
    // its bits as they are (T.81 G.1.2.1).
    bool UsesDcTables() const { return ss == 0 && ah == 0; }
    bool UsesAcTables() const { return se > 0; }
};

// The bits of each coefficient of each component that the scans read so
// far have coded, to hold a frame's scans to the order the coding process
// allows.
class TProgression {
  public:
    TProgression();
    // Whether `scan` may follow the scans accepted so far in a frame of
    // `kind`, and if so takes it. A progressive frame codes each
    // coefficient's first bits once, then refines them one bit at a time
    // (Ah is the Al of the scan before, Al is Ah - 1), and codes a
    // component's DC before its AC (T.81 G.1.1.1). A sequential frame codes
    // each component in one scan.
    [[nodiscard]] bool Accept(TFrameKind kind, const TScanHeader& scan);
    // A component that no scan has coded.
    bool Coded(int slot) const { return bits_[slot][0] != kNever; }

  private:
    static constexpr std::int8_t kNever = -1;
    std::int8_t bits_[kSlots][64];  // the lowest bit coded so far, or kNever
};

}  // namespace plume
