// Running the engine and the reference coder on the same file and comparing
// what each did: result, messages, read errors, output scan bytes, decoded
// blocks and the input position after the scan.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "ReferenceCoder.h"
#include "fixtures/Oracles.h"

namespace plume::test {

// One RotateJpeg pass (after ValidateJpeg) with what it reported.
struct TEngineRotation {
    bool validated = false;
    bool ok = false;
    bool readError = false;
    std::string readErrorText;
    std::vector<TMessage> validateMessages;
    std::vector<TMessage> messages;  // of RotateJpeg
    std::vector<int> progressMax;
    std::vector<int> progress;
    TBytes output;
    bool movesPartialEdge = false;  // MovesPartialEdge(mode) after ValidateJpeg
};
// With `trim`, the engine drops partial edges that the mode would carry to
// the top or left (TrimPartialEdges), the thumbnail too, which it turns
// sideways when AllowBreakDCF is set.
TEngineRotation RunEngine(const TBytes& jpeg, int mode, bool parallel, bool trim = false);

// The scan decoded into a store of every block in input order by the
// engine's block decoder and scan reader (StoreDecoder.cpp), with the
// messages that decoding gives.
struct TEngineDecode {
    bool ok = false;
    bool readError = false;
    std::vector<TMessage> messages;
    TRefStore store;
    std::size_t position = 0;  // input position after the scan
};
TEngineDecode RunEngineDecode(const TBytes& jpeg);

// Expects the engine's RotateJpeg to do what the reference does on jpeg in
// mode: same result, messages, read error, and the same bytes from the
// output's scan data to its end.
void ExpectSameAsReference(const TBytes& jpeg, int mode, bool parallel);
void ExpectSameAsReference(const TBytes& jpeg, int mode, bool parallel,
                           const TRefRotation& reference);

// Expects the engine's DecodeScan to give the reference's blocks, messages
// and end position.
void ExpectSameDecodeAsReference(const TBytes& jpeg, const TRefRotation& reference);

// libjpeg's reading of the input's whole MCUs (the padding's blocks
// included) turned as the mode turns the picture, by the reference coder's
// block and grid formulas, as far as the output's blocks that carry picture
// go; the output's own sizes and factors otherwise. jpegtran keeps a partial
// edge in place where the engine moves it: this is what the engine's turn
// of any frame must read as.
fixtures::TCoefficientImage MovedCoefficients(const TBytes& input,
                                              const fixtures::TCoefficientImage& output, int mode);

// The RSTn markers (0 to 7) found in scan data, in order.
std::vector<int> RestartMarkersIn(const TBytes& jpeg);

}  // namespace plume::test
