#include "FuzzSupport.h"

#include <algorithm>
#include <string>

#include "BitStreamFile/MemoryStream.h"
#include "JpegRotation/JpegRotation.h"
#include "fixtures/JpegSegments.h"

namespace plume::fuzz {

bool ValidateAndRotate(const TBytes& jpeg, std::uint8_t mode, const TFuzzOptions& options,
                       TBytes* output) {
    TJpegRotation engine;
    TEngineOptions engineOptions;
    engineOptions.AllowBreakDCF = options.allowBreakDcf;
    engineOptions.TrimPartialEdges = options.trimPartialEdges;
    engineOptions.AnyJpeg = options.anyJpeg;
    engineOptions.OptimizeTables = options.optimizeTables;
    engine.SetOptions(engineOptions);
    TMemoryStream in(jpeg);
    TMemoryStream out;
    if (!engine.ValidateJpeg(in) || !engine.RotateJpeg(in, out, mode)) return false;
    if (output) *output = out.Bytes();
    return true;
}

namespace {

// One engine as a host drives it, recording what each pass reports.
struct TRecordingEngine {
    TRecordingEngine(bool threads, bool intervals, const TFuzzOptions& options) {
        TEngineOptions engineOptions;
        engineOptions.AllowBreakDCF = options.allowBreakDcf;
        engineOptions.TrimPartialEdges = options.trimPartialEdges;
        engineOptions.AnyJpeg = options.anyJpeg;
        engineOptions.OptimizeTables = options.optimizeTables;
        engineOptions.AllowParallelCoding = threads;
        engineOptions.Schemes.intervalPass = intervals;
        engineOptions.Schemes.halfTurnOnce = intervals;
        engineOptions.ParallelMinBlocks = 0;
        engine.SetOptions(engineOptions);
        engine.OnMessage = [this](const std::string& text, int level) {
            record += std::to_string(level) + text + "\n";
        };
        engine.OnProgress = [this](int position) { record += std::to_string(position) + ","; };
    }
    // The pass's result, messages, progress and output, as one string.
    std::string Pass(const TBytes& jpeg, std::uint8_t mode) {
        record.clear();
        written = false;
        TMemoryStream in(jpeg);
        TMemoryStream out;
        if (!engine.ValidateJpeg(in))
            return record + (engine.LastPass().inputEnded ? "ended" : "refused");
        written = engine.RotateJpeg(in, out, mode);
        record += written ? "written " : engine.LastPass().inputEnded ? "ended " : "failed ";
        output = out.Bytes();
        record.append(output.begin(), output.end());
        return record;
    }
    TJpegRotation engine;
    std::string record;
    bool written = false;
    TBytes output;
};

}  // namespace

void RotateEveryWay(const TBytes& jpeg, std::uint8_t mode, const TFuzzOptions& options) {
    TRecordingEngine threaded(true, true, options), single(false, true, options),
        indexed(false, false, options);
    const std::string pass = single.Pass(jpeg, mode);
    if (threaded.Pass(jpeg, mode) != pass || indexed.Pass(jpeg, mode) != pass) __builtin_trap();
    if (threaded.written) CheckWholeImages(jpeg, threaded.output);
}

namespace {

std::uint32_t Word(const TBytes& bytes, std::size_t at) {
    return std::uint32_t{bytes[at]} << 8 | bytes[at + 1];
}

}  // namespace

std::uint64_t LargestDeclaredFrame(const TBytes& bytes) {
    std::uint64_t largest = 0;
    for (std::size_t at = 0; at + 10 <= bytes.size(); ++at) {
        // The frames that the engine reads: baseline, extended and progressive.
        if (bytes[at] != 0xFF || bytes[at + 1] < 0xC0 || bytes[at + 1] > 0xC2) continue;
        // FF Cn, length, precision, height, width, component count, then
        // identifier, factors and table of each component.
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

namespace {

// The first byte after the entropy-coded data that begins at scan: the first
// marker other than a stuffed zero or a restart marker (T.81 B.1.1.5).
std::size_t ScanEnd(const TBytes& file, std::size_t scan) {
    for (std::size_t at = scan; at + 1 < file.size(); ++at)
        if (file[at] == 0xFF && file[at + 1] != 0 && (file[at + 1] & 0xF8) != 0xD0) return at;
    return file.size();
}

// The first APP2 "MPF\0" segment before the scan, and the scan's start.
struct TMpSegment {
    std::size_t body = 0, bodySize = 0, scan = 0;
};
std::optional<TMpSegment> FindMpSegment(const TBytes& file) {
    const auto scan = fixtures::ScanDataOffset(file);
    if (!scan) return std::nullopt;
    for (const fixtures::TSegmentRef& segment : fixtures::ListSegments(file)) {
        if (segment.marker != 0xFFE2 || segment.length < 2 + kMpfIdentifierSize) continue;
        if (std::equal(std::begin(kMpfIdentifier), std::end(kMpfIdentifier),
                       file.begin() + static_cast<std::ptrdiff_t>(segment.BodyOffset())))
            return TMpSegment{segment.BodyOffset(), segment.length - 2u, *scan};
    }
    return std::nullopt;
}

// The index of the segment when it names whole JPEGs (SOI to EOI) inside the
// file: the first from byte 0 over the primary's scan, the others after it,
// none overlapping another. An entry of size 0 at offset 0 names no image.
// The primary's size is taken from the index, not from where its EOI is
// found, so that an index which the rewrite should have made true and did
// not is told from one it left alone.
std::optional<TMpIndex> WholeImageIndex(const TBytes& file, const TMpSegment& segment) {
    const auto index = ReadMpIndex(file.data() + segment.body, segment.bodySize);
    if (!index) return std::nullopt;
    const auto whole = [&](std::uint64_t start, std::uint64_t size) {
        return size >= 4 && start <= file.size() && size <= file.size() - start &&
               Word(file, static_cast<std::size_t>(start)) == 0xFFD8 &&
               Word(file, static_cast<std::size_t>(start + size - 2)) == 0xFFD9;
    };
    const TMpEntry& primary = index->entries.front();
    if (primary.offset != 0 || primary.size < segment.scan + 2 || !whole(0, primary.size))
        return std::nullopt;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> images;
    for (std::size_t i = 1; i < index->entries.size(); ++i) {
        const TMpEntry& entry = index->entries[i];
        if (entry.size == 0 && entry.offset == 0) continue;
        const std::uint64_t start = std::uint64_t{segment.body} + kMpfIdentifierSize + entry.offset;
        if (start < primary.size || !whole(start, entry.size)) return std::nullopt;
        images.emplace_back(start, entry.size);
    }
    std::sort(images.begin(), images.end());
    for (std::size_t i = 1; i < images.size(); ++i)
        if (images[i].first < images[i - 1].first + images[i - 1].second) return std::nullopt;
    return index;
}

}  // namespace

std::optional<TMultiPicturePlace> LocateMultiPicture(const TBytes& file) {
    const auto segment = FindMpSegment(file);
    if (!segment) return std::nullopt;
    const auto end = PrimaryEnd(file.data(), file.size(), ScanEnd(file, segment->scan));
    if (!end) return std::nullopt;
    TMultiPicturePlace place;
    place.inBody = segment->body;
    place.bodySize = segment->bodySize;
    place.primaryEnd = *end;
    return place;
}

void CheckWholeImages(const TBytes& input, const TBytes& output) {
    const auto in = FindMpSegment(input);
    if (!in) return;
    const auto index = WholeImageIndex(input, *in);
    if (!index) return;
    const auto out = FindMpSegment(output);
    if (!out) __builtin_trap();
    const auto rewritten = WholeImageIndex(output, *out);
    if (!rewritten || rewritten->entries.size() != index->entries.size()) __builtin_trap();
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
