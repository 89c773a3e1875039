#include "app/RunLoop.h"

#include <utility>

#include "BitStreamFile/MessageEvent.h"
#include "app/AppTexts.h"
#include "app/ExifAnalysis.h"

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

TRunner::TRunner(IRunView& view) : FView(view), FWorker(FView) {}

TRunSummary TRunner::DoOperation(std::vector<std::string> fileList) {
    TRunSummary summary;
    if (inRun_) return summary;
    inRun_ = true;
    FFileList = std::move(fileList);
    active_ = Options;

    FView.ClearPreview();
    // Fixed for the whole run; the analysis and the EXIF rewrite read it here.
    FWorker.FRotation.AllowBreakDCF = FView.AllowBreakDCF();
    FRunning = true;
    FView.SetCancelCaption(kCaptionCancel);

    const std::size_t count = FFileList.size();
    try {
        for (std::size_t index = 0; index < count; ++index) {
            const TFileReport report = HandleFile(index);
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

TFileReport TRunner::HandleFile(std::size_t index) {
    const std::string& path = FFileList[index];
    FView.SetFileCounter(FileCounterText(index + 1, FFileList.size()));
    FView.SetFileName(FileNamePart(path));
    FView.SetStatus(kStatusAnalysing);
    FView.ProcessMessages();

    const std::size_t boxesBefore = FView.FailureBoxes();
    TFileTimes times;
    std::uint8_t mode = LoadAndAnalyse(FWorker, path, times, FView);
    if (active_.ForcedMode) mode = *active_.ForcedMode;
    FView.SetStatus(StatusTextForMode(mode));
    FView.ProcessMessages();

    TFileOutcome outcome = TFileOutcome::NotNeeded;
    if (mode != kModeNone || active_.ForcedMode) {
        outcome = RunEngine(FWorker, mode) ? Store(FWorker.FDstStream, path, times)
                                           : TFileOutcome::Refused;
    } else if (FView.OperateAllFile()) {
        outcome = Store(FWorker.FSrcStream, path, times);
    }
    return {index, path, outcome, FView.FailureBoxes() != boxesBefore};
}

// Reads the file's times and bytes into the worker's source stream and asks
// the analysis for the mode, which may reset orientation values in place.
std::uint8_t TRunner::LoadAndAnalyse(TFileWorker& worker, const std::string& path,
                                     TFileTimes& times, IRunView& view) const {
    LoadFile(path, worker.FSrcStream, times);
    std::uint8_t mode = kModeNone;
    const TAnalysisOptions options{worker.FRotation.AllowBreakDCF, active_.ExifAnywhere};
    AnalysisData(worker.FSrcStream, mode, options, view);
    return mode;
}

// Validation and the rotate-and-write pass; true when FDstStream holds a
// result that may be stored.
bool TRunner::RunEngine(TFileWorker& worker, std::uint8_t mode) {
    const std::size_t errorsBefore = worker.EngineErrors;
    worker.FSrcStream.SetPosition(0);
    if (!worker.FRotation.ValidateJpeg(worker.FSrcStream)) return false;
    if (!worker.FRotation.RotateJpeg(worker.FSrcStream, worker.FDstStream, mode)) return false;
    return worker.EngineErrors == errorsBefore;
}

// The save options are read now, for every file.
TFileOutcome TRunner::Store(const TMemoryStream& data, const std::string& path,
                            const TFileTimes& times) {
    const TSaveOptions options{FView.SaveMethod(), FView.KeepTimeStampCreate(),
                               FView.KeepTimeStampWrite()};
    if (!active_.OutputPath.empty()) {
        WriteResultFile(data, active_.OutputPath, times, options);
        return TFileOutcome::Saved;
    }
    if (SaveResult(data, path, times, options) == TSaveOutcome::Saved) return TFileOutcome::Saved;
    FView.ShowError(FormatPathText(kKeepStepFailed, path));
    return TFileOutcome::KeepFailed;
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
