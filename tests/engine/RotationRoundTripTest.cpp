// Modes that undo each other give back the file they started from, and the
// progress a pass reports: its maximum once, then 0, the input's MCU rows as
// they are decoded, and the output's MCU rows as they are written, counted on
// from the input's row count - the same with and without the second coding
// thread and for the modes coded row by row (0 and 4).
#include <gtest/gtest.h>

#include "ReferenceCoderRuns.h"
#include "fixtures/Fixtures.h"

namespace plume::test {
namespace {

struct TRoundTripCase {
    fixtures::TSampling sampling;
    bool optimised;
    bool whole;
    int restartInterval;
};
void PrintTo(const TRoundTripCase& c, std::ostream* out) {
    *out << fixtures::SamplingName(c.sampling);
}

std::vector<TRoundTripCase> RoundTripCases() {
    std::vector<TRoundTripCase> cases;
    for (fixtures::TSampling sampling : fixtures::kAllSamplings)
        for (bool optimised : {false, true})
            for (bool whole : {true, false})
                for (int restart : {0, 3}) cases.push_back({sampling, optimised, whole, restart});
    return cases;
}

std::string RoundTripName(const ::testing::TestParamInfo<TRoundTripCase>& info) {
    const TRoundTripCase& c = info.param;
    return fixtures::SamplingName(c.sampling) + (c.optimised ? "_Optimised" : "_AnnexK") +
           (c.whole ? "_Whole" : "_Partial") + "_Restart" + std::to_string(c.restartInterval);
}

class RotationRoundTripTest : public ::testing::TestWithParam<TRoundTripCase> {};

// Every MCU is moved, padding included, so the chains give back every block;
// after the first pass the tables are those of a mode 0 pass.
TEST_P(RotationRoundTripTest, ChainsThatUndoThemselvesGiveBackTheInput) {
    const TRoundTripCase& c = GetParam();
    fixtures::TEncodeOptions options;
    options.Sampling(c.sampling);
    options.Size(c.whole ? 48 : 45, c.whole ? 32 : 27);
    options.optimizeCoding = c.optimised;
    options.restartInterval = c.restartInterval;
    const TBytes input = fixtures::EncodeJpeg(options);
    const TEngineRotation unchanged = RunEngine(input, 0, true);
    ASSERT_TRUE(unchanged.ok);
    if (!c.optimised) {
        ASSERT_TRUE(unchanged.output == input);
    }
    const fixtures::TCoefficientImage original =
        fixtures::ReadCoefficients(fixtures::PadFrameToWholeMcus(input));

    const std::vector<std::vector<int>> chains = {
        {1, 1, 1, 1}, {2, 2, 2, 2}, {1, 2}, {2, 1}, {3, 3},    {4, 4},   {5, 5},
        {1, 3, 1},    {4, 5, 3},    {6, 6}, {7, 7}, {6, 7, 3}, {1, 4, 6}};
    for (const std::vector<int>& chain : chains) {
        std::string name = "modes";
        for (int mode : chain) name.append(" ").append(std::to_string(mode));
        SCOPED_TRACE(name);
        TBytes file = input;
        bool parallel = false;
        for (int mode : chain) {
            const TEngineRotation pass = RunEngine(file, mode, parallel = !parallel);
            ASSERT_TRUE(pass.ok) << ::testing::PrintToString(pass.messages);
            file = pass.output;
        }
        EXPECT_TRUE(file == unchanged.output) << "not the bytes of a mode 0 pass";
        const fixtures::TCoefficientImage back =
            fixtures::ReadCoefficients(fixtures::PadFrameToWholeMcus(file));
        ASSERT_EQ(back.components.size(), original.components.size());
        for (std::size_t i = 0; i < back.components.size(); ++i)
            EXPECT_EQ(back.components[i].blocks, original.components[i].blocks)
                << "component " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RotationRoundTripTest, ::testing::ValuesIn(RoundTripCases()),
                         RoundTripName);

// ---- Progress ----

struct TProgressCase {
    const char* name;
    int width, height;
    std::vector<fixtures::TFlatComponent> components;
    int restartInterval;
    int mcuColumns, mcuRows;  // of the input
};
void PrintTo(const TProgressCase& c, std::ostream* out) {
    *out << c.name;
}

const TProgressCase kProgressCases[] = {
    {"420_Small", 72, 40, {{2, 2}, {1, 1}, {1, 1}}, 0, 5, 3},
    {"422_Partial", 50, 17, {{2, 1}, {1, 1}, {1, 1}}, 2, 4, 3},
    {"Grey_OneRow", 40, 8, {{1, 1}}, 0, 5, 1},
    {"Grey_OneColumn", 8, 24, {{1, 1}}, 0, 1, 3},
    // Large enough for the second coding thread.
    {"420_Large", 1056, 784, {{2, 2}, {1, 1}, {1, 1}}, 0, 66, 49},
    {"422_Large_Restart5", 1200, 480, {{2, 1}, {1, 1}, {1, 1}}, 5, 75, 60},
};

class RotationProgressTest : public ::testing::TestWithParam<TProgressCase> {};

TEST_P(RotationProgressTest, MaximumOnceThenEveryRowReadAndWrittenInOrder) {
    const TProgressCase& c = GetParam();
    const TBytes input = fixtures::FlatJpeg(c.width, c.height, c.components, c.restartInterval);
    for (int mode = 0; mode < kModeCount; ++mode) {
        const int outputRows =
            ExchangesDimensions(static_cast<std::uint8_t>(mode)) ? c.mcuColumns : c.mcuRows;
        std::vector<int> expected = {0};
        for (int row = 0; row < c.mcuRows; ++row) expected.push_back(row);
        for (int row = 0; row < outputRows; ++row) expected.push_back(c.mcuRows + row);
        for (bool parallel : {true, false}) {
            SCOPED_TRACE("mode " + std::to_string(mode) +
                         (parallel ? ", parallel coding" : ", one thread"));
            const TEngineRotation engine = RunEngine(input, mode, parallel);
            ASSERT_TRUE(engine.ok);
            EXPECT_EQ(engine.progressMax, std::vector<int>{c.mcuRows + outputRows});
            EXPECT_EQ(engine.progress, expected);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RotationProgressTest, ::testing::ValuesIn(kProgressCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A pass that fails in the scan has reported the rows it decoded, and no more.
TEST(RotationProgressTest, AFailedScanStopsAtTheRowItFailedIn) {
    TBytes jpeg = fixtures::FlatJpeg(16, 24, {{1, 1}});  // six blocks, three MCU rows
    const std::size_t start = *fixtures::ScanDataOffset(jpeg);
    // Block 3 (row 1) gets an AC code of sixteen 1-bits, which Annex K does not have.
    fixtures::TScanBitWriter writer;
    const auto [dc, dcLength] = fixtures::HuffmanCode(fixtures::StandardHuffmanTable(0, 0), 0);
    const auto [eob, eobLength] = fixtures::HuffmanCode(fixtures::StandardHuffmanTable(1, 0), 0);
    for (int block = 0; block < 6; ++block) {
        writer.Put(dc, dcLength);
        if (block == 3) writer.Put(0xFFFF, 16);
        writer.Put(eob, eobLength);
    }
    jpeg.resize(start);
    const TBytes scan = writer.Finish();
    jpeg.insert(jpeg.end(), scan.begin(), scan.end());
    jpeg.insert(jpeg.end(), {0xFF, 0xD9});
    for (int mode = 0; mode < kModeCount; ++mode)
        for (bool parallel : {true, false}) {
            SCOPED_TRACE("mode " + std::to_string(mode) +
                         (parallel ? ", parallel coding" : ", one thread"));
            const TEngineRotation engine = RunEngine(jpeg, mode, parallel);
            EXPECT_FALSE(engine.ok);
            EXPECT_EQ(
                engine.progressMax,
                std::vector<int>{ExchangesDimensions(static_cast<std::uint8_t>(mode)) ? 5 : 6});
            EXPECT_EQ(engine.progress, (std::vector<int>{0, 0, 1}));
        }
}

}  // namespace
}  // namespace plume::test
