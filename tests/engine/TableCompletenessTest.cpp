// A Huffman table is kept as read only when it codes every symbol of its
// class; otherwise the output declares and uses the Annex K table. A table
// with the right number of codes but other symbols (an AC table of 12 codes)
// would leave the turned scan without codes it needs.
#include "JpegRotation/entropy/StandardTables.h"
#include "engine/EngineTestSupport.h"
#include "fixtures/Fixtures.h"

namespace plume {
namespace {

using fixtures::THuffmanTable;

std::vector<int> Iota(int first, int count) {
    std::vector<int> values(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) values[i] = first + i;
    return values;
}

TEST(TableCompletenessTest, DcTableNeedsTheTwelveSizes) {
    std::vector<int> sizes = Iota(0, 12);
    EXPECT_TRUE(IsCompleteTable(0, sizes.data(), 12));
    std::swap(sizes[0], sizes[11]);
    EXPECT_TRUE(IsCompleteTable(0, sizes.data(), 12)) << "order does not matter";
    sizes[3] = 12;
    EXPECT_FALSE(IsCompleteTable(0, sizes.data(), 12)) << "size 12 is not a baseline DC size";
    sizes[3] = 4;
    EXPECT_FALSE(IsCompleteTable(0, sizes.data(), 12)) << "a size listed twice leaves one out";
    EXPECT_FALSE(IsCompleteTable(0, sizes.data(), 11));
}

TEST(TableCompletenessTest, AcTableNeedsEveryRunSize) {
    EXPECT_TRUE(IsCompleteTable(1, StdAcSymbols[0], 162));
    EXPECT_TRUE(IsCompleteTable(1, StdAcSymbols[1], 162));
    std::vector<int> symbols(StdAcSymbols[0], StdAcSymbols[0] + 162);
    symbols[5] = 0x10;  // a run of one zero without a value: not a symbol
    EXPECT_FALSE(IsCompleteTable(1, symbols.data(), 162));
    const std::vector<int> twelve = Iota(0, 12);
    EXPECT_FALSE(IsCompleteTable(1, twelve.data(), 12))
        << "12 codes make a DC table, not an AC one";
    EXPECT_FALSE(IsCompleteTable(0, StdAcSymbols[0], 162));
}

// A grey 16 x 8 picture of two blocks whose AC table has exactly 12 codes:
// run 0 with sizes 1 to 10, end of block and ZRL. The first block holds a 1
// at zigzag position 1; turned a quarter it moves to position 2, which needs
// the symbol 0x11 (a run of one zero, size 1) that this table lacks.
fixtures::TBytes GreyWithTwelveCodeAcTable() {
    THuffmanTable ac;
    ac.tableClass = 1;
    ac.bits = {0, 0, 0, 12};  // twelve codes of four bits
    ac.values = {0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0xF0};
    const THuffmanTable dc = fixtures::StandardHuffmanTable(0, 0);

    fixtures::TScanBitWriter scan;
    const auto put = [&scan](std::pair<std::uint16_t, int> code) {
        scan.Put(code.first, code.second);
    };
    put(fixtures::HuffmanCode(dc, 0));     // DC difference 0
    put(fixtures::HuffmanCode(ac, 0x01));  // run 0, size 1 ...
    scan.Put(1, 1);                        // ... value 1
    put(fixtures::HuffmanCode(ac, 0x00));  // end of block
    put(fixtures::HuffmanCode(dc, 0));
    put(fixtures::HuffmanCode(ac, 0x00));

    fixtures::TSegmentBuilder file;
    file.Soi()
        .Dqt({fixtures::FlatQuantTable(0, 2)})
        .Sof0(16, 8, {{1, 1, 1, 0}})
        .Dht({dc, ac})
        .Sos({{1, 0, 0}})
        .Bytes(scan.Finish())
        .Eoi();
    return file.Take();
}

TEST(TableCompletenessTest, TwelveCodeAcTableIsReplacedAndTheTurnSucceeds) {
    const fixtures::TBytes input = GreyWithTwelveCodeAcTable();
    test::TEngineRun run;
    ASSERT_TRUE(run.ValidateAndRotate(input, kModeRotateRight))
        << ::testing::PrintToString(run.messages);
    EXPECT_TRUE(run.Messages(kLevelError).empty());
    EXPECT_EQ(run.nonStandardHuffman, 1);

    const std::vector<THuffmanTable> tables = fixtures::ParseHuffmanTables(run.output);
    ASSERT_EQ(tables.size(), 2u);
    EXPECT_EQ(tables[1].bits, fixtures::StandardHuffmanTable(1, 0).bits);
    EXPECT_EQ(tables[1].values, fixtures::StandardHuffmanTable(1, 0).values);

    const fixtures::TCoefficientImage image = fixtures::ReadCoefficients(run.output);
    EXPECT_EQ(image.warnings, "");
    ASSERT_EQ(image.components.size(), 1u);
    ASSERT_EQ(image.components[0].blocks.size(), 2u);
    // Turned right, the 8 x 16 picture has the first block at the top; its
    // coefficient of (v 0, u 1) is now at (v 1, u 0), zigzag position 2.
    fixtures::TBlock expected{};
    expected[2] = 1;
    EXPECT_EQ(image.components[0].Block(0, 0), expected);
}

}  // namespace
}  // namespace plume
