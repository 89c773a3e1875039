// RewriteApp1 on well-formed EXIF segments: the Orientation, the exchanged
// entry pairs, the turned thumbnail and the two lengths, byte for byte.
#include "ExifRewriteTestSupport.h"

namespace plume::test {
namespace {

namespace tag = fixtures::tag;
using fixtures::TParsedEntry;
using fixtures::TParsedExif;

TEST(ExifRewriteTest, QuarterTurnWithoutAllowBreakDcfExchangesMainPairsAndKeepsThumbnail) {
    const TBytes input = PhotoWithExif(CameraExif());
    // The diagonal mirrors exchange the dimensions as the quarter turns do.
    for (const std::uint8_t mode : {kModeRotateLeft, kModeTranspose, kModeTransverse})
        EXPECT_EQ(App1Of(RotateOk(input, mode)),
                  TExpectedSegment(input).Upright().MainPairs().Bytes())
            << int(mode);
    const TBytes output = RotateOk(input, kModeRotateRight);
    EXPECT_EQ(App1Of(output), TExpectedSegment(input).Upright().MainPairs().Bytes());

    const TParsedExif out = Parsed(output), in = Parsed(input);
    const TParsedEntry* orientation = out.Find(out.ifd0, tag::kOrientation);
    EXPECT_EQ(out.tiff[orientation->position + 8], 0x01);
    EXPECT_EQ(out.tiff[orientation->position + 9], 0x00);
    EXPECT_EQ(out.Number(out.exifIfd, tag::kPixelXDimension), 480u);
    EXPECT_EQ(out.Number(out.exifIfd, tag::kPixelYDimension), 640u);
    EXPECT_EQ(out.Find(out.ifd0, tag::kXResolution)->valueField,
              in.Find(in.ifd0, tag::kYResolution)->valueField);
    EXPECT_EQ(out.JpegThumbnail(), in.JpegThumbnail());
    EXPECT_EQ(out.segmentLength, in.segmentLength);
}

TEST(ExifRewriteTest, QuarterTurnsWithAllowBreakDcfTurnThumbnailAndExchangeEveryPair) {
    PLUME_REQUIRE_JPEGTRAN();
    for (const std::uint8_t mode :
         {kModeRotateRight, kModeRotateLeft, kModeTranspose, kModeTransverse}) {
        SCOPED_TRACE(int(mode));
        const TBytes input = PhotoWithExif(CameraExif());
        const TBytes output = RotateOk(input, mode, true);
        const TParsedExif in = Parsed(input), out = Parsed(output);
        const TBytes turned = out.JpegThumbnail();
        ExpectTurnedLikeJpegtran(turned, in.JpegThumbnail(), mode);
        EXPECT_EQ(App1Of(output), TExpectedSegment(input)
                                      .Upright()
                                      .MainPairs()
                                      .ThumbnailPairs()
                                      .Thumbnail(turned)
                                      .Bytes());
        EXPECT_EQ(int(out.segmentLength) - int(in.segmentLength),
                  int(turned.size()) - int(in.JpegThumbnail().size()));
        EXPECT_EQ(out.Number(out.ifd1, tag::kJpegInterchangeFormat),
                  in.Number(in.ifd1, tag::kJpegInterchangeFormat));
        EXPECT_EQ(out.Number(out.ifd1, tag::kImageWidth), 16u);
    }
}

TEST(ExifRewriteTest, HalfTurnAndMirrorsTurnThumbnailWhateverTheOptionAndExchangeNothing) {
    PLUME_REQUIRE_JPEGTRAN();
    for (const std::uint8_t mode : {kModeRotate180, kModeFlipHorizontal, kModeFlipVertical}) {
        for (const bool allow : {false, true}) {
            SCOPED_TRACE(testing::Message() << "mode " << int(mode) << " allow " << allow);
            const TBytes input = PhotoWithExif(CameraExif());
            const TBytes output = RotateOk(input, mode, allow);
            const TBytes turned = Parsed(output).JpegThumbnail();
            ExpectTurnedLikeJpegtran(turned, Parsed(input).JpegThumbnail(), mode);
            EXPECT_EQ(App1Of(output), TExpectedSegment(input).Upright().Thumbnail(turned).Bytes());
        }
    }
}

TEST(ExifRewriteTest, BigEndianSegmentGetsBigEndianOrientationAndThumbnailLength) {
    PLUME_REQUIRE_JPEGTRAN();
    const TBytes input = PhotoWithExif(CameraExif(false));
    const TBytes output = RotateOk(input, kModeRotateLeft, true);
    const TParsedExif out = Parsed(output);
    EXPECT_FALSE(out.littleEndian);
    const TParsedEntry* orientation = out.Find(out.ifd0, tag::kOrientation);
    EXPECT_EQ(out.tiff[orientation->position + 8], 0x00);
    EXPECT_EQ(out.tiff[orientation->position + 9], 0x01);
    const TBytes turned = out.JpegThumbnail();
    ASSERT_FALSE(turned.empty());
    EXPECT_EQ(
        App1Of(output),
        TExpectedSegment(input).Upright().MainPairs().ThumbnailPairs().Thumbnail(turned).Bytes());
}

TEST(ExifRewriteTest, OrientationBecomesUprightInEveryModeWhateverItsValue) {
    for (const int value : {1, 3, 5, 8, 200}) {
        fixtures::TExifOptions exif = CameraExif();
        exif.ifd0 = fixtures::TypicalIfd0(value);
        const TBytes input = PhotoWithExif(exif);
        for (std::uint8_t mode = 0; mode < kModeCount; ++mode) {
            const TParsedExif out = Parsed(RotateOk(input, mode));
            EXPECT_EQ(out.Number(out.ifd0, tag::kOrientation), 1u) << value << " " << int(mode);
        }
    }
}

TEST(ExifRewriteTest, PairWithOneEntryIsLeftAsWritten) {
    fixtures::TExifOptions exif = CameraExif();
    exif.exifIfd = {fixtures::Long(tag::kPixelXDimension, {640})};
    const TBytes input = PhotoWithExif(exif);
    const TBytes output = RotateOk(input, kModeRotateRight);
    const TParsedExif out = Parsed(output);
    EXPECT_EQ(out.Number(out.exifIfd, tag::kPixelXDimension), 640u);
    EXPECT_EQ(out.Find(out.exifIfd, tag::kPixelYDimension), nullptr);
    EXPECT_EQ(App1Of(output),
              TExpectedSegment(input)
                  .Upright()
                  .Exchange(Parsed(input).ifd0, tag::kXResolution, tag::kYResolution)
                  .Bytes());
}

TEST(ExifRewriteTest, PairOfShortAndLongExchangesTypesWithValues) {
    fixtures::TExifOptions exif = CameraExif();
    exif.exifIfd = {fixtures::Short(tag::kPixelXDimension, {640}),
                    fixtures::Long(tag::kPixelYDimension, {480})};
    const TParsedExif out = Parsed(RotateOk(PhotoWithExif(exif), kModeRotateLeft));
    const TParsedEntry* x = out.Find(out.exifIfd, tag::kPixelXDimension);
    const TParsedEntry* y = out.Find(out.exifIfd, tag::kPixelYDimension);
    EXPECT_EQ(x->type, fixtures::kTiffLong);
    EXPECT_EQ(x->numbers, std::vector<std::uint32_t>{480});
    EXPECT_EQ(y->type, fixtures::kTiffShort);
    EXPECT_EQ(y->numbers, std::vector<std::uint32_t>{640});
}

TEST(ExifRewriteTest, ThumbnailLengthBeyondSegmentTakesTheRestOfIt) {
    PLUME_REQUIRE_JPEGTRAN();
    fixtures::TExifOptions exif = CameraExif();
    for (auto& entry : exif.ifd1) {
        if (entry.tag == tag::kJpegInterchangeFormatLength)
            entry = fixtures::Long(tag::kJpegInterchangeFormatLength,
                                   {std::uint32_t(exif.thumbnail.size() + 100)});
    }
    const TBytes output = RotateOk(PhotoWithExif(exif), kModeRotate180);
    ExpectTurnedLikeJpegtran(Parsed(output).JpegThumbnail(), exif.thumbnail, kModeRotate180);
}

TEST(ExifRewriteTest, ThumbnailThatIsNotJpegIsDroppedWithLengthZero) {
    fixtures::TExifOptions exif = CameraExif();
    exif.thumbnail.assign(300, 0x5A);
    const TBytes input = PhotoWithExif(exif);
    for (const std::uint8_t mode : {kModeRotateRight, kModeRotate180}) {
        const TBytes output = RotateOk(input, mode, true);
        const TParsedExif out = Parsed(output);
        EXPECT_EQ(out.Number(out.ifd1, tag::kJpegInterchangeFormatLength), 0u);
        EXPECT_EQ(out.segmentLength, Parsed(input).segmentLength - 300);
        TExpectedSegment expected(input);
        expected.Upright();
        if (mode == kModeRotateRight) expected.MainPairs().ThumbnailPairs();
        EXPECT_EQ(App1Of(output), expected.Thumbnail({}).Bytes());
    }
}

TEST(ExifRewriteTest, UncompressedThumbnailAndItsIfd1StayAsTheyAre) {
    fixtures::TExifOptions exif = CameraExif();
    exif.ifd1 = fixtures::UncompressedThumbnailIfd1(4, 2);
    exif.thumbnail.assign(4 * 2 * 3, 0x80);
    const TBytes input = PhotoWithExif(exif);
    const TBytes output = RotateOk(input, kModeRotateRight, true);
    EXPECT_EQ(App1Of(output), TExpectedSegment(input).Upright().MainPairs().Bytes());
}

TEST(ExifRewriteTest, SegmentWithoutIfd1ChangesOnlyOrientationAndMainPairs) {
    fixtures::TExifOptions exif = CameraExif();
    exif.ifd1.clear();
    exif.thumbnail.clear();
    const TBytes input = PhotoWithExif(exif);
    EXPECT_EQ(App1Of(RotateOk(input, kModeRotateLeft, true)),
              TExpectedSegment(input).Upright().MainPairs().Bytes());
}

TEST(ExifRewriteTest, OtherApp1SegmentsPassByteForByte) {
    const std::string xmp = "http://ns.adobe.com/xap/1.0/\0<x:xmpmeta/>";
    const std::vector<TBytes> bodies = {
        TBytes(xmp.begin(), xmp.end()),
        {'E', 'x', 'i', 'f'},                         // identifier cut short
        {'E', 'x', 'i', 'f', 0, 1, 'I', 'I', 42, 0},  // not "Exif\0\0"
        {'E', 'x', 'i', 'f', 0, 0},                   // no TIFF data at all
        {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 42, 0},  // TIFF header cut short
        {},
    };
    for (const TBytes& body : bodies) {
        fixtures::TSegmentBuilder segment;
        segment.App(1, body);
        const TBytes input = fixtures::InsertSegmentAfterSoi(Picture(16, 16), segment.Data());
        for (const std::uint8_t mode : {kModeRotateRight, kModeRotate180})
            EXPECT_EQ(App1Of(RotateOk(input, mode, true)), segment.Data());
    }
}

TEST(ExifRewriteTest, ThumbnailHoldingItsOwnExifHasItRewrittenToo) {
    PLUME_REQUIRE_JPEGTRAN();
    fixtures::TExifOptions inner = CameraExif(false);
    inner.thumbnail = Picture(16, 16, 3);
    fixtures::TExifOptions outer = CameraExif();
    outer.thumbnail =
        fixtures::InsertSegmentAfterSoi(Picture(32, 16, 9), fixtures::BuildExif(inner).Segment());
    const TBytes output = RotateOk(PhotoWithExif(outer), kModeRotate180, true);
    const TBytes turned = Parsed(output).JpegThumbnail();
    const TParsedExif nested = Parsed(turned);
    EXPECT_EQ(nested.Number(nested.ifd0, tag::kOrientation), 1u);
    ExpectTurnedLikeJpegtran(nested.JpegThumbnail(), inner.thumbnail, kModeRotate180);
    ExpectTurnedLikeJpegtran(turned, outer.thumbnail, kModeRotate180);
}

}  // namespace
}  // namespace plume::test
