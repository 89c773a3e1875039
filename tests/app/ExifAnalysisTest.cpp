// AnalysisData: the rotation mode from IFD0's Orientation, the upright reset
// in place, IFD1's Orientation under AllowBreakDCF, the thumbnail preview,
// and reads that stay inside the EXIF segment.
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "app/analysis/ExifAnalysis.h"
#include "fixtures/ExifBuilder.h"
#include "fixtures/Fixtures.h"

namespace plume::test {
namespace {

namespace tag = fixtures::tag;
using fixtures::TExifOptions;

class TPreviewView : public TRecordingView {
  public:
    std::vector<TBytes> previews;
    void ShowPreview(const std::vector<std::uint8_t>& jpeg) override { previews.push_back(jpeg); }
};

struct TAnalysed {
    std::uint8_t mode = 0;
    TBytes bytes;       // the stream's bytes afterwards
    TPreviewView view;  // what the run shows of what the analysis found
};

std::unique_ptr<TAnalysed> Analyse(const TBytes& file, bool allowBreakDCF = false,
                                   bool anywhere = false, bool fixMirrored = false) {
    auto result = std::make_unique<TAnalysed>();
    TMemoryStream stream(file);
    TAnalysisOptions options;
    options.AllowBreakDCF = allowBreakDCF;
    options.ExifAnywhere = anywhere;
    options.FixMirrored = fixMirrored;
    const TAnalysis found = AnalysisData(stream, options);
    result->mode = found.Mode;
    if (found.NoSoi) result->view.ShowPlainMessage(kMsgAnalysisNoSoi);
    if (!found.Thumbnail.empty()) result->view.ShowPreview(found.Thumbnail);
    result->bytes = stream.Bytes();
    return result;
}

TBytes Picture() {
    fixtures::TEncodeOptions options;
    options.Size(16, 16);
    options.writeJfif = false;
    return fixtures::EncodeJpeg(options);
}

TExifOptions Exif(int orientation, int thumbnailOrientation = 0, bool little = true) {
    TExifOptions exif;
    exif.littleEndian = little;
    exif.ifd0 = fixtures::TypicalIfd0(orientation);
    exif.exifIfd = fixtures::TypicalExifIfd(16, 16);
    exif.ifd1 = fixtures::JpegThumbnailIfd1(16, 16);
    if (thumbnailOrientation > 0)
        exif.ifd1.push_back(
            fixtures::Short(tag::kOrientation, {std::uint32_t(thumbnailOrientation)}));
    exif.thumbnail = Picture();
    return exif;
}

TBytes WithExif(const TExifOptions& exif) {
    return fixtures::InsertSegmentAfterSoi(Picture(), fixtures::BuildExif(exif).Segment());
}

std::optional<std::uint32_t> Orientation(const TBytes& file, bool ifd1 = false) {
    const auto exif = fixtures::ParseExif(file);
    return exif->Number(ifd1 ? exif->ifd1 : exif->ifd0, tag::kOrientation);
}

TEST(ExifAnalysisTest, HandMadeBigAndLittleEndianOrientationSixGiveModeOne) {
    const TBytes big = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x24, 0x45, 0x78, 0x69, 0x66,
                        0x00, 0x00, 0x4D, 0x4D, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08,
                        0x00, 0x01, 0x01, 0x12, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01,
                        0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const auto b = Analyse(big);
    EXPECT_EQ(b->mode, 1);
    EXPECT_EQ(b->bytes[30], 0x00);
    EXPECT_EQ(b->bytes[31], 0x01);
    TBytes expected = big;
    expected[31] = 0x01;
    EXPECT_EQ(b->bytes, expected);
    EXPECT_TRUE(b->view.previews.empty());

    const TBytes little = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x24, 0x45, 0x78, 0x69, 0x66,
                           0x00, 0x00, 0x49, 0x49, 0x2A, 0x00, 0x08, 0x00, 0x00, 0x00,
                           0x01, 0x00, 0x12, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00,
                           0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    const auto l = Analyse(little);
    EXPECT_EQ(l->mode, 1);
    EXPECT_EQ(l->bytes[30], 0x01);
    EXPECT_EQ(l->bytes[31], 0x00);
}

// Without FixMirrored the mirrored orientations ask for nothing; with it,
// for the mirror that undoes each.
TEST(ExifAnalysisTest, OrientationsGiveTheirModesAndOnlyTurnsAreReset) {
    struct TCase {
        int orientation, mode, mirroredMode;
    };
    const TCase cases[] = {{1, 0, 0}, {2, 0, 4}, {3, 3, 3}, {4, 0, 5}, {5, 0, 6},
                           {6, 1, 1}, {7, 0, 7}, {8, 2, 2}, {9, 0, 0}, {0, 0, 0}};
    for (const bool little : {true, false}) {
        for (const bool fixMirrored : {false, true})
            for (const TCase& c : cases) {
                const int orientation = c.orientation;
                const int mode = fixMirrored ? c.mirroredMode : c.mode;
                SCOPED_TRACE(testing::Message() << orientation << (little ? " II" : " MM")
                                                << (fixMirrored ? " mirrored" : ""));
                const TBytes file = WithExif(Exif(orientation, 0, little));
                const auto result = Analyse(file, false, false, fixMirrored);
                EXPECT_EQ(result->mode, mode);
                if (mode != 0) {
                    EXPECT_EQ(Orientation(result->bytes), 1u);
                } else {
                    EXPECT_EQ(result->bytes, file);
                }
                ASSERT_EQ(result->view.previews.size(), 1u);
                EXPECT_EQ(result->view.previews[0], Picture());
            }
    }
}

TEST(ExifAnalysisTest, Ifd1OrientationIsResetOnlyUnderAllowBreakDcf) {
    const TBytes file = WithExif(Exif(1, 6));
    const auto off = Analyse(file, false);
    EXPECT_EQ(off->bytes, file);
    const auto on = Analyse(file, true);
    EXPECT_EQ(on->mode, 0);
    EXPECT_EQ(Orientation(on->bytes, true), 1u);
    TBytes expected = file;
    const auto exif = fixtures::ParseExif(file);
    const std::size_t at =
        exif->tiffStart + exif->Find(exif->ifd1, tag::kOrientation)->position + 8;
    expected[at] = 1;
    EXPECT_EQ(on->bytes, expected);
}

TEST(ExifAnalysisTest, NotAJpegShowsThePlainMessageOnceAndKeepsTheMode) {
    const auto result = Analyse({0x89, 'P', 'N', 'G', 0, 0});
    EXPECT_EQ(result->mode, 0);
    EXPECT_EQ(result->view.Lines("plain:"),
              std::vector<std::string>{"JPEGファイルの開始のヘッダ($FFD8)を認識できません"});
}

TEST(ExifAnalysisTest, ExifBehindAnotherSegmentIsReadOnlyWhenAskedFor) {
    fixtures::TEncodeOptions options;
    options.Size(16, 16);
    const TBytes jfif = fixtures::EncodeJpeg(options);  // APP0 first
    const TBytes segment = fixtures::BuildExif(Exif(8)).Segment();
    const std::string xmpText = "http://ns.adobe.com/xap/1.0/\0<x/>";
    fixtures::TSegmentBuilder xmp;
    xmp.App(1, TBytes(xmpText.begin(), xmpText.end()));
    const TBytes files[] = {
        fixtures::InsertSegmentAfterSoi(jfif, segment, true),
        fixtures::InsertSegmentAfterSoi(WithExif(Exif(8)), xmp.Data()),
    };
    for (const TBytes& file : files) {
        const auto plain = Analyse(file);
        EXPECT_EQ(plain->mode, 0);
        EXPECT_EQ(plain->bytes, file);
        EXPECT_TRUE(plain->view.previews.empty());
        const auto anywhere = Analyse(file, false, true);
        EXPECT_EQ(anywhere->mode, 2);
        EXPECT_EQ(Orientation(anywhere->bytes), 1u);
        EXPECT_EQ(anywhere->view.previews.size(), 1u);
    }
}

TEST(ExifAnalysisTest, SearchForExifStopsAtTheFrameHeader) {
    const TBytes picture = Picture();
    const auto sos = fixtures::FindSegment(picture, fixtures::kSOS);
    const TBytes file =
        fixtures::InsertBytes(picture, sos->offset, fixtures::BuildExif(Exif(6)).Segment());
    const auto result = Analyse(file, false, true);
    EXPECT_EQ(result->mode, 0);
    EXPECT_EQ(result->bytes, file);
}

TEST(ExifAnalysisTest, ThumbnailNeedsBothTagsInsideTheSegment) {
    for (const std::uint16_t missing :
         {tag::kJpegInterchangeFormat, tag::kJpegInterchangeFormatLength}) {
        TExifOptions exif = Exif(6);
        std::erase_if(exif.ifd1, [missing](const auto& e) { return e.tag == missing; });
        const auto result = Analyse(WithExif(exif));
        EXPECT_EQ(result->mode, 1);
        EXPECT_TRUE(result->view.previews.empty());
    }
    TExifOptions beyond = Exif(6);
    for (auto& entry : beyond.ifd1)
        if (entry.tag == tag::kJpegInterchangeFormatLength)
            entry = fixtures::Long(tag::kJpegInterchangeFormatLength,
                                   {std::uint32_t(beyond.thumbnail.size() + 1)});
    EXPECT_TRUE(Analyse(WithExif(beyond))->view.previews.empty());
}

// IFD0 is read where the TIFF header puts it. (It was once read at TIFF
// offset 8 whatever the header said, so a camera that writes its Exif IFD
// there first was never turned, and the bytes of another structure could be
// taken for IFD0's Orientation and overwritten.)
TEST(ExifAnalysisTest, Ifd0IsReadWhereTheHeaderPutsItAndIfd1OnlyWhenLinked) {
    TExifOptions later = Exif(3, 6);
    later.gapBeforeIfd0 = 26;  // zeros, which read from offset 8 as an empty IFD
    const auto moved = Analyse(WithExif(later), true);
    EXPECT_EQ(moved->mode, 3);
    EXPECT_EQ(Orientation(moved->bytes, true), 1u);
    // An IFD0 offset into the header or past the segment names no IFD0.
    for (const std::uint16_t offset : {4, 0xF0F0}) {
        TBytes file = WithExif(Exif(3));  // little-endian
        file[12 + 4] = static_cast<std::uint8_t>(offset);
        file[12 + 5] = static_cast<std::uint8_t>(offset >> 8);
        const auto result = Analyse(file);
        EXPECT_EQ(result->mode, 0);
        EXPECT_EQ(result->bytes, file);
    }

    // With no next-IFD offset, IFD1's Orientation stays as it is.
    TExifOptions unlinked = Exif(3, 6);
    unlinked.ifd0Next = 0;
    const TBytes input = WithExif(unlinked);
    const auto result = Analyse(input, true);
    EXPECT_EQ(result->mode, 3);
    EXPECT_TRUE(result->view.previews.empty());
    const auto exif = fixtures::ParseExif(input);
    TBytes expected = input;
    expected[exif->tiffStart + exif->Find(exif->ifd0, tag::kOrientation)->position + 8] = 1;
    EXPECT_EQ(result->bytes, expected);
}

TEST(ExifAnalysisTest, StructuresOutsideTheSegmentAreNeitherReadNorChanged) {
    {  // IFD0's entries run past the segment's end: no mode, nothing written.
        TBytes file = WithExif(Exif(6));
        file[20] = 0xFF;
        file[21] = 0x7F;
        const auto result = Analyse(file);
        EXPECT_EQ(result->mode, 0);
        EXPECT_EQ(result->bytes, file);
    }
    {  // IFD1 pointing into IFD0 or past the segment: IFD0's mirrored
       // Orientation is not taken for IFD1's.
        for (const std::uint32_t next : {8u, 0x20000u}) {
            TExifOptions exif = Exif(2);
            exif.ifd0Next = next;
            const TBytes file = WithExif(exif);
            const auto result = Analyse(file, true);
            EXPECT_EQ(result->bytes, file);
            EXPECT_TRUE(result->view.previews.empty());
        }
    }
    {  // An APP1 too short for the TIFF header.
        fixtures::TSegmentBuilder segment;
        segment.App(1, {'E', 'x', 'i', 'f', 0, 0, 'I', 'I'});
        const TBytes file = fixtures::InsertSegmentAfterSoi(Picture(), segment.Data());
        EXPECT_EQ(Analyse(file)->bytes, file);
    }
}

TEST(ExifAnalysisTest, FileCutOffInsideItsExifRaisesTheReadError) {
    const TBytes file = WithExif(Exif(6));
    for (const std::size_t keep :
         {std::size_t{3}, std::size_t{9}, std::size_t{25}, std::size_t{60}}) {
        TMemoryStream stream(
            TBytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(keep)));
        EXPECT_THROW(AnalysisData(stream, {}), EStreamError) << keep;
    }
}

// Whatever a single byte of the EXIF says, the analysis ends normally and
// changes nothing outside the segment.
TEST(ExifAnalysisTest, AnySingleByteChangeStaysInsideTheSegment) {
    const TBytes file = WithExif(Exif(6, 8));
    const auto segment = fixtures::FindSegment(file, fixtures::kAPP1);
    for (std::size_t at = 12; at < segment->End(); ++at) {
        for (const std::uint8_t value : {std::uint8_t{0}, std::uint8_t{0xFF}, std::uint8_t{0x12}}) {
            TBytes mutated = file;
            mutated[at] = value;
            const auto result = Analyse(mutated, true, true);
            ASSERT_TRUE(std::equal(result->bytes.begin() + segment->End(), result->bytes.end(),
                                   mutated.begin() + segment->End()))
                << at;
        }
    }
}

}  // namespace
}  // namespace plume::test
