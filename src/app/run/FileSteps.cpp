#include "app/run/FileSteps.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "BitStreamFile/MessageEvent.h"
#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/metadata/TiffLayout.h"
#include "app/analysis/ExifAnalysis.h"
#include "app/texts/AppTexts.h"

namespace plume {

void ShowEngineMessage(IRunView& view, const std::string& text, int level, const char* note) {
    switch (level) {
        case kLevelInfo:
            view.ShowPlainMessage(text);
            break;
        case kLevelWarning:
            view.ShowWarning(text);
            break;
        case kLevelError:
            view.ShowError(text + "\r" + kCannotProcessLine +
                           (note ? std::string("\r") + note : std::string()));
            break;
        default:
            break;
    }
}

void SetProgressMax(IRunView& view, int max) {
    view.SetProgressMax(max);
}

void SetProgressPosition(IRunView& view, int position) {
    view.SetProgressPosition(position);
}

TFileWorker::TFileWorker(IRunView& view) {
    FRotation.OnMessage = [this, &view](const std::string& text, int level) {
        if (level == kLevelError) ++EngineErrors;
        // The header pass tells of a file AnyJpeg would take before it reports the refusal.
        const bool taken = level == kLevelError && FRotation.LastPass().anyJpegTakes;
        ShowEngineMessage(view, text, level, taken ? AnyJpegNote : nullptr);
    };
    FRotation.OnProgressMax = [&view](int max) { SetProgressMax(view, max); };
    FRotation.OnProgress = [&view](int position) { SetProgressPosition(view, position); };
}

namespace {

// The segments before the frame header lie in the file's head; what lies
// beyond this many bytes is not looked at for the note.
constexpr std::size_t kLaterExifSearchBytes = std::size_t{1} << 20;

// True when the file starts with SOI and an EXIF APP1 (EXIF 2.32, 4.5.4),
// the one segment that the analysis reads without ExifAnywhere.
bool ExifFollowsSoi(const std::vector<std::uint8_t>& bytes) {
    constexpr std::size_t kIdentifierAt = 6;  // SOI, APP1 marker, length
    return bytes.size() >= kIdentifierAt + kExifIdentifierSize && bytes[0] == 0xFF &&
           bytes[1] == 0xD8 && bytes[2] == (kAPP1Marker >> 8) && bytes[3] == (kAPP1Marker & 0xFF) &&
           std::equal(std::begin(kExifIdentifier), std::end(kExifIdentifier),
                      bytes.begin() + kIdentifierAt);
}

// Whether an EXIF APP1 that does not follow SOI asks for a turn: the
// analysis once more with ExifAnywhere, on a copy of the file's head (it
// resets in place the orientation it acts on).
bool LaterExifAsksTurn(const TMemoryStream& stream, bool fixMirrored) {
    const std::vector<std::uint8_t>& bytes = stream.Bytes();
    if (ExifFollowsSoi(bytes)) return false;  // read already: there is no other
    const auto head = static_cast<std::ptrdiff_t>(std::min(bytes.size(), kLaterExifSearchBytes));
    TMemoryStream copy(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + head));
    TAnalysisOptions anywhere;
    anywhere.ExifAnywhere = true;
    anywhere.FixMirrored = fixMirrored;
    try {
        return AnalysisData(copy, anywhere).Mode != kModeNone;
    } catch (const EStreamError&) {
        return false;  // an EXIF segment cut off by the head, or by the file's end
    }
}

// What the analysis found, shown as it was found.
void ShowAnalysis(const TAnalysis& found, IRunView& view) {
    if (found.NoSoi) view.ShowPlainMessage(kMsgAnalysisNoSoi);
    if (found.OrientationUnreadable) view.ShowWarning(kMsgOrientationUnreadable);
    if (!found.Thumbnail.empty()) view.ShowPreview(found.Thumbnail);
}

}  // namespace

