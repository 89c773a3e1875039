#include "JpegRotation/scan/ScanJob.h"

#include <algorithm>

namespace plume {
namespace {

// One more thread pays when each part of the scan data is at least this long.
constexpr std::size_t kPartMinBytes = 1 << 15;

// Where part `part` of `parts` of a scan from `start` to `end` may begin: on
// a data byte at that fraction of the data; with restart markers, just after
// the first marker from there on. 0 when there is no such place.
std::size_t ScanSplit(const std::uint8_t* data, std::size_t start, std::size_t end, int part,
                      int parts, bool restarts) {
    std::size_t at = start + static_cast<std::size_t>(static_cast<std::uint64_t>(end - start) *
                                                      static_cast<unsigned>(part) /
                                                      static_cast<unsigned>(parts));
    if (!restarts) {
        while (at < end && data[at - 1] == 0xFF) ++at;
        return at < end ? at : 0;
    }
    for (; at + 1 < end; ++at)
        if (data[at] == 0xFF && data[at + 1] >= 0xD0 && data[at + 1] <= 0xD7) return at + 2;
    return 0;
}

}  // namespace

int TScanJob::CodingThreads(std::size_t blocks) const {
    return static_cast<std::int64_t>(blocks) >= options.parallelMinBlocks ? options.threads : 1;
}

std::vector<std::size_t> TScanJob::PartStarts(int parts) const {
    std::vector<std::size_t> starts;
    const std::int64_t total = frame.McuCount();
    if (options.threads < 2 || parts < 2 || total * frame.McuBlocks() < options.parallelMinBlocks ||
        total < 2)
        return starts;
    const bool restarts = frame.restartInterval > 0;
    for (int part = 1; part < parts; ++part) {
        const std::size_t at = ScanSplit(data, scanStart, size, part, parts, restarts);
        if (at == 0) break;
        const std::size_t previous = starts.empty() ? scanStart : starts.back();
        if (at <= previous) continue;
        if (options.parallelMinBlocks > 0 &&
            (at - previous < kPartMinBytes || size - at < kPartMinBytes))
            continue;
        starts.push_back(at);
    }
    return starts;
}

std::size_t TScanJob::McuCapacity(std::size_t bytes) const {
    const auto total = static_cast<std::uint64_t>(frame.McuCount());
    const std::uint64_t bound =
        std::uint64_t{bytes} * 8 / (2 * static_cast<std::uint64_t>(frame.McuBlocks())) + 2;
    return static_cast<std::size_t>(std::min(total + 1, bound));
}

}  // namespace plume
