// The EXIF builder of the fixture library, checked against exiftool and its
// own reader, so that the EXIF tests stand on segments that other programs
// read as intended.
#include "fixtures/ExifBuilder.h"
#include "fixtures/Fixtures.h"

namespace plume::fixtures {
namespace {

#define PLUME_REQUIRE_EXIFTOOL()                                                        \
    do {                                                                                \
        if (!HaveExiftool()) GTEST_SKIP() << "exiftool not found at " << kExiftoolPath; \
    } while (false)

TBytes Thumbnail() {
    TEncodeOptions options;
    options.Size(32, 24).Sampling(TSampling::k420);
    options.writeJfif = false;
    return EncodeJpeg(options);
}

TExifOptions Typical(bool littleEndian) {
    TExifOptions exif;
    exif.littleEndian = littleEndian;
    exif.ifd0 = TypicalIfd0(6);
    exif.exifIfd = TypicalExifIfd(64, 48);
    exif.ifd1 = JpegThumbnailIfd1(32, 24);
    exif.thumbnail = Thumbnail();
    return exif;
}

TBytes PhotoWith(const TBuiltExif& exif) {
    TEncodeOptions options;
    options.Size(64, 48);
    options.writeJfif = false;
    return InsertSegmentAfterSoi(EncodeJpeg(options), exif.Segment());
}

TEST(ExifBuilderTest, ExiftoolReadsEveryEntryInBothByteOrders) {
    PLUME_REQUIRE_EXIFTOOL();
    for (const bool little : {true, false}) {
        SCOPED_TRACE(little ? "II" : "MM");
        const TBytes jpeg = PhotoWith(BuildExif(Typical(little)));
        const auto tags = ExiftoolTags(jpeg);
        EXPECT_EQ(tags.count("ExifTool:Warning"), 0u) << tags.at("ExifTool:Warning");
        EXPECT_EQ(tags.at("File:ExifByteOrder"), little ? "II" : "MM");
        EXPECT_EQ(tags.at("IFD0:Orientation"), "6");
        EXPECT_EQ(tags.at("IFD0:XResolution"), "72");
        EXPECT_EQ(tags.at("IFD0:YResolution"), "300");
        EXPECT_EQ(tags.at("ExifIFD:ExifImageWidth"), "64");
        EXPECT_EQ(tags.at("ExifIFD:ExifImageHeight"), "48");
        EXPECT_EQ(tags.at("ExifIFD:FocalPlaneYResolution"), "1500");
        EXPECT_EQ(tags.at("IFD1:Compression"), "6");
        EXPECT_EQ(tags.at("IFD1:ImageWidth"), "32");
        EXPECT_EQ(tags.at("IFD1:YResolution"), "96");
        EXPECT_EQ(tags.at("IFD1:ThumbnailLength"), std::to_string(Thumbnail().size()));
    }
}

TEST(ExifBuilderTest, ReaderFindsEntriesAndThumbnailWhereTheBuilderPutThem) {
    for (const bool little : {true, false}) {
        const TBuiltExif built = BuildExif(Typical(little));
        const TBytes jpeg = PhotoWith(built);
        const auto exif = ParseExif(jpeg);
        ASSERT_TRUE(exif.has_value());
        EXPECT_EQ(exif->segmentOffset, 2u);
        EXPECT_EQ(exif->tiffStart, 12u);
        EXPECT_EQ(exif->littleEndian, little);
        EXPECT_EQ(exif->tiff, built.tiff);
        EXPECT_EQ(exif->Number(exif->ifd0, tag::kOrientation), 6u);
        EXPECT_EQ(exif->Number(exif->ifd0, tag::kYResolution, 0), 300u);
        EXPECT_EQ(exif->Number(exif->exifIfd, tag::kPixelXDimension), 64u);
        EXPECT_EQ(exif->ifd1Offset, built.ifd1);
        EXPECT_EQ(exif->Number(exif->ifd1, tag::kJpegInterchangeFormat), built.thumbnail);
        EXPECT_EQ(exif->JpegThumbnail(), Thumbnail());
    }
}

TEST(ExifBuilderTest, BlocksFollowTheRequestedOrderAndGap) {
    TExifOptions options = Typical(true);
    options.order = {TExifBlock::kThumbnail, TExifBlock::kIfd1, TExifBlock::kExifIfd};
    options.gapBeforeIfd0 = 6;
    const TBuiltExif built = BuildExif(options);
    EXPECT_EQ(built.ifd0, 14u);
    EXPECT_LT(built.thumbnail, built.ifd1);
    EXPECT_LT(built.ifd1, built.exifIfd);
    const auto exif = ParseExif(PhotoWith(built));
    ASSERT_TRUE(exif.has_value());
    EXPECT_EQ(exif->JpegThumbnail(), Thumbnail());
    EXPECT_EQ(exif->Number(exif->exifIfd, tag::kPixelYDimension), 48u);
}

TEST(ExifBuilderTest, InsertsAfterSoiOrAfterApp0AndRemovesSegments) {
    TEncodeOptions options;
    options.Size(16, 16);
    const TBytes jfif = EncodeJpeg(options);
    const TBytes segment = BuildExif(Typical(true)).Segment();
    const TBytes first = InsertSegmentAfterSoi(jfif, segment);
    EXPECT_EQ(FindSegment(first, kAPP1)->offset, 2u);
    const TBytes second = InsertSegmentAfterSoi(jfif, segment, true);
    EXPECT_EQ(FindSegment(second, kAPP0)->offset, 2u);
    EXPECT_EQ(FindSegment(second, kAPP1)->offset, FindSegment(second, kAPP0)->End());
    const TBytes withoutApp0 = RemoveSegments(second, kAPP0);
    EXPECT_EQ(FindSegment(withoutApp0, kAPP1)->offset, 2u);
    EXPECT_FALSE(FindSegment(withoutApp0, kAPP0).has_value());
    EXPECT_EQ(withoutApp0.size(), second.size() - (FindSegment(second, kAPP0)->length + 2u));
}

}  // namespace
}  // namespace plume::fixtures
