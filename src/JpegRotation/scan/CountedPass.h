// The pass of one sequential scan whose output gets Huffman tables made
// from its own symbol counts (TEngineOptions::OptimizeTables): the index
// pass's decoding, then each output MCU decoded again from the index and
// turned as the index pass's coding turns it, its blocks noted as the
// symbols and value bits that code them, and counted; then the tables made
// from the counts (T.81 K.2) and the symbols coded with them. Every part of
// the output goes through both steps on a thread of its own.
#pragma once

#include <cstdint>
#include <vector>

#include "JpegRotation/PassEvents.h"
#include "JpegRotation/scan/ScanJob.h"
#include "JpegRotation/scan/ScanPass.h"

namespace plume {

// Appends the output's DHT segment, the scan header (the input's, which the
// output holds from scanHeaderAt on) and the scan to `out`; false after a
// report. Bits past the end of the data raise the read error (EStreamError).
[[nodiscard]] bool WriteCountedScan(const TScanJob& job, TPassEvents& events,
                                    std::vector<std::uint8_t>& out, std::size_t scanHeaderAt,
                                    TScanResult& result);

}  // namespace plume
