// Every mode against jpegtran, through libjpeg's own reading of the
// coefficients: blocks, quantisation tables and sampling factors of
// `jpegtran -rotate 90 / 270 / 180`, `-flip horizontal / vertical`,
// `-transpose`, `-transverse`; mode 0
// gives back the input's coefficients. Images that are not whole MCUs have
// their declared size raised to whole MCUs on both sides before comparing, so
// that the blocks beyond the picture are checked too. Every output decodes
// with djpeg without a warning, and the engine's bytes are those of the
// reference coder, with and without the second coding thread.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <sstream>

#include "ReferenceCoder.h"
#include "ReferenceCoderRuns.h"
#include "fixtures/ExifBuilder.h"
#include "fixtures/Fixtures.h"
#include "fixtures/MultiPictureBuilder.h"

namespace plume::test {
namespace {

using fixtures::ExpectSameCoefficients;
using fixtures::TCoefficientImage;

const char* const kPartialMcuWarning =
    "画像のサイズがMCUの単位になっていません。回転処理を行うと、画像の端が正しく処理されません";

std::string ModeName(int mode) {
    const char* names[kModeCount] = {"Mode0",          "Mode1Right",     "Mode2Left",
                                     "Mode3Half",      "Mode4MirrorH",   "Mode5MirrorV",
                                     "Mode6Transpose", "Mode7Transverse"};
    return names[mode];
}

bool Exchanges(int mode) {
    return ExchangesDimensions(static_cast<std::uint8_t>(mode));
}

// Declared size of the output: the input's, exchanged by a quarter turn.
void ExpectDeclaredSize(const TBytes& output, const TBytes& input, int mode) {
    const auto in = fixtures::ParseFrameHeader(input);
    const auto out = fixtures::ParseFrameHeader(output);
    ASSERT_TRUE(in && out);
    EXPECT_EQ(out->width, Exchanges(mode) ? in->height : in->width);
    EXPECT_EQ(out->height, Exchanges(mode) ? in->width : in->height);
}

// What jpegtran makes of the input raised to whole MCUs, or the input itself for mode 0.
// The sampling factors of a frame of one component do not shape its scan;
// jpegtran writes 1x1 there, the engine keeps the file's (exchanged by a
// quarter turn, like every other).
TCoefficientImage Expected(const TBytes& input, int mode) {
    const TBytes padded = fixtures::PadFrameToWholeMcus(input);
    if (mode == 0) return fixtures::ReadCoefficients(padded);
    TCoefficientImage expected =
        fixtures::ReadCoefficients(fixtures::RunJpegtran(fixtures::JpegtranModeArgs(mode), padded));
    const auto frame = fixtures::ParseFrameHeader(input);
    if (frame && frame->components.size() == 1 && expected.components.size() == 1) {
        const bool exchanged = Exchanges(mode);
        expected.components[0].h = exchanged ? frame->components[0].v : frame->components[0].h;
        expected.components[0].v = exchanged ? frame->components[0].h : frame->components[0].v;
    }
    return expected;
}

// The checks of one accepted file in one mode; the engine's output is returned.
TBytes CheckAgainstOracles(const TBytes& input, int mode, const TEngineRotation& engine) {
    EXPECT_TRUE(engine.messages.empty()) << engine.messages.front();
    ExpectDeclaredSize(engine.output, input, mode);
    const TCoefficientImage actual =
        fixtures::ReadCoefficients(fixtures::PadFrameToWholeMcus(engine.output));
    EXPECT_TRUE(actual.warnings.empty()) << actual.warnings;
    EXPECT_EQ(actual.restartInterval, static_cast<unsigned>(ReadScanSetup(input).restartInterval));
    ExpectSameCoefficients(actual, Expected(input, mode));
    EXPECT_EQ(fixtures::DjpegWarnings(engine.output), "");
    const TEngineRotation oneThread = RunEngine(input, mode, false);
    EXPECT_TRUE(oneThread.ok);
    EXPECT_TRUE(oneThread.output == engine.output) << "AllowParallelCoding changed the output";
    return engine.output;
}

// ---- Synthetic fixtures ----

enum class TSize { kWhole, kPartial, kTiny, kPartialWidth, kPartialHeight };
struct TSizeOf {
    const char* name;
    int width, height;
};
constexpr TSizeOf kSizes[] = {{"Whole", 64, 48},
                              {"Partial", 61, 43},
                              {"Tiny", 5, 3},
                              {"PartialWidth", 61, 48},
                              {"PartialHeight", 64, 43}};
struct TOracleCase {
    fixtures::TSampling sampling;
    int restartInterval;
    bool optimised;
    TSize size;
};

void PrintTo(const TOracleCase& c, std::ostream* out) {
    *out << fixtures::SamplingName(c.sampling);
}

std::vector<TOracleCase> OracleCases() {
    std::vector<TOracleCase> cases;
    for (fixtures::TSampling sampling : fixtures::kAllSamplings)
        for (int restart : {0, 2})
            for (bool optimised : {false, true})
                for (TSize size : {TSize::kWhole, TSize::kPartial, TSize::kTiny})
                    cases.push_back({sampling, restart, optimised, size});
    return cases;
}

class RotationOracleTest : public ::testing::TestWithParam<TOracleCase> {};

TEST_P(RotationOracleTest, EveryModeMatchesJpegtranAndTheReference) {
    PLUME_REQUIRE_JPEGTRAN();
    PLUME_REQUIRE_DJPEG();
    const TOracleCase& c = GetParam();
    fixtures::TEncodeOptions options;
    options.Sampling(c.sampling);
    options.Size(kSizes[static_cast<int>(c.size)].width, kSizes[static_cast<int>(c.size)].height);
    options.restartInterval = c.restartInterval;
    options.optimizeCoding = c.optimised;
    const TBytes input = fixtures::EncodeJpeg(options);
    const bool whole = c.size == TSize::kWhole;

    for (int mode = 0; mode < kModeCount; ++mode) {
        SCOPED_TRACE(ModeName(mode));
        const TEngineRotation engine = RunEngine(input, mode, true);
        ASSERT_TRUE(engine.validated && engine.ok) << ::testing::PrintToString(engine.messages);
        if (whole) {
            EXPECT_TRUE(engine.validateMessages.empty());
        } else {
            EXPECT_EQ(engine.validateMessages,
                      (std::vector<TMessage>{{kPartialMcuWarning, kLevelWarning}}));
        }
        const TBytes output = CheckAgainstOracles(input, mode, engine);
        if (mode == 0 && !c.optimised) {
            EXPECT_TRUE(output == input) << "mode 0 changed a file with Annex K tables";
        }
        ExpectSameAsReference(input, mode, true);
    }
}

std::string OracleCaseName(const ::testing::TestParamInfo<TOracleCase>& info) {
    const TOracleCase& c = info.param;
    return fixtures::SamplingName(c.sampling) + "_Restart" + std::to_string(c.restartInterval) +
           (c.optimised ? "_Optimised_" : "_AnnexK_") + kSizes[static_cast<int>(c.size)].name;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RotationOracleTest, ::testing::ValuesIn(OracleCases()),
                         OracleCaseName);

// A frame of one component is coded one block per MCU whatever its sampling
// factors say (T.81 A.2.2), as libjpeg writes and jpegtran turns it.
TEST(RotationOracleTest, OneComponentWithSamplingFactorsMatchesJpegtran) {
    PLUME_REQUIRE_JPEGTRAN();
    PLUME_REQUIRE_DJPEG();
    for (const fixtures::THv factors :
         {fixtures::THv{2, 1}, fixtures::THv{2, 2}, fixtures::THv{1, 3}}) {
        fixtures::TEncodeOptions options;
        options.sampling = {factors};
        options.Size(37, 21);
        const TBytes input = fixtures::EncodeJpeg(options);
        for (int mode = 0; mode < kModeCount; ++mode) {
            SCOPED_TRACE(std::to_string(factors.h) + "x" + std::to_string(factors.v) + " " +
                         ModeName(mode));
            const TEngineRotation engine = RunEngine(input, mode, true);
            ASSERT_TRUE(engine.ok) << ::testing::PrintToString(engine.messages);
            CheckAgainstOracles(input, mode, engine);
            ExpectSameAsReference(input, mode, false);
        }
    }
}

// ---- Partial edges dropped (TrimPartialEdges) ----

std::vector<std::string> TrimArgs(int mode) {
    std::vector<std::string> args = fixtures::JpegtranModeArgs(mode);
    args.push_back("-trim");
    return args;
}

int Ceil(int value, int unit) {
    return (value + unit - 1) / unit;
}

class EdgeTrimTest : public ::testing::TestWithParam<TOracleCase> {};

// The XMP packet of the trim test, giving a picture of width x height.
fixtures::TXmpOptions SizeXmp(int width, int height) {
    fixtures::TXmpOptions xmp;
    xmp.imageSize = xmp.pixelSize = {{std::uint32_t(width), std::uint32_t(height)}};
    return xmp;
}

// Every mode drops what `jpegtran -trim` drops, which is something exactly
// when the mode carries a partial edge to the top or left; the frame, the
// progress, the EXIF and XMP pixel dimensions and the thumbnail follow.
TEST_P(EdgeTrimTest, EveryModeTrimsAsJpegtranDoes) {
    PLUME_REQUIRE_JPEGTRAN();
    const TOracleCase& c = GetParam();
    fixtures::TEncodeOptions options;
    options.Size(kSizes[static_cast<int>(c.size)].width, kSizes[static_cast<int>(c.size)].height);
    options.Sampling(c.sampling).restartInterval = c.restartInterval;
    fixtures::TEncodeOptions small;
    const TBytes thumbnail = fixtures::EncodeJpeg(small.Size(40, 27));  // 4:2:0, both edges partial
    // The EXIF pixel dimensions give the frame, in a SHORT and a LONG.
    fixtures::TExifOptions exif;
    exif.exifIfd = {
        fixtures::Short(fixtures::tag::kPixelXDimension, {std::uint32_t(options.width)}),
        fixtures::Long(fixtures::tag::kPixelYDimension, {std::uint32_t(options.height)})};
    exif.ifd1 = fixtures::JpegThumbnailIfd1(40, 27);
    exif.thumbnail = thumbnail;
    const fixtures::TXmpOptions xmp = SizeXmp(options.width, options.height);
    const TBytes input = fixtures::InsertSegmentAfterSoi(
        fixtures::InsertSegmentAfterSoi(fixtures::EncodeJpeg(options),
                                        fixtures::XmpSegment(fixtures::BuildXmpPacket(xmp))),
        fixtures::BuildExif(exif).Segment());
    const fixtures::TMcuSize inputMcu = fixtures::McuPixels(options.sampling);

    for (int mode = 1; mode < kModeCount; ++mode) {
        SCOPED_TRACE(ModeName(mode));
        const TEngineRotation trimmed = RunEngine(input, mode, true, true);
        ASSERT_TRUE(trimmed.ok) << ::testing::PrintToString(trimmed.messages);
        EXPECT_TRUE(RunEngine(input, mode, false, true).output == trimmed.output)
            << "AllowParallelCoding changed the output";
        const TCoefficientImage actual = fixtures::ReadCoefficients(trimmed.output);
        ExpectSameCoefficients(
            actual, fixtures::ReadCoefficients(fixtures::RunJpegtran(TrimArgs(mode), input)));
        const TCoefficientImage whole = fixtures::ReadCoefficients(
            fixtures::RunJpegtran(fixtures::JpegtranModeArgs(mode), input));
        EXPECT_EQ(trimmed.movesPartialEdge,
                  actual.width * actual.height < whole.width * whole.height);
        if (!trimmed.movesPartialEdge) {
            // Only the thumbnail may change.
            EXPECT_TRUE(fixtures::RemoveSegments(trimmed.output, 0xFFE1) ==
                        fixtures::RemoveSegments(RunEngine(input, mode, true).output, 0xFFE1))
                << "changed a turn that keeps its edges";
        }

        // The rows read, then the rows of the smaller output written.
        const int rowsRead = Ceil(options.height, inputMcu.height);
        const int rowsWritten =
            Ceil(actual.height, Exchanges(mode) ? inputMcu.width : inputMcu.height);
        EXPECT_EQ(trimmed.progressMax, std::vector<int>{rowsRead + rowsWritten});
        std::vector<int> progress = {0};
        for (int i = 0; i < rowsRead + rowsWritten; ++i) progress.push_back(i);
        EXPECT_EQ(trimmed.progress, progress);

        const auto exif = fixtures::ParseExif(trimmed.output);
        ASSERT_TRUE(exif);
        EXPECT_EQ(exif->Number(exif->exifIfd, fixtures::tag::kPixelXDimension),
                  std::uint32_t(actual.width));
        EXPECT_EQ(exif->Number(exif->exifIfd, fixtures::tag::kPixelYDimension),
                  std::uint32_t(actual.height));
        // The packet keeps its size: the padding takes what the numbers give.
        fixtures::TXmpOptions turnedXmp = SizeXmp(actual.width, actual.height);
        const auto digits = [](const fixtures::TXmpOptions& o) {
            return 2 * (std::to_string(o.imageSize->first).size() +
                        std::to_string(o.imageSize->second).size());
        };
        turnedXmp.padding = xmp.padding + digits(xmp) - digits(turnedXmp);
        const std::string text = fixtures::BuildXmpPacket(turnedXmp);
        const TBytes packet(text.begin(), text.end());
        EXPECT_NE(
            std::search(trimmed.output.begin(), trimmed.output.end(), packet.begin(), packet.end()),
            trimmed.output.end())
            << "XMP sizes other than " << actual.width << " x " << actual.height;
        const TBytes turned = exif->JpegThumbnail();
        const TCoefficientImage turnedThumbnail = fixtures::ReadCoefficients(turned);
        ExpectSameCoefficients(turnedThumbnail, fixtures::ReadCoefficients(fixtures::RunJpegtran(
                                                    TrimArgs(mode), thumbnail)));
        EXPECT_EQ(exif->Number(exif->ifd1, fixtures::tag::kImageWidth),
                  std::uint32_t(turnedThumbnail.width));
        EXPECT_EQ(exif->Number(exif->ifd1, fixtures::tag::kImageLength),
                  std::uint32_t(turnedThumbnail.height));
    }
}

std::vector<TOracleCase> TrimCases() {
    std::vector<TOracleCase> cases;
    for (fixtures::TSampling sampling : fixtures::kAllSamplings)
        for (int restart : {0, 2})
            for (TSize size :
                 {TSize::kWhole, TSize::kPartialWidth, TSize::kPartialHeight, TSize::kPartial})
                cases.push_back({sampling, restart, false, size});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, EdgeTrimTest, ::testing::ValuesIn(TrimCases()), OracleCaseName);

// ---- The sample photos ----

class RotationSamplesTest : public ::testing::TestWithParam<int> {};

// A photo that only AnyJpeg takes: turned as jpegtran turns it (its partial
// edges moved), progressive exactly when it was, on one thread as on two.
void ExpectTurnedWithAnyJpeg(const TBytes& input, int mode) {
    std::vector<TBytes> outputs;
    for (const int threads : {1, 2}) {
        TEngineRun run;
        run.UseThreads(threads);
        run.options.AnyJpeg = true;
        run.options.WarnPartialMcu = false;
        ASSERT_TRUE(run.ValidateAndRotate(input, static_cast<std::uint8_t>(mode)))
            << ::testing::PrintToString(run.messages);
        outputs.push_back(run.output);
    }
    EXPECT_TRUE(outputs[0] == outputs[1]) << "the second thread changed the output";
    const TCoefficientImage actual = fixtures::ReadCoefficients(outputs[1]);
    EXPECT_TRUE(actual.warnings.empty()) << actual.warnings;
    EXPECT_EQ(actual.progressive, fixtures::ReadCoefficients(input).progressive);
    ExpectSameCoefficients(actual, MovedCoefficients(input, actual, mode));
}

TEST_P(RotationSamplesTest, EveryBaselinePhotoMatchesJpegtran) {
    PLUME_REQUIRE_SAMPLES();
    PLUME_REQUIRE_JPEGTRAN();
    PLUME_REQUIRE_DJPEG();
    const int mode = GetParam();
    int checked = 0, unchangedBytes = 0, anyJpegChecked = 0;
    std::vector<std::string> refused;
    for (const std::filesystem::path& path : fixtures::SamplePhotos()) {
        const std::string name = std::filesystem::relative(path, fixtures::SamplesDir()).string();
        SCOPED_TRACE(name);
        const TBytes input = fixtures::ReadFileBytes(path);
        const TEngineRotation engine = RunEngine(input, mode, true);
        if (!fixtures::IsBaseline(input)) {
            // Progressive and extended frames are refused by the header pass.
            EXPECT_FALSE(engine.validated);
            ASSERT_EQ(engine.validateMessages.size(), 1u);
            const auto frame = fixtures::ParseFrameHeader(input);
            char hex[5];
            std::snprintf(hex, sizeof hex, "%04X", frame ? frame->marker : 0);
            EXPECT_EQ(engine.validateMessages[0],
                      (TMessage{std::string("ヘッダ($") + hex + ")を認識できませんでした。",
                                kLevelError}));
            refused.push_back(name + " (not baseline: " + engine.validateMessages[0].text + ")");
            ExpectTurnedWithAnyJpeg(input, mode);
            ++anyJpegChecked;
            continue;
        }
        if (!engine.validated || !engine.ok) {
            std::string why = engine.readError ? engine.readErrorText : "";
            for (const TMessage& m : engine.validated ? engine.messages : engine.validateMessages)
                if (m.level == kLevelError) why += (why.empty() ? "" : " / ") + m.text;
            std::replace(why.begin(), why.end(), '\r', ' ');
            refused.push_back(name + " (" + why + ")");
            // Only a file that libjpeg itself finds damaged may be refused.
            std::string warnings;
            try {
                warnings = fixtures::ReadCoefficients(input).warnings;
            } catch (const std::exception& error) {
                warnings = error.what();
            }
            EXPECT_FALSE(warnings.empty()) << "refused a file that libjpeg reads cleanly: " << why;
            // The same events at the same bits as the plain decoder.
            if (engine.validated) ExpectSameAsReference(input, mode, true);
            continue;
        }
        const TBytes output = CheckAgainstOracles(input, mode, engine);
        ExpectSameAsReference(input, mode, true);
        ++checked;
        if (mode == 0 && output == input) ++unchangedBytes;
    }
    std::ostringstream log;
    log << "[ samples  ] " << ModeName(mode) << ": " << checked << " photos checked against "
        << (mode == 0 ? "their own coefficients" : "jpegtran");
    if (mode == 0) log << " (" << unchangedBytes << " byte for byte unchanged)";
    log << "; refused " << refused.size() << ", of which " << anyJpegChecked
        << " turned with AnyJpeg as jpegtran turns them:";
    for (const std::string& r : refused) log << "\n[ samples  ]   " << r;
    std::cout << log.str() << std::endl;
    RecordProperty("checked", checked);
    EXPECT_GT(checked, 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, RotationSamplesTest, ::testing::Range(0, kModeCount),
                         [](const auto& info) { return ModeName(info.param); });

}  // namespace
}  // namespace plume::test
