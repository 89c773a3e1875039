// Edge cases of scan decoding and coding: restart markers (interval 0, the
// last MCU, numbering and wrap), runs of sixteen zeros, a coefficient at 63
// without end of block, zero runs past the block, empty tables, markers inside
// scan data, the end of the scan and the bytes after it.
#include <gtest/gtest.h>

#include "ReferenceCoder.h"
#include "ReferenceCoderFiles.h"
#include "ReferenceCoderRuns.h"
#include "fixtures/Fixtures.h"

namespace plume::test {
namespace {

using fixtures::HuffmanCode;
using fixtures::StandardHuffmanTable;
using fixtures::TScanBitWriter;

const std::string kHuffmanBlockError =
    std::string("ハフマンブロックが正しく読み出せませんでした。") + "\r" + "処理を終了します";
const char* const kMarkerInScan = "ビットストリームが正しく読みとれませんでした。";
const char* const kReadError = "ストリームからの読み込みエラー";

const std::vector<fixtures::TFrameComponent> kGrey = {{1, 1, 1, 0}};

// One symbol of a hand-made scan, coded with the Annex K table of index 0 of
// its class, followed by `count` value bits.
struct TSym {
    int tableClass;
    int symbol;
    std::uint32_t bits = 0;
    int count = 0;
};
TSym Dc(int size, std::uint32_t bits = 0) {
    return {0, size, bits, size};
}
TSym Ac(int run, int size, std::uint32_t bits) {
    return {1, run << 4 | size, bits, size};
}
const TSym kEob{1, 0x00};
const TSym kZrl{1, 0xF0};

TBytes HandScan(const std::vector<TSym>& symbols) {
    TScanBitWriter writer;
    for (const TSym& s : symbols) {
        const auto [code, length] =
            HuffmanCode(StandardHuffmanTable(s.tableClass, 0), static_cast<std::uint8_t>(s.symbol));
        EXPECT_GT(length, 0) << "no Annex K code for symbol " << s.symbol;
        writer.Put(code, length);
        writer.Put(s.bits, s.count);
    }
    return writer.Finish();
}

// A grey file around scan data, with the four Annex K tables.
TBytes GreyFile(int width, int height, const TBytes& scan) {
    fixtures::TSegmentBuilder b;
    b.Soi().Dqt({fixtures::RampQuantTable(0)}).Sof0(width, height, {{1, 1, 1, 0}}).StandardDht();
    b.Sos({{1, 0, 0}}).Bytes(scan).Eoi();
    return b.Take();
}

// Runs every mode, with and without the second coding thread.
template <class TCheck>
void ForEveryMode(const TCheck& check) {
    for (int mode = 0; mode < kModeCount; ++mode)
        for (bool parallel : {true, false}) {
            SCOPED_TRACE("mode " + std::to_string(mode) +
                         (parallel ? ", parallel coding" : ", one thread"));
            check(mode, parallel);
        }
}

// ---- Restart markers ----

struct TRestartCase {
    const char* name;
    int mcuColumns, mcuRows;  // of a grey image, one block per MCU
    bool dri;
    int interval;
    std::vector<int> inputNumbers;  // numbers the input's markers carry
    int mode;
    std::vector<int> expected;  // markers of the output, in order
};
void PrintTo(const TRestartCase& c, std::ostream* out) {
    *out << c.name;
}

const TRestartCase kRestartCases[] = {
    {"Interval4Of10Mcus", 10, 1, true, 4, {}, 0, {0, 1}},
    {"IntervalDividesTheMcuCount", 3, 1, true, 3, {}, 0, {}},
    {"EveryMcuOf3", 3, 1, true, 1, {}, 3, {0, 1}},
    {"WrapAfterRst7", 12, 1, true, 1, {}, 4, {0, 1, 2, 3, 4, 5, 6, 7, 0, 1, 2}},
    {"LongerThanTheScan", 5, 1, true, 9, {}, 5, {}},
    {"DriZero", 6, 2, true, 0, {}, 3, {}},
    {"NoDri", 6, 2, false, 0, {}, 0, {}},
    {"QuarterTurnCountsOutputMcus", 5, 2, true, 3, {}, 1, {0, 1, 2}},
    {"InputAllRst5", 4, 3, true, 2, {5}, 2, {0, 1, 2, 3, 4}},
    {"InputFromRst3", 9, 1, true, 1, {3, 4, 5, 6, 7, 0, 1, 2}, 0, {0, 1, 2, 3, 4, 5, 6, 7}},
    {"InputDescending", 9, 1, true, 1, {7, 6, 5, 4, 3, 2, 1, 0}, 5, {0, 1, 2, 3, 4, 5, 6, 7}},
};

class ScanRestartTest : public ::testing::TestWithParam<TRestartCase> {};

TEST_P(ScanRestartTest, OutputCarriesRstNumberedFromZeroAtTheInputInterval) {
    const TRestartCase& c = GetParam();
    TBlockFileOptions options;
    options.components = kGrey;
    options.width = 8 * c.mcuColumns;
    options.height = 8 * c.mcuRows;
    options.writeDri = c.dri;
    options.restartInterval = c.interval;
    options.rstNumbers = c.inputNumbers;
    const TBlockFile file = MakeBlockFile(options, RandomStore(LayoutOf(options), {}));
    for (bool parallel : {true, false}) {
        const TEngineRotation engine = RunEngine(file.jpeg, c.mode, parallel);
        ASSERT_TRUE(engine.ok) << ::testing::PrintToString(engine.messages);
        EXPECT_TRUE(engine.messages.empty());
        EXPECT_EQ(RestartMarkersIn(engine.output), c.expected);
        // Nothing stands between the last MCU's bits and EOI.
        const std::size_t n = engine.output.size();
        EXPECT_EQ(engine.output[n - 2], 0xFF);
        EXPECT_EQ(engine.output[n - 1], 0xD9);
        EXPECT_FALSE(engine.output[n - 4] == 0xFF && engine.output[n - 3] >= 0xD0 &&
                     engine.output[n - 3] <= 0xD7);
        // libjpeg checks the marker numbers as it reads them.
        const fixtures::TCoefficientImage image = fixtures::ReadCoefficients(engine.output);
        EXPECT_TRUE(image.warnings.empty()) << image.warnings;
        EXPECT_EQ(image.components[0].blocks,
                  RefTransformStore(file.setup, file.blocks, c.mode)[1]);
        ExpectSameAsReference(file.jpeg, c.mode, parallel);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ScanRestartTest, ::testing::ValuesIn(kRestartCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Coding of one block: the exact symbols ----

struct TBlockCodeCase {
    const char* name;
    TCoefBlock block;
    std::vector<TSym> symbols;
};
void PrintTo(const TBlockCodeCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<TSym> AllOnes() {
    std::vector<TSym> symbols = {Dc(0)};
    for (int k = 1; k < 64; ++k) symbols.push_back(Ac(0, 1, 1));
    return symbols;
}
TCoefBlock AllOnesBlock() {
    TCoefBlock block;
    block.fill(1);
    block[0] = 0;
    return block;
}

const TBlockCodeCase kBlockCodeCases[] = {
    {"ZerosOnly", BlockWith({}), {Dc(0), kEob}},
    {"DcMinus5", BlockWith({{0, -5}}), {Dc(3, 0b010), kEob}},
    {"DcPlus6", BlockWith({{0, 6}}), {Dc(3, 0b110), kEob}},
    {"Dc300", BlockWith({{0, 300}}), {Dc(9, 300), kEob}},
    {"FifteenZerosThenValue", BlockWith({{16, -1}}), {Dc(0), Ac(15, 1, 0), kEob}},
    {"SixteenZerosThenValue", BlockWith({{17, 1}}), {Dc(0), kZrl, Ac(0, 1, 1), kEob}},
    {"ThirtyTwoZerosThenValue", BlockWith({{33, 3}}), {Dc(0), kZrl, kZrl, Ac(0, 2, 3), kEob}},
    {"FortyZerosAtTheEnd", BlockWith({{23, 2}}), {Dc(0), kZrl, Ac(6, 2, 2), kEob}},
    {"OnlyPosition63NoEob", BlockWith({{63, 1}}), {Dc(0), kZrl, kZrl, kZrl, Ac(14, 1, 1)}},
    {"Position1And63NoEob",
     BlockWith({{1, -2}, {63, 5}}),
     {Dc(0), Ac(0, 2, 1), kZrl, kZrl, kZrl, Ac(13, 3, 5)}},
    {"EveryPositionNoEob", AllOnesBlock(), AllOnes()},
};

class ScanBlockCodingTest : public ::testing::TestWithParam<TBlockCodeCase> {};

TEST_P(ScanBlockCodingTest, Mode0WritesExactlyTheseSymbolsAndLibjpegReadsTheBlock) {
    const TBlockCodeCase& c = GetParam();
    const TBytes expectedScan = HandScan(c.symbols);
    TBlockFileOptions options;
    options.components = kGrey;
    options.width = options.height = 8;
    TRefStore store;
    store[1] = {c.block};
    const TBlockFile file = MakeBlockFile(options, store);
    ASSERT_EQ(fixtures::ReadCoefficients(file.jpeg).components[0].blocks[0], c.block);
    for (bool parallel : {true, false}) {
        const TEngineRotation engine = RunEngine(file.jpeg, 0, parallel);
        ASSERT_TRUE(engine.ok);
        const TBytes scan(
            engine.output.begin() + static_cast<std::ptrdiff_t>(ScanStart(engine.output)),
            engine.output.end() - 2);
        EXPECT_EQ(scan, expectedScan);
    }
    ForEveryMode([&](int mode, bool parallel) {
        const TEngineRotation engine = RunEngine(file.jpeg, mode, parallel);
        ASSERT_TRUE(engine.ok);
        EXPECT_EQ(fixtures::ReadCoefficients(engine.output).components[0].blocks[0],
                  RefTransformBlock(c.block, mode));
    });
}

INSTANTIATE_TEST_SUITE_P(Blocks, ScanBlockCodingTest, ::testing::ValuesIn(kBlockCodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Decoding of hand-made blocks ----

struct TDecodeCase {
    const char* name;
    std::vector<TSym> firstBlock;  // a second block, DC 0 and end of block, follows
    bool decodes;
    TCoefBlock expected;
};
void PrintTo(const TDecodeCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<TSym> Concat(std::vector<TSym> a, const std::vector<TSym>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
std::vector<TSym> Repeat(const TSym& s, int n) {
    return std::vector<TSym>(static_cast<std::size_t>(n), s);
}

const TDecodeCase kDecodeCases[] = {
    // Zero runs up to k = 48, then sixteen zeros fill 48..63: the block ends without EOB.
    {"ZrlAtPosition48EndsTheBlock",
     {Dc(0), Ac(15, 1, 1), Ac(15, 1, 1), Ac(14, 1, 1), kZrl},
     true,
     BlockWith({{16, 1}, {32, 1}, {47, 1}})},
    {"ZrlAtPosition49", {Dc(0), Ac(15, 1, 1), Ac(15, 1, 1), Ac(15, 1, 1), kZrl}, false, {}},
    {"RunPastPosition63",
     Concat({Dc(0)}, Concat(Repeat(Ac(0, 1, 1), 62), {Ac(1, 1, 1)})),
     false,
     {}},
    {"CoefficientAt63WithoutEob", AllOnes(), true, AllOnesBlock()},
    {"SixteenZerosThenEob", {Dc(2, 0b01), kZrl, kEob}, true, BlockWith({{0, -2}})},
};

class ScanDecodeTest : public ::testing::TestWithParam<TDecodeCase> {};

TEST_P(ScanDecodeTest, DecodesOrFailsWithTheHuffmanBlockError) {
    const TDecodeCase& c = GetParam();
    const TBytes jpeg = GreyFile(16, 8, HandScan(Concat(c.firstBlock, {Dc(0), kEob})));
    ForEveryMode([&](int mode, bool parallel) {
        const TEngineRotation engine = RunEngine(jpeg, mode, parallel);
        ASSERT_TRUE(engine.validated);
        if (!c.decodes) {
            EXPECT_FALSE(engine.ok);
            EXPECT_EQ(engine.messages, (std::vector<TMessage>{{kHuffmanBlockError, kLevelError}}));
            return;
        }
        ASSERT_TRUE(engine.ok);
        EXPECT_TRUE(engine.messages.empty());
        TRefScanSetup setup = ReadScanSetup(jpeg);
        TRefStore input;
        input[1] = {c.expected, BlockWith({{0, c.expected[0]}})};
        const fixtures::TCoefficientImage image = fixtures::ReadCoefficients(engine.output);
        EXPECT_EQ(image.components[0].blocks, RefTransformStore(setup, input, mode)[1]);
    });
}

INSTANTIATE_TEST_SUITE_P(Blocks, ScanDecodeTest, ::testing::ValuesIn(kDecodeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A code that matches nothing: sixteen 1-bits are no code of Annex K's AC table.
TEST(ScanDecodeTest, UnknownCodeGivesTheHuffmanBlockError) {
    TScanBitWriter writer;
    const auto [dc, dcLength] = HuffmanCode(StandardHuffmanTable(0, 0), 0);
    writer.Put(dc, dcLength);
    writer.Put(0xFFFF, 16);
    const TBytes jpeg = GreyFile(8, 8, writer.Finish());
    ForEveryMode([&](int mode, bool parallel) {
        const TEngineRotation engine = RunEngine(jpeg, mode, parallel);
        EXPECT_FALSE(engine.ok);
        EXPECT_EQ(engine.messages, (std::vector<TMessage>{{kHuffmanBlockError, kLevelError}}));
    });
}

// A table that no DHT defined has no codes: the first block that uses it
// fails at once, before any bit is read (the EOI right behind would be
// reported as a marker inside scan data if a bit of it were read).
TEST(ScanDecodeTest, EmptyTablesFailBeforeReadingABit) {
    const auto file = [](int dcTable, int acTable, const TBytes& scan) {
        fixtures::TSegmentBuilder b;
        b.Soi().Dqt({fixtures::RampQuantTable(0)}).Sof0(8, 8, {{1, 1, 1, 0}});
        b.Dht({StandardHuffmanTable(0, 0), StandardHuffmanTable(1, 0)});
        b.Sos({{1, dcTable, acTable}}).Bytes(scan).Eoi();
        return b.Take();
    };
    TScanBitWriter dcOnly;
    const auto [dc, dcLength] = HuffmanCode(StandardHuffmanTable(0, 0), 0);
    dcOnly.Put(dc, dcLength);
    const TBytes emptyDc = file(1, 0, {});
    const TBytes emptyAc = file(0, 1, dcOnly.Finish());
    for (const TBytes* jpeg : {&emptyDc, &emptyAc}) {
        ForEveryMode([&](int mode, bool parallel) {
            const TEngineRotation engine = RunEngine(*jpeg, mode, parallel);
            ASSERT_TRUE(engine.validated);
            EXPECT_FALSE(engine.ok);
            EXPECT_EQ(engine.messages, (std::vector<TMessage>{{kHuffmanBlockError, kLevelError}}));
        });
    }
}

// ---- Markers inside scan data ----

TBlockFile RandomFile(std::uint32_t seed, int restartInterval,
                      const TBytes& trailing = {0xFF, 0xD9}) {
    TBlockFileOptions options;
    options.components = {{1, 2, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}};
    options.width = 40;
    options.height = 24;
    options.writeDri = restartInterval > 0;
    options.restartInterval = restartInterval;
    options.trailing = trailing;
    TRandomBlocks random;
    random.seed = seed;
    random.density = 10;
    return MakeBlockFile(options, RandomStore(LayoutOf(options), random));
}

TEST(ScanMarkerTest, RestartMarkersWithoutDriAreMarkersInsideScanData) {
    const TBlockFile file = RandomFile(3, 2);
    const auto dri = fixtures::FindSegment(file.jpeg, fixtures::kDRI);
    ASSERT_TRUE(dri);
    const TBytes jpeg = fixtures::ReplaceSegment(file.jpeg, *dri, {});
    ForEveryMode([&](int mode, bool parallel) {
        const TEngineRotation engine = RunEngine(jpeg, mode, parallel);
        EXPECT_FALSE(engine.ok) << "a pass with a level-2 report wrote a file";
        ASSERT_FALSE(engine.messages.empty());
        EXPECT_EQ(engine.messages[0], (TMessage{kMarkerInScan, kLevelError}));
        ExpectSameAsReference(jpeg, mode, parallel);
    });
}

TEST(ScanMarkerTest, EoiInsideATruncatedScanIsReported) {
    const TBlockFile file = RandomFile(4, 0);
    const std::size_t start = ScanStart(file.jpeg);
    TBytes jpeg(file.jpeg.begin(), file.jpeg.begin() + static_cast<std::ptrdiff_t>(
                                                           start + (file.jpeg.size() - start) / 2));
    if (jpeg.back() == 0xFF) jpeg.pop_back();
    jpeg.insert(jpeg.end(), {0xFF, 0xD9});
    ForEveryMode([&](int mode, bool parallel) {
        const TEngineRotation engine = RunEngine(jpeg, mode, parallel);
        EXPECT_FALSE(engine.ok);
        ASSERT_FALSE(engine.messages.empty()) << "read error: " << engine.readErrorText;
        EXPECT_EQ(engine.messages[0], (TMessage{kMarkerInScan, kLevelError}));
        ExpectSameAsReference(jpeg, mode, parallel);
    });
}

// ---- The end of the scan ----

enum class TEnd { kOnByteBoundary, kWithPadding, kLastByteStuffed };

// A random file whose scan ends as asked.
TBlockFile FileEnding(TEnd end, const TBytes& trailing) {
    for (std::uint32_t seed = 1; seed < 5000; ++seed) {
        TBlockFile file = RandomFile(seed, 0, trailing);
        const std::size_t scanEnd = file.jpeg.size() - trailing.size();
        const bool stuffed = file.jpeg[scanEnd - 2] == 0xFF && file.jpeg[scanEnd - 1] == 0x00;
        if ((end == TEnd::kOnByteBoundary && file.scanEndsOnByte) ||
            (end == TEnd::kWithPadding && !file.scanEndsOnByte && !stuffed) ||
            (end == TEnd::kLastByteStuffed && stuffed))
            return file;
    }
    ADD_FAILURE() << "no seed gives that end of scan";
    return {};
}

struct TEndCase {
    const char* name;
    TEnd end;
    TBytes trailing;
};
void PrintTo(const TEndCase& c, std::ostream* out) {
    *out << c.name;
}

const TEndCase kEndCases[] = {
    {"EoiAfterAByteBoundary", TEnd::kOnByteBoundary, {0xFF, 0xD9}},
    {"EoiAfterPadding", TEnd::kWithPadding, {0xFF, 0xD9}},
    {"EoiAfterAStuffedByte", TEnd::kLastByteStuffed, {0xFF, 0xD9}},
    {"NothingAfterTheScan", TEnd::kOnByteBoundary, {}},
    {"NothingAfterPadding", TEnd::kWithPadding, {}},
    {"TrailingBytesAfterEoi",
     TEnd::kWithPadding,
     {0xFF, 0xD9, 'e', 'x', 't', 'r', 'a', 0xFF, 0x00, 0xFF, 0xD8, 0}},
    {"FillByteBeforeEoi", TEnd::kOnByteBoundary, {0xFF, 0xFF, 0xD9}},
    {"SecondScanAfterTheFirst", TEnd::kWithPadding, {0xFF, 0xDA, 0x00, 0x02, 0x12, 0xFF, 0xD9}},
};

class ScanEndTest : public ::testing::TestWithParam<TEndCase> {};

// The reader looks ahead into what follows the scan; none of it is reported,
// and all of it is copied after the new scan.
TEST_P(ScanEndTest, WhatFollowsTheScanIsCopiedWithoutAMessage) {
    const TEndCase& c = GetParam();
    const TBlockFile file = FileEnding(c.end, c.trailing);
    ASSERT_FALSE(file.jpeg.empty());
    ForEveryMode([&](int mode, bool parallel) {
        const TEngineRotation engine = RunEngine(file.jpeg, mode, parallel);
        ASSERT_TRUE(engine.ok);
        EXPECT_TRUE(engine.messages.empty()) << engine.messages.front();
        ASSERT_GE(engine.output.size(), c.trailing.size());
        EXPECT_TRUE(
            std::equal(c.trailing.begin(), c.trailing.end(),
                       engine.output.end() - static_cast<std::ptrdiff_t>(c.trailing.size())));
        ExpectSameAsReference(file.jpeg, mode, parallel);
    });
}

INSTANTIATE_TEST_SUITE_P(Ends, ScanEndTest, ::testing::ValuesIn(kEndCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A scan that ends before its last MCU raises the stream's read error.
TEST(ScanEndTest, ScanCutShortRaisesTheReadError) {
    const TBlockFile file = RandomFile(5, 3);
    const std::size_t start = ScanStart(file.jpeg);
    std::vector<TBytes> cuts;
    cuts.emplace_back(
        file.jpeg.begin(),
        file.jpeg.begin() + static_cast<std::ptrdiff_t>(start + (file.jpeg.size() - start) / 2));
    cuts.emplace_back(file.jpeg.begin(), file.jpeg.end() - 3);  // the scan's last byte is missing
    for (std::size_t i = start; i + 1 < file.jpeg.size() - 8; ++i)
        if (file.jpeg[i] == 0xFF && file.jpeg[i + 1] == 0x00) {
            cuts.emplace_back(file.jpeg.begin(), file.jpeg.begin() + static_cast<std::ptrdiff_t>(
                                                                         i + 1));  // a lone 0xFF
            break;
        }
    ASSERT_EQ(cuts.size(), 3u) << "no stuffed byte in the scan";
    for (const TBytes& jpeg : cuts) {
        SCOPED_TRACE("cut after " + std::to_string(jpeg.size()) + " bytes");
        ForEveryMode([&](int mode, bool parallel) {
            TEngineRun run;
            run.UseThreads(parallel);
            ASSERT_TRUE(run.Validate(jpeg));
            run.ClearRecords();
            EXPECT_FALSE(run.Rotate(jpeg, static_cast<std::uint8_t>(mode)));
            EXPECT_TRUE(run.InputEnded());
            EXPECT_TRUE(run.messages.empty());
        });
    }
}

// ---- Mode 0 copies scan data that coding again would not change ----

// The scan of HandScan with the last byte padded with `padding` instead of 1-bits.
TBytes HandScanPadded(const std::vector<TSym>& symbols, int padding) {
    TScanBitWriter writer;
    int bits = 0;
    for (const TSym& s : symbols) {
        const auto [code, length] =
            HuffmanCode(StandardHuffmanTable(s.tableClass, 0), static_cast<std::uint8_t>(s.symbol));
        writer.Put(code, length);
        writer.Put(s.bits, s.count);
        bits += length + s.count;
    }
    if (bits % 8 != 0)
        writer.Put(static_cast<std::uint32_t>(padding) & ((1u << (8 - bits % 8)) - 1),
                   8 - bits % 8);
    return writer.Finish();
}

struct TCopyCase {
    const char* name;
    std::vector<TSym> symbols;  // two blocks
    int padding;
    bool copied;
};
void PrintTo(const TCopyCase& c, std::ostream* out) {
    *out << c.name;
}

std::vector<TSym> Coefficients(int count, std::vector<TSym> after) {
    std::vector<TSym> symbols{Dc(3, 5)};
    for (int i = 0; i < count; ++i) symbols.push_back(Ac(0, 1, static_cast<std::uint32_t>(i & 1)));
    symbols.insert(symbols.end(), after.begin(), after.end());
    return symbols;
}

const TCopyCase kCopyCases[] = {
    {"Plain", Coefficients(3, {kEob, Dc(0), Ac(4, 2, 1), kEob}), 0xFF, true},
    {"ZrlBeforeACoefficient", Coefficients(1, {kZrl, Ac(3, 1, 0), kEob, Dc(0), kEob}), 0xFF, true},
    {"CoefficientAt63WithoutEob", Coefficients(63, {Dc(0), kEob}), 0xFF, true},
    {"ZrlThenEob", Coefficients(2, {kZrl, kEob, Dc(0), kEob}), 0xFF, false},
    {"ZrlFillingTheBlock", Coefficients(47, {kZrl, Dc(1, 1), kEob}), 0xFF, false},
    {"ZeroBitsAsPadding", Coefficients(3, {kEob, Dc(0), Ac(4, 2, 1), kEob}), 0x00, false},
};

class ScanCopyTest : public ::testing::TestWithParam<TCopyCase> {};

TEST_P(ScanCopyTest, ModeZeroCopiesOnlyWhatCodingAgainKeeps) {
    const TCopyCase& c = GetParam();
    const TBytes scan = HandScanPadded(c.symbols, c.padding);
    const TBytes jpeg = GreyFile(16, 8, scan);
    for (bool parallel : {true, false}) {
        SCOPED_TRACE(parallel ? "two threads" : "one thread");
        ExpectSameAsReference(jpeg, 0, parallel);
        const TEngineRotation engine = RunEngine(jpeg, 0, parallel);
        ASSERT_TRUE(engine.ok);
        EXPECT_EQ(engine.output == jpeg, c.copied);
        EXPECT_EQ(engine.progress, (std::vector<int>{0, 0, 1}));
    }
}

INSTANTIATE_TEST_SUITE_P(Scans, ScanCopyTest, ::testing::ValuesIn(kCopyCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A block coded otherwise deep in the part of the scan that the second thread
// decodes ahead of the first is found there too.
TEST(ScanCopy, ABlockCodedOtherwiseLateInALongScanIsCodedAgain) {
    for (const int odd : {-1, 40, 200, 255}) {
        SCOPED_TRACE("odd block " + std::to_string(odd));
        std::vector<TSym> symbols;
        for (int block = 0; block < 256; ++block) {
            const std::vector<TSym> tail = block == odd
                                               ? std::vector<TSym>{kZrl, kEob}
                                               : std::vector<TSym>{Ac(block % 7, 2, 3), kEob};
            const std::vector<TSym> one = Coefficients(block % 5, tail);
            symbols.insert(symbols.end(), one.begin(), one.end());
        }
        const TBytes jpeg = GreyFile(8 * 256, 8, HandScanPadded(symbols, 0xFF));
        for (bool parallel : {true, false}) {
            ExpectSameAsReference(jpeg, 0, parallel);
            const TEngineRotation engine = RunEngine(jpeg, 0, parallel);
            EXPECT_EQ(engine.output == jpeg, odd < 0);
        }
    }
}

}  // namespace
}  // namespace plume::test
