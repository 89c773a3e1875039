// Checks of the test fixtures against libjpeg itself, so that a fault in a
// fixture cannot hide a fault of the engine.
#include <gtest/gtest.h>

#include "fixtures/Fixtures.h"
#include "fixtures/Sha256.h"

namespace plume::fixtures {
namespace {

TEST(FixtureSelfTest, AnnexKTablesAreTheOnesLibjpegWrites) {
    TEncodeOptions options;
    const TBytes jpeg = EncodeJpeg(options);
    const std::vector<THuffmanTable> tables = ParseHuffmanTables(jpeg);
    ASSERT_EQ(tables.size(), 4u);
    for (const THuffmanTable& table : tables) {
        const THuffmanTable standard = StandardHuffmanTable(table.tableClass, table.index);
        EXPECT_EQ(table.bits, standard.bits) << table.tableClass << "/" << table.index;
        EXPECT_EQ(table.values, standard.values) << table.tableClass << "/" << table.index;
    }
}

TEST(FixtureSelfTest, OptimisedTablesDifferFromAnnexK) {
    TEncodeOptions options;
    options.optimizeCoding = true;
    const std::vector<THuffmanTable> tables = ParseHuffmanTables(EncodeJpeg(options));
    ASSERT_FALSE(tables.empty());
    for (const THuffmanTable& table : tables) {
        EXPECT_NE(table.Count(), table.tableClass == 0 ? 12 : 162);
    }
}

TEST(FixtureSelfTest, Sha256GivesTheDigestsOfItsStandard) {
    // FIPS 180-2, appendix B: one block, two blocks; and the empty string.
    const std::pair<std::string, std::string> vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"}};
    for (const auto& [text, digest] : vectors) {
        TSha256 whole;
        whole.Add(text);
        EXPECT_EQ(whole.HexDigest(), digest) << text;
        // Added in pieces that cross the 64-byte blocks.
        TSha256 pieces;
        for (std::size_t i = 0; i < text.size(); i += 5) pieces.Add(text.substr(i, 5));
        EXPECT_EQ(pieces.HexDigest(), digest) << text;
    }
    TSha256 million;
    const std::string a(1000, 'a');
    for (int i = 0; i < 1000; ++i) million.Add(a);
    EXPECT_EQ(million.HexDigest(),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

class EncodeGridTest : public ::testing::TestWithParam<std::tuple<TSampling, int>> {};

TEST_P(EncodeGridTest, LibjpegReadsBackSizeSamplingAndRestartInterval) {
    const auto [sampling, restart] = GetParam();
    TEncodeOptions options;
    options.Size(37, 21).Sampling(sampling);
    options.restartInterval = restart;
    const TBytes jpeg = EncodeJpeg(options);
    const TCoefficientImage image = ReadCoefficients(jpeg);
    EXPECT_EQ(image.width, 37);
    EXPECT_EQ(image.height, 21);
    EXPECT_EQ(image.restartInterval, static_cast<unsigned>(restart));
    EXPECT_TRUE(image.warnings.empty()) << image.warnings;
    const std::vector<THv> factors = SamplingFactors(sampling);
    ASSERT_EQ(image.components.size(), factors.size());
    for (std::size_t c = 0; c < factors.size(); ++c) {
        EXPECT_EQ(image.components[c].h, factors[c].h);
        EXPECT_EQ(image.components[c].v, factors[c].v);
    }
    // Once padded to whole MCUs, every component has whole MCUs of blocks.
    const TCoefficientImage padded = ReadCoefficients(PadFrameToWholeMcus(jpeg));
    EXPECT_TRUE(padded.warnings.empty()) << padded.warnings;
    const TMcuSize mcu = McuPixels(factors);
    const int mcusPerRow = (37 + mcu.width - 1) / mcu.width;
    const int mcuRows = (21 + mcu.height - 1) / mcu.height;
    for (const TComponentCoefficients& c : padded.components) {
        const int h = factors.size() == 1 ? 1 : c.h;
        const int v = factors.size() == 1 ? 1 : c.v;
        EXPECT_EQ(c.widthInBlocks, mcusPerRow * h);
        EXPECT_EQ(c.heightInBlocks, mcuRows * v);
    }
    // The content is busy enough to give non-zero AC coefficients.
    int nonZeroAc = 0;
    for (const TBlock& block : image.components[0].blocks) {
        for (int k = 1; k < 64; ++k) nonZeroAc += block[k] != 0;
    }
    EXPECT_GT(nonZeroAc, 20);
}

INSTANTIATE_TEST_SUITE_P(Grid, EncodeGridTest,
                         ::testing::Combine(::testing::ValuesIn(kAllSamplings),
                                            ::testing::Values(0, 1, 3)),
                         [](const auto& info) {
                             return SamplingName(std::get<0>(info.param)) + "_Restart" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST(FixtureSelfTest, HandMadeFlatFileDecodesToZeroBlocks) {
    // 24 x 16, 4:2:0 (MCU 16 x 16): 2 MCUs of 4 + 1 + 1 blocks, restart every MCU.
    TSegmentBuilder b;
    b.Soi()
        .Dqt({RampQuantTable(0), FlatQuantTable(1, 7)})
        .Sof0(24, 16, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}})
        .StandardDht()
        .Dri(1)
        .Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}})
        .Bytes(FlatScan(2, {0, 0, 0, 0, 1, 1}, 1))
        .Eoi();
    const TCoefficientImage image = ReadCoefficients(b.Data());
    EXPECT_TRUE(image.warnings.empty()) << image.warnings;
    ASSERT_EQ(image.components.size(), 3u);
    EXPECT_EQ(image.components[0].quant, RampQuantTable(0).values);
    EXPECT_EQ(image.components[1].quant, FlatQuantTable(1, 7).values);
    for (const TComponentCoefficients& c : image.components) {
        for (const TBlock& block : c.blocks) EXPECT_EQ(block, TBlock{});
    }
    EXPECT_EQ(DjpegWarnings(b.Data()), "");
}

TEST(FixtureSelfTest, FlatJpegsDecodeCleanlyInEveryLayout) {
    const std::vector<std::vector<TFlatComponent>> layouts = {{{1, 1}},
                                                              {{2, 2}},
                                                              {{1, 1}, {1, 1}, {1, 1}},
                                                              {{2, 1}, {1, 1}, {1, 1}},
                                                              {{2, 2}, {1, 1}, {1, 1}},
                                                              {{1, 2}, {1, 1}, {1, 1}}};
    for (const auto& layout : layouts) {
        for (int restart : {0, 1, 2}) {
            const TBytes jpeg = FlatJpeg(37, 21, layout, restart);
            const TCoefficientImage image = ReadCoefficients(jpeg);
            EXPECT_TRUE(image.warnings.empty())
                << layout.size() << " components, restart " << restart << ": " << image.warnings;
            EXPECT_EQ(image.width, 37);
        }
    }
}

TEST(FixtureSelfTest, JpegtranRotatesAndDjpegReportsCorruption) {
    PLUME_REQUIRE_JPEGTRAN();
    PLUME_REQUIRE_DJPEG();
    TEncodeOptions options;
    const TBytes jpeg = EncodeJpeg(options.Size(32, 16));
    const auto rotated = ParseFrameHeader(RunJpegtran({"-rotate", "90"}, jpeg));
    ASSERT_TRUE(rotated);
    EXPECT_EQ(rotated->width, 16);
    EXPECT_EQ(rotated->height, 32);
    EXPECT_EQ(DjpegWarnings(jpeg), "");
    TBytes cut(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(jpeg.size() / 2));
    EXPECT_NE(DjpegWarnings(cut), "");
}

TEST(FixtureSelfTest, SegmentsAreFoundByWalkingLengths) {
    TEncodeOptions options;
    options.markers = {{0xE5, {1, 2, 3}}, {0xFE, {'h', 'i'}}};
    options.restartInterval = 2;
    const TBytes jpeg = EncodeJpeg(options);
    const auto app5 = FindSegment(jpeg, 0xFFE5);
    ASSERT_TRUE(app5);
    EXPECT_EQ(SegmentBytes(jpeg, *app5), (TBytes{0xFF, 0xE5, 0x00, 0x05, 1, 2, 3}));
    ASSERT_TRUE(FindSegment(jpeg, kCOM));
    ASSERT_TRUE(FindSegment(jpeg, kDRI));
    EXPECT_FALSE(FindSegment(jpeg, kSOS, 1));
    EXPECT_EQ(ListSegments(jpeg).back().marker, kSOS);
}

}  // namespace
}  // namespace plume::fixtures
