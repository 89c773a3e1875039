// How many threads may share one file's passes, and waking them in time.
#pragma once

#include <cstdint>

namespace plume {

// One per core, or `count` when the host gives one; 1 when threads may not
// share a file.
int ThreadsToUse(bool allowParallelCoding, int count);
// Called before a file of `inputBytes` bytes is read, so that `threads`
// threads are awake by the time its scan is decoded: waking them then can
// cost more than their share saves.
void PrepareThreads(int threads, std::uint64_t inputBytes);

}  // namespace plume
