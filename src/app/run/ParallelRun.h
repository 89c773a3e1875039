// The steps of a run's files that write nothing (loading, analysis,
// validation, rotation), done by worker threads ahead of the run's loop.
//
// Each worker has its own engine and streams and a view that records what
// the steps show (boxes, preview, progress) instead of showing it. The loop
// stays on the caller's thread: when it reaches a file it takes that file's
// prepared result, replays the records into the run's view at the point where
// the steps would have shown them, rethrows a load or read error there, and
// saves. So the front end sees the calls of a one-at-a-time run, in the same
// order, and the stop rules stay those of the loop: a cancel or an error ends
// the run at the file the loop is on, whatever the workers did ahead of it
// (their results are dropped; they never write).
//
// Bounds: at most Jobs + 1 files are held at once (the one the loop is on and
// one per worker); the workers take files in list order.
//
// Files that meet: saving a file writes its own path, its "result" and
// "original" copies, its ".bak" name (or the -o file). A worker does not load
// a path that an earlier file of the list may write until the loop has
// finished that earlier file, so a file listed twice, or listed beside its
// own result, is read as the earlier save left it. Paths are compared after
// resolving links, "." and "..", and regardless of letter case (which costs
// at most a wait).
//
// Options: the steps read none but AllowBreakDCF and the run options, which
// are fixed per run. The options the loop reads per file (OperateAllFile, the
// save method and the time stamps) are still read by the loop, at the
// moments it reads them.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/run/FileSteps.h"
#include "app/run/RunOptions.h"
#include "app/run/RunView.h"

namespace plume {

// Files prepared at once: at most this many, and by default one per core the
// process may use.
inline constexpr unsigned kMaxJobs = 256;
unsigned DefaultJobs();

// Normalised form of a path for telling whether two paths name the same
// file: absolute, links of its existing part resolved, "." and ".." removed,
// ASCII letters in lower case.
std::string PathIdentity(const std::string& path);

// For each file of the list, 1 + the index of the last earlier file whose
// saving may write the path it reads, or 0: file k may be loaded once the
// loop has finished the first Dependency[k] files.
std::vector<std::size_t> LoadDependencies(const std::vector<std::string>& files,
                                          const TRunOptions& options);

class TRecordingView;

class TParallelSteps : public TFileSteps {
  public:
    // Starts jobs workers over files (which must outlive this object);
    // replays into view, which only the caller's thread touches.
    TParallelSteps(const std::vector<std::string>& files, const TRunOptions& options,
                   bool allowBreakDCF, IRunView& view, unsigned jobs);
    // Stops the workers once their current file is done; prepared results
    // that the loop did not take are dropped.
    ~TParallelSteps() override;
    TParallelSteps(const TParallelSteps&) = delete;
    TParallelSteps& operator=(const TParallelSteps&) = delete;

    // Files read, prepared or waiting to be saved at once: enough that no
    // worker waits for the loop while it saves, few enough to bound memory.
    static constexpr std::size_t WindowFor(unsigned jobs) { return 2 * std::size_t{jobs} + 1; }

    std::uint8_t LoadAndAnalyse(std::size_t index, TLoadedFile& loaded) override;
    TEngineResult RunEngine(std::size_t index, std::uint8_t mode) override;
    const TMemoryStream& Source(std::size_t index) const override;
    const TMemoryStream& Result(std::size_t index) const override;
    void Finished(std::size_t index) override;

  private:
    struct TPrepared;

    void WorkerLoop();
    void Work();
    void Prepare(TFileWorker& worker, TRecordingView& recorder, std::size_t index,
                 TPrepared& prepared) const;
    bool CanTake(std::size_t index) const;

    const std::vector<std::string>& files_;
    const TRunOptions options_;
    const bool allowBreakDCF_;
    IRunView& view_;
    const std::size_t window_;                // files held at once
    const std::vector<std::size_t> waitFor_;  // LoadDependencies

    std::mutex mutex_;
    std::condition_variable workCv_;   // a file may be taken, or stop
    std::condition_variable readyCv_;  // a prepared file arrived
    std::size_t next_ = 0;             // first file no worker has taken
    std::size_t finished_ = 0;         // files the loop is done with
    bool stop_ = false;
    std::exception_ptr workerError_;  // a worker failed outside a file's steps
    std::map<std::size_t, std::unique_ptr<TPrepared>> ready_;
    std::vector<std::unique_ptr<TPrepared>> spare_;  // done with; their streams are reused

    std::unique_ptr<TPrepared> current_;  // the file the loop is on
    std::vector<std::thread> threads_;
};

}  // namespace plume
