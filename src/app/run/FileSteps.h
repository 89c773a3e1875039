// The steps of one file that write nothing: loading, analysis, validation
// and the turn. They run on any thread, touch only their worker and report
// only through the view they are given; the run's loop stores the result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "BitStreamFile/MemoryStream.h"
#include "JpegRotation/JpegRotation.h"
#include "app/files/FileAccess.h"
#include "app/run/RunOptions.h"
#include "app/run/RunView.h"

namespace plume {

// The engine's three callbacks, shown through view. Level 2 appends a
// carriage return and "処理を行うことが出来ません。", and `note` on a line
// of its own when given; levels other than 0, 1 and 2 show nothing.
void ShowEngineMessage(IRunView& view, const std::string& text, int level,
                       const char* note = nullptr);
void SetProgressMax(IRunView& view, int max);
void SetProgressPosition(IRunView& view, int position);

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
    // TRunOptions::AnyJpegNote, for the refusals of the files AnyJpeg would take.
    const char* AnyJpegNote = nullptr;
};

// What became of a file the engine ran for.
enum class TEngineResult {
    Rotated,  // the result may be stored
    Refused,  // a pass failed, or reported an error
    Skipped,  // the edge policy leaves it alone; ValidateJpeg alone ran
};

// Sets the engine options that a run fixes from its start.
void ConfigureEngine(TFileWorker& worker, bool allowBreakDCF, const TRunOptions& options);

// LoadAndAnalyse reads the file's times, identity and bytes into loaded and
// worker.FSrcStream, shows what the analysis found (the "not a JPEG" box, an
// unreadable orientation, the thumbnail) and returns the mode to use (the
// forced one when the options force one); it throws what loading and the
// analysis throw. RunEngine validates and rotates into worker.FDstStream,
// unless the edge policy skips the file.
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

// The steps done on the spot, by one worker, showing through the run's view
// as they go (a run of one job).
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

}  // namespace plume
