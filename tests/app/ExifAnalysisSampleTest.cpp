// The orientation photos (one scene stored with each EXIF Orientation) with
// their JFIF APP0 dropped and the EXIF segment moved right after SOI: the
// analysis gives the mode, and the engine's output stands upright with
// Orientation 1 and the blocks jpegtran gives for that turn.
#include <gtest/gtest.h>

#include "AppTestSupport.h"
#include "JpegRotation/JpegRotation.h"
#include "app/analysis/ExifAnalysis.h"
#include "fixtures/ExifBuilder.h"
#include "fixtures/Fixtures.h"

namespace plume::test {
namespace {

std::uint8_t ExpectedMode(int orientation) {
    switch (orientation) {
        case 6:
            return kModeRotateRight;
        case 8:
            return kModeRotateLeft;
        case 3:
            return kModeRotate180;
        default:
            return kModeNone;
    }
}

const std::vector<std::string>& JpegtranArgs(std::uint8_t mode) {
    static const std::vector<std::string> kArgs[] = {
        {}, {"-rotate", "90"}, {"-rotate", "270"}, {"-rotate", "180"}};
    return kArgs[mode];
}

TEST(ExifAnalysisSampleTest, OrientationPhotosComeOutUprightLikeJpegtran) {
    PLUME_REQUIRE_SAMPLES();
    PLUME_REQUIRE_JPEGTRAN();
    const auto folder = fixtures::SamplesDir() / "orientation";
    if (!std::filesystem::is_directory(folder)) GTEST_SKIP() << "no " << folder;
    int turned = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".jpg") continue;
        SCOPED_TRACE(name);
        const TBytes original = fixtures::ReadFileBytes(entry.path());
        // The EXIF segment moved right after SOI, without the JFIF APP0.
        const auto app1 = fixtures::FindSegment(original, fixtures::kAPP1);
        ASSERT_TRUE(app1.has_value());
        const TBytes input = fixtures::InsertSegmentAfterSoi(
            fixtures::RemoveSegments(fixtures::RemoveSegments(original, fixtures::kAPP0),
                                     fixtures::kAPP1),
            fixtures::SegmentBytes(original, *app1));
        const auto exif = fixtures::ParseExif(input);
        ASSERT_TRUE(exif && exif->segmentOffset == 2);
        const int orientation =
            static_cast<int>(exif->Number(exif->ifd0, fixtures::tag::kOrientation).value_or(0));

        TMemoryStream source(input);
        const std::uint8_t mode = AnalysisData(source, {.ExifAnywhere = false}).Mode;
        EXPECT_EQ(mode, ExpectedMode(orientation));
        // As the photo came, its EXIF is found only by the search.
        TMemoryStream asStored(original);
        EXPECT_EQ(AnalysisData(asStored, {.ExifAnywhere = false}).Mode, kModeNone);
        EXPECT_EQ(AnalysisData(asStored, {.ExifAnywhere = true}).Mode, mode);
        if (mode == kModeNone) {
            EXPECT_EQ(source.Bytes(), input);
            continue;
        }
        TJpegRotation engine;
        TMemoryStream output;
        ASSERT_TRUE(engine.ValidateJpeg(source));
        ASSERT_TRUE(engine.RotateJpeg(source, output, mode));
        const auto outExif = fixtures::ParseExif(output.Bytes());
        ASSERT_TRUE(outExif.has_value());
        EXPECT_EQ(outExif->Number(outExif->ifd0, fixtures::tag::kOrientation), 1u);

        // Both read on frames raised to whole MCUs, so that the partial edge
        // blocks count too.
        const auto actual =
            fixtures::ReadCoefficients(fixtures::PadFrameToWholeMcus(output.Bytes()));
        const auto expected = fixtures::ReadCoefficients(
            fixtures::RunJpegtran(JpegtranArgs(mode), fixtures::PadFrameToWholeMcus(input)));

        EXPECT_EQ(actual.width, expected.width);
        EXPECT_EQ(actual.height, expected.height);
        ASSERT_EQ(actual.components.size(), expected.components.size());
        for (std::size_t c = 0; c < actual.components.size(); ++c)
            EXPECT_TRUE(actual.components[c].blocks == expected.components[c].blocks) << c;
        ++turned;
    }
    EXPECT_GE(turned, 3);
}

}  // namespace
}  // namespace plume::test
