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
// Threads: the run's loop, every view call, every option read and all saving
// happen on the caller's thread, in list order. The steps of one file that
// write nothing (loading, analysis, validation, rotation) are a TFileSteps:
// with TRunOptions::Jobs at 1 (the window) they run on the spot; with more,
// worker threads do them ahead of the loop and record what they show, and the
// loop replays the records where it would have made the calls itself (see
// ParallelRun.h). Either way the front end sees the same calls in the same
// order, and the same files are written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "BitStreamFile/MemoryStream.h"
#include "JpegRotation/JpegRotation.h"
#include "app/FileAccess.h"
#include "app/RunView.h"
#include "app/SaveResult.h"

namespace plume {

// The engine's three callbacks, shown through view. Level 2 appends a
// carriage return and "処理を行うことが出来ません。"; levels other than
// 0, 1 and 2 show nothing.
void ShowEngineMessage(IRunView& view, const std::string& text, int level);
void SetProgressMax(IRunView& view, int max);
void SetProgressPosition(IRunView& view, int position);

// Lbl_Status for a rotation mode.
const char* StatusTextForMode(std::uint8_t mode);

// What a turn does with an edge of the picture that ends inside an MCU when
// it carries that edge to the top or left side, where the encoder's padding
// would show. Stored as gEdgePolicy; an edge that stays at the right or
// bottom is turned whole under every policy.
enum : int {
    epMove = 0,  // turn whole MCUs, padding included, after the engine's warning
    epTrim = 1,  // drop that MCU column or row (TJpegRotation::TrimPartialEdges)
    epSkip = 2,  // leave the photo as it is
};
inline constexpr int kEdgePolicyCount = 3;

// What a stream error of one file does to the run.
enum class TFileErrorRule {
    EndRun,         // rethrown; the run ends (the window)
    ReportAndEnd,   // shown as the file's error; the run ends after the file
    ReportAndGoOn,  // shown as the file's error; the run goes on
};

// What a front end may ask of a run beyond the view's options; read once per run.
struct TRunOptions {
    // Look for the EXIF segment among all segments before the frame header.
    bool ExifAnywhere = false;
    // The console's --mode: the mode used after the analysis has run; the
    // engine then runs even for mode 0.
    std::optional<std::uint8_t> ForcedMode;
    // The console's -o: the result of the file is written here, with no
    // keep step, instead of by the save method.
    std::string OutputPath;
    // The console's --dry-run: every step of a file runs but storing it, so
    // nothing at all is written; a file that would be stored is reported as
    // TFileOutcome::WouldSave.
    bool DryRun = false;
    // Files prepared at once on worker threads; 1 keeps every step on the
    // caller's thread.
    unsigned Jobs = 1;
    TFileErrorRule OnFileError = TFileErrorRule::EndRun;
    // When the analysis finds no turn and ExifAnywhere is off, look whether
    // an EXIF APP1 later in the header asks for one (TFileReport::LaterExifAsksTurn).
    bool NoteLaterExif = false;
    // The mirrored orientations 2, 4, 5 and 7 are turned upright too.
    bool FixMirrored = false;
    int EdgePolicy = epMove;  // epMove, epTrim or epSkip
};

struct TRunSummary {
    std::size_t FileCount = 0;    // files handled (the cancelled rest not counted)
    std::size_t FailedCount = 0;  // of them, TFileReport::Failed
    bool Cancelled = false;
};

// What the steps that write nothing learn of a file besides its bytes.
struct TLoadedFile {
    TFileTimes Times;                // handed on to the output and the kept copies
    TFileIdentity Identity;          // the file as loaded: no other file at its path is replaced
    bool LaterExifAsksTurn = false;  // see TRunOptions::NoteLaterExif
};

// The engine and the two streams of one file's work, with the engine's
// callbacks bound to a view.
struct TFileWorker {
    explicit TFileWorker(IRunView& view);
    TFileWorker(const TFileWorker&) = delete;
    TFileWorker& operator=(const TFileWorker&) = delete;

