// The engine object: the host's callbacks and options around the two passes
// (Passes.h). A stream error (the input ends too early) ends a pass here.
#include "JpegRotation/JpegRotation.h"

#include <utility>
#include <vector>

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
    frame_ = {};
    // Without AnyJpeg the messages wait for the end of the pass, which they
    // end anyway, so that the host hears of a refusal once it can tell
    // whether AnyJpeg would have taken the file (anyJpegTakes).
    std::vector<std::pair<std::string, int>> held;
    THostEvents host = HostEvents();
    if (!options_.AnyJpeg)
        host.onMessage = [&held](const std::string& text, int level) {
            held.emplace_back(text, level);
        };
    TPassEvents events(host);
    bool accepted = false;
    try {
        accepted = ValidatePass(stream, {options_, events}, frame_);
    } catch (const EStreamError&) {
        last_.inputEnded = true;
    }
    if (!accepted && !last_.inputEnded && events.ErrorReported())
        last_.anyJpegTakes = TakenWithAnyJpeg(stream);
    for (const auto& [text, level] : held) OnMessage(text, level);
    return accepted;
}

bool TJpegRotation::TakenWithAnyJpeg(TMemoryStream& stream) const {
    TEngineOptions options = options_;
    options.AnyJpeg = true;
    TPassEvents silent;
    TFrame frame;
    const std::size_t position = stream.Position();
    bool taken = false;
    try {
        taken = ValidatePass(stream, {options, silent}, frame);
    } catch (const EStreamError&) {
    }
    stream.SetPosition(position);
    return taken;
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
