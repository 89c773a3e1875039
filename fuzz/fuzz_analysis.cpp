// The EXIF analysis on arbitrary bytes, with each of its options. It changes
// values in place and nothing else: the file keeps its size.
#include <cstdlib>

#include "FuzzSupport.h"
#include "app/analysis/ExifAnalysis.h"
#include "app/run/RunView.h"

namespace {

// Counts what the analysis shows, to check it never shows more than it read.
class TQuietView : public plume::TSilentView {
  public:
    void ShowPreview(const std::vector<std::uint8_t>& jpeg) override {
        previewBytes += jpeg.size();
    }
    std::size_t previewBytes = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (int options = 0; options < 8; ++options) {
        plume::TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
        plume::TAnalysisOptions analysis;
        analysis.AllowBreakDCF = (options & 1) != 0;
        analysis.ExifAnywhere = (options & 2) != 0;
        analysis.FixMirrored = (options & 4) != 0;
        TQuietView view;
        std::uint8_t mode = 0;
        try {
            plume::AnalysisData(stream, mode, analysis, view);
        } catch (const plume::EStreamError&) {
            // A file cut off inside its EXIF.
        }
        const int maxMode = analysis.FixMirrored ? 7 : 3;
        if (stream.Size() != size || mode > maxMode || view.previewBytes > size) std::abort();
    }
    return 0;
}
