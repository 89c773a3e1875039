// EXIF segments that lie about their structure, through whole rotations: an
// IFD chain that loops, entry counts far beyond the segment, offsets outside
// it or pointing backwards, thumbnails that do not fit, segments shorter than
// their header, and thumbnails nested in thumbnails. Every pass ends in
// bounded time, and what is written is a file that the engine and libjpeg
// read again.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

#include "app/analysis/ExifAnalysis.h"
#include "fixtures/Fixtures.h"
#include "robustness/RobustnessSupport.h"

namespace plume::test {
namespace {

using namespace fixtures;

constexpr double kSecondsPerFile = 30.0;

// Little-endian TIFF data built by hand, so that any field may lie.
class TTiff {
  public:
    TTiff& Word(std::uint32_t v) {
        bytes.push_back(static_cast<std::uint8_t>(v));
        bytes.push_back(static_cast<std::uint8_t>(v >> 8));
        return *this;
    }
    TTiff& Long(std::uint32_t v) { return Word(v & 0xFFFF).Word(v >> 16); }
    TTiff& Header(std::uint32_t ifd0 = 8) { return Word(0x4949).Word(42).Long(ifd0); }
    TTiff& Entry(std::uint16_t tag, std::uint16_t type, std::uint32_t count, std::uint32_t value) {
        return Word(tag).Word(type).Long(count).Long(value);
    }
    TTiff& Raw(const TBytes& raw) {
        bytes.insert(bytes.end(), raw.begin(), raw.end());
        return *this;
    }
    std::uint32_t Offset() const { return static_cast<std::uint32_t>(bytes.size()); }
    void PatchLong(std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
    }
    // The APP1 body: "Exif\0\0" and the TIFF data.
    TBytes Body() const {
        TBytes body = {'E', 'x', 'i', 'f', 0, 0};
        for (const std::uint8_t byte : bytes) body.push_back(byte);
        return body;
    }
    TBytes bytes;
};

constexpr std::uint16_t kShort = 3, kLong = 4, kRational = 5;
constexpr std::uint16_t kOrientation = 0x0112, kExifPointer = 0x8769, kCompression = 0x0103,
                        kThumbOffset = 0x0201, kThumbLength = 0x0202, kXResolution = 0x011A,
                        kYResolution = 0x011B, kPixelX = 0xA002, kPixelY = 0xA003;

TBytes SmallThumbnail() {
    return FlatJpeg(16, 8, {{2, 1}, {1, 1}, {1, 1}});
}

// A 32 x 16 photo whose first segment is an APP1 with body.
TBytes PhotoWithApp1(const TBytes& body) {
    TEncodeOptions options;
    options.Size(32, 16);
    options.writeJfif = false;
    options.markers.push_back({0xE1, body});
    return EncodeJpeg(options);
}

// The same with a hand-made APP1 segment (its length field may lie).
TBytes PhotoWithRawApp1(const TBytes& segment) {
    TEncodeOptions options;
    options.Size(32, 16);
    options.writeJfif = false;
    const TBytes photo = EncodeJpeg(options);
    return InsertBytes(photo, 2, segment);
}

// The analysis with each of its options: bounded time, values changed in
// place only, a mode of 0 to 3 (to 7 with mirrored orientations), at most
// the read error as an exception.
void ExpectAnalysisEndsWell(const TBytes& file, const std::string& what) {
    for (int options = 0; options < 8; ++options) {
        SCOPED_TRACE(what + ", analysis options " + std::to_string(options));
        TMemoryStream stream(file);
        TAnalysisOptions analysis;
        analysis.AllowBreakDCF = (options & 1) != 0;
        analysis.ExifAnywhere = (options & 2) != 0;
        analysis.FixMirrored = (options & 4) != 0;
        TAnalysis found;
        const double seconds = SecondsFor([&] {
            try {
                found = AnalysisData(stream, analysis);
            } catch (const EStreamError&) {
            }
        });
        EXPECT_LT(seconds, kSecondsPerFile);
        EXPECT_EQ(stream.Size(), file.size());
        EXPECT_LE(found.Mode, analysis.FixMirrored ? 7 : 3);
        EXPECT_LE(found.Thumbnail.size(), file.size());
    }
}

// The analysis, then every mode with and without AllowBreakDCF; what is
// written must read again.
void ExpectEveryRotationEndsWell(const TBytes& file, const std::string& what) {
    ExpectAnalysisEndsWell(file, what);
    for (bool allowBreakDcf : {false, true}) {
        for (std::uint8_t mode = 0; mode < kModeCount; ++mode) {
            SCOPED_TRACE(what + ", mode " + std::to_string(mode) +
                         (allowBreakDcf ? ", AllowBreakDCF" : ""));
            TCountingHost host;
            TEngineOptions options;
            options.AllowBreakDCF = allowBreakDcf;
            host.engine.SetOptions(options);
            TPassResult result{};
            EXPECT_LT(SecondsFor([&] { result = host.Run(file, mode); }), kSecondsPerFile);
            if (result != TPassResult::Written) continue;
            // The segments before the scan still chain by their lengths, and
            // the engine and libjpeg read the new file.
            const std::vector<TSegmentRef> segments = ListSegments(host.output);
            ASSERT_FALSE(segments.empty());
            EXPECT_EQ(segments.back().marker, kSOS) << "the segment chain is broken";
            TCountingHost again;
            EXPECT_EQ(again.Run(host.output, kModeNone), TPassResult::Written) << again.firstError;
            try {
                EXPECT_EQ(ReadCoefficients(host.output).warnings, "");
            } catch (const std::exception& e) {
                ADD_FAILURE() << "libjpeg cannot read the output: " << e.what();
            }
        }
    }
}

TEST(ExifRobustness, AnIfdChainThatLoopsEndsWell) {
    // IFD0's next IFD is IFD0 itself, and so is its Exif IFD.
    TTiff t;
    t.Header().Word(2).Entry(kOrientation, kShort, 1, 6).Entry(kExifPointer, kLong, 1, 8).Long(8);
    ExpectEveryRotationEndsWell(PhotoWithApp1(t.Body()), "IFD0 -> IFD0");
    // Exif IFD and IFD1 point at each other.
    TTiff u;
    u.Header().Word(2).Entry(kOrientation, kShort, 1, 8);
    const std::size_t exifAt = u.Offset() + 8;
    u.Entry(kExifPointer, kLong, 1, 0);
    const std::size_t next0 = u.Offset();
    u.Long(0);
    const std::uint32_t exifIfd = u.Offset();
    u.Word(1).Entry(kPixelX, kLong, 1, 32);
    const std::size_t exifNext = u.Offset();
    u.Long(0);
    const std::uint32_t ifd1 = u.Offset();
    u.Word(1).Entry(kCompression, kShort, 1, 6).Long(exifIfd);
    u.PatchLong(exifAt, exifIfd);
    u.PatchLong(next0, ifd1);
    u.PatchLong(exifNext, ifd1);
    ExpectEveryRotationEndsWell(PhotoWithApp1(u.Body()), "Exif IFD <-> IFD1");
}

TEST(ExifRobustness, EntryCountsFarBeyondTheSegmentEndWell) {
    TTiff t;
    t.Header().Word(0xFFFF).Entry(kOrientation, kShort, 1, 3).Entry(kXResolution, kRational, 1, 8);
    ExpectEveryRotationEndsWell(PhotoWithApp1(t.Body()), "IFD0 of 65535 entries");
    TTiff u;
    u.Header()
        .Word(1)
        .Entry(kExifPointer, kLong, 1, 26)
        .Long(0)
        .Word(0xFFFF)
        .Entry(kPixelX, kLong, 1, 1);
    ExpectEveryRotationEndsWell(PhotoWithApp1(u.Body()), "Exif IFD of 65535 entries");
}

TEST(ExifRobustness, OffsetsOutsideTheSegmentEndWell) {
    for (std::uint32_t far : {0x7FFFFFFFu, 0xFFFFFFF0u, 0x10000u}) {
        TTiff t;
        t.Header()
            .Word(2)
            .Entry(kOrientation, kShort, 1, 6)
            .Entry(kExifPointer, kLong, 1, far)
            .Long(far);
        ExpectEveryRotationEndsWell(PhotoWithApp1(t.Body()),
                                    "Exif IFD and IFD1 at " + std::to_string(far));
        TTiff u;
        u.Header(far);
        ExpectEveryRotationEndsWell(PhotoWithApp1(u.Body()), "IFD0 at " + std::to_string(far));
    }
}

TEST(ExifRobustness, ThumbnailsThatDoNotFitEndWell) {
    const TBytes thumbnail = SmallThumbnail();
    for (std::uint32_t offset : {0u, 4u, 0x7FFFFFFFu, 0xFFFFFFFFu, 60u}) {
        for (std::uint32_t length :
             {0u, 1u, 0xFFFFFFFFu, static_cast<std::uint32_t>(thumbnail.size()) + 500}) {
            TTiff t;
            t.Header().Word(1).Entry(kOrientation, kShort, 1, 6);
            const std::size_t next0 = t.Offset();
            t.Long(0);
            t.PatchLong(next0, t.Offset());
            const std::size_t offsetAt = t.Offset() + 2 + 12 + 8;
            t.Word(3).Entry(kCompression, kShort, 1, 6).Entry(kThumbOffset, kLong, 1, offset);
            t.Entry(kThumbLength, kLong, 1, length).Long(0);
            // 60 stands for "where the thumbnail really is".
            if (offset == 60) t.PatchLong(offsetAt, t.Offset());
            t.Raw(thumbnail);
            ExpectEveryRotationEndsWell(PhotoWithApp1(t.Body()),
                                        "thumbnail at " + std::to_string(offset) + " of " +
                                            std::to_string(length) + " bytes");
        }
    }
}

TEST(ExifRobustness, StructuresOutOfOrderEndWell) {
    // IFD1 and the thumbnail before IFD0: every offset points backwards.
    const TBytes thumbnail = SmallThumbnail();
    TTiff t;
    t.Header(0);
    const std::uint32_t thumbAt = t.Offset();
    t.Raw(thumbnail);
    const std::uint32_t ifd1 = t.Offset();
    t.Word(3).Entry(kCompression, kShort, 1, 6).Entry(kThumbOffset, kLong, 1, thumbAt);
    t.Entry(kThumbLength, kLong, 1, static_cast<std::uint32_t>(thumbnail.size())).Long(0);
    const std::uint32_t exifIfd = t.Offset();
    t.Word(2).Entry(kPixelX, kLong, 1, 32).Entry(kPixelY, kLong, 1, 16).Long(0);
    const std::uint32_t ifd0 = t.Offset();
    t.Word(4).Entry(kOrientation, kShort, 1, 6).Entry(kXResolution, kRational, 1, 8);
    t.Entry(kYResolution, kRational, 1, 8).Entry(kExifPointer, kLong, 1, exifIfd).Long(ifd1);
    t.PatchLong(4, ifd0);
    ExpectEveryRotationEndsWell(PhotoWithApp1(t.Body()), "structures backwards");
}

TEST(ExifRobustness, App1SegmentsShorterThanTheirFieldsEndWell) {
    const TBytes full = [] {
        TTiff t;
        t.Header().Word(1).Entry(kOrientation, kShort, 1, 6).Long(0);
        return t.Body();
    }();
    // Every cut of the body, with its length field telling the truth.
    for (std::size_t size = 0; size < full.size(); ++size)
        ExpectEveryRotationEndsWell(
            PhotoWithApp1(TBytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(size))),
            "APP1 body of " + std::to_string(size) + " bytes");
    // Length fields 0 to 3 (below the length field itself, and below "Exif").
    for (std::uint16_t length = 0; length < 4; ++length) {
        TBytes segment(4 + full.size());
        segment[0] = 0xFF;
        segment[1] = 0xE1;
        segment[3] = static_cast<std::uint8_t>(length);
        std::copy(full.begin(), full.end(), segment.begin() + 4);
        ExpectEveryRotationEndsWell(PhotoWithRawApp1(segment),
                                    "APP1 length " + std::to_string(length));
    }
}

// A thumbnail whose EXIF holds a thumbnail whose EXIF holds ..., as deep as
// one segment allows.
TEST(ExifRobustness, ThumbnailsNestedAsDeepAsASegmentAllowsEndWell) {
    TBytes inner = SmallThumbnail();
    int depth = 0;
    for (;;) {
        TTiff t;
        t.Header().Word(1).Entry(kOrientation, kShort, 1, 6);
        const std::size_t next0 = t.Offset();
        t.Long(0);
        t.PatchLong(next0, t.Offset());
        const std::size_t offsetAt = t.Offset() + 2 + 12 + 8;
        t.Word(3).Entry(kCompression, kShort, 1, 6).Entry(kThumbOffset, kLong, 1, 0);
        t.Entry(kThumbLength, kLong, 1, static_cast<std::uint32_t>(inner.size())).Long(0);
        t.PatchLong(offsetAt, t.Offset());
        t.Raw(inner);
        const TBytes body = t.Body();
        if (body.size() > 65533) break;
        TSegmentBuilder b;
        b.Soi().App(1, body);
        const TBytes thumbnail = SmallThumbnail();
        b.Bytes(TBytes(thumbnail.begin() + 2, thumbnail.end()));
        inner = b.Take();
        ++depth;
    }
    ASSERT_GT(depth, 50);
    // inner is now a whole file of that depth.
    ExpectEveryRotationEndsWell(inner, "thumbnails nested " + std::to_string(depth) + " deep");
}

}  // namespace
}  // namespace plume::test
