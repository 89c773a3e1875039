#include "app/run/ParallelRun.h"

#ifdef __linux__
#include <sched.h>
#endif

#include <algorithm>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <system_error>
#include <unordered_map>
#include <utility>

#include "app/files/SaveResult.h"
#include "app/run/RecordingView.h"

namespace plume {
namespace {

void FoldAsciiCase(std::string& text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
}

}  // namespace

// The cores this process may run on (taskset, cpusets), else all of them.
unsigned DefaultJobs() {
    unsigned cores = 0;
#ifdef __linux__
    cpu_set_t allowed;
    CPU_ZERO(&allowed);
    if (sched_getaffinity(0, sizeof allowed, &allowed) == 0)
        cores = static_cast<unsigned>(CPU_COUNT(&allowed));
#endif
    if (cores == 0) cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : std::min(cores, kMaxJobs);
}

std::string PathIdentity(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path absolute = fs::absolute(path, error);
    if (error) absolute = path;
    // A path none of whose parts exists comes back as given, so it is made
    // absolute first.
    fs::path resolved = fs::weakly_canonical(absolute, error);
    if (error) resolved = absolute.lexically_normal();
    std::string identity = resolved.string();
    FoldAsciiCase(identity);
    return identity;
}

std::vector<std::size_t> LoadDependencies(const std::vector<std::string>& files,
                                          const TRunOptions& options) {
    // The last file (plus 1) whose saving may write each path.
    std::unordered_map<std::string, std::size_t> lastWriter;
    std::string output;
    if (!options.OutputPath.empty()) output = PathIdentity(options.OutputPath);

    std::vector<std::size_t> waitFor(files.size(), 0);
    for (std::size_t index = 0; index < files.size(); ++index) {
        const std::string read = PathIdentity(files[index]);
        if (const auto found = lastWriter.find(read); found != lastWriter.end())
            waitFor[index] = found->second;
        if (!output.empty()) {
            // -o writes that file only; the input is never touched.
            lastWriter[output] = index + 1;
            continue;
        }
        // The save method is read when the file is saved, so every method counts.
        lastWriter[read] = index + 1;
        for (int method = 0; method < kSaveMethodCount; ++method) {
            const TSavePaths paths = SavePathsFor(method, files[index]);
            for (const std::string* written : {&paths.Output, &paths.KeptCopy})
                if (!written->empty()) lastWriter[PathIdentity(*written)] = index + 1;
        }
    }
    return waitFor;
}

// What the steps of one file left for the loop.
struct TParallelSteps::TPrepared {
    TLoadedFile Loaded;
    std::uint8_t Mode = kModeNone;
    std::vector<TViewCall> AnalysisCalls;
    std::exception_ptr AnalysisError;  // loading or analysis failed
    bool EngineRan = false;
    std::vector<TViewCall> EngineCalls;
    std::exception_ptr EngineError;
    TEngineResult EngineResult = TEngineResult::Refused;
    TMemoryStream Source;
    TMemoryStream Result;