    TJpegRotation FRotation;
    TMemoryStream FSrcStream;  // the whole input file
    TMemoryStream FDstStream;  // the engine's output
    // Level-2 reports of the engine and its bit streams so far. A pass during
    // which one arrived is failed whatever it returned: the bit stream's
    // report of a marker inside scan data lets decoding go on.
    std::size_t EngineErrors = 0;
};

// Forwards everything to a front end's view and counts the boxes that say a
// file failed: errors, and the plain box of the analysis ("not a JPEG").
class TTallyingView : public IRunView {
  public:
    explicit TTallyingView(IRunView& target) : target_(target) {}
    std::size_t FailureBoxes() const { return failureBoxes_; }

    void SetFileCounter(const std::string& text) override { target_.SetFileCounter(text); }
    void SetFileName(const std::string& name) override { target_.SetFileName(name); }
    void SetStatus(const std::string& text) override { target_.SetStatus(text); }
    void SetCancelCaption(const std::string& caption) override {
        target_.SetCancelCaption(caption);
    }
    void SetProgressMax(int max) override { target_.SetProgressMax(max); }
    void SetProgressPosition(int position) override { target_.SetProgressPosition(position); }
    void ShowPlainMessage(const std::string& text) override;
    void ShowWarning(const std::string& text) override { target_.ShowWarning(text); }
    void ShowError(const std::string& text) override;
    void ProcessMessages() override { target_.ProcessMessages(); }
    void FileStarted(const std::string& path) override { target_.FileStarted(path); }
    void ClearPreview() override { target_.ClearPreview(); }
    void ShowPreview(const std::vector<std::uint8_t>& jpeg) override { target_.ShowPreview(jpeg); }
    bool AllowBreakDCF() const override { return target_.AllowBreakDCF(); }
    bool OperateAllFile() const override { return target_.OperateAllFile(); }
    int SaveMethod() const override { return target_.SaveMethod(); }
    bool KeepTimeStampCreate() const override { return target_.KeepTimeStampCreate(); }
    bool KeepTimeStampWrite() const override { return target_.KeepTimeStampWrite(); }
    void FileFinished(const TFileReport& report) override { target_.FileFinished(report); }

  private:
    IRunView& target_;
    std::size_t failureBoxes_ = 0;
};

// What became of a file the engine ran for.
enum class TEngineResult {
    Rotated,  // the result may be stored
    Refused,  // a pass failed, or reported an error
    Skipped,  // the edge policy leaves it alone; ValidateJpeg alone ran
};

// Sets the engine options that a run fixes from its start.
void ConfigureEngine(TJpegRotation& engine, bool allowBreakDCF, const TRunOptions& options);

// The steps of one file that write nothing, on any thread: they touch only
// worker and report only through view. LoadAndAnalyse reads the file's times,
// identity and bytes into loaded and worker.FSrcStream and returns the mode to use (the forced
// one when the options force one); it throws what loading and the analysis
// throw. RunEngine validates and rotates into worker.FDstStream, unless the
// edge policy skips the file.
std::uint8_t LoadAndAnalyse(TFileWorker& worker, const std::string& path, TLoadedFile& loaded,
                            const TRunOptions& options, IRunView& view);
TEngineResult RunEngine(TFileWorker& worker, std::uint8_t mode, const TRunOptions& options);
// Whether the engine runs for a file whose mode LoadAndAnalyse returned.
bool NeedsEngine(std::uint8_t mode, const TRunOptions& options);

// Where the run's loop gets the steps of its files done that write nothing.
// The loop calls them in list order, each file's at most once, on its own
// thread; what they show reaches the run's view during the call.
class TFileSteps {
  public:
    virtual ~TFileSteps() = default;
    virtual std::uint8_t LoadAndAnalyse(std::size_t index, TLoadedFile& loaded) = 0;
    // Called only when NeedsEngine says so for the mode returned above.
    virtual TEngineResult RunEngine(std::size_t index, std::uint8_t mode) = 0;
    // The input as the analysis left it, and the engine's result.
    virtual const TMemoryStream& Source(std::size_t index) const = 0;
    virtual const TMemoryStream& Result(std::size_t index) const = 0;
    // The loop is done with the file: stored, or left as it was.
    virtual void Finished(std::size_t index) { (void)index; }
};

class TRunner {
  public:
    explicit TRunner(IRunView& view);

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
    TFileWorker FWorker;
    TRunOptions active_;  // Options as the run started
    std::vector<std::string> FFileList;
    bool FRunning = false;  // true while the run may go on
    bool inRun_ = false;    // inside DoOperation
};

}  // namespace plume
