// The rotate pass's header loop: SOF0, DQT and DHT rewritten for the mode,
// every other segment and the bytes after the scan copied unchanged.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "JpegRotation/EngineMessages.h"
#include "engine/EngineTestSupport.h"
#include "fixtures/Fixtures.h"

namespace plume::test {
namespace {

using namespace plume::fixtures;

bool Exchanges(int mode) {
    return ExchangesDimensions(static_cast<std::uint8_t>(mode));
}

// Zigzag position k holds frequency (v, u); the output of a transposition
// holds at k the input's value of (u, v). Worked out from the zigzag table,
// independently of the engine's own map.
std::array<std::uint16_t, 64> Transposed(const std::array<std::uint16_t, 64>& values) {
    std::array<int, 64> zigzagOfNatural{};
    for (int k = 0; k < 64; ++k) zigzagOfNatural[fixtures::kZigzagToNatural[k]] = k;
    std::array<std::uint16_t, 64> out{};
    for (int k = 0; k < 64; ++k) {
        const int n = fixtures::kZigzagToNatural[k];
        out[k] = values[zigzagOfNatural[(n % 8) * 8 + n / 8]];
    }
    return out;
}

std::string ModeName(int mode) {
    return "Mode" + std::to_string(mode);
}

// ---- Flat hand-made files: the whole output is known -----------------------

struct TLayout {
    const char* name;
    std::vector<TFrameComponent> frame;
};
void PrintTo(const TLayout& layout, std::ostream* out) {
    *out << layout.name;
}

const TLayout kLayouts[] = {
    {"444", {{1, 1, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}},
    {"422", {{1, 2, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}},
    {"420", {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}},
    {"440", {{1, 1, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}},
    {"Grey", {{1, 1, 1, 0}}},
    {"Ids012", {{0, 2, 1, 2}, {1, 1, 1, 3}, {2, 1, 1, 3}}},
    {"TwoComponents", {{1, 1, 2, 0}, {2, 1, 1, 1}}},
};

// A file of a flat picture with segments of every copied kind around the
// headers and bytes after EOI. With rotated set, the file that a quarter
// turn must give: the frame's size and factors exchanged and the
// quantisation tables transposed, nothing else changed (a flat picture codes
// the same scan bytes in either geometry: the MCUs hold the same blocks).
TBytes FlatFile(const TLayout& layout, int restart, bool rotated) {
    const int width = 40;
    const int height = 24;
    std::vector<TFrameComponent> frame = layout.frame;
    std::vector<TScanComponent> scan;
    std::vector<int> blockTables;
    int maxH = 1, maxV = 1;
    for (const TFrameComponent& c : layout.frame) {
        const int table = c.tq & 1;
        scan.push_back({c.id, table, table});
        maxH = std::max(maxH, c.h);
        maxV = std::max(maxV, c.v);
        for (int b = 0; b < c.h * c.v; ++b) blockTables.push_back(table);
    }
    if (rotated) {
        for (TFrameComponent& c : frame) std::swap(c.h, c.v);
    }
    const int mcus = ((width + 8 * maxH - 1) / (8 * maxH)) * ((height + 8 * maxV - 1) / (8 * maxV));
    std::vector<TQuantTable> tables = {RampQuantTable(0), RampQuantTable(1, 70),
                                       RampQuantTable(2, 140), RampQuantTable(3, 190)};
    if (rotated) {
        for (TQuantTable& t : tables) t.values = Transposed(t.values);
    }
    TBytes app2(300, 0xFF);
    app2[10] = 0xD9;
    app2[11] = 0x00;
    TSegmentBuilder b;
    b.Soi()
        .App(0, {'J', 'F', 'I', 'F', 0, 1, 2, 0, 0, 1, 0, 1, 0, 0})
        .Com("コメント \xFF\x00 comment")
        .Dqt({tables[0], tables[1]})
        .App(2, app2)
        .Dqt({tables[2], tables[3]})
        .App(15, {})
        .Sof0(rotated ? height : width, rotated ? width : height, frame)
        .Com("")
        .StandardDht();
    if (restart > 0) b.Dri(restart);
    b.App(14, {'A', 'd', 'o', 'b', 'e'})
        .Sos(scan)
        .Bytes(FlatScan(mcus, blockTables, restart))
        .Eoi()
        .Bytes({'t', 'r', 'a', 'i', 'l', 0xFF, 0xD9, 0x00, 0xFF});
    return b.Take();
}

class FlatFileTest : public ::testing::TestWithParam<std::tuple<int, TLayout, int>> {};

TEST_P(FlatFileTest, OnlyFrameAndQuantisationTablesChangeAndOnlyForQuarterTurns) {
    const auto [mode, layout, restart] = GetParam();
    const TBytes input = FlatFile(layout, restart, false);
    TEngineRun run;
    ASSERT_TRUE(run.ValidateAndRotate(input, static_cast<std::uint8_t>(mode)));
    EXPECT_EQ(run.output, FlatFile(layout, restart, Exchanges(mode)));
    EXPECT_TRUE(run.Messages(2).empty());
}

INSTANTIATE_TEST_SUITE_P(Grid, FlatFileTest,
                         ::testing::Combine(::testing::Range(0, kModeCount),
                                            ::testing::ValuesIn(kLayouts),
                                            ::testing::Values(0, 1, 4)),
                         [](const auto& info) {
                             return ModeName(std::get<0>(info.param)) + "_" +
                                    std::get<1>(info.param).name + "_Restart" +
                                    std::to_string(std::get<2>(info.param));
                         });

// ---- Photo-like files from libjpeg: headers against the input ----------------

class EncodedHeadersTest : public ::testing::TestWithParam<std::tuple<int, TSampling, bool>> {};

TEST_P(EncodedHeadersTest, FrameTablesAndCopiedSegmentsMatchTheMode) {
    const auto [mode, sampling, optimise] = GetParam();
    TEncodeOptions options;
    options.Size(52, 36).Sampling(sampling);
    options.optimizeCoding = optimise;
    options.restartInterval = 3;
    options.markers = {{0xE2, {0xFF, 0xD8, 0xFF, 0x00}}, {0xFE, {'c'}}};
    const TBytes input = EncodeJpeg(options);
    TEngineRun run;
    ASSERT_TRUE(run.ValidateAndRotate(input, static_cast<std::uint8_t>(mode)));
    const TBytes& output = run.output;

    const std::vector<TSegmentRef> in = ListSegments(input);
    const std::vector<TSegmentRef> out = ListSegments(output);
    ASSERT_EQ(out.size(), in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        SCOPED_TRACE("segment " + std::to_string(i));
        ASSERT_EQ(out[i].marker, in[i].marker);
        if (in[i].marker != kSOF0 && in[i].marker != kDQT && in[i].marker != kDHT) {
            EXPECT_EQ(SegmentBytes(output, out[i]), SegmentBytes(input, in[i]));
        } else if (in[i].marker != kDHT) {
            EXPECT_EQ(out[i].length, in[i].length);
        }
    }

    const auto inFrame = ParseFrameHeader(input);
    const auto outFrame = ParseFrameHeader(output);
    ASSERT_TRUE(inFrame && outFrame);
    EXPECT_EQ(outFrame->precision, 8);
    EXPECT_EQ(outFrame->width, Exchanges(mode) ? inFrame->height : inFrame->width);
    EXPECT_EQ(outFrame->height, Exchanges(mode) ? inFrame->width : inFrame->height);
    ASSERT_EQ(outFrame->components.size(), inFrame->components.size());
    for (std::size_t c = 0; c < inFrame->components.size(); ++c) {
        const TFrameComponent& a = inFrame->components[c];
        const TFrameComponent& b = outFrame->components[c];
        EXPECT_EQ(b.id, a.id);
        EXPECT_EQ(b.tq, a.tq);
        EXPECT_EQ(b.h, Exchanges(mode) ? a.v : a.h);
        EXPECT_EQ(b.v, Exchanges(mode) ? a.h : a.v);
    }

    const auto inQuant = ParseQuantTables(input);
    const auto outQuant = ParseQuantTables(output);
    ASSERT_EQ(outQuant.size(), inQuant.size());
    for (const auto& [id, values] : inQuant) {
        EXPECT_EQ(outQuant.at(id), Exchanges(mode) ? Transposed(values) : values) << "table " << id;
    }

    const std::vector<THuffmanTable> inTables = ParseHuffmanTables(input);
    const std::vector<THuffmanTable> outTables = ParseHuffmanTables(output);
    ASSERT_EQ(outTables.size(), inTables.size());
    for (std::size_t t = 0; t < inTables.size(); ++t) {
        const THuffmanTable& a = inTables[t];
        const THuffmanTable expected =
            a.Count() == 12 || a.Count() == 162 ? a : StandardHuffmanTable(a.tableClass, a.index);
        EXPECT_EQ(outTables[t].tableClass, a.tableClass);
        EXPECT_EQ(outTables[t].index, a.index);
        EXPECT_EQ(outTables[t].bits, expected.bits) << "table " << t;
        EXPECT_EQ(outTables[t].values, expected.values) << "table " << t;
    }

    // The output is a JPEG that libjpeg reads without complaint.
    const TCoefficientImage image = ReadCoefficients(output);
    EXPECT_TRUE(image.warnings.empty()) << image.warnings;
}

INSTANTIATE_TEST_SUITE_P(Grid, EncodedHeadersTest,
                         ::testing::Combine(::testing::Range(0, kModeCount),
                                            ::testing::ValuesIn(kAllSamplings), ::testing::Bool()),
                         [](const auto& info) {
                             return ModeName(std::get<0>(info.param)) + "_" +
                                    SamplingName(std::get<1>(info.param)) +
                                    (std::get<2>(info.param) ? "_Optimised" : "_Standard");
                         });

// ---- Single rewrites worth naming ---------------------------------------------

TEST(HeaderRewriteTest, QuarterTurnsExchangeNeighbouringQuantisationEntries) {
    TQuantTable table = FlatQuantTable(0, 50);
    table.values[0] = 3;
    table.values[1] = 11;
    table.values[2] = 12;
    table.values[63] = 99;
    TSegmentBuilder b;
    b.Soi().Dqt({table}).Sof0(8, 8, {{1, 1, 1, 0}}).StandardDht().Sos({{1, 0, 0}});
    const TBytes jpeg = b.Bytes(FlatScan(1, {0})).Eoi().Take();
    for (int mode = 0; mode < kModeCount; ++mode) {
        TEngineRun run;
        ASSERT_TRUE(run.ValidateAndRotate(jpeg, static_cast<std::uint8_t>(mode))) << mode;
        const auto values = ParseQuantTables(run.output).at(0);
        EXPECT_EQ(values[0], 3) << mode;
        EXPECT_EQ(values[1], Exchanges(mode) ? 12 : 11) << mode;
        EXPECT_EQ(values[2], Exchanges(mode) ? 11 : 12) << mode;
        EXPECT_EQ(values[63], 99) << mode;
    }
}

TEST(HeaderRewriteTest, FrameOf1024x768IsWrittenAs768x1024ByQuarterTurnsOnly) {
    const TBytes jpeg = FlatJpeg(1024, 768, {{2, 1}, {1, 1}, {1, 1}});
    for (int mode = 0; mode < kModeCount; ++mode) {
        TEngineRun run;
        ASSERT_TRUE(run.ValidateAndRotate(jpeg, static_cast<std::uint8_t>(mode))) << mode;
        const auto frame = ParseFrameHeader(run.output);
        ASSERT_TRUE(frame);
        EXPECT_EQ(frame->height, Exchanges(mode) ? 1024 : 768) << mode;
        EXPECT_EQ(frame->width, Exchanges(mode) ? 768 : 1024) << mode;
        EXPECT_EQ(frame->SamplingBytes(),
                  (Exchanges(mode) ? std::vector<std::uint8_t>{0x12, 0x11, 0x11}
                                   : std::vector<std::uint8_t>{0x21, 0x11, 0x11}))
            << mode;
    }
}

// Tables that a flat scan can be coded with: each has codes for symbol 0.
THuffmanTable DcOf10(int index) {
    THuffmanTable t{0, index, {0, 1, 5, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}};
    for (std::uint8_t s = 0; s < 10; ++s) t.values.push_back(s);
    return t;
}

THuffmanTable AcFirstOfAnnexK(int index, int count) {
    THuffmanTable t = StandardHuffmanTable(1, index);
    t.values.resize(static_cast<std::size_t>(count));
    int left = count;
    for (std::uint8_t& n : t.bits) {
        n = static_cast<std::uint8_t>(std::min<int>(n, left));
        left -= n;
    }
    return t;
}

// A 32 x 16 4:2:0 file (two MCUs, restart every MCU) whose four tables stand
// in one DHT segment, coded with those tables.
TBytes FileWithTables(const std::vector<THuffmanTable>& tables) {
    const TBlockTables luma{tables[0], tables[1]};
    const TBlockTables chroma{tables[2], tables[3]};
    TSegmentBuilder b;
    b.Soi()
        .Dqt({RampQuantTable(0), RampQuantTable(1)})
        .Sof0(32, 16, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}})
        .Dht(tables)
        .Dri(1)
        .Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}})
        .Bytes(FlatScanWithTables(2, {luma, luma, luma, luma, chroma, chroma}, 1))
        .Eoi();
    return b.Take();
}

