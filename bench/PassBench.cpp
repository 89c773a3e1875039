// What each scan pass and each thread scheme buys over the index pass, on
// the bench photos: every one of them alone, on one thread and on every
// core, the files read into memory first and each turned as the console
// turns it (both passes), the time a median over several runs.
//
//   plume-bench-passes [--runs N] PHOTO CAMERA BATCH_DIR
//
// Cases: the photo (no restart markers) in modes 1, 2, 3 and 0, the camera
// photo (a restart interval of one MCU row) in modes 1, 2 and 3, and the
// batch, each of its photos turned as its EXIF orientation says, as many at
// once as there are cores, each on one thread (threads inside a file are
// off in a batch). The gain is 1 - time / time of the index pass on one
// thread, in wall and CPU time; "-" where the configuration's pass takes no
// photo of the case.
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "BitStreamFile/MemoryStream.h"
#include "JpegRotation/JpegRotation.h"
#include "app/analysis/ExifAnalysis.h"
#include "fixtures/TempDir.h"

namespace {

using namespace plume;
using fixtures::TBytes;

// One way to run the scan stage: the passes and schemes it may use.
struct TConfig {
    const char* name;
    TScanSchemes schemes;
    bool threads;
    // The pass it measures, when it must run for the case to count.
    bool (*takes)(TScanPass pass);
};

TScanSchemes Only(std::initializer_list<bool TScanSchemes::*> on) {
    TScanSchemes schemes;
    schemes = {false, false, false, false, false, false, false};
    for (bool TScanSchemes::*scheme : on) schemes.*scheme = true;
    return schemes;
}

bool AnyPass(TScanPass) {
    return true;
}
bool IndexPass(TScanPass pass) {
    return pass == TScanPass::Index;
}
bool CopyPass(TScanPass pass) {
    return pass == TScanPass::Copy;
}
bool IntervalPass(TScanPass pass) {
    return pass == TScanPass::IntervalsHeld || pass == TScanPass::IntervalsWalked;
}
bool WalkPass(TScanPass pass) {
    return pass == TScanPass::IntervalsWalked;
}
bool HalfTurnPass(TScanPass pass) {
    return pass == TScanPass::HalfTurnOnce;
}

const TConfig kConfigs[] = {
    {"index, one thread", Only({}), false, IndexPass},
    {"copy", Only({&TScanSchemes::copy}), false, CopyPass},
    {"intervals", Only({&TScanSchemes::intervalPass}), false, IntervalPass},
    {"half turn once", Only({&TScanSchemes::halfTurnOnce}), false, HalfTurnPass},
    {"speculative index", Only({&TScanSchemes::speculativeIndex}), true, IndexPass},
    {"parted output", Only({&TScanSchemes::partedOutput}), true, IndexPass},
    {"walk ranges", Only({&TScanSchemes::intervalPass, &TScanSchemes::walkRanges}), true, WalkPass},
    {"half-turn lanes", Only({&TScanSchemes::halfTurnOnce, &TScanSchemes::halfTurnLanes}), true,
     HalfTurnPass},
    {"all, one thread", TScanSchemes{}, false, AnyPass},
    {"all, every core", TScanSchemes{}, true, AnyPass},
};

struct TFile {
    TBytes jpeg;
    std::uint8_t mode;
};

struct TTiming {
    double wall = 0, cpu = 0;
    bool taken = false;  // the configuration's pass took a file
};

double ProcessCpu() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Turns the files, `workers` at once, each engine set by the configuration.
TTiming Run(const std::vector<TFile>& files, const TConfig& config, unsigned workers) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> taken{false}, failed{false};
    const auto work = [&] {
        TJpegRotation engine;
        TEngineOptions options;
        options.AllowParallelCoding = config.threads && workers == 1;
        options.Schemes = config.schemes;
        engine.SetOptions(options);
        TMemoryStream output;
        for (std::size_t i; (i = next.fetch_add(1)) < files.size();) {
            // As the console does before it reads a file.
            if (options.AllowParallelCoding) engine.PrepareThreads(files[i].jpeg.size());
            TMemoryStream input(files[i].jpeg);
            if (!engine.ValidateJpeg(input) || !engine.RotateJpeg(input, output, files[i].mode))
                failed = true;
            if (config.takes(engine.LastPass().pass)) taken = true;
        }
    };
    const double wall = Now(), cpu = ProcessCpu();
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < workers; ++t) threads.emplace_back(work);
    work();
    for (std::thread& thread : threads) thread.join();
    if (failed) {
        std::fprintf(stderr, "the engine refused a bench photo\n");
        std::exit(1);
    }
    return {Now() - wall, ProcessCpu() - cpu, taken};
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// A batch photo as the console hands it to the engine: its mode and its
// bytes as the analysis leaves them (the orientation already upright).
TFile Analysed(TBytes jpeg) {
    TMemoryStream stream(std::move(jpeg));
    TAnalysisOptions options;
    options.ExifAnywhere = true;  // the console's default
    const std::uint8_t mode = AnalysisData(stream, options).Mode;
    return {std::move(stream.Bytes()), mode};
}

