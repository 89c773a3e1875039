// The EXIF analysis on arbitrary bytes, with each of its options. It changes
// values in place and nothing else: the file keeps its size.
#include <cstdlib>

#include "FuzzSupport.h"
#include "app/ExifAnalysis.h"

namespace {

class TQuietView : public plume::IRunView {
  public:
    void SetFileCounter(const std::string&) override {}
    void SetFileName(const std::string&) override {}
    void SetStatus(const std::string&) override {}
    void SetCancelCaption(const std::string&) override {}
    void SetProgressMax(int) override {}
    void SetProgressPosition(int) override {}
    void ShowPlainMessage(const std::string&) override {}
    void ShowWarning(const std::string&) override {}
    void ShowError(const std::string&) override {}
    void ProcessMessages() override {}
    void ClearPreview() override {}
    void ShowPreview(const std::vector<std::uint8_t>& jpeg) override {
        previewBytes += jpeg.size();
    }
    bool AllowBreakDCF() const override { return false; }
    bool OperateAllFile() const override { return false; }
    int SaveMethod() const override { return 0; }
    bool KeepTimeStampCreate() const override { return false; }
    bool KeepTimeStampWrite() const override { return false; }
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
