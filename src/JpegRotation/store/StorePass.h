// The pass through the coefficient store, for the files whose output cannot
// be coded as their one scan is decoded: a progressive frame (kept
// progressive), a sequential frame of several scans, and any file whose
// output gets tables made from its own symbol counts. Every scan of the
// input is read into the store, the segments between scans with them; then
// the output's scans are written from it, each with the segments that
// belong before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "JpegRotation/EngineOptions.h"
#include "JpegRotation/PassEvents.h"
#include "JpegRotation/frame/Frame.h"
#include "JpegRotation/segments/HeaderStage.h"

namespace plume {

struct TStoreJob {
    TSegmentIo& io;  // the input at the first scan's data; the output after the headers
    const THeaderContext& context;
    THeader& header;  // as the header stage left it, the first scan's header read
    const TOutputGeometry& geometry;
    const TEdgeTrim& trim;
    const TEngineOptions& options;
};

// Appends the output's scans to the output (its headers there already, the
// first scan's header copied last, which this drops). scanEnd: the input's
// byte after the last scan's data, where EOI is due. False after a report.
[[nodiscard]] bool WriteFromStore(const TStoreJob& job, TPassEvents& events, std::size_t& scanEnd,
                                  TPassReport& report);

}  // namespace plume
