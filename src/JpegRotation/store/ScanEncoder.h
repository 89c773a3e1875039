// One scan of the output coded from the coefficient store: a sequential scan
// (T.81 F.1.2) or a progressive one (T.81 G.1.2: DC first and refinement, AC
// first with end-of-band runs, AC refinement with correction bits). The
// same walk counts the symbols a scan codes, for tables made for it.
#pragma once

#include <cstdint>
#include <vector>

#include "JpegRotation/entropy/HuffmanCoding.h"
#include "JpegRotation/entropy/ScanParts.h"
#include "JpegRotation/entropy/TableFromCounts.h"
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

enum class TScanCoding : std::uint8_t {
    Ok,
    OutOfRange,   // a value beyond the size categories of 8-bit samples
    MissingCode,  // a symbol that a table has no code for
};

// The MCUs [first, last) of an output scan, counted and coded apart from
// the others, on a thread of its own.
struct TScanPart {
    std::int64_t first = 0, last = 0;
};
// The scan cut into about `parts` parts (whole restart intervals when it has
// them); an AC scan of a progressive frame stays whole, its end-of-band runs
// joining blocks across any cut.
std::vector<TScanPart> SplitScan(const TStoreOutput& output, const TScanHeader& scan, int parts);

// Adds the symbols of a part of the output scan to `counts`.
[[nodiscard]] TScanCoding CountScan(const TStoreOutput& output, const TScanHeader& scan,
                                    const TScanPart& part, TSymbolCounts& counts);

// Codes a part of the scan with the tables of each selector, with restart
// markers after every scan.restartInterval MCUs.
[[nodiscard]] TScanCoding CodeScan(const TStoreOutput& output, const TScanHeader& scan,
                                   const TScanPart& part, const THuffmanEncodeTable (&dc)[4],
                                   const THuffmanEncodeTable (&ac)[4], TCodedPart& coded);

}  // namespace plume