    void Reset() {
        Loaded = {};
        Mode = kModeNone;
        AnalysisCalls.clear();
        AnalysisError = nullptr;
        EngineRan = false;
        EngineCalls.clear();
        EngineError = nullptr;
        EngineResult = TEngineResult::Refused;
    }
};

TParallelSteps::TParallelSteps(const std::vector<std::string>& files, const TRunOptions& options,
                               bool allowBreakDCF, IRunView& view, unsigned jobs)
    : files_(files),
      options_(options),
      allowBreakDCF_(allowBreakDCF),
      view_(view),
      window_(WindowFor(jobs)),
      waitFor_(LoadDependencies(files, options)) {
    threads_.reserve(jobs);
    try {
        for (unsigned i = 0; i < jobs; ++i) threads_.emplace_back([this] { WorkerLoop(); });
    } catch (...) {
        // No thread for them: the ones started are stopped before the error goes on.
        {
            const std::lock_guard lock(mutex_);
            stop_ = true;
        }
        workCv_.notify_all();
        for (std::thread& thread : threads_) thread.join();
        throw;
    }
}

TParallelSteps::~TParallelSteps() {
    {
        const std::lock_guard lock(mutex_);
        stop_ = true;
    }
    workCv_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

// Files are taken in list order, no further ahead of the loop than the
// window, and only once every earlier writer of the path is finished.
bool TParallelSteps::CanTake(std::size_t index) const {
    return index < finished_ + window_ && waitFor_[index] <= finished_;
}

void TParallelSteps::WorkerLoop() {
    try {
        Work();
    } catch (...) {
        // Only an allocation can fail outside a file's steps; the loop
        // rethrows it when it next waits, like a read error ending the run.
        const std::lock_guard lock(mutex_);
        if (!workerError_) workerError_ = std::current_exception();
        stop_ = true;
    }
    workCv_.notify_all();
    readyCv_.notify_all();
}

void TParallelSteps::Work() {
    TRecordingView recorder;
    TFileWorker worker(recorder);
    ConfigureEngine(worker, allowBreakDCF_, options_);
    // The workers already keep the cores busy with whole files.
    TEngineOptions engineOptions = worker.FRotation.Options();
    engineOptions.AllowParallelCoding = false;
    worker.FRotation.SetOptions(engineOptions);

    std::unique_lock lock(mutex_);
    for (;;) {
        workCv_.wait(lock, [this] { return stop_ || (next_ < files_.size() && CanTake(next_)); });
        if (stop_) return;
        const std::size_t index = next_++;
        std::unique_ptr<TPrepared> prepared;
        if (!spare_.empty()) {
            prepared = std::move(spare_.back());
            spare_.pop_back();
        }
        lock.unlock();
        if (!prepared) prepared = std::make_unique<TPrepared>();
        prepared->Reset();
        Prepare(worker, recorder, index, *prepared);
        lock.lock();
        ready_.emplace(index, std::move(prepared));
        readyCv_.notify_all();
    }
}

// The steps of the inline run, recorded; an error ends the file's steps
// where it arose, as it would end the run there.
void TParallelSteps::Prepare(TFileWorker& worker, TRecordingView& recorder, std::size_t index,
                             TPrepared& prepared) const {
    // The worker's streams trade places with the prepared ones: the loop
    // keeps the file's bytes while the worker goes on with the spare buffers.
    std::swap(worker.FSrcStream, prepared.Source);
    std::swap(worker.FDstStream, prepared.Result);
    recorder.Into(&prepared.AnalysisCalls);
    try {
        prepared.Mode =
            plume::LoadAndAnalyse(worker, files_[index], prepared.Loaded, options_, recorder);
        if (NeedsEngine(prepared.Mode, options_)) {
            prepared.EngineRan = true;
            recorder.Into(&prepared.EngineCalls);
            try {
                prepared.EngineResult = plume::RunEngine(worker, prepared.Mode, options_);
            } catch (...) {
                prepared.EngineError = std::current_exception();
            }
        }
    } catch (...) {
        prepared.AnalysisError = std::current_exception();
    }
    recorder.Into(nullptr);
    std::swap(worker.FSrcStream, prepared.Source);
    std::swap(worker.FDstStream, prepared.Result);
}

std::uint8_t TParallelSteps::LoadAndAnalyse(std::size_t index, TLoadedFile& loaded) {
    {
        std::unique_lock lock(mutex_);
        readyCv_.wait(lock, [&] { return ready_.count(index) != 0 || workerError_; });
        if (workerError_) std::rethrow_exception(workerError_);
        const auto found = ready_.find(index);
        current_ = std::move(found->second);
        ready_.erase(found);
    }
    Replay(current_->AnalysisCalls, view_);
    if (current_->AnalysisError) std::rethrow_exception(current_->AnalysisError);
    loaded = current_->Loaded;
    return current_->Mode;
}

TEngineResult TParallelSteps::RunEngine(std::size_t, std::uint8_t) {
    // The worker ran the engine by the same rule the loop asks it by.
    if (!current_ || !current_->EngineRan) throw std::logic_error("engine step not prepared");
    Replay(current_->EngineCalls, view_);
    if (current_->EngineError) std::rethrow_exception(current_->EngineError);
    return current_->EngineResult;
}

const TMemoryStream& TParallelSteps::Source(std::size_t) const {
    return current_->Source;
}

const TMemoryStream& TParallelSteps::Result(std::size_t) const {
    return current_->Result;
}

void TParallelSteps::Finished(std::size_t) {
    {
        const std::lock_guard lock(mutex_);
        if (current_) spare_.push_back(std::move(current_));
        ++finished_;
    }
    workCv_.notify_all();
}

}  // namespace plume
