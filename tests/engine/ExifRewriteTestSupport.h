// Helpers of the EXIF rewrite suites: photos with a built EXIF segment, one
// rotation through the engine, and the thumbnail checked against jpegtran.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "BitStreamFile/MemoryStream.h"
#include "JpegRotation/JpegRotation.h"
#include "fixtures/ExifBuilder.h"
#include "fixtures/Fixtures.h"

namespace plume::test {

using fixtures::TBytes;

#define PLUME_REQUIRE_EXIFTOOL()                                                          \
    do {                                                                                  \
        if (!::plume::fixtures::HaveExiftool())                                           \
            GTEST_SKIP() << "exiftool not found at " << ::plume::fixtures::kExiftoolPath; \
    } while (false)

// A 4:2:0 picture without JFIF; whole MCUs unless the size says otherwise.
inline TBytes Picture(int width, int height, std::uint32_t seed = 1, bool optimize = false) {
    fixtures::TEncodeOptions options;
    options.Size(width, height).Sampling(fixtures::TSampling::k420);
    options.writeJfif = false;
    options.seed = seed;
    options.optimizeCoding = optimize;
    return fixtures::EncodeJpeg(options);
}

// The EXIF of the usual camera file: IFD0 (Orientation 6), an Exif IFD that
// says 640 x 480, IFD1 and a 32 x 16 JPEG thumbnail.
inline fixtures::TExifOptions CameraExif(bool littleEndian = true) {
    fixtures::TExifOptions exif;
    exif.littleEndian = littleEndian;
    exif.ifd0 = fixtures::TypicalIfd0(6);
    exif.exifIfd = fixtures::TypicalExifIfd(640, 480);
    exif.ifd1 = fixtures::JpegThumbnailIfd1(32, 16);
    exif.thumbnail = Picture(32, 16, 7);
    return exif;
}

inline TBytes PhotoWithExif(const fixtures::TExifOptions& exif) {
    return fixtures::InsertSegmentAfterSoi(Picture(48, 32), fixtures::BuildExif(exif).Segment());
}

// One ValidateJpeg + RotateJpeg without an error (a partial-MCU warning may
// come); the output file.
inline TBytes RotateOk(const TBytes& jpeg, std::uint8_t mode, bool allowBreakDCF = false) {
    TJpegRotation engine;
    std::vector<std::string> messages;
    engine.OnMessage = [&](const std::string& text, int level) {
        if (level == kLevelError) messages.push_back(text);
    };
    TEngineOptions options;
    options.AllowBreakDCF = allowBreakDCF;
    engine.SetOptions(options);
    TMemoryStream in(jpeg), out;
    const bool ok = engine.ValidateJpeg(in) && engine.RotateJpeg(in, out, mode);
    EXPECT_TRUE(ok);
    EXPECT_TRUE(messages.empty()) << messages.front();
    return out.Bytes();
}

// The bytes of the first APP1 segment, marker included.
inline TBytes App1Of(const TBytes& jpeg) {
    const auto segment = fixtures::FindSegment(jpeg, fixtures::kAPP1);
    if (!segment) return {};
    return fixtures::SegmentBytes(jpeg, *segment);
}

// The turned thumbnail holds exactly the blocks that jpegtran gives for the
// original (both read on frames raised to whole MCUs, so that partial edge
// blocks count too).
inline void ExpectTurnedLikeJpegtran(const TBytes& turned, const TBytes& original, int mode) {
    using fixtures::TCoefficientImage;
    const TCoefficientImage actual =
        fixtures::ReadCoefficients(fixtures::PadFrameToWholeMcus(turned));
    const TCoefficientImage expected = fixtures::ReadCoefficients(fixtures::RunJpegtran(
        fixtures::JpegtranModeArgs(mode), fixtures::PadFrameToWholeMcus(original)));
    ASSERT_EQ(actual.components.size(), expected.components.size());
    EXPECT_EQ(actual.width, expected.width);
    EXPECT_EQ(actual.height, expected.height);
    for (std::size_t c = 0; c < actual.components.size(); ++c) {
        const auto& a = actual.components[c];
        const auto& e = expected.components[c];
        EXPECT_EQ(a.quant, e.quant) << "component " << c;
        ASSERT_EQ(a.widthInBlocks, e.widthInBlocks) << "component " << c;
        ASSERT_EQ(a.heightInBlocks, e.heightInBlocks) << "component " << c;
        EXPECT_TRUE(a.blocks == e.blocks) << "component " << c << ": blocks differ";
    }
}

// Offset of TIFF byte 0 inside the segment's bytes: marker, length, "Exif\0\0".
inline constexpr std::size_t kTiffInSegment = 10;

inline fixtures::TParsedExif Parsed(const TBytes& jpeg) {
    const auto exif = fixtures::ParseExif(jpeg);
    if (!exif) throw std::runtime_error("no EXIF segment");
    return *exif;
}

// The segment as the rewrite must leave it, built from the input segment by
// the rules of the EXIF rewrite, written out independently here.
class TExpectedSegment {
  public:
    explicit TExpectedSegment(const TBytes& jpeg) : exif_(Parsed(jpeg)), bytes_(App1Of(jpeg)) {}

