// The batch run: every path of the list in turn is loaded, analysed for its
// EXIF orientation, turned by the engine when it needs it, and stored by the
// save method, with the status shown through the front end's view.
//
// Errors: a file the engine refuses, whose input cannot be kept, whose save
// is refused, that is too large or whose handling runs out of memory is
// reported in a box and the run goes on (under ReportAndEnd, it ends after
// that file). A stream error (a path that cannot
// be opened or read, an output that cannot be written) is handled by the
// run's TFileErrorRule. The window's rule ends the run: the view's texts are
// put back as after a cancelled run ("処理を中断しました", empty file name,
// "閉じる", progress 0) and the EStreamError is rethrown for the front end
// to show (the window's general error handler). The console shows it as the
// file's error box instead and goes on with the next file, or ends the run
// after it.
//
// Threads: the run's loop, every view call, every choice read and all saving
// happen on the caller's thread, in list order. The steps of one file that
// write nothing (loading, analysis, validation, rotation) are a TFileSteps
// (FileSteps.h): with TRunOptions::Jobs at 1 they run on the spot; with more
// (both front ends use one per core), worker threads do them ahead of the
// loop and record what they show, and the loop replays the records where it
// would have made the calls itself (ParallelRun.h). Either way the front end
// sees the same calls in the same order, and the same files are written.
//
// One photo's road: TRunner::HandleFile shows its counter and name, gets its
// steps done (FileSteps: load, analyse, validate, turn), then Store keeps and
// writes it by the save method (files/SaveResult.h), and FileFinished reports
// the outcome.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "BitStreamFile/MemoryStream.h"
#include "app/run/FileSteps.h"
#include "app/run/RunOptions.h"
#include "app/run/RunView.h"
#include "app/run/TallyingView.h"

namespace plume {

// Lbl_Status for a rotation mode.
const char* StatusTextForMode(std::uint8_t mode);

struct TRunSummary {
    std::size_t FileCount = 0;    // files handled (the cancelled rest not counted)
    std::size_t FailedCount = 0;  // of them, TFileReport::Failed
    bool Cancelled = false;
};

class TRunner {
  public:
    // view shows the run; choices are read as the run uses them.
    TRunner(IRunView& view, const IRunChoices& choices);

    // One run over fileList (DoOperation). Ignored, with an empty summary,
    // while a run is going on (a drop delivered at a pumping point): the list
    // belongs to the running loop. Throws EStreamError as described above.
    TRunSummary DoOperation(std::vector<std::string> fileList);

    // Btn_CancelClick: during a run that is not yet cancelled, stops it after
    // the current file, turns the caption to "閉じる" and returns true. Else
    // returns false: the window then closes.
    bool CancelRun();
    // FormCloseQuery: a close request lets the run go on to its last file.
    void CloseQuery() { FRunning = true; }

    bool InRun() const { return inRun_; }
    bool Running() const { return FRunning; }
    const std::vector<std::string>& FileList() const { return FFileList; }

    TRunOptions Options;

  private:
    // Steps of one file; see the .cpp.
    TFileReport HandleFile(std::size_t index, TFileSteps& steps);
    TFileOutcome Store(const TMemoryStream& data, const std::string& path,
                       const TLoadedFile& loaded);
    // An error of the file at index (a stream error, a file too large, no
    // memory), shown as its error box; the run ends after it under
    // ReportAndEnd.
    TFileReport ReportFileError(std::size_t index, const std::string& text);
    void EndRun();

    TTallyingView FView;
    const IRunChoices& choices_;
    TFileWorker FWorker;
    TRunOptions active_;  // Options as the run started
    std::vector<std::string> FFileList;
    bool FRunning = false;  // true while the run may go on
    bool inRun_ = false;    // inside DoOperation
};

}  // namespace plume
