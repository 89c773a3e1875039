// One scan of the input decoded into the coefficient store: a sequential
// scan (T.81 F.2.2) or one of the four kinds of progressive scan (T.81
// G.2: DC first and refinement, AC first with end-of-band runs, AC
// refinement), each block put where the turn takes it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "JpegRotation/PassEvents.h"
#include "JpegRotation/entropy/HuffmanTables.h"
#include "JpegRotation/frame/Frame.h"
#include "JpegRotation/frame/ScanHeader.h"
#include "JpegRotation/store/CoefficientStore.h"
#include "JpegRotation/store/StoreProgress.h"

namespace plume {

struct TScanInput {
    const TFrame& frame;
    const TScanHeader& scan;
    const THuffmanRecords& tables;  // as defined when the scan header was read
    TTurn turn;
    const std::uint8_t* data;  // the whole input
    std::size_t size;
    std::size_t start;  // of the scan data
};

// Decodes the scan into `store`; end: the input's byte after the scan data.
// False after reporting what does not decode (or any error report during
// the scan, such as a marker inside its data). Bits past the end of the
// data raise the read error (EStreamError).
[[nodiscard]] bool DecodeScan(const TScanInput& input, TCoefficientStore& store,
                              TPassEvents& events, TStoreProgress& progress, std::size_t& end);

// The blocks a scan of these components codes (T.81 A.2): the MCU grid of
// the frame for several, the blocks that carry picture for one.
struct TScanGrid {
    std::int64_t columns = 0, rows = 0;  // MCUs, or blocks of the one component
};
TScanGrid ScanGridOf(const TFrame& frame, const TScanHeader& scan);
// The blocks of one component that carry picture, counted in each direction
// (T.81 A.1.1): ceil(ceil(size * factor / largest factor) / 8).
std::int64_t BlocksAcross(std::int32_t size, int factor, int largest);

}  // namespace plume