struct TDhtCase {
    const char* name;
    std::vector<THuffmanTable> tables;  // DC 0, AC 0, DC 1, AC 1
    int lengthGrowth;
};
void PrintTo(const TDhtCase& c, std::ostream* out) {
    *out << c.name;
}

class DhtRewriteTest : public ::testing::TestWithParam<std::tuple<TDhtCase, int>> {};

TEST_P(DhtRewriteTest, IncompleteTablesBecomeAnnexKInTheSameSegment) {
    const auto& [c, mode] = GetParam();
    const TBytes input = FileWithTables(c.tables);
    TEngineRun run;
    ASSERT_TRUE(run.ValidateAndRotate(input, static_cast<std::uint8_t>(mode)));
    EXPECT_EQ(run.nonStandardHuffman, c.lengthGrowth > 0 ? 1 : 0);

    const auto inDht = FindSegment(input, kDHT);
    const auto outDht = FindSegment(run.output, kDHT);
    ASSERT_TRUE(inDht && outDht);
    EXPECT_FALSE(FindSegment(run.output, kDHT, 1));
    EXPECT_EQ(outDht->length, inDht->length + c.lengthGrowth);
    const std::vector<THuffmanTable> written = ParseHuffmanTables(run.output);
    ASSERT_EQ(written.size(), 4u);
    for (std::size_t t = 0; t < 4; ++t) {
        const THuffmanTable& in = c.tables[t];
        const THuffmanTable expected = in.Count() == 12 || in.Count() == 162
                                           ? in
                                           : StandardHuffmanTable(in.tableClass, in.index);
        EXPECT_EQ(written[t].tableClass, in.tableClass) << t;
        EXPECT_EQ(written[t].index, in.index) << t;
        EXPECT_EQ(written[t].bits, expected.bits) << t;
        EXPECT_EQ(written[t].values, expected.values) << t;
    }
    // The scan is coded with the tables the output declares.
    const TCoefficientImage image = ReadCoefficients(run.output);
    EXPECT_TRUE(image.warnings.empty()) << image.warnings;
    for (const TComponentCoefficients& component : image.components) {
        for (const TBlock& block : component.blocks) EXPECT_EQ(block, TBlock{});
    }
}

