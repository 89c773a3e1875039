// The header pass: every refusal with its exact text and level, the
// partial-MCU warning, the notice of incomplete Huffman tables, and the
// refusals that keep header values from being trusted (both passes).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "JpegRotation/EngineMessages.h"
#include "engine/EngineTestSupport.h"
#include "fixtures/Fixtures.h"

namespace plume::test {
namespace {

using namespace plume::fixtures;

const std::vector<TFrameComponent> kFrame420 = {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}};
const std::vector<TScanComponent> kScan3 = {{1, 0, 0}, {2, 1, 1}, {3, 1, 1}};

TSegmentBuilder& Tables(TSegmentBuilder& b) {
    return b.Dqt({RampQuantTable(0), RampQuantTable(1)}).StandardDht();
}

// SOI, the headers that build writes, one flat 4:2:0 MCU, EOI.
TBytes Headers(const std::function<void(TSegmentBuilder&)>& build) {
    TSegmentBuilder b;
    b.Soi();
    build(b);
    return b.Bytes(FlatScan(1, {0, 0, 0, 0, 1, 1})).Eoi().Take();
}

// A 4:2:0 file of 16 x 16 whose frame is replaced by the one given; the scan
// names the frame's components.
TBytes WithFrame(int width, int height, const std::vector<TFrameComponent>& frame,
                 int precision = 8) {
    std::vector<TScanComponent> scan;
    for (const TFrameComponent& c : frame)
        scan.push_back({c.id, c.tq == 0 ? 0 : 1, c.tq == 0 ? 0 : 1});
    return Headers(
        [&](TSegmentBuilder& b) { Tables(b).Sof0(width, height, frame, precision).Sos(scan); });
}

TBytes WithScan(const std::vector<TScanComponent>& scan) {
    return Headers([&](TSegmentBuilder& b) { Tables(b).Sof0(16, 16, kFrame420).Sos(scan); });
}

// A 4:2:0 file of 16 x 16 with one more segment (any bytes) before the frame.
TBytes WithExtra(const TBytes& segment) {
    return Headers([&](TSegmentBuilder& b) {
        b.Bytes(segment);
        Tables(b).Sof0(16, 16, kFrame420).Sos(kScan3);
    });
}

TBytes WithDht(const std::vector<THuffmanTable>& tables) {
    return WithExtra(TSegmentBuilder().Dht(tables).Take());
}

TBytes RawSegment(std::uint16_t marker, std::uint16_t length, const TBytes& body = {}) {
    return TSegmentBuilder().SegmentWithLength(marker, length, body).Take();
}

THuffmanTable AcTable(std::array<std::uint8_t, 16> bits, int symbols, int index = 0) {
    THuffmanTable table{1, index, bits, {}};
    for (int i = 0; i < symbols; ++i) table.values.push_back(static_cast<std::uint8_t>(i));
    return table;
}

// ---- The texts every file meets -------------------------------------------

TEST(ValidateJpegTest, FileWithoutSoiIsRefusedByBothPassesWithTheirOwnTexts) {
    TBytes jpeg = FlatJpeg(16, 16, {{2, 2}, {1, 1}, {1, 1}});
    jpeg[1] = 0xD9;
    TEngineRun validate;
    EXPECT_FALSE(validate.Validate(jpeg));
    EXPECT_EQ(validate.messages,
              (std::vector<TMessage>{{"JPEGファイルの開始のヘッダ($FFD8)を認識できません", 2}}));
    TEngineRun rotate;
    EXPECT_FALSE(rotate.Rotate(jpeg, 1));
    EXPECT_EQ(rotate.messages,
              (std::vector<TMessage>{
                  {"致命的エラー : JPEGファイルの開始のヘッダ($FFD8)を認識できません", 2}}));
}

TEST(ValidateJpegTest, FourComponentFrameIsNotYCbCr) {
    TEngineRun run;
    EXPECT_FALSE(
        run.Validate(WithFrame(16, 16, {{0, 1, 1, 0}, {1, 1, 1, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}})));
    EXPECT_EQ(run.messages,
              (std::vector<TMessage>{{"この画像はYCbCr色空間の情報でないようです。", 2}}));
}

TEST(ValidateJpegTest, GreyAndTwoComponentFramesAreAccepted) {
    for (const auto& layout :
         std::vector<std::vector<TFlatComponent>>{{{1, 1}}, {{1, 1}, {1, 1}}}) {
        TEngineRun run;
        EXPECT_TRUE(run.Validate(FlatJpeg(16, 16, layout))) << layout.size();
        EXPECT_TRUE(run.messages.empty()) << layout.size() << ": " << run.messages[0];
    }
}

TEST(ValidateJpegTest, SegmentsOfEveryHandledKindInAnyOrderAreAccepted) {
    TSegmentBuilder b;
    b.Soi()
        .Com("first")
        .App(0, {'J', 'F', 'I', 'F', 0})
        .Dri(3)
        .StandardDht()
        .App(1, {'E', 'x', 'i', 'f', 0, 0})
        .Sof0(16, 16, kFrame420)
        .App(15, {})
        .Dqt({RampQuantTable(0)})
        .Dqt({RampQuantTable(1)})
        .Com("")
        .Sos(kScan3)
        .Bytes(FlatScan(1, {0, 0, 0, 0, 1, 1}))
        .Eoi();
    TEngineRun run;
    EXPECT_TRUE(run.Validate(b.Data()));
    EXPECT_TRUE(run.messages.empty());
}

// ---- Unhandled markers before the scan --------------------------------------

struct TUnknownMarker {
    std::uint16_t marker;
    const char* hex;
};
void PrintTo(const TUnknownMarker& m, std::ostream* out) {
    *out << m.hex;
}

class UnknownMarkerTest : public ::testing::TestWithParam<TUnknownMarker> {};

TEST_P(UnknownMarkerTest, BothPassesNameTheMarkerInUpperCaseHex) {
    const TUnknownMarker& c = GetParam();
    const TBytes jpeg = WithExtra(RawSegment(c.marker, 4, {0, 0}));
    TEngineRun validate;
    EXPECT_FALSE(validate.Validate(jpeg));
    EXPECT_EQ(validate.messages,
              (std::vector<TMessage>{
                  {std::string("ヘッダ($") + c.hex + ")を認識できませんでした。", 2}}));
    TEngineRun rotate;
    EXPECT_FALSE(rotate.Rotate(jpeg, 3));
    EXPECT_EQ(rotate.messages,
              (std::vector<TMessage>{
                  {std::string("致命的エラー : ヘッダ($") + c.hex + ")を認識できません", 2}}));
}

INSTANTIATE_TEST_SUITE_P(
    Markers, UnknownMarkerTest,
    ::testing::Values(TUnknownMarker{0xFFC1, "FFC1"}, TUnknownMarker{0xFFC2, "FFC2"},
                      TUnknownMarker{0xFFC9, "FFC9"}, TUnknownMarker{0xFFCC, "FFCC"},
                      TUnknownMarker{0xFFDC, "FFDC"}, TUnknownMarker{0xFFD0, "FFD0"},
                      TUnknownMarker{0xFFD9, "FFD9"}, TUnknownMarker{0xFFFF, "FFFF"},
                      TUnknownMarker{0x00AB, "00AB"}),
    [](const auto& info) { return std::string(info.param.hex); });

TEST(ValidateJpegTest, ProgressiveFileIsRefusedAsHeaderFFC2) {
    TEncodeOptions options;
    options.progressive = true;
    TEngineRun run;
    EXPECT_FALSE(run.Validate(EncodeJpeg(options)));
    EXPECT_EQ(run.messages, (std::vector<TMessage>{{"ヘッダ($FFC2)を認識できませんでした。", 2}}));
}

TEST(ValidateJpegTest, FillByteBeforeAMarkerMakesTheWordFFFF) {
    const TBytes jpeg = EncodeJpeg(TEncodeOptions{});
    const auto dht = FindSegment(jpeg, kDHT);
    ASSERT_TRUE(dht);
    TEngineRun run;
    EXPECT_FALSE(run.Validate(InsertBytes(jpeg, dht->offset, {0xFF})));
    EXPECT_EQ(run.messages, (std::vector<TMessage>{{"ヘッダ($FFFF)を認識できませんでした。", 2}}));
}

// ---- Partial MCUs ------------------------------------------------------------

struct TPartialCase {
    const char* name;
    TSampling sampling;
    int width;
    int height;
    bool warns;
};
void PrintTo(const TPartialCase& c, std::ostream* out) {
    *out << c.name;
}

class PartialMcuTest : public ::testing::TestWithParam<TPartialCase> {};

TEST_P(PartialMcuTest, WarnsOnceAtLevelOneAndAccepts) {
    const TPartialCase& c = GetParam();
    TEncodeOptions options;
    options.Size(c.width, c.height).Sampling(c.sampling);
    TEngineRun run;
    EXPECT_TRUE(run.Validate(EncodeJpeg(options)));
    const std::vector<TMessage> expected = {
        {"画像のサイズがMCUの単位になっていません。回転処理を行うと、画像の端が正しく処理されませ"
         "ん",
         1}};
    EXPECT_EQ(run.messages, c.warns ? expected : std::vector<TMessage>{});
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PartialMcuTest,
    ::testing::Values(TPartialCase{"422_100x75", TSampling::k422, 100, 75, true},
                      TPartialCase{"422_96x72", TSampling::k422, 96, 72, false},
                      TPartialCase{"422_WidthOnly_100x72", TSampling::k422, 100, 72, true},
                      TPartialCase{"422_HeightOnly_96x75", TSampling::k422, 96, 75, true},
                      TPartialCase{"420_96x72", TSampling::k420, 96, 72, true},
                      TPartialCase{"420_96x64", TSampling::k420, 96, 64, false},
                      TPartialCase{"440_16x8", TSampling::k440, 16, 8, true},
                      TPartialCase{"440_8x16", TSampling::k440, 8, 16, false},
                      TPartialCase{"444_8x8", TSampling::k444, 8, 8, false},
                      TPartialCase{"444_9x8", TSampling::k444, 9, 8, true},
                      TPartialCase{"Grey_1x1", TSampling::kGrey, 1, 1, true},
                      TPartialCase{"Grey_24x16", TSampling::kGrey, 24, 16, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ValidateJpegTest, LargestSamplingOfAnEarlierFileDoesNotCarryOver) {
    TEngineRun run;
    EXPECT_TRUE(run.Validate(FlatJpeg(32, 32, {{2, 2}, {1, 1}, {1, 1}})));
    EXPECT_TRUE(run.Validate(FlatJpeg(8, 8, {{1, 1}, {1, 1}, {1, 1}})));
    EXPECT_TRUE(run.messages.empty());
}

// ---- Incomplete Huffman tables -----------------------------------------------

TEST(ValidateJpegTest, IncompleteTablesAreAnnouncedOncePerPass) {
    TEncodeOptions options;
    options.optimizeCoding = true;
    const TBytes jpeg = EncodeJpeg(options);
    ASSERT_GE(ParseHuffmanTables(jpeg).size(), 2u);
    TEngineRun run;
    EXPECT_TRUE(run.Validate(jpeg));
    EXPECT_EQ(run.nonStandardHuffman, 1);
    EXPECT_TRUE(run.Validate(jpeg));
    EXPECT_EQ(run.nonStandardHuffman, 2);
    EXPECT_TRUE(run.Rotate(jpeg, 1));
    EXPECT_EQ(run.nonStandardHuffman, 2);  // the rotate pass never announces
    EXPECT_TRUE(run.messages.empty());
}

TEST(ValidateJpegTest, TableCountDecidesCompletenessNotTheCodes) {
    THuffmanTable reordered = StandardHuffmanTable(1, 0);
    std::swap(reordered.values[0], reordered.values[161]);
    THuffmanTable dcOtherLengths = StandardHuffmanTable(0, 1);
    dcOtherLengths.index = 0;
    THuffmanTable short10 = StandardHuffmanTable(0, 0);
    short10.bits = {0, 1, 5, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    short10.values.resize(10);
    const struct {
        const char* name;
        std::vector<THuffmanTable> tables;
        int notices;
    } cases[] = {
        {"ReorderedAcOf162", {reordered}, 0},
        {"DcOf12WithOtherLengths", {dcOtherLengths}, 0},
        {"DcOf10", {short10}, 1},
        {"AcOf1", {AcTable({1}, 1)}, 1},
        {"CompleteThenIncompleteInOneSegment", {reordered, short10}, 1},
        {"TwoIncompleteInOneSegment", {short10, AcTable({1}, 1)}, 1},
    };
    for (const auto& c : cases) {
        TEngineRun run;
        EXPECT_TRUE(run.Validate(WithDht(c.tables))) << c.name;
        EXPECT_EQ(run.nonStandardHuffman, c.notices) << c.name;
        EXPECT_TRUE(run.messages.empty()) << c.name;
    }
}

// ---- Headers outside what the engine handles ---------------------------------

struct TRefusal {
    std::string name;
    TBytes jpeg;
    const char* text;
};
void PrintTo(const TRefusal& r, std::ostream* out) {
    *out << r.name;
}

std::vector<TRefusal> Refusals() {
    std::vector<TRefusal> cases = {
        {"ComponentIdAbove3", WithFrame(16, 16, {{1, 2, 2, 0}, {2, 1, 1, 1}, {4, 1, 1, 1}}),
         kMsgComponentIdOutOfRange},
        {"ComponentId255", WithFrame(16, 16, {{255, 1, 1, 0}}), kMsgComponentIdOutOfRange},
        {"ComponentIdTwice", WithFrame(16, 16, {{1, 2, 2, 0}, {2, 1, 1, 1}, {2, 1, 1, 1}}),
         kMsgComponentIdTwice},
        {"NoComponents", WithFrame(16, 16, {}), kMsgNoComponents},
        {"HorizontalSamplingZero", WithFrame(16, 16, {{1, 0, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}),
         kMsgBadSampling},
        {"VerticalSamplingZero", WithFrame(16, 16, {{1, 2, 0, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}),
         kMsgBadSampling},
        {"HorizontalSamplingFive", WithFrame(16, 16, {{1, 5, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}),
         kMsgBadSampling},
        {"VerticalSampling15", WithFrame(16, 16, {{1, 1, 1, 0}, {2, 1, 15, 1}, {3, 1, 1, 1}}),
         kMsgBadSampling},
        {"Precision12", WithFrame(16, 16, kFrame420, 12), kMsgPrecision},
        {"Precision0", WithFrame(16, 16, kFrame420, 0), kMsgPrecision},
        {"WidthZero", WithFrame(0, 16, kFrame420), kMsgZeroSize},
        {"HeightZero", WithFrame(16, 0, kFrame420), kMsgZeroSize},
        {"LargestFrame444", WithFrame(65535, 65535, {{1, 1, 1, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}}),
         kMsgTooLarge},
        {"SecondFrame", Headers([](TSegmentBuilder& b) {
             Tables(b).Sof0(16, 16, kFrame420).Sof0(16, 16, kFrame420).Sos(kScan3);
         }),
         kMsgSecondFrame},
        {"DqtSixteenBitEntries", WithExtra(TSegmentBuilder().Dqt({{2, 1, {}}}).Take()),
         kMsgQuantTable16Bit},
        {"DqtTableIdFour", WithExtra(TSegmentBuilder().Dqt({{4, 0, {}}}).Take()), kMsgQuantTableId},
        {"DhtClassTwo", WithDht({{2, 0, {0, 1}, {0}}}), kMsgHuffmanTableId},
        {"DhtIndexTwo", WithDht({{0, 2, {0, 1}, {0}}}), kMsgHuffmanTableId},
        {"DhtIndexFifteen", WithDht({{1, 15, {0, 1}, {0}}}), kMsgHuffmanTableId},
        {"DhtMoreThan256Symbols",
         WithDht({AcTable({0, 0, 0, 0, 0, 0, 0, 0, 200, 0, 0, 0, 0, 0, 0, 57}, 257)}),
         kMsgHuffmanCounts},
        {"DhtThreeCodesOfLengthOne", WithDht({AcTable({3}, 3)}), kMsgHuffmanCounts},
        {"DhtFiveCodesOfLengthTwo", WithDht({AcTable({0, 5}, 5)}), kMsgHuffmanCounts},
        // Lengths 1 to 15 each use one code; three of length 16 pass 2^16.
        {"DhtCodesPastSixteenBits",
         WithDht({AcTable({1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 3}, 18)}),
         kMsgHuffmanCounts},
        {"SosBeforeSof0", Headers([](TSegmentBuilder& b) { Tables(b).Sos(kScan3); }),
         kMsgSosBeforeSof},
        {"SosWithoutOneComponent", WithScan({{1, 0, 0}, {2, 1, 1}}), kMsgNotOneInterleavedScan},
        {"SosDescending", WithScan({{3, 1, 1}, {2, 1, 1}, {1, 0, 0}}), kMsgNotOneInterleavedScan},
        {"SosOtherComponent", WithScan({{1, 0, 0}, {2, 1, 1}, {0, 1, 1}}),
         kMsgNotOneInterleavedScan},
        {"SosComponentTwice", WithScan({{1, 0, 0}, {2, 1, 1}, {2, 1, 1}}),
         kMsgNotOneInterleavedScan},
        {"SosFiveComponents", WithScan({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}, {4, 1, 1}, {5, 1, 1}}),
         kMsgNotOneInterleavedScan},
        {"SosDcTableTwo", WithScan({{1, 2, 0}, {2, 1, 1}, {3, 1, 1}}), kMsgHuffmanTableId},
        {"SosAcTableTwo", WithScan({{1, 0, 0}, {2, 1, 2}, {3, 1, 1}}), kMsgHuffmanTableId},
    };
    // The declared length of a DHT segment must be the sum of its tables.
    TBytes dht = TSegmentBuilder().Dht({StandardHuffmanTable(0, 0)}).Take();
    dht[3] = static_cast<std::uint8_t>(dht[3] - 1);
    cases.push_back({"DhtLengthOneShort", WithExtra(dht), kMsgDhtLength});
    dht[3] = static_cast<std::uint8_t>(dht[3] + 6);
    dht.insert(dht.end(), {0, 0, 0, 0, 0});
    cases.push_back({"DhtLengthFiveLong", WithExtra(dht), kMsgDhtLength});
    cases.push_back(
        {"DhtLengthNoTable", WithExtra(RawSegment(kDHT, 2 + 10, TBytes(10, 0))), kMsgDhtLength});
    // 367 one-code tables grow to Annex K tables of 162 codes: no longer one segment.
    std::vector<THuffmanTable> many(367, AcTable({1}, 1));
    cases.push_back({"DhtGrowsPastOneSegment", WithDht(many), kMsgDhtTooLarge});
    // A length field below 2 in every kind of segment.
    const std::pair<std::uint16_t, const char*> kinds[] = {
        {kDQT, "Dqt"},   {kSOF0, "Sof0"},   {kDHT, "Dht"}, {kDRI, "Dri"},
        {kAPP0, "App0"}, {0xFFEE, "App14"}, {kCOM, "Com"}};
    for (const auto& [marker, name] : kinds) {
        for (std::uint16_t length : {0, 1}) {
            cases.push_back({std::string(name) + "Length" + std::to_string(length),
                             WithExtra(RawSegment(marker, length)), kMsgSegmentLength});
        }
    }
    cases.push_back({"SosLength1", Headers([](TSegmentBuilder& b) {
                         Tables(b).Sof0(16, 16, kFrame420).Bytes(RawSegment(kSOS, 1));
                     }),
                     kMsgSegmentLength});
    // A length field one more or one less than what the segment holds (T.81
    // B.1.1.4): the segments read field by field are held to it, as libjpeg
    // holds them. One more comes with a byte of padding after the segment.
    const TBytes flat = FlatJpeg(16, 16, {{2, 2}, {1, 1}, {1, 1}}, 1);
    for (const auto& [marker, name] : {std::pair{kSOF0, "Sof0"}, std::pair{kDQT, "Dqt"},
                                       std::pair{kSOS, "Sos"}, std::pair{kDRI, "Dri"}}) {
        const TSegmentRef segment = *FindSegment(flat, marker);
        for (const int change : {1, -1}) {
            TBytes jpeg = change > 0 ? InsertBytes(flat, segment.End(), {0}) : flat;
            const auto length = static_cast<std::uint16_t>(segment.length + change);
            jpeg[segment.offset + 2] = static_cast<std::uint8_t>(length >> 8);
            jpeg[segment.offset + 3] = static_cast<std::uint8_t>(length);
            cases.push_back({std::string(name) + (change > 0 ? "LengthOneLong" : "LengthOneShort"),
                             jpeg, kMsgSegmentLength});
        }
    }
    return cases;
}

class RefusalTest : public ::testing::TestWithParam<TRefusal> {};

TEST_P(RefusalTest, ValidateRefusesWithOneLevelTwoMessage) {
    TEngineRun run;
    EXPECT_FALSE(run.Validate(GetParam().jpeg));
    EXPECT_EQ(run.messages, (std::vector<TMessage>{{GetParam().text, 2}}));
    EXPECT_FALSE(run.InputEnded());
}

TEST_P(RefusalTest, RotateAloneRefusesTooAndWritesNoScan) {
    TEngineRun run;
    EXPECT_FALSE(run.Rotate(GetParam().jpeg, 1));
    EXPECT_EQ(run.messages, (std::vector<TMessage>{{GetParam().text, 2}}));
    EXPECT_TRUE(run.progress.empty());
}

INSTANTIATE_TEST_SUITE_P(Headers, RefusalTest, ::testing::ValuesIn(Refusals()),
                         [](const auto& info) { return info.param.name; });

TEST(ValidateJpegTest, CoefficientMemoryCapIsAtTwoGibibytes) {
    // One component 8192 blocks wide: 2048 block rows are exactly 2 GiB of blocks.
    TEngineRun run;
    EXPECT_TRUE(run.Validate(WithFrame(65535, 16384, {{1, 1, 1, 0}})));
    EXPECT_TRUE(run.Messages(2).empty());
    run.ClearRecords();
    EXPECT_FALSE(run.Validate(WithFrame(65535, 16385, {{1, 1, 1, 0}})));
    EXPECT_EQ(run.messages, (std::vector<TMessage>{{kMsgTooLarge, 2}}));
}

// ---- Truncated headers ---------------------------------------------------------

TEST(ValidateJpegTest, HeadersCutAnywhereEndBothPassesWithoutAMessage) {
    TSegmentBuilder b;
    b.Soi().App(0, {1, 2, 3}).Com("abc").Dri(2);
    Tables(b).Sof0(16, 16, kFrame420).Sos(kScan3);
    const TBytes headers = b.Take();
    for (std::size_t cut = 0; cut < headers.size(); ++cut) {
        const TBytes jpeg(headers.begin(), headers.begin() + static_cast<std::ptrdiff_t>(cut));
        // One engine for both passes: the end of one file leaves nothing
        // behind for the next.
        TEngineRun run;
        for (bool validate : {true, false}) {
            const bool passed = validate ? run.Validate(jpeg) : run.Rotate(jpeg, 2);
            EXPECT_FALSE(passed) << cut;
            EXPECT_TRUE(run.InputEnded()) << cut;
            EXPECT_TRUE(run.messages.empty()) << cut;
            EXPECT_TRUE(run.progress.empty()) << cut;
        }
        EXPECT_TRUE(run.Validate(FlatJpeg(16, 16, {{2, 2}, {1, 1}, {1, 1}})));
        EXPECT_FALSE(run.InputEnded());
    }
}

TEST(ValidateJpegTest, PassesLeaveTheInputUnchanged) {
    TEncodeOptions options;
    options.restartInterval = 1;
    options.markers = {{0xFE, {'x'}}};
    const TBytes jpeg = EncodeJpeg(options);
    TMemoryStream in(jpeg);
    TMemoryStream out;
    TJpegRotation engine;
    ASSERT_TRUE(engine.ValidateJpeg(in));
    ASSERT_TRUE(engine.RotateJpeg(in, out, 1));
    EXPECT_EQ(in.Bytes(), jpeg);
    EXPECT_EQ(out.Position(), 0u);
}

}  // namespace
}  // namespace plume::test