struct TCase {
    std::string name;
    std::vector<TFile> files;
    unsigned workers;
};

void Measure(const TCase& c, int runs) {
    std::vector<std::vector<double>> walls(std::size(kConfigs)), cpus(std::size(kConfigs));
    std::vector<bool> taken(std::size(kConfigs), false);
    // The configurations in turn within each run, so that a change of the
    // machine's load meets them all alike.
    for (int run = 0; run < runs; ++run)
        for (std::size_t k = 0; k < std::size(kConfigs); ++k) {
            if (c.workers > 1 && kConfigs[k].threads) continue;
            const TTiming timing = Run(c.files, kConfigs[k], c.workers);
            walls[k].push_back(timing.wall);
            cpus[k].push_back(timing.cpu);
            taken[k] = taken[k] || timing.taken;
        }
    const double wall0 = Median(walls[0]), cpu0 = Median(cpus[0]);
    std::printf("%s\n", c.name.c_str());
    for (std::size_t k = 0; k < std::size(kConfigs); ++k) {
        if (c.workers > 1 && kConfigs[k].threads) {
            std::printf("  %-20s %s\n", kConfigs[k].name, "threads off in a batch");
            continue;
        }
        if (!taken[k]) {
            std::printf("  %-20s %8s\n", kConfigs[k].name, "-");
            continue;
        }
        const double wall = Median(walls[k]), cpu = Median(cpus[k]);
        std::printf("  %-20s %8.3f %8.3f %+7.1f%% %+7.1f%%\n", kConfigs[k].name, wall, cpu,
                    100 * (1 - wall / wall0), 100 * (1 - cpu / cpu0));
    }
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 7;
    int first = 1;
    if (argc > 2 && std::string(argv[1]) == "--runs") {
        runs = std::max(1, std::atoi(argv[2]));
        first = 3;
    }
    if (argc - first != 3) {
        std::fprintf(stderr, "usage: plume-bench-passes [--runs N] PHOTO CAMERA BATCH_DIR\n");
        return 2;
    }
    const TBytes photo = fixtures::ReadFileBytes(argv[first]);
    const TBytes camera = fixtures::ReadFileBytes(argv[first + 1]);
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(argv[first + 2]))
        if (entry.path().extension() == ".jpg") paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    TCase batch{"batch of " + std::to_string(paths.size()), {}, 0};
    for (const auto& path : paths) {
        TFile file = Analysed(fixtures::ReadFileBytes(path));
        if (file.mode != kModeNone) batch.files.push_back(std::move(file));
    }
    batch.workers = std::max(1u, std::thread::hardware_concurrency());
    batch.name += ", " + std::to_string(batch.workers) + " at once";

    std::printf(
        "%d runs each; %u cores; the gain over \"index, one thread\" in wall and CPU time\n", runs,
        std::max(1u, std::thread::hardware_concurrency()));
    std::printf("  %-20s %8s %8s %8s %8s\n", "", "wall s", "cpu s", "wall", "cpu");
    for (const std::uint8_t mode : {1, 2, 3, 0})
        Measure({"photo mode " + std::to_string(mode), {{photo, mode}}, 1}, runs);
    for (const std::uint8_t mode : {1, 2, 3})
        Measure({"camera mode " + std::to_string(mode), {{camera, mode}}, 1}, runs);
    Measure(batch, runs);
    return 0;
}