TDhtCase DhtCase(const char* name, std::vector<THuffmanTable> tables) {
    int growth = 0;
    for (const THuffmanTable& t : tables) {
        if (t.Count() != 12 && t.Count() != 162)
            growth += (t.tableClass == 0 ? 12 : 162) - t.Count();
    }
    return {name, std::move(tables), growth};
}

THuffmanTable Reordered(THuffmanTable t) {
    std::reverse(t.values.begin() + 4, t.values.end());
    return t;
}

INSTANTIATE_TEST_SUITE_P(
    Tables, DhtRewriteTest,
    ::testing::Combine(
        ::testing::Values(
            DhtCase("AnnexK", {StandardHuffmanTable(0, 0), StandardHuffmanTable(1, 0),
                               StandardHuffmanTable(0, 1), StandardHuffmanTable(1, 1)}),
            DhtCase("Ac150", {StandardHuffmanTable(0, 0), AcFirstOfAnnexK(0, 150),
                              StandardHuffmanTable(0, 1), StandardHuffmanTable(1, 1)}),
            DhtCase("Ac10", {StandardHuffmanTable(0, 0), StandardHuffmanTable(1, 0),
                             StandardHuffmanTable(0, 1), AcFirstOfAnnexK(1, 10)}),
            DhtCase("Dc10AndAc150", {StandardHuffmanTable(0, 0), AcFirstOfAnnexK(0, 150), DcOf10(1),
                                     StandardHuffmanTable(1, 1)}),
            DhtCase("AllIncomplete",
                    {DcOf10(0), AcFirstOfAnnexK(0, 4), DcOf10(1), AcFirstOfAnnexK(1, 1)}),
            DhtCase("Complete162InOtherOrder",
                    {StandardHuffmanTable(0, 0), Reordered(StandardHuffmanTable(1, 0)),
                     StandardHuffmanTable(0, 1), Reordered(StandardHuffmanTable(1, 1))})),
        ::testing::Values(0, 1, 3)),
    [](const auto& info) {
        return std::string(std::get<0>(info.param).name) + "_" + ModeName(std::get<1>(info.param));
    });

TEST(HeaderRewriteTest, OneEngineGivesForEachFileWhatAFreshEngineGives) {
    std::vector<TBytes> files;
    for (TSampling sampling :
         {TSampling::k420, TSampling::kGrey, TSampling::k444, TSampling::k422}) {
        TEncodeOptions options;
        options.Size(33, 17).Sampling(sampling);
        options.optimizeCoding = sampling == TSampling::k420;
        options.restartInterval = sampling == TSampling::kGrey ? 2 : 0;
        files.push_back(EncodeJpeg(options));
    }
    TEngineRun shared;
    for (int mode : {1, 3, 2, 0}) {
        for (const TBytes& file : files) {
            TEngineRun fresh;
            ASSERT_TRUE(fresh.ValidateAndRotate(file, static_cast<std::uint8_t>(mode)));
            ASSERT_TRUE(shared.ValidateAndRotate(file, static_cast<std::uint8_t>(mode)));
            EXPECT_EQ(shared.output, fresh.output) << "mode " << mode;
        }
    }
}

}  // namespace
}  // namespace plume::test