    TExpectedSegment& Upright() {
        const fixtures::TParsedEntry* entry = exif_.Find(exif_.ifd0, fixtures::tag::kOrientation);
        const std::size_t at = kTiffInSegment + entry->position + 8;
        bytes_[at] = exif_.littleEndian ? 1 : 0;
        bytes_[at + 1] = exif_.littleEndian ? 0 : 1;
        return *this;
    }
    TExpectedSegment& Exchange(const std::vector<fixtures::TParsedEntry>& ifd, std::uint16_t a,
                               std::uint16_t b) {
        const std::size_t pa = kTiffInSegment + exif_.Find(ifd, a)->position + 2;
        const std::size_t pb = kTiffInSegment + exif_.Find(ifd, b)->position + 2;
        std::swap_ranges(bytes_.begin() + pa, bytes_.begin() + pa + 10, bytes_.begin() + pb);
        return *this;
    }
    TExpectedSegment& MainPairs() {
        Exchange(exif_.ifd0, fixtures::tag::kXResolution, fixtures::tag::kYResolution);
        return Exchange(exif_.exifIfd, fixtures::tag::kPixelXDimension,
                        fixtures::tag::kPixelYDimension);
    }
    TExpectedSegment& ThumbnailPairs() {
        Exchange(exif_.ifd1, fixtures::tag::kImageWidth, fixtures::tag::kImageLength);
        Exchange(exif_.ifd1, fixtures::tag::kXResolution, fixtures::tag::kYResolution);
        return Exchange(exif_.exifIfd, fixtures::tag::kFocalPlaneXResolution,
                        fixtures::tag::kFocalPlaneYResolution);
    }
    // The thumbnail replaced by turned, its length entry and the segment length set.
    TExpectedSegment& Thumbnail(const TBytes& turned) {
        const std::size_t start =
            kTiffInSegment + *exif_.Number(exif_.ifd1, fixtures::tag::kJpegInterchangeFormat);
        const std::size_t length =
            *exif_.Number(exif_.ifd1, fixtures::tag::kJpegInterchangeFormatLength);
        const std::size_t field =
            kTiffInSegment +
            exif_.Find(exif_.ifd1, fixtures::tag::kJpegInterchangeFormatLength)->position + 8;
        const auto size = static_cast<std::uint32_t>(turned.size());
        for (int i = 0; i < 4; ++i)
            bytes_[field + i] =
                static_cast<std::uint8_t>(size >> (exif_.littleEndian ? 8 * i : 24 - 8 * i));
        bytes_.erase(bytes_.begin() + start, bytes_.begin() + start + length);
        bytes_.insert(bytes_.begin() + start, turned.begin(), turned.end());
        bytes_[2] = static_cast<std::uint8_t>((bytes_.size() - 2) >> 8);
        bytes_[3] = static_cast<std::uint8_t>(bytes_.size() - 2);
        return *this;
    }
    const TBytes& Bytes() const { return bytes_; }

  private:
    fixtures::TParsedExif exif_;
    TBytes bytes_;
};

}  // namespace plume::test
