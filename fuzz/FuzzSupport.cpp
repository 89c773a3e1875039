#include "FuzzSupport.h"

#include <algorithm>
#include <string>

#include "BitStreamFile/MemoryStream.h"
#include "JpegRotation/JpegRotation.h"

namespace plume::fuzz {

bool ValidateAndRotate(const TBytes& jpeg, std::uint8_t mode, const TFuzzOptions& options,
                       TBytes* output) {
    TJpegRotation engine;
    engine.AllowBreakDCF = options.allowBreakDcf;
    engine.TrimPartialEdges = options.trimPartialEdges;
    TMemoryStream in(jpeg);
    TMemoryStream out;
    try {
        if (!engine.ValidateJpeg(in)) return false;
        if (!engine.RotateJpeg(in, out, mode)) return false;
    } catch (const EStreamError&) {
        return false;
    }
    if (output) *output = out.Bytes();
    return true;
}

namespace {

// One engine as a host drives it, recording what each pass reports.
struct TRecordingEngine {
    TRecordingEngine(bool threads, const TFuzzOptions& options) {
        engine.AllowBreakDCF = options.allowBreakDcf;
        engine.TrimPartialEdges = options.trimPartialEdges;
        engine.AllowParallelCoding = threads;
        engine.ParallelMinBlocks = 0;
        engine.OnMessage = [this](const std::string& text, int level) {
            record += std::to_string(level) + text + "\n";
        };
        engine.OnProgress = [this](int position) { record += std::to_string(position) + ","; };
    }
    // The pass's result, messages, progress and output, as one string.
    std::string Pass(const TBytes& jpeg, std::uint8_t mode) {
        record.clear();
        TMemoryStream in(jpeg);
        TMemoryStream out;
        try {
            if (!engine.ValidateJpeg(in)) return record + "refused";
            record += engine.RotateJpeg(in, out, mode) ? "written " : "failed ";
        } catch (const EStreamError& error) {
            // A file that ends too early: the one exception a pass may raise.
            record += error.what();
        }
        record.append(out.Bytes().begin(), out.Bytes().end());
        return record;
    }
    TJpegRotation engine;
    std::string record;
};

}  // namespace

void RotateBothWays(const TBytes& jpeg, std::uint8_t mode, const TFuzzOptions& options) {
    TRecordingEngine threaded(true, options), single(false, options);
    if (threaded.Pass(jpeg, mode) != single.Pass(jpeg, mode)) __builtin_trap();
}

namespace {

std::uint32_t Word(const TBytes& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} << 8 | bytes[at + 1];
}

}  // namespace

std::uint64_t LargestDeclaredFrame(const TBytes& bytes) {
    std::uint64_t largest = 0;
    for (std::size_t at = 0; at + 10 <= bytes.size(); ++at) {
        if (bytes[at] != 0xFF || bytes[at + 1] != 0xC0) continue;
        // FF C0, length, precision, height, width, component count, then
        // identifier, factors and table of each component (T.81 B.2.2).
        const std::uint64_t height = Word(bytes, at + 5), width = Word(bytes, at + 7);
        const std::size_t count = bytes[at + 9];
        std::uint64_t maxH = 1, maxV = 1, blocksPerMcu = 0;
        for (std::size_t c = 0; c < count && at + 12 + 3 * c <= bytes.size(); ++c) {
            const std::uint8_t factors = bytes[at + 11 + 3 * c];
            // Factors outside 1 to 4 are refused: counted as 1, the most MCUs.
            const std::uint64_t h = std::clamp(factors >> 4, 1, 4),
                                v = std::clamp(factors & 15, 1, 4);
            maxH = std::max(maxH, h);
            maxV = std::max(maxV, v);
            blocksPerMcu += h * v;
        }
        // One component: one block an MCU (T.81 A.2.2).
        if (count <= 1) maxH = maxV = blocksPerMcu = 1;
        const std::uint64_t mcus =
            (width + 8 * maxH - 1) / (8 * maxH) * ((height + 8 * maxV - 1) / (8 * maxV));
        largest = std::max(largest, mcus * blocksPerMcu);
    }
    return largest;
}

TBytes WithApp1AfterSoi(const TBytes& jpeg, const std::uint8_t* body, std::size_t size) {
    size = std::min<std::size_t>(size, 65533);
    TBytes out = {0xFF,
                  0xD8,
                  0xFF,
                  0xE1,
                  static_cast<std::uint8_t>((size + 2) >> 8),
                  static_cast<std::uint8_t>(size + 2)};
    out.insert(out.end(), body, body + size);
    // Drop the APP0 segments that follow SOI in the base file.
    std::size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] == 0xE0)
        at += 2 + (std::size_t{jpeg[at + 2]} << 8 | jpeg[at + 3]);
    if (at < jpeg.size())
        out.insert(out.end(), jpeg.begin() + static_cast<std::ptrdiff_t>(at), jpeg.end());
    return out;
}

}  // namespace plume::fuzz
