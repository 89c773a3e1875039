// The engine object: the host's callbacks and options around the two passes
// (Passes.h). A stream error (the input ends too early) ends a pass here.
#include "JpegRotation/JpegRotation.h"

#include "JpegRotation/Passes.h"
#include "JpegRotation/threads/ThreadPolicy.h"

namespace plume {

TJpegRotation::TJpegRotation() {
    OnMessage = [](const std::string&, int) {};
    OnNonStandardHuffman = [] {};
    OnProgressMax = [](int) {};
    OnProgress = [](int) {};
}

TJpegRotation::~TJpegRotation() = default;

THostEvents TJpegRotation::HostEvents() const {
    return {OnMessage, OnNonStandardHuffman, OnProgressMax, OnProgress};
}

bool TJpegRotation::ValidateJpeg(TMemoryStream& stream) {
    last_ = {};
    const THostEvents host = HostEvents();
    TPassEvents events(host);
    frame_ = {};
    try {
        return ValidatePass(stream, {options_, events}, frame_);
    } catch (const EStreamError&) {
        last_.inputEnded = true;
        return false;
    }
}

bool TJpegRotation::MovesPartialEdge(std::uint8_t mode) const {
    return PartialFrontEdges(frame_, TurnOfMode(mode)).Any();
}

bool TJpegRotation::ShowsPadding(std::uint8_t mode) const {
    return plume::ShowsPadding(frame_, TurnOfMode(mode), options_.TrimPartialEdges);
}

bool TJpegRotation::RotateJpeg(TMemoryStream& inStream, TMemoryStream& outStream,
                               std::uint8_t mode) {
    last_ = {};
    const THostEvents host = HostEvents();
    TPassEvents events(host);
    TRotation rotation;
    bool rotated = false;
    try {
        rotated = RotatePass(inStream, outStream, TurnOfMode(mode), {options_, events}, rotation);
    } catch (const EStreamError&) {
        rotation.report.inputEnded = true;
        outStream.Clear();
    }
    frame_ = rotation.frame;
    last_ = rotation.report;
    return rotated;
}

void TJpegRotation::PrepareThreads(std::uint64_t inputBytes) const {
    plume::PrepareThreads(ThreadsToUse(options_.AllowParallelCoding, options_.ThreadCount),
                          inputBytes);
}

}  // namespace plume
