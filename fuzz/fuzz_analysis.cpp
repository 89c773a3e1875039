// The EXIF analysis on arbitrary bytes, with each of its options. It changes
// values in place and nothing else: the file keeps its size, and what it
// finds lies inside what it read.
#include <cstdlib>

#include "FuzzSupport.h"
#include "app/analysis/ExifAnalysis.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (int options = 0; options < 8; ++options) {
        plume::TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
        plume::TAnalysisOptions analysis;
        analysis.AllowBreakDCF = (options & 1) != 0;
        analysis.ExifAnywhere = (options & 2) != 0;
        analysis.FixMirrored = (options & 4) != 0;
        plume::TAnalysis found;
        try {
            found = plume::AnalysisData(stream, analysis);
        } catch (const plume::EStreamError&) {
            // A file cut off inside its EXIF.
        }
        const int maxMode = analysis.FixMirrored ? 7 : 3;
        if (stream.Size() != size || found.Mode > maxMode || found.Thumbnail.size() > size)
            std::abort();
    }
    return 0;
}
