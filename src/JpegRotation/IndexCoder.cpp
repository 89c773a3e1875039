// The rotate-and-write pass without a coefficient store, second half: each
// output MCU is decoded again from the scan index, turned and coded straight
// away, the parts of the output on threads of their own. The bytes are
// those of decoding into the store and coding from it.
//
// A quarter turn or a diagonal mirror changes the order of the coefficients
// in every block, so each block is decoded into its coded form in the new
// order and then coded. The other modes keep that order and only change
// signs: each block is coded as it is decoded, symbol by symbol, into bits
// of its own that are put in the output in the order the output MCU wants.
#include "JpegRotation/IndexSource.h"

namespace plume {

template <class TBlock>
bool TJpegRotation::EncodeFromIndexAs(const TIntervalPlan* intervals) {
    TIndexSource<TBlock> source;
    TSourceTables tables;
    const int progressBase = PrepareIndexSource(source, tables);
    source.intervals = intervals;
    const bool ok = EncodeOutput(source, progressBase);
    if (source.failed) {
        // The index is made from bits that decoded cleanly: not expected.
        // The interval pass hands over to the index pass without a word.
        if (intervals == nullptr) ReportError(kMsgHuffmanBlock);
        return false;
    }
    return ok;
}

bool TJpegRotation::EncodeFromIndex(const TIntervalPlan* intervals) {
    if (kModeBlockMaps[Mode < kModeCount ? Mode : std::uint8_t{kModeNone}].Moves)
        return EncodeFromIndexAs<TCodedBlock>(intervals);
    return EncodeFromIndexAs<TTranscodedBlock>(intervals);
}

}  // namespace plume
