#include "JpegRotation/threads/ThreadPolicy.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "JpegRotation/threads/WorkerPool.h"

namespace plume {
namespace {

constexpr int kMaxThreads = 64;

}  // namespace

int ThreadsToUse(bool allowParallelCoding, int count) {
    if (!allowParallelCoding) return 1;
    if (count > 0) return std::min(count, kMaxThreads);
    static const unsigned hardware = std::thread::hardware_concurrency();
    return static_cast<int>(std::clamp(hardware, 1u, unsigned{kMaxThreads}));
}

void PrepareThreads(int threads, std::uint64_t inputBytes) {
    // Scan data of this size holds well over the blocks that threads pay for.
    constexpr std::uint64_t kWorthPreparing = std::uint64_t{1} << 18;
    // Awake while the file is read and its headers are parsed: half a
    // millisecond for each megabyte (reading from the page cache), and two more.
    const auto awake = std::chrono::microseconds(2000 + inputBytes / 2048);
    if (threads > 1 && inputBytes >= kWorthPreparing)
        TWorkerPool::Shared().Prepare(threads - 1, awake);
}

}  // namespace plume
