// The engine's fast entropy paths (table-driven decoding with a buffered
// reader, the 64-bit encoder, transforms fused with coding, the second coding
// thread, row-by-row streaming) against the plain bit-by-bit reference coder:
// same output bytes, same decoded blocks, same messages, same end position.
#include <gtest/gtest.h>

#include "ReferenceCoder.h"
#include "ReferenceCoderFiles.h"
#include "ReferenceCoderRuns.h"
#include "fixtures/Fixtures.h"

namespace plume::test {
namespace {

using fixtures::TFrameComponent;

struct TLayout {
    const char* name;
    std::vector<TFrameComponent> components;
};

const TLayout kLayouts[] = {
    {"444", {{1, 1, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}},
    {"422", {{1, 2, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}},
    {"420", {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}},
    {"440", {{1, 1, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}},
    {"411", {{1, 4, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}},
    {"MixedFactors", {{1, 2, 2, 0}, {2, 1, 2, 1}, {3, 2, 1, 1}}},
    {"Grey", {{1, 1, 1, 0}}},
    {"Grey2x2", {{1, 2, 2, 0}}},  // one component: one block per MCU whatever the factors
    {"Ids012", {{0, 2, 1, 0}, {1, 1, 1, 1}, {2, 1, 1, 1}}},
    {"TwoComponents", {{1, 1, 2, 0}, {3, 1, 1, 1}}},
};

void PrintTo(const TLayout& layout, std::ostream* out) {
    *out << layout.name;
}

enum class TRestart { kNone, kDriZero, kInterval };
std::string RestartName(TRestart r) {
    return r == TRestart::kNone ? "NoRestart" : r == TRestart::kDriZero ? "Dri0" : "Restart";
}

// ---- The reference itself, against libjpeg ----

class ReferenceCoderSelfTest : public ::testing::TestWithParam<TLayout> {};

TEST_P(ReferenceCoderSelfTest, LibjpegAndTheReferenceDecoderReadBackTheBlocks) {
    TBlockFileOptions options;
    options.components = GetParam().components;
    options.width = 45;
    options.height = 27;
    options.writeDri = true;
    options.restartInterval = 2;
    for (TTableKind tables :
         {TTableKind::kAnnexK, TTableKind::kReordered, TTableKind::kIncomplete}) {
        SCOPED_TRACE(TableKindName(tables));
        options.tables = tables;
        const TRefScanSetup layout = LayoutOf(options);
        const TBlockFile file = MakeBlockFile(options, RandomStore(layout, {}));

        const fixtures::TCoefficientImage image =
            fixtures::ReadCoefficients(fixtures::PadFrameToWholeMcus(file.jpeg));
        EXPECT_TRUE(image.warnings.empty()) << image.warnings;
        ASSERT_EQ(image.components.size(), options.components.size());
        for (const fixtures::TComponentCoefficients& c : image.components) {
            ASSERT_EQ(c.widthInBlocks, layout.BlocksPerRow(c.id));
            ASSERT_EQ(c.heightInBlocks, layout.BlockRows(c.id));
            for (std::size_t i = 0; i < c.blocks.size(); ++i)
                ASSERT_EQ(c.blocks[i], file.blocks[c.id][i])
                    << "component " << c.id << " block " << i;
        }

        const TRefRotation reference = ReferenceRotate(file.jpeg, 0);
        ASSERT_TRUE(reference.ok);
        EXPECT_TRUE(reference.messages.empty());
        EXPECT_EQ(reference.decoded, file.blocks);
        EXPECT_EQ(reference.scanEnd, file.jpeg.size() - 2) << "the decoder stops just before EOI";
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ReferenceCoderSelfTest, ::testing::ValuesIn(kLayouts),
                         [](const auto& info) { return std::string(info.param.name); });

// The reference's transforms agree with jpegtran's, so that engine and
// reference cannot share one wrong idea of a rotation.
TEST(ReferenceCoderSelfTest, TransformsAgreeWithJpegtran) {
    PLUME_REQUIRE_JPEGTRAN();
    const std::vector<std::vector<std::string>> jpegtranArgs = {{},
                                                                {"-rotate", "90"},
                                                                {"-rotate", "270"},
                                                                {"-rotate", "180"},
                                                                {"-flip", "horizontal"},
                                                                {"-flip", "vertical"}};
    for (const TLayout& layout : {kLayouts[1], kLayouts[2], kLayouts[5]}) {
        TBlockFileOptions options;
        options.components = layout.components;
        options.width = 48;
        options.height = 32;
        const TBlockFile file = MakeBlockFile(options, RandomStore(LayoutOf(options), {}));
        for (int mode = 1; mode <= 5; ++mode) {
            SCOPED_TRACE(std::string(layout.name) + " mode " + std::to_string(mode));
            const fixtures::TCoefficientImage image =
                fixtures::ReadCoefficients(fixtures::RunJpegtran(jpegtranArgs[mode], file.jpeg));
            const TRefStore expected = RefTransformStore(file.setup, file.blocks, mode);
            for (const fixtures::TComponentCoefficients& c : image.components)
                ASSERT_EQ(c.blocks, expected[c.id]) << "component " << c.id;
        }
    }
}

TEST(ReferenceCoderSelfTest, TransformsOfOneCoefficient) {
    // 5 at zigzag position 1 (u = 1, v = 0).
    const TCoefBlock block = BlockWith({{1, 5}});
    EXPECT_EQ(RefTransformBlock(block, 1), BlockWith({{2, 5}}));
    EXPECT_EQ(RefTransformBlock(block, 2), BlockWith({{2, -5}}));
    EXPECT_EQ(RefTransformBlock(block, 3), BlockWith({{1, -5}}));
    EXPECT_EQ(RefTransformBlock(block, 4), BlockWith({{1, -5}}));
    EXPECT_EQ(RefTransformBlock(block, 5), BlockWith({{1, 5}}));
}

// ---- Engine against the reference on random blocks ----

struct TRandomCase {
    TLayout layout;
    TTableKind tables;
    TRestart restart;
};

std::vector<TRandomCase> RandomCases() {
    std::vector<TRandomCase> cases;
    for (const TLayout& layout : kLayouts)
        for (TTableKind tables :
             {TTableKind::kAnnexK, TTableKind::kReordered, TTableKind::kIncomplete})
            for (TRestart restart : {TRestart::kNone, TRestart::kDriZero, TRestart::kInterval})
                cases.push_back({layout, tables, restart});
    return cases;
}

void PrintTo(const TRandomCase& c, std::ostream* out) {
    *out << c.layout.name;
}

class ScanFastPathTest : public ::testing::TestWithParam<TRandomCase> {};

TEST_P(ScanFastPathTest, SameBytesBlocksAndPositionAsTheReference) {
    const TRandomCase& c = GetParam();
    // Sizes, restart interval and marker numbers follow from the case.
    std::uint32_t seed = 17;
    for (char ch : std::string(c.layout.name) + TableKindName(c.tables) + RestartName(c.restart))
        seed = seed * 31 + static_cast<unsigned char>(ch);
    TRandom random(seed);
    TBlockFileOptions options;
    options.components = c.layout.components;
    options.tables = c.tables;
    options.width = 1 + random.Below(72);
    options.height = 1 + random.Below(72);
    options.writeDri = c.restart != TRestart::kNone;
    if (c.restart == TRestart::kInterval) {
        options.restartInterval = 1 + random.Below(7);
        const int first = random.Below(8), step = random.Below(3);
        for (int i = 0; i < 8; ++i) options.rstNumbers.push_back((first + i * step) & 7);
    }
    SCOPED_TRACE(std::to_string(options.width) + " x " + std::to_string(options.height) +
                 ", restart interval " + std::to_string(options.restartInterval));
    TRandomBlocks blocks;
    blocks.seed = seed;
    blocks.density = 5 + random.Below(40);
    const TBlockFile file = MakeBlockFile(options, RandomStore(LayoutOf(options), blocks));

    for (int mode = 0; mode < kModeCount; ++mode) {
        const TRefRotation reference = ReferenceRotate(file.jpeg, mode);
        ASSERT_TRUE(reference.ok);
        if (mode == 0) {
            ASSERT_EQ(reference.decoded, file.blocks);
            ExpectSameDecodeAsReference(file.jpeg, reference);
        }
        ExpectSameAsReference(file.jpeg, mode, true, reference);
        ExpectSameAsReference(file.jpeg, mode, false, reference);
    }
}

INSTANTIATE_TEST_SUITE_P(Grid, ScanFastPathTest, ::testing::ValuesIn(RandomCases()),
                         [](const auto& info) {
                             return std::string(info.param.layout.name) + "_" +
                                    TableKindName(info.param.tables) + "_" +
                                    RestartName(info.param.restart);
                         });

// Images large enough for the second coding thread, which splits the scan in
// the middle of an MCU row (without restarts) or after a marker.
struct TLargeCase {
    const char* name;
    TLayout layout;
    int width, height;
    bool dri;
    int interval;
    TTableKind tables;
};

const TLargeCase kLargeCases[] = {
    {"420_NoRestart", kLayouts[2], 1056, 784, false, 0, TTableKind::kAnnexK},
    {"420_Restart7", kLayouts[2], 1056, 784, true, 7, TTableKind::kReordered},
    {"Grey_Restart5_Partial", kLayouts[6], 1027, 1030, true, 5, TTableKind::kIncomplete},
    {"422_Dri0", kLayouts[1], 1040, 520, true, 0, TTableKind::kAnnexK},
};

void PrintTo(const TLargeCase& c, std::ostream* out) {
    *out << c.name;
}

class ScanFastPathLargeTest : public ::testing::TestWithParam<TLargeCase> {};

TEST_P(ScanFastPathLargeTest, ParallelAndSingleThreadedCodingGiveTheReferenceBytes) {
    const TLargeCase& c = GetParam();
    TBlockFileOptions options;
    options.components = c.layout.components;
    options.width = c.width;
    options.height = c.height;
    options.writeDri = c.dri;
    options.restartInterval = c.interval;
    options.tables = c.tables;
    TRandomBlocks random;
    random.density = 8;
    const TBlockFile file = MakeBlockFile(options, RandomStore(LayoutOf(options), random));
    for (int mode = 0; mode < kModeCount; ++mode) {
        const TRefRotation reference = ReferenceRotate(file.jpeg, mode);
        ASSERT_TRUE(reference.ok);
        ExpectSameAsReference(file.jpeg, mode, true, reference);
        ExpectSameAsReference(file.jpeg, mode, false, reference);
    }
}

INSTANTIATE_TEST_SUITE_P(Large, ScanFastPathLargeTest, ::testing::ValuesIn(kLargeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// DC values that climb by 2000 from block to block code with size 11 in the
// input; a mode that puts far-apart blocks next to each other needs a DC
// difference of size 14 or 15, which no baseline table codes: the pass fails
// with a message and nothing is coded with an undeclared code.
// A one-component file 16 pixels high of `blocks`, two rows of them.
TBytes GreyStrip(const std::vector<TCoefBlock>& blocks) {
    TBlockFileOptions options;
    options.components = kLayouts[6].components;
    options.width = static_cast<int>(blocks.size()) * 4;
    options.height = 16;
    TRefStore store;
    store[1] = blocks;
    return MakeBlockFile(options, store).jpeg;
}

TEST(ScanFastPathTest, OutputDcDifferencesBeyondSize11FailThePass) {
    std::vector<TCoefBlock> blocks;
    for (int i = 0; i < 16; ++i) blocks.push_back(BlockWith({{0, 2000 * i}, {1, 1}}));
    const TBytes jpeg = GreyStrip(blocks);
    for (int mode = 0; mode < kModeCount; ++mode) {
        const TRefRotation reference = ReferenceRotate(jpeg, mode);
        // Mode 0 keeps every difference; every other mode starts the scan
        // or a row next to a block far from its predictor.
        EXPECT_EQ(reference.missingSymbol, mode != 0) << "mode " << mode;
        ExpectSameAsReference(jpeg, mode, true, reference);
        ExpectSameAsReference(jpeg, mode, false, reference);
    }
}

// DC values that sweep the whole 16-bit range and back, again and again:
// a thread that decodes from inside the scan sees them off by its own
// constant, beyond 16 bits where the true ones are not. Every mode, on one
// thread and on several, gives the reference's pass.
TEST(ScanFastPathTest, DcValuesSweepingTheWhole16BitRange) {
    std::vector<TCoefBlock> blocks;
    int value = 0, step = 1000;
    for (int i = 0; i < 1024; ++i) {
        blocks.push_back(BlockWith({{0, value}, {i % 63 + 1, 1}}));
        if (value + step > 32000 || value + step < -32000) step = -step;
        value = i >= 1000 ? value / 2 : value + step;  // back near 0 by the end
    }
    const TBytes jpeg = GreyStrip(blocks);
    for (int mode = 0; mode < kModeCount; ++mode)
        for (const bool parallel : {true, false}) ExpectSameAsReference(jpeg, mode, parallel);
}

// ---- Damaged scans: the same events at the same bits ----

TBlockFile DamageSubject() {
    TBlockFileOptions options;
    options.components = kLayouts[2].components;
    options.width = 40;
    options.height = 24;
    options.writeDri = true;
    options.restartInterval = 2;
    TRandomBlocks random;
    random.density = 15;
    return MakeBlockFile(options, RandomStore(LayoutOf(options), random));
}

// Cut anywhere in the scan: a read error exactly when the reference needs a
// byte that is not there, else the same output.
TEST(ScanFastPathDamageTest, CutScansGiveTheReferenceOutcome) {
    const TBlockFile file = DamageSubject();
    const std::size_t start = ScanStart(file.jpeg);
    int readErrors = 0, cases = 0;
    for (std::size_t cut = start + 1; cut <= file.jpeg.size(); cut += 7) {
        const TBytes cutFile(file.jpeg.begin(),
                             file.jpeg.begin() + static_cast<std::ptrdiff_t>(cut));
        for (int mode : {0, 1, 4}) {
            SCOPED_TRACE("cut at " + std::to_string(cut));
            const TRefRotation reference = ReferenceRotate(cutFile, mode);
            readErrors += reference.readError ? 1 : 0;
            ++cases;
            ExpectSameAsReference(cutFile, mode, mode != 1, reference);
        }
    }
    EXPECT_GT(readErrors, cases / 2);
}

// A marker put anywhere in the scan data: the marker report and whatever the
// shifted bits give after it, in the reference's order.
TEST(ScanFastPathDamageTest, MarkersInsideScanDataGiveTheReferenceEvents) {
    const TBlockFile file = DamageSubject();
    const std::size_t start = ScanStart(file.jpeg);
    const std::size_t end = file.jpeg.size() - 2;
    for (std::size_t at = start; at < end; at += 5) {
        if (file.jpeg[at - 1] == 0xFF) continue;  // would split a stuffed pair or marker
        const TBytes damaged =
            fixtures::InsertBytes(file.jpeg, at, {0xFF, static_cast<std::uint8_t>(0xD0 + at % 8)});
        for (int mode : {0, 3}) {
            SCOPED_TRACE("marker at " + std::to_string(at));
            const TRefRotation reference = ReferenceRotate(damaged, mode);
            ExpectSameAsReference(damaged, mode, true, reference);
        }
    }
}

}  // namespace
}  // namespace plume::test
