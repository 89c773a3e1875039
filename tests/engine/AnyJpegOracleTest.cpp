// The kinds of JPEG that AnyJpeg takes, in every mode, against jpegtran
// through libjpeg's own reading of the coefficients: progressive files of
// every kind of scan script (libjpeg's standard one; spectral selection only;
// successive approximation with refinement; a band that a quarter turn
// breaks; DC in scans of their own; restart markers inside the scans),
// sequential files of several scans, extended (SOF1) frames, four components
// and letters for identifiers; every sampling, whole and partial MCUs. Each
// output decodes with djpeg without a warning, is progressive exactly when
// its input is, keeps the input's scan script where the turn leaves every
// band one band and else writes jpegtran's; the same bytes come on one
// thread and on two, and the same coefficients with tables made for them.
//
// jpegtran keeps a partial edge in place where the engine moves it
// (README: partial edges): there the expected coefficients are
// MovedCoefficients; trimmed, they are jpegtran -trim's.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "ReferenceCoder.h"
#include "ReferenceCoderRuns.h"
#include "fixtures/Fixtures.h"
#include "fixtures/JpegKinds.h"

namespace plume::test {
namespace {

using fixtures::TCoefficientImage;
using fixtures::TSampling;

using TKind = fixtures::TJpegKind;
const char* KindName(TKind kind) {
    return fixtures::JpegKindName(kind);
}

struct TCase {
    TKind kind;
    std::vector<fixtures::THv> sampling;
    std::string samplingName;
    bool partial;
};

void PrintTo(const TCase& c, std::ostream* out) {
    *out << KindName(c.kind) << "_" << c.samplingName;
}

// The case's input: a baseline file made with libjpeg, then turned into its
// kind by jpegtran or by its frame marker.
TBytes MakeInput(const TCase& c) {
    fixtures::TEncodeOptions options;
    options.sampling = c.sampling;
    options.Size(c.partial ? 61 : 64, c.partial ? 43 : 48);
    options.noise = 16;
    options.seed = static_cast<std::uint32_t>(7 + static_cast<int>(c.kind));
    return fixtures::EncodeJpegKind(c.kind, options);
}

struct TTurned {
    bool ok = false;
    std::vector<TMessage> messages;
    TBytes output;
    std::vector<int> progressMax, progress;
};
TTurned Turn(const TBytes& input, int mode, int threads, bool trim, bool optimize = false) {
    TEngineRun run;
    run.UseThreads(threads);
    run.options.AnyJpeg = true;
    run.options.OptimizeTables = optimize;
    run.options.TrimPartialEdges = trim;
    run.options.WarnPartialMcu = false;
    TTurned turned;
    turned.ok = run.ValidateAndRotate(input, static_cast<std::uint8_t>(mode));
    turned.messages = run.messages;
    turned.output = run.output;
    turned.progressMax = run.progressMax;
    turned.progress = run.progress;
    return turned;
}

class AnyJpegOracleTest : public ::testing::TestWithParam<TCase> {};

TEST_P(AnyJpegOracleTest, EveryModeMatchesJpegtran) {
    PLUME_REQUIRE_JPEGTRAN();
    PLUME_REQUIRE_DJPEG();
    const TCase& c = GetParam();
    const TBytes input = MakeInput(c);
    const TCoefficientImage original = fixtures::ReadCoefficients(input);
    ASSERT_TRUE(original.warnings.empty()) << original.warnings;
    const std::vector<fixtures::TScanHeaderRef> inputScans = fixtures::ListScans(input);
    const std::vector<fixtures::TScanHeaderRef> standardScans =
        fixtures::ListScans(fixtures::RunJpegtran({"-progressive"}, input));

    for (int mode = 0; mode < kModeCount; ++mode) {
        for (const bool trim : {false, true}) {
            if (trim && (!c.partial || mode == 0)) continue;
            SCOPED_TRACE("mode " + std::to_string(mode) + (trim ? " trimmed" : ""));
            const TTurned turned = Turn(input, mode, 2, trim);
            ASSERT_TRUE(turned.ok) << ::testing::PrintToString(turned.messages);
            EXPECT_TRUE(turned.messages.empty()) << turned.messages.front();
            EXPECT_TRUE(Turn(input, mode, 1, trim).output == turned.output)
                << "the second thread changed the output";
            // One maximum; the start, then every position up to it once, in order.
            ASSERT_EQ(turned.progressMax.size(), 1u);
            std::vector<int> positions = {0};
            for (int p = 0; p < turned.progressMax[0]; ++p) positions.push_back(p);
            EXPECT_EQ(turned.progress, positions);

            const TCoefficientImage actual = fixtures::ReadCoefficients(turned.output);
            EXPECT_TRUE(actual.warnings.empty()) << actual.warnings;
            EXPECT_EQ(fixtures::DjpegWarnings(turned.output), "");
            EXPECT_EQ(actual.progressive, original.progressive);
            EXPECT_EQ(fixtures::ParseFrameHeader(turned.output)->marker,
                      fixtures::ParseFrameHeader(input)->marker);
            const bool exchanged = ExchangesDimensions(static_cast<std::uint8_t>(mode));
            if (!trim) {
                EXPECT_EQ(actual.width, exchanged ? original.height : original.width);
                EXPECT_EQ(actual.height, exchanged ? original.width : original.height);
            }
            std::vector<std::string> args = fixtures::JpegtranModeArgs(mode);
            if (trim) args.push_back("-trim");
            const bool wholeTurn = !c.partial || trim || mode == 0;
            fixtures::ExpectSameCoefficients(
                actual, wholeTurn ? fixtures::ReadCoefficients(fixtures::RunJpegtran(args, input))
                                  : MovedCoefficients(input, actual, mode));

            // The input's scans where every band stays one band; else the
            // standard script.
            const std::vector<fixtures::TScanHeaderRef> scans = fixtures::ListScans(turned.output);
            const bool broken = c.kind == TKind::BrokenBand && exchanged;
            const auto& expectedScans = broken ? standardScans : inputScans;
            ASSERT_EQ(scans.size(), expectedScans.size());
            for (std::size_t s = 0; s < scans.size(); ++s)
                EXPECT_TRUE(scans[s].SameScan(expectedScans[s])) << "scan " << s;
            if (original.components.size() == 4) {
                const auto adobe = fixtures::FindSegment(turned.output, 0xFFEE);
                ASSERT_TRUE(adobe);
                EXPECT_EQ(fixtures::SegmentBytes(turned.output, *adobe),
                          fixtures::SegmentBytes(input, *fixtures::FindSegment(input, 0xFFEE)));
            }

            // Tables made for the output: the same coefficients.
            const TTurned optimized = Turn(input, mode, 2, trim, true);
            ASSERT_TRUE(optimized.ok) << ::testing::PrintToString(optimized.messages);
            fixtures::ExpectSameCoefficients(fixtures::ReadCoefficients(optimized.output), actual);
        }
    }
}

std::vector<TCase> Cases() {
    std::vector<TCase> cases;
    const TKind threeComponentKinds[] = {TKind::Standard,   TKind::Spectral, TKind::Approximation,
                                         TKind::BrokenBand, TKind::DcApart,  TKind::Restarts,
                                         TKind::Scans,      TKind::Extended};
    for (const bool partial : {false, true}) {
        for (const TSampling sampling : fixtures::kAllSamplings)
            for (const TKind kind : threeComponentKinds)
                cases.push_back({kind, fixtures::SamplingFactors(sampling),
                                 fixtures::SamplingName(sampling), partial});
        cases.push_back(
            {TKind::Letters, fixtures::SamplingFactors(TSampling::k420), "RGB", partial});
        // Four components: CMYK, and YCCK with its luminance and black sampled twice.
        const std::vector<fixtures::THv> cmyk(4, fixtures::THv{1, 1});
        const std::vector<fixtures::THv> ycck = {{2, 2}, {1, 1}, {1, 1}, {2, 2}};
        for (const TKind kind :
             {TKind::Standard, TKind::Approximation, TKind::Scans, TKind::Extended})
            cases.push_back({kind, cmyk, "CMYK", partial});
        cases.push_back({TKind::Letters, cmyk, "CMYK", partial});
        cases.push_back({TKind::Standard, ycck, "YCCK", partial});
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Kinds, AnyJpegOracleTest, ::testing::ValuesIn(Cases()),
                         [](const auto& info) {
                             return std::string(KindName(info.param.kind)) + "_" +
                                    info.param.samplingName +
                                    (info.param.partial ? "_Partial" : "_Whole");
                         });

}  // namespace
}  // namespace plume::test
