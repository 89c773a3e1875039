#include "app/RunLoop.h"

#include <algorithm>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>
#include <utility>

#include "BitStreamFile/MessageEvent.h"
#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/metadata/TiffLayout.h"
#include "app/AppTexts.h"
#include "app/ExifAnalysis.h"
#include "app/FileAccess.h"
#include "app/ParallelRun.h"

namespace plume {

void ShowEngineMessage(IRunView& view, const std::string& text, int level) {
    switch (level) {
        case kLevelInfo:
            view.ShowPlainMessage(text);
            break;
        case kLevelWarning:
            view.ShowWarning(text);
            break;
        case kLevelError:
            view.ShowError(text + "\r" + kCannotProcessLine);
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

const char* StatusTextForMode(std::uint8_t mode) {
    switch (mode) {
        case kModeRotateRight:
            return kStatusRotateRight;
        case kModeRotateLeft:
            return kStatusRotateLeft;
        case kModeRotate180:
            return kStatusRotate180;
        case kModeFlipHorizontal:
            return kStatusFlipHorizontal;
        case kModeFlipVertical:
            return kStatusFlipVertical;
        case kModeTranspose:
            return kStatusTranspose;
        case kModeTransverse:
            return kStatusTransverse;
        default:
            return kStatusNothingToDo;
    }
}

void TTallyingView::ShowPlainMessage(const std::string& text) {
    ++failureBoxes_;
    target_.ShowPlainMessage(text);
}

void TTallyingView::ShowError(const std::string& text) {
    ++failureBoxes_;
    target_.ShowError(text);
}

TFileWorker::TFileWorker(IRunView& view) {
    FRotation.OnMessage = [this, &view](const std::string& text, int level) {
        if (level == kLevelError) ++EngineErrors;
        ShowEngineMessage(view, text, level);
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
// resets in place the orientation it acts on), silently.
bool LaterExifAsksTurn(const TMemoryStream& stream, bool fixMirrored) {
    const std::vector<std::uint8_t>& bytes = stream.Bytes();
    if (ExifFollowsSoi(bytes)) return false;  // read already: there is no other
    const auto head = static_cast<std::ptrdiff_t>(std::min(bytes.size(), kLaterExifSearchBytes));
    TMemoryStream copy(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + head));
    TSilentView silent;
    std::uint8_t mode = kModeNone;
    TAnalysisOptions anywhere;
    anywhere.ExifAnywhere = true;
    anywhere.FixMirrored = fixMirrored;
    try {
        AnalysisData(copy, mode, anywhere, silent);
    } catch (const EStreamError&) {
        return false;  // an EXIF segment cut off by the head, or by the file's end
    }
    return mode != kModeNone;
}

}  // namespace

void ConfigureEngine(TJpegRotation& engine, bool allowBreakDCF, const TRunOptions& options) {
    TEngineOptions engineOptions = engine.Options();
    engineOptions.AllowBreakDCF = allowBreakDCF;
    engineOptions.TrimPartialEdges = options.EdgePolicy == epTrim;
    // The warning says the edges will not come out right, which holds only
    // when they are moved as they are; trimming and skipping say otherwise.
    engineOptions.WarnPartialMcu = options.EdgePolicy == epMove;
    engine.SetOptions(engineOptions);
}

std::uint8_t LoadAndAnalyse(TFileWorker& worker, const std::string& path, TLoadedFile& loaded,
                            const TRunOptions& options, IRunView& view) {
    if (worker.FRotation.Options().AllowParallelCoding) {
        std::error_code unknown;
        const std::uintmax_t size = std::filesystem::file_size(path, unknown);
        if (!unknown) worker.FRotation.PrepareThreads(size);
    }
    LoadFile(path, worker.FSrcStream, loaded.Times, &loaded.Identity);
    std::uint8_t mode = kModeNone;
    TAnalysisOptions analysis;
    analysis.AllowBreakDCF = worker.FRotation.Options().AllowBreakDCF;
    analysis.ExifAnywhere = options.ExifAnywhere;
    analysis.FixMirrored = options.FixMirrored;
    AnalysisData(worker.FSrcStream, mode, analysis, view);
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

namespace {

// The steps done on the spot, by the runner's own worker, showing through the
// run's view as they go.
class TInlineSteps : public TFileSteps {
  public:
    TInlineSteps(TFileWorker& worker, const std::vector<std::string>& files,
                 const TRunOptions& options, IRunView& view)
        : worker_(worker), files_(files), options_(options), view_(view) {}

    std::uint8_t LoadAndAnalyse(std::size_t index, TLoadedFile& loaded) override {
        return plume::LoadAndAnalyse(worker_, files_[index], loaded, options_, view_);
    }
    TEngineResult RunEngine(std::size_t, std::uint8_t mode) override {
        return plume::RunEngine(worker_, mode, options_);
    }
    const TMemoryStream& Source(std::size_t) const override { return worker_.FSrcStream; }
    const TMemoryStream& Result(std::size_t) const override { return worker_.FDstStream; }

  private:
    TFileWorker& worker_;
    const std::vector<std::string>& files_;
    const TRunOptions& options_;
    IRunView& view_;
};

}  // namespace

TRunner::TRunner(IRunView& view) : FView(view), FWorker(FView) {}

TRunSummary TRunner::DoOperation(std::vector<std::string> fileList) {
    TRunSummary summary;
    if (inRun_) return summary;
    inRun_ = true;
    FFileList = std::move(fileList);
    active_ = Options;

    FView.ClearPreview();
    // Fixed for the whole run; the analysis and the EXIF rewrite read it here.
    const bool allowBreakDCF = FView.AllowBreakDCF();
    ConfigureEngine(FWorker.FRotation, allowBreakDCF, active_);
    FRunning = true;
    FView.SetCancelCaption(kCaptionCancel);

    const std::size_t count = FFileList.size();
    try {
        // Workers only pay when there are files for more than one.
        const std::size_t jobs = std::min<std::size_t>(active_.Jobs, count);
        std::unique_ptr<TFileSteps> steps;
        if (jobs > 1)
            steps = std::make_unique<TParallelSteps>(FFileList, active_, allowBreakDCF, FView,
                                                     static_cast<unsigned>(jobs));
        else
            steps = std::make_unique<TInlineSteps>(FWorker, FFileList, active_, FView);
        for (std::size_t index = 0; index < count; ++index) {
            TFileReport report;
            try {
                report = HandleFile(index, *steps);
            } catch (const EFileTooLarge& error) {
                report = ReportFileError(index, error.what());
            } catch (const std::bad_alloc&) {
                report = ReportFileError(index, FormatPathText(kOutOfMemory, FFileList[index]));
            } catch (const EStreamError& error) {
                if (active_.OnFileError == TFileErrorRule::EndRun) throw;
                report = ReportFileError(index, error.what());
            }
            steps->Finished(index);
            ++summary.FileCount;
            if (report.Failed) ++summary.FailedCount;
            FView.FileFinished(report);
            if (!FRunning) break;
        }
    } catch (...) {
        // The error ends the run like a cancel; the front end shows it.
        FRunning = false;
        EndRun();
        throw;
    }
    summary.Cancelled = !FRunning;
    EndRun();
    return summary;
}

bool TRunner::CancelRun() {
    if (!FRunning) return false;
    FRunning = false;
    FView.SetCancelCaption(kCaptionClose);
    return true;
}

TFileReport TRunner::HandleFile(std::size_t index, TFileSteps& steps) {
    const std::string& path = FFileList[index];
    FView.FileStarted(path);
    FView.SetFileCounter(FileCounterText(index + 1, FFileList.size()));
    FView.SetFileName(FileNamePart(path));
    FView.SetStatus(kStatusAnalysing);
    FView.ProcessMessages();

    const std::size_t boxesBefore = FView.FailureBoxes();
    TLoadedFile loaded;
    const std::uint8_t mode = steps.LoadAndAnalyse(index, loaded);
    FView.SetStatus(StatusTextForMode(mode));
    FView.ProcessMessages();

    TFileOutcome outcome = TFileOutcome::NotNeeded;
    if (NeedsEngine(mode, active_)) {
        switch (steps.RunEngine(index, mode)) {
            case TEngineResult::Rotated:
                outcome = Store(steps.Result(index), path, loaded);
                break;
            case TEngineResult::Refused:
                outcome = TFileOutcome::Refused;
                break;
            case TEngineResult::Skipped:
                // Not even stored unchanged: the analysis has already set
                // its orientation upright in memory.
                FView.SetStatus(kStatusSkippedPartialEdge);
                outcome = TFileOutcome::Skipped;
                break;
        }
    } else if (FView.OperateAllFile()) {
        outcome = Store(steps.Source(index), path, loaded);
    }
    return {index, path, outcome, FView.FailureBoxes() != boxesBefore, loaded.LaterExifAsksTurn};
}

TFileReport TRunner::ReportFileError(std::size_t index, const std::string& text) {
    FView.ShowError(text);
    if (active_.OnFileError == TFileErrorRule::ReportAndEnd) FRunning = false;
    return {index, FFileList[index], TFileOutcome::Error, true, false};
}

// The save options are read now, for every file.
TFileOutcome TRunner::Store(const TMemoryStream& data, const std::string& path,
                            const TLoadedFile& loaded) {
    if (active_.DryRun) return TFileOutcome::WouldSave;
    const TSaveOptions options{FView.SaveMethod(), FView.KeepTimeStampCreate(),
                               FView.KeepTimeStampWrite()};
    const TSaveResult saved =
        active_.OutputPath.empty()
            ? SaveResult(data, path, loaded.Times, options, loaded.Identity)
            : WriteOutputFile(data, active_.OutputPath, loaded.Times, options, loaded.Identity);
    switch (saved.Outcome) {
        case TSaveOutcome::Saved:
            return TFileOutcome::Saved;
        case TSaveOutcome::InputChanged:
            FView.ShowError(FormatPathText(kInputChanged, path));
            return TFileOutcome::InputChanged;
        case TSaveOutcome::KeptCopyNameTaken:
            FView.ShowError(FormatPathText(kKeepStepFailed, path) + "\r" +
                            FormatPathText(kKeptCopyNameTaken, saved.Path));
            return TFileOutcome::KeepFailed;
        case TSaveOutcome::KeepFailed:
            FView.ShowError(FormatPathText(kKeepStepFailed, path));
            return TFileOutcome::KeepFailed;
        case TSaveOutcome::NotRegularFile:
            FView.ShowError(FormatPathText(kNotRegularFile, saved.Path));
            break;
        case TSaveOutcome::UntrustedLink:
            FView.ShowError(FormatPathText(kUntrustedLink, saved.Path));
            break;
        case TSaveOutcome::UntrustedFolder:
            FView.ShowError(FormatPathText(kUntrustedFolder, saved.Path));
            break;
        case TSaveOutcome::OutputIsInput:
            FView.ShowError(FormatPathsText(kOutputIsInput, saved.Path, path));
            break;
    }
    return TFileOutcome::SaveRefused;
}

void TRunner::EndRun() {
    FView.SetFileName("");
    FView.SetStatus(FRunning ? kStatusCompleted : kStatusInterrupted);
    FView.SetCancelCaption(kCaptionClose);
    FRunning = false;
    FView.SetProgressPosition(0);
    inRun_ = false;
}

}  // namespace plume