void ConfigureEngine(TFileWorker& worker, bool allowBreakDCF, const TRunOptions& options) {
    TJpegRotation& engine = worker.FRotation;
    TEngineOptions engineOptions = engine.Options();
    engineOptions.AllowBreakDCF = allowBreakDCF;
    // Under skip, a photo whose turn would show padding is never turned, so
    // trimming reaches only what is turned with it: the EXIF thumbnail and
    // the other images of the file, which are cut rather than padded.
    engineOptions.TrimPartialEdges = options.EdgePolicy == epTrim || options.EdgePolicy == epSkip;
    // The warning says the edges will not come out right, which holds only
    // when they are moved as they are; trimming and skipping say otherwise.
    engineOptions.WarnPartialMcu = options.EdgePolicy == epMove;
    engineOptions.AnyJpeg = options.AnyJpeg;
    engineOptions.OptimizeTables = options.OptimizeTables;
    engineOptions.AdviseLargeBuffer = AdviseLargeBuffer;
    engine.SetOptions(engineOptions);
    worker.AnyJpegNote = options.AnyJpeg ? nullptr : options.AnyJpegNote;
}

std::uint8_t LoadAndAnalyse(TFileWorker& worker, const std::string& path, TLoadedFile& loaded,
                            const TRunOptions& options, IRunView& view) {
    if (worker.FRotation.Options().AllowParallelCoding) {
        std::error_code unknown;
        const std::uintmax_t size = std::filesystem::file_size(path, unknown);
        if (!unknown) worker.FRotation.PrepareThreads(size);
    }
    LoadFile(path, worker.FSrcStream, loaded.Times, &loaded.Identity);
    TAnalysisOptions analysis;
    analysis.AllowBreakDCF = worker.FRotation.Options().AllowBreakDCF;
    analysis.ExifAnywhere = options.ExifAnywhere;
    analysis.FixMirrored = options.FixMirrored;
    const TAnalysis found = AnalysisData(worker.FSrcStream, analysis);
    ShowAnalysis(found, view);
    const std::uint8_t mode = found.Mode;
    if (options.ForcedMode) return *options.ForcedMode;
    if (mode == kModeNone && options.NoteLaterExif && !options.ExifAnywhere)
        loaded.LaterExifAsksTurn = LaterExifAsksTurn(worker.FSrcStream, options.FixMirrored);
    return mode;
}

namespace {

// A file that ends too early is a file error of the run, like one that
// cannot be read (TFileErrorRule); the engine leaves its report to the run.
TEngineResult EngineRefusal(const TFileWorker& worker) {
    if (worker.FRotation.LastPass().inputEnded) throw EStreamError(kStreamReadError);
    return TEngineResult::Refused;
}

}  // namespace

TEngineResult RunEngine(TFileWorker& worker, std::uint8_t mode, const TRunOptions& options) {
    const std::size_t errorsBefore = worker.EngineErrors;
    worker.FSrcStream.SetPosition(0);
    if (!worker.FRotation.ValidateJpeg(worker.FSrcStream)) return EngineRefusal(worker);
    if (options.EdgePolicy == epSkip && worker.FRotation.MovesPartialEdge(mode))
        return TEngineResult::Skipped;
    // A picture smaller than one MCU has no whole MCU to trim to: its padding
    // comes into view as under epMove, and gets the same warning. (jpegtran
    // leaves such an edge untransformed instead: the picture comes out
    // mirrored, not turned.)
    if (options.EdgePolicy == epTrim && worker.FRotation.ShowsPadding(mode))
        worker.FRotation.OnMessage(kMsgPartialMcu, kLevelWarning);
    // The output is about the input's size, a little more when tables are replaced.
    const std::size_t inputSize = worker.FSrcStream.Size();
    ReserveLargeBuffer(worker.FDstStream.Bytes(), inputSize + inputSize / 16 + 65536);
    if (!worker.FRotation.RotateJpeg(worker.FSrcStream, worker.FDstStream, mode))
        return EngineRefusal(worker);
    if (worker.EngineErrors != errorsBefore) return TEngineResult::Refused;
    return TEngineResult::Rotated;
}

bool NeedsEngine(std::uint8_t mode, const TRunOptions& options) {
    return mode != kModeNone || options.ForcedMode.has_value();
}

}  // namespace plume
