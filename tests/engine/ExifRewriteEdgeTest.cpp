// RewriteApp1 on EXIF segments that are not laid out as cameras write them:
// no Exif IFD, structures in another order, missing thumbnail tags, a turned
// thumbnail too big for the segment, offsets and counts outside the segment,
// cut-off data. None may read outside the segment or write a corrupt one.
#include <chrono>

#include "ExifRewriteTestSupport.h"

namespace plume::test {
namespace {

namespace tag = fixtures::tag;
using fixtures::TExifBlock;
using fixtures::TExifOptions;
using fixtures::TParsedExif;

void SetEntry(std::vector<fixtures::TTiffEntry>& ifd, const fixtures::TTiffEntry& entry) {
    for (auto& e : ifd)
        if (e.tag == entry.tag) e = entry;
}

void RemoveEntry(std::vector<fixtures::TTiffEntry>& ifd, std::uint16_t number) {
    std::erase_if(ifd, [number](const fixtures::TTiffEntry& e) { return e.tag == number; });
}

// The segment after one quarter turn with AllowBreakDCF, when the thumbnail
// must be kept: only the Orientation and the main image's pairs change.
void ExpectThumbnailKept(const TBytes& input) {
    const TBytes output = RotateOk(input, kModeRotateRight, true);
    EXPECT_EQ(App1Of(output), TExpectedSegment(input).Upright().MainPairs().Bytes());
}

TEST(ExifRewriteEdgeTest, SegmentWithoutExifIfdStillGetsIfd0AndThumbnailHandled) {
    PLUME_REQUIRE_JPEGTRAN();
    TExifOptions exif = CameraExif();
    exif.exifIfd.clear();
    const TBytes input = PhotoWithExif(exif);
    const TBytes output = RotateOk(input, kModeRotateLeft, true);
    const TBytes turned = Parsed(output).JpegThumbnail();
    ExpectTurnedLikeJpegtran(turned, exif.thumbnail, kModeRotateLeft);
    const TParsedExif in = Parsed(input);
    EXPECT_EQ(App1Of(output), TExpectedSegment(input)
                                  .Upright()
                                  .Exchange(in.ifd0, tag::kXResolution, tag::kYResolution)
                                  .Exchange(in.ifd1, tag::kImageWidth, tag::kImageLength)
                                  .Exchange(in.ifd1, tag::kXResolution, tag::kYResolution)
                                  .Thumbnail(turned)
                                  .Bytes());
}

TEST(ExifRewriteEdgeTest, IfdsInAnyOrderAreReadWhereTheyAre) {
    PLUME_REQUIRE_JPEGTRAN();
    TExifOptions exif = CameraExif();
    exif.order = {TExifBlock::kIfd1, TExifBlock::kExifIfd, TExifBlock::kThumbnail};
    exif.gapBeforeIfd0 = 10;
    const TBytes input = PhotoWithExif(exif);
    const TBytes output = RotateOk(input, kModeRotateRight, true);
    const TBytes turned = Parsed(output).JpegThumbnail();
    ExpectTurnedLikeJpegtran(turned, exif.thumbnail, kModeRotateRight);
    EXPECT_EQ(
        App1Of(output),
        TExpectedSegment(input).Upright().MainPairs().ThumbnailPairs().Thumbnail(turned).Bytes());
}

TEST(ExifRewriteEdgeTest, ThumbnailWithDataBehindItIsKept) {
    const std::vector<std::vector<TExifBlock>> orders = {
        {TExifBlock::kThumbnail, TExifBlock::kIfd1, TExifBlock::kExifIfd},
        {TExifBlock::kExifIfd, TExifBlock::kThumbnail, TExifBlock::kIfd1},
        {TExifBlock::kIfd1, TExifBlock::kThumbnail, TExifBlock::kExifIfd},
    };
    for (const auto& order : orders) {
        TExifOptions exif = CameraExif();
        exif.order = order;
        ExpectThumbnailKept(PhotoWithExif(exif));
    }
}

TEST(ExifRewriteEdgeTest, UnreferencedBytesAfterTheThumbnailFollowIt) {
    TExifOptions exif = CameraExif();
    exif.trailing = TBytes(37, 0xEE);
    const TBytes input = PhotoWithExif(exif);
    const TBytes output = RotateOk(input, kModeRotate180);
    const TBytes turned = Parsed(output).JpegThumbnail();
    EXPECT_EQ(App1Of(output), TExpectedSegment(input).Upright().Thumbnail(turned).Bytes());
    const TBytes segment = App1Of(output);
    EXPECT_EQ(TBytes(segment.end() - 37, segment.end()), exif.trailing);
}

TEST(ExifRewriteEdgeTest, JpegThumbnailWithoutOffsetOrLengthTagIsKept) {
    for (const std::uint16_t missing :
         {tag::kJpegInterchangeFormat, tag::kJpegInterchangeFormatLength}) {
        TExifOptions exif = CameraExif();
        RemoveEntry(exif.ifd1, missing);
        if (missing == tag::kJpegInterchangeFormat)
            exif.ifd1.push_back(fixtures::Long(0x9999, {0}));  // keeps IFD1's size
        ExpectThumbnailKept(PhotoWithExif(exif));
    }
    TExifOptions zero = CameraExif();
    SetEntry(zero.ifd1, fixtures::Long(tag::kJpegInterchangeFormatLength, {0}));
    ExpectThumbnailKept(PhotoWithExif(zero));
}

TEST(ExifRewriteEdgeTest, TurnedThumbnailThatWouldOverflowTheSegmentIsKept) {
    // Optimised Huffman tables do not code every symbol, so the turned
    // thumbnail carries the larger standard tables: it grows.
    TExifOptions exif = CameraExif();
    exif.thumbnail = Picture(64, 48, 5, true);
    const TBytes small = PhotoWithExif(exif);
    const TBytes turnedOnce = Parsed(RotateOk(small, kModeRotate180)).JpegThumbnail();
    const std::size_t growth = turnedOnce.size() - exif.thumbnail.size();
    ASSERT_GT(turnedOnce.size(), exif.thumbnail.size());
    const std::size_t length = Parsed(small).segmentLength;

    exif.trailing.assign(0xFFFF - length - growth, 0);  // turned, the length reads 65535
    const TBytes fits = PhotoWithExif(exif);
    const TBytes fitsOut = RotateOk(fits, kModeRotate180);
    EXPECT_EQ(Parsed(fitsOut).segmentLength, 0xFFFF);
    EXPECT_EQ(Parsed(fitsOut).JpegThumbnail(), turnedOnce);

    exif.trailing.push_back(0);
    const TBytes tooBig = PhotoWithExif(exif);
    const TBytes out = RotateOk(tooBig, kModeRotate180);
    EXPECT_EQ(App1Of(out), TExpectedSegment(tooBig).Upright().Bytes());
}

TEST(ExifRewriteEdgeTest, StructuresOutsideTheSegmentAreNotRead) {
    const auto big = [](std::uint32_t base) { return base + 0x10000; };
    {  // IFD0 beyond the segment, or inside the header: nothing is changed.
        for (const std::uint32_t ifd0 : {big(0), 4u, 0xFFFFFFF0u}) {
            TExifOptions exif = CameraExif();
            const TBytes segment = fixtures::BuildExif(exif).Segment();
            TBytes patched = segment;
            for (int i = 0; i < 4; ++i)
                patched[14 + i] = static_cast<std::uint8_t>(ifd0 >> (8 * i));
            const TBytes input = fixtures::InsertSegmentAfterSoi(Picture(48, 32), patched);
            EXPECT_EQ(App1Of(RotateOk(input, kModeRotateRight, true)), patched);
        }
    }
    {  // An IFD0 entry count that runs past the end of the segment.
        TExifOptions exif = CameraExif();
        exif.ifd1.clear();
        exif.thumbnail.clear();
        exif.exifIfd.clear();
        TBytes segment = fixtures::BuildExif(exif).Segment();
        segment[18] = 0xFF;
        segment[19] = 0xFF;
        const TBytes input = fixtures::InsertSegmentAfterSoi(Picture(48, 32), segment);
        EXPECT_EQ(App1Of(RotateOk(input, kModeRotateRight, true)), segment);
    }
    {  // Exif IFD pointer beyond the segment or onto IFD0: IFD0's pair only.
        for (const std::uint32_t pointer : {big(8), 8u}) {
            TExifOptions exif = CameraExif();
            exif.ifd1.clear();
            exif.thumbnail.clear();
            exif.ifd0.push_back(fixtures::Long(tag::kExifIfdPointer, {pointer}));
            const TBytes input = PhotoWithExif(exif);
            EXPECT_EQ(App1Of(RotateOk(input, kModeRotateRight, true)),
                      TExpectedSegment(input)
                          .Upright()
                          .Exchange(Parsed(input).ifd0, tag::kXResolution, tag::kYResolution)
                          .Bytes());
        }
    }
    {  // IFD1 beyond the segment, onto IFD0 or onto the Exif IFD: no thumbnail.
        const std::size_t exifIfd = fixtures::BuildExif(CameraExif()).exifIfd;
        for (const std::uint32_t ifd1 : {big(0), 8u, std::uint32_t(exifIfd)}) {
            TExifOptions exif = CameraExif();
            exif.ifd0Next = ifd1;
            ExpectThumbnailKept(PhotoWithExif(exif));
        }
    }
    {  // Thumbnail offset beyond the segment, or onto IFD1.
        const std::size_t ifd1 = fixtures::BuildExif(CameraExif()).ifd1;
        for (const std::uint32_t offset : {big(0), 0xFFFFFFFFu, std::uint32_t(ifd1)}) {
            TExifOptions exif = CameraExif();
            SetEntry(exif.ifd1, fixtures::Long(tag::kJpegInterchangeFormat, {offset}));
            ExpectThumbnailKept(PhotoWithExif(exif));
        }
    }
}

TEST(ExifRewriteEdgeTest, ThumbnailCutShortInsideACompleteSegmentIsDropped) {
    TExifOptions exif = CameraExif();
    exif.thumbnail.resize(exif.thumbnail.size() / 2);  // headers whole, scan cut
    const TBytes input = PhotoWithExif(exif);
    const TBytes output = RotateOk(input, kModeRotateRight, true);
    const TParsedExif out = Parsed(output);
    EXPECT_EQ(out.Number(out.ifd1, tag::kJpegInterchangeFormatLength), 0u);
    EXPECT_EQ(App1Of(output),
              TExpectedSegment(input).Upright().MainPairs().ThumbnailPairs().Thumbnail({}).Bytes());
    exif.thumbnail.resize(40);  // inside the headers
    EXPECT_EQ(Parsed(RotateOk(PhotoWithExif(exif), kModeRotate180)).JpegThumbnail(), TBytes{});
}

TEST(ExifRewriteEdgeTest, FileCutOffInsideTheSegmentEndsThePassAsCutShort) {
    const TBytes whole = PhotoWithExif(CameraExif());
    for (const std::size_t keep : {std::size_t{5}, std::size_t{30}, std::size_t{200}}) {
        const TBytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(keep));
        TJpegRotation engine;
        TMemoryStream in(cut), out;
        EXPECT_FALSE(engine.RotateJpeg(in, out, kModeRotateRight)) << keep;
        EXPECT_TRUE(engine.LastPass().inputEnded) << keep;
    }
}

TEST(ExifRewriteEdgeTest, ThumbnailsNestedDeeperThanOneLevelAreKept) {
    TExifOptions innermost = CameraExif();
    innermost.thumbnail = Picture(16, 16, 2);
    TExifOptions middle = CameraExif();
    middle.thumbnail = fixtures::InsertSegmentAfterSoi(Picture(16, 16, 3),
                                                       fixtures::BuildExif(innermost).Segment());
    TExifOptions outer = CameraExif();
    outer.thumbnail =
        fixtures::InsertSegmentAfterSoi(Picture(32, 16, 4), fixtures::BuildExif(middle).Segment());
    const TBytes output = RotateOk(PhotoWithExif(outer), kModeRotate180);
    const TBytes first = Parsed(output).JpegThumbnail();
    const TBytes second = Parsed(first).JpegThumbnail();
    EXPECT_NE(second, middle.thumbnail);                             // turned
    EXPECT_EQ(Parsed(second).JpegThumbnail(), innermost.thumbnail);  // kept
}

// Every single-byte change of the TIFF data: the pass succeeds, the output
// walks from segment to segment by their lengths, and everything after the
// EXIF segment is what the photo without EXIF gives.
TEST(ExifRewriteEdgeTest, AnySingleByteChangeGivesAWellFormedOutput) {
    TExifOptions exif = CameraExif();
    exif.thumbnail = Picture(16, 8, 7);
    const TBytes segment = fixtures::BuildExif(exif).Segment();
    const TBytes picture = Picture(16, 16);
    const TBytes plain = RotateOk(picture, kModeRotateRight);
    const auto started = std::chrono::steady_clock::now();
    for (std::size_t at = kTiffInSegment; at < segment.size(); ++at) {
        for (const std::uint8_t value :
             {std::uint8_t{0x00}, std::uint8_t{0xFF}, std::uint8_t{0x09}}) {
            TBytes mutated = segment;
            mutated[at] = value;
            const TBytes input = fixtures::InsertSegmentAfterSoi(picture, mutated);
            const TBytes output = RotateOk(input, kModeRotateRight, true);
            const auto app1 = fixtures::FindSegment(output, fixtures::kAPP1);
            ASSERT_TRUE(app1 && app1->offset == 2) << at;
            ASSERT_TRUE(std::equal(output.begin() + app1->End(), output.end(), plain.begin() + 2,
                                   plain.end()))
                << "byte " << at << " = " << int(value);
        }
    }
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started);
    EXPECT_LT(seconds.count(), 60.0);
}

// The largest IFD a segment can hold, with every value in the value area.
TEST(ExifRewriteEdgeTest, FullSegmentOfEntriesIsRewrittenInOnePass) {
    TExifOptions exif = CameraExif();
    exif.ifd1.clear();
    exif.thumbnail.clear();
    for (int i = 0; i < 3000; ++i)
        exif.exifIfd.push_back(fixtures::Rational(0xC000, {{std::uint32_t(i), 1}}));
    const TBytes input = PhotoWithExif(exif);
    ASSERT_GT(Parsed(input).segmentLength, 50000);
    EXPECT_EQ(App1Of(RotateOk(input, kModeRotateLeft)),
              TExpectedSegment(input).Upright().MainPairs().Bytes());
}

}  // namespace
}  // namespace plume::test
