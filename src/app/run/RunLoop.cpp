#include "app/run/RunLoop.h"

#include <algorithm>
#include <memory>
#include <new>
#include <utility>

#include "app/files/SaveResult.h"
#include "app/run/ParallelRun.h"
#include "app/texts/AppTexts.h"

namespace plume {

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

TRunner::TRunner(IRunView& view, const IRunChoices& choices)
    : FView(view), choices_(choices), FWorker(FView) {}

TRunSummary TRunner::DoOperation(std::vector<std::string> fileList) {
    TRunSummary summary;
    if (inRun_) return summary;
    inRun_ = true;
    FFileList = std::move(fileList);
    active_ = Options;

    FView.ClearPreview();
    // Fixed for the whole run; the analysis and the EXIF rewrite read it here.
    const bool allowBreakDCF = choices_.AllowBreakDCF();
    ConfigureEngine(FWorker, allowBreakDCF, active_);
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
            // Asked to stop at the first failure of any kind, refusals included.
            if (report.Failed && active_.OnFileError == TFileErrorRule::ReportAndEnd)
                FRunning = false;
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
    FView.StartFile();
    FView.SetFileCounter(FileCounterText(index + 1, FFileList.size()));
    FView.SetFileName(FileNamePart(path));
    // No picture of the file before shows while this one is handled.
    FView.ClearPreview();
    FView.SetStatus(kStatusAnalysing);
    FView.ProcessMessages();

    TLoadedFile loaded;
    const std::uint8_t mode = steps.LoadAndAnalyse(index, loaded);
    FView.SetStatus(StatusTextForMode(mode));
    FView.ProcessMessages();

    TFileOutcome outcome = TFileOutcome::NotNeeded;
    if (!FView.FileFailure().empty()) {
        // The analysis found no JPEG: that is its one outcome, nothing is
        // turned or stored.
        outcome = TFileOutcome::Refused;
    } else if (NeedsEngine(mode, active_)) {
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
    } else if (choices_.OperateAllFile()) {
        outcome = Store(steps.Source(index), path, loaded);
    }
    return {index,
            path,
            outcome,
            !FView.FileFailure().empty(),
            loaded.LaterExifAsksTurn,
            FirstLine(FView.FileFailure())};
}

TFileReport TRunner::ReportFileError(std::size_t index, const std::string& text) {
    FView.ShowError(text);
    return {index, FFileList[index], TFileOutcome::Error, true, false, FirstLine(text)};
}

// The save options are read now, for every file.
TFileOutcome TRunner::Store(const TMemoryStream& data, const std::string& path,
                            const TLoadedFile& loaded) {
    if (active_.DryRun) return TFileOutcome::WouldSave;
    const TSaveOptions options{choices_.SaveMethod(), choices_.KeepTimeStampCreate(),
                               choices_.KeepTimeStampWrite()};
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
        case TSaveOutcome::ReadOnlyInput:
            FView.ShowError(FormatPathText(kReadOnlyPhoto, saved.Path));
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
