#include "FuzzSupport.h"

#include <algorithm>
#include <string>

#include "BitStreamFile/MemoryStream.h"
#include "JpegRotation/JpegRotation.h"

namespace plume::fuzz {
namespace {

class TTiffWriter {
  public:
    explicit TTiffWriter(bool littleEndian) : little_(littleEndian) {}
    void Word(std::uint32_t v) { Put(v, 2); }
    void Long(std::uint32_t v) { Put(v, 4); }
    void Entry(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
        Word(tag);
        Word(type);
        Long(count);
        if (type == 3 && count == 1) {
            Word(value);
            Word(0);
        } else {
            Long(value);
        }
    }
    void PatchLong(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            bytes_[at + i] = static_cast<std::uint8_t>(little_ ? v >> (8 * i) : v >> (8 * (3 - i)));
    }
    std::size_t Size() const { return bytes_.size(); }
    TBytes& Bytes() { return bytes_; }

  private:
    void Put(std::uint32_t v, int n) {
        for (int i = 0; i < n; ++i)
            bytes_.push_back(
                static_cast<std::uint8_t>(little_ ? v >> (8 * i) : v >> (8 * (n - 1 - i))));
    }
    bool little_;
    TBytes bytes_;
};

constexpr std::uint16_t kShort = 3, kLong = 4, kRational = 5;

}  // namespace

bool ValidateAndRotate(const TBytes& jpeg, std::uint8_t mode, bool allowBreakDcf, TBytes* output) {
    TJpegRotation engine;
    engine.AllowBreakDCF = allowBreakDcf;
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
    explicit TRecordingEngine(bool threads, bool allowBreakDcf) {
        engine.AllowBreakDCF = allowBreakDcf;
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

void RotateInEveryMode(const TBytes& jpeg, bool allowBreakDcf) {
    // Two threads (however small the file) and one must do exactly the same.
    TRecordingEngine threaded(true, allowBreakDcf), single(false, allowBreakDcf);
    for (std::uint8_t mode = 0; mode < kModeCount; ++mode)
        if (threaded.Pass(jpeg, mode) != single.Pass(jpeg, mode)) __builtin_trap();
}

TBytes MakeExifBody(const TExifParts& parts) {
    TTiffWriter w(parts.littleEndian);
    w.Word(parts.littleEndian ? 0x4949 : 0x4D4D);
    w.Word(42);
    w.Long(8);
    // IFD0: Orientation, XResolution, YResolution, ExifIFDPointer.
    w.Word(4);
    w.Entry(0x0112, kShort, 1, static_cast<std::uint32_t>(parts.orientation));
    const std::size_t xRes = w.Size() + 8;
    w.Entry(0x011A, kRational, 1, 0);
    const std::size_t yRes = w.Size() + 8;
    w.Entry(0x011B, kRational, 1, 0);
    const std::size_t exifPointer = w.Size() + 8;
    w.Entry(0x8769, kLong, 1, 0);
    const std::size_t next0 = w.Size();
    w.Long(0);
    w.PatchLong(xRes, static_cast<std::uint32_t>(w.Size()));
    w.Long(72);
    w.Long(1);
    w.PatchLong(yRes, static_cast<std::uint32_t>(w.Size()));
    w.Long(300);
    w.Long(1);
    // Exif IFD.
    w.PatchLong(exifPointer, static_cast<std::uint32_t>(w.Size()));
    w.Word(4);
    w.Entry(0xA002, kLong, 1, parts.pixelWidth);
    w.Entry(0xA003, kShort, 1, parts.pixelHeight & 0xFFFF);
    const std::size_t fpx = w.Size() + 8;
    w.Entry(0xA20E, kRational, 1, 0);
    const std::size_t fpy = w.Size() + 8;
    w.Entry(0xA20F, kRational, 1, 0);
    w.Long(0);
    w.PatchLong(fpx, static_cast<std::uint32_t>(w.Size()));
    w.Long(4000);
    w.Long(3);
    w.PatchLong(fpy, static_cast<std::uint32_t>(w.Size()));
    w.Long(5000);
    w.Long(3);
    if (!parts.thumbnail.empty()) {
        w.PatchLong(next0, static_cast<std::uint32_t>(w.Size()));
        const int entries = 6 + (parts.ifd1Orientation != 0 ? 1 : 0);
        w.Word(static_cast<std::uint32_t>(entries));
        w.Entry(0x0100, kShort, 1, 160);
        w.Entry(0x0101, kShort, 1, 120);
        w.Entry(0x0103, kShort, 1, static_cast<std::uint32_t>(parts.thumbnailCompression));
        if (parts.ifd1Orientation != 0)
            w.Entry(0x0112, kShort, 1, static_cast<std::uint32_t>(parts.ifd1Orientation));
        w.Entry(0x011A, kLong, 1, 72);
        const std::size_t offset = w.Size() + 8;
        w.Entry(0x0201, kLong, 1, 0);
        w.Entry(0x0202, kLong, 1, static_cast<std::uint32_t>(parts.thumbnail.size()));
        w.Long(0);
        w.PatchLong(offset, static_cast<std::uint32_t>(w.Size()));
        w.Bytes().insert(w.Bytes().end(), parts.thumbnail.begin(), parts.thumbnail.end());
    }
    TBytes body = {'E', 'x', 'i', 'f', 0, 0};
    body.insert(body.end(), w.Bytes().begin(), w.Bytes().end());
    return body;
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
