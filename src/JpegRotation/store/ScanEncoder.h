// One scan of the output coded from the coefficient store: a sequential scan
// (T.81 F.1.2) or a progressive one (T.81 G.1.2: DC first and refinement, AC
// first with end-of-band runs, AC refinement with correction bits). The
// same walk counts the symbols a scan codes, for tables made for it.
#pragma once

#include <cstdint>
#include <vector>

#include "JpegRotation/entropy/HuffmanCoding.h"
#include "JpegRotation/frame/Frame.h"
#include "JpegRotation/frame/ScanHeader.h"
#include "JpegRotation/store/CoefficientStore.h"

namespace plume {

// The output picture the store holds: its grid and the frame it declares.
struct TStoreOutput {
    const TCoefficientStore& store;
    const TOutputGeometry& geometry;
    bool progressive = false;
    std::int32_t width = 0, height = 0;  // of the output frame
    int maxH = 1, maxV = 1;              // its largest sampling factors

    // The blocks an output scan codes: MCUs of several components, or the
    // blocks of one that carry picture (T.81 A.2).
    std::int64_t ScanColumns(const TScanHeader& scan) const;
    std::int64_t ScanRows(const TScanHeader& scan) const;
    std::uint64_t ScanBlocks(const TScanHeader& scan) const;
};

// How often each symbol occurs in a scan, per table selector and class.
struct TSymbolCounts {
    std::uint32_t dc[4][256] = {};
    std::uint32_t ac[4][256] = {};
};

enum class TScanCoding : std::uint8_t {
    Ok,
    OutOfRange,   // a value beyond the size categories of 8-bit samples
    MissingCode,  // a symbol that a table has no code for
};

// Adds the symbols of the output scan to `counts`.
[[nodiscard]] TScanCoding CountScan(const TStoreOutput& output, const TScanHeader& scan,
                                    TSymbolCounts& counts);
// Appends the scan's entropy-coded data to `out`, with restart markers after
// every scan.restartInterval MCUs, coded with the tables of each
// selector.
[[nodiscard]] TScanCoding CodeScan(const TStoreOutput& output, const TScanHeader& scan,
                                   const THuffmanEncodeTable (&dc)[4],
                                   const THuffmanEncodeTable (&ac)[4],
                                   std::vector<std::uint8_t>& out);

}  // namespace plume
