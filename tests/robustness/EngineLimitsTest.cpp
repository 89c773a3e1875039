// The engine on hostile input: no pass reads or writes out of range,
// overflows, holds more memory than the frame's store (never past the cap),
// or takes more than linear time in the size of the input. Bad input ends in
// a level-2 message and a false result, or in the read error when the input
// ends too early; whatever the engine writes, libjpeg reads without a warning
// that it does not give of the input.
#include <gtest/gtest.h>

#include <algorithm>

#include "BitStreamFile/InBitStreamFile.h"
#include "JpegRotation/EngineMessages.h"
#include "fixtures/Fixtures.h"
#include "robustness/AllocationTracker.h"
#include "robustness/RobustnessSupport.h"

namespace plume::test {
namespace {

using namespace fixtures;

// Generous bounds for inputs of a few megabytes under the sanitizers on a
// busy machine; anything worse than linear would take hours.
constexpr double kSecondsPerPass = 60.0;

THuffmanTable Table(int tableClass, std::vector<std::uint8_t> lengthCounts,
                    std::vector<std::uint8_t> values) {
    THuffmanTable table;
    table.tableClass = tableClass;
    for (std::size_t i = 0; i < lengthCounts.size(); ++i) table.bits[i] = lengthCounts[i];
    table.values = std::move(values);
    return table;
}

// Tables under which a run of 1-bits decodes for ever: DC "1" is size 0, AC
// "1" is run 0 size 1 (and its value bit 1 is +1), so each block takes 127
// bits and holds DC 0 and 63 coefficients of 1.
THuffmanTable OnesDcTable() {
    return Table(0, {2}, {1, 0});
}
THuffmanTable OnesAcTable() {
    return Table(1, {2}, {0x00, 0x01});
}

TBytes GreyFile(int width, int height, const std::vector<THuffmanTable>& tables, const TBytes& scan,
                int restartInterval = 0) {
    TSegmentBuilder b;
    b.Soi().Dqt({FlatQuantTable(0, 1)}).Sof0(width, height, {{1, 1, 1, 0}}).Dht(tables);
    if (restartInterval > 0) b.Dri(restartInterval);
    b.Sos({{1, 0, 0}}).Bytes(scan).Eoi();
    return b.Take();
}

// Checks that libjpeg reads a file the engine wrote, without a warning.
void ExpectReadsCleanly(const TBytes& jpeg, const std::string& what) {
    try {
        const TCoefficientImage image = ReadCoefficients(jpeg);
        EXPECT_EQ(image.warnings, "") << what;
    } catch (const std::exception& e) {
        ADD_FAILURE() << what << ": libjpeg cannot read the output: " << e.what();
    }
}

// libjpeg's complaints about a file, one a line: its warnings, or the error
// that stopped it.
std::vector<std::string> LibjpegComplaints(const TBytes& jpeg) {
    std::string text;
    try {
        text = ReadCoefficients(jpeg).warnings;
    } catch (const std::exception& e) {
        text = e.what();
    }
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        if (end > start) lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// What libjpeg says about a file that the engine wrote from a damaged input
// and not about the input: the engine copies the SOS header and every byte
// after the scan unchanged, so damage there reaches the output as it was.
// libjpeg may stop reading a damaged input before it meets those bytes
// (where restart markers are wrong, which the engine does not check), so
// its complaints about them are left out by their kind as well.
std::string ScanProblems(const TBytes& output, const TBytes& input) {
    static const char* const kCopiedDamage[] = {
        "extraneous bytes before marker",  // the bytes after the scan
        "Unsupported marker type",         // the same
        "Invalid SOS parameters",          // the scan header's Ss, Se, Ah, Al
    };
    const std::vector<std::string> said = LibjpegComplaints(input);
    std::string problems;
    for (const std::string& line : LibjpegComplaints(output)) {
        bool copied = std::find(said.begin(), said.end(), line) != said.end();
        for (const char* kind : kCopiedDamage)
            copied = copied || line.find(kind) != std::string::npos;
        if (!copied) problems += line + "\n";
    }
    return problems;
}

// ---- Memory ----

TEST(MemoryCap, AFrameOneBlockRowPastTheCapIsRefusedBeforeAnythingIsAllocated) {
    // 4096 x 4096 grey blocks of 128 bytes are exactly the cap; one more row passes it.
    static_assert(std::uint64_t{4096} * 4096 * sizeof(TCoefBlock) == kCoefficientMemoryCap);
    const TBytes atCap = GreyFile(
        32768, 32768, {StandardHuffmanTable(0, 0), StandardHuffmanTable(1, 0)}, FlatScan(1, {0}));
    const TBytes pastCap = GreyFile(
        32768, 32769, {StandardHuffmanTable(0, 0), StandardHuffmanTable(1, 0)}, FlatScan(1, {0}));
    TCountingHost host;
    TMemoryStream in(atCap);
    EXPECT_TRUE(host.engine.ValidateJpeg(in)) << host.firstError;

    for (std::uint8_t mode = 0; mode < kModeCount; ++mode) {
        TPassResult result{};
        const std::size_t growth = PeakGrowthDuring([&] { result = host.Run(pastCap, mode); });
        EXPECT_EQ(result, TPassResult::Refused) << "mode " << int(mode);
        EXPECT_EQ(host.firstError, kMsgTooLarge);
        EXPECT_LT(growth, std::size_t{1} << 20) << "mode " << int(mode);
        // RotateJpeg refuses it on its own too.
        const std::size_t rotateGrowth =
            PeakGrowthDuring([&] { result = host.RotateOnly(pastCap, mode); });
        EXPECT_EQ(result, TPassResult::Refused) << "mode " << int(mode);
        EXPECT_EQ(host.firstError, kMsgTooLarge);
        EXPECT_LT(rotateGrowth, std::size_t{1} << 20) << "mode " << int(mode);
    }
}

TEST(MemoryCap, TheLargestFrameOfThreeComponentsIsRefused) {
    TSegmentBuilder b;
    b.Soi()
        .Dqt({FlatQuantTable(0, 1)})
        .Sof0(65535, 65535, {{1, 2, 2, 0}, {2, 1, 1, 0}, {3, 1, 1, 0}})
        .StandardDht()
        .Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}})
        .Bytes(FlatScan(1, {0, 0, 0, 0, 1, 1}))
        .Eoi();
    TCountingHost host;
    TPassResult result{};
    const std::size_t growth =
        PeakGrowthDuring([&] { result = host.Run(b.Data(), kModeRotateRight); });
    EXPECT_EQ(result, TPassResult::Refused);
    EXPECT_EQ(host.firstError, kMsgTooLarge);
    EXPECT_LT(growth, std::size_t{1} << 20);
}

TEST(MemoryCap, ATinyFileDeclaringALargeFrameHoldsNoMoreThanItsStore) {
    // 8192 x 4096 grey: 1024 x 512 blocks, a store of 64 MiB, and a scan of
    // one block. Every pass ends at the end of the data.
    const std::size_t store = std::size_t{1024} * 512 * sizeof(TCoefBlock);
    const TBytes file = GreyFile(
        8192, 4096, {StandardHuffmanTable(0, 0), StandardHuffmanTable(1, 0)}, FlatScan(1, {0}));
    ASSERT_LT(file.size(), 1000u);
    for (std::uint8_t mode = 0; mode < kModeCount; ++mode) {
        TCountingHost host;
        TPassResult result{};
        std::size_t growth = 0;
        const double seconds =
            SecondsFor([&] { growth = PeakGrowthDuring([&] { result = host.Run(file, mode); }); });
        EXPECT_NE(result, TPassResult::Written) << "mode " << int(mode);
        EXPECT_LE(growth, store + (std::size_t{4} << 20)) << "mode " << int(mode);
        if (mode == kModeNone || mode == kModeFlipHorizontal) {
            // These modes code row by row: a few rows, never the whole store.
            EXPECT_LT(growth, store / 8) << "mode " << int(mode);
        }
        EXPECT_LT(seconds, kSecondsPerPass) << "mode " << int(mode);
    }
}

// ---- Huffman tables ----

TBytes SmallGreyTail() {
    // What follows the DHT segment under test: a whole 16 x 16 grey file.
    TSegmentBuilder b;
    b.Dqt({FlatQuantTable(0, 1)})
        .Sof0(16, 16, {{1, 1, 1, 0}})
        .StandardDht()
        .Sos({{1, 0, 0}})
        .Bytes(FlatScan(4, {0}))
        .Eoi();
    return b.Take();
}

TEST(HuffmanTables, ADhtSegmentOf240FullTablesIsReadInLinearTime) {
    // 240 tables of 256 symbols (255 codes of 8 bits, one of 9): 61440
    // symbols in one segment of 65522 bytes, every table complete.
    std::vector<THuffmanTable> tables;
    std::vector<std::uint8_t> all(256);
    for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
    for (int i = 0; i < 240; ++i) {
        THuffmanTable t = Table(i % 2, {0, 0, 0, 0, 0, 0, 0, 255, 1}, all);
        t.index = (i / 2) % 2;
        tables.push_back(t);
    }
    TSegmentBuilder b;
    b.Soi().Dht(tables).Bytes(SmallGreyTail());
    const TBytes file = b.Take();
    ASSERT_EQ(FindSegment(file, kDHT)->length, 65522);
    for (std::uint8_t mode = 0; mode < kModeCount; ++mode) {
        TCountingHost host;
        TPassResult result{};
        EXPECT_LT(SecondsFor([&] { result = host.Run(file, mode); }), kSecondsPerPass);
        EXPECT_EQ(result, TPassResult::Written) << host.firstError;
        ExpectReadsCleanly(host.output, "mode " + std::to_string(mode));
    }
}

TEST(HuffmanTables, ThousandsOfIncompleteTablesWhoseReplacementsOverflowTheSegmentAreRefused) {
    // 3600 tables of one code each: each would be written as a full Annex K
    // table, which no 16-bit segment length can hold.
    std::vector<THuffmanTable> tables;
    for (int i = 0; i < 3600; ++i) tables.push_back(Table(1, {1}, {0}));
    TSegmentBuilder b;
    b.Soi().Dht(tables).Bytes(SmallGreyTail());
    TCountingHost host;
    TPassResult result{};
    EXPECT_LT(SecondsFor([&] { result = host.Run(b.Data(), kModeRotateRight); }), kSecondsPerPass);
    EXPECT_EQ(result, TPassResult::Refused);
    EXPECT_EQ(host.firstError, kMsgDhtTooLarge);
    EXPECT_EQ(host.RotateOnly(b.Data(), kModeRotateRight), TPassResult::Refused);
    EXPECT_EQ(host.firstError, kMsgDhtTooLarge);
}

TEST(HuffmanTables, CountsDeclaringThousandsOfSymbolsAreRefusedBeforeTheSymbolsAreRead) {
    // 16 x 255 codes declared, in a segment that holds none of them.
    TBytes body(17, 0xFF);
    body[0] = 0x10;
    TSegmentBuilder b;
    b.Soi().Segment(kDHT, body).Bytes(SmallGreyTail());
    TCountingHost host;
    EXPECT_EQ(host.Run(b.Data(), kModeNone), TPassResult::Refused);
    EXPECT_EQ(host.firstError, kMsgHuffmanCounts);
    EXPECT_EQ(host.RotateOnly(b.Data(), kModeNone), TPassResult::Refused);
    EXPECT_EQ(host.firstError, kMsgHuffmanCounts);
}

// ---- Scan data ----

// 2048 x 2048 grey: 65536 blocks of 127 bits under the tables of 1-bits,
// about 1 MiB of scan data.
constexpr int kOnesSide = 2048;
constexpr std::size_t kOnesDataBytes = std::size_t{kOnesSide / 8} * (kOnesSide / 8) * 127 / 8 + 1;

TEST(ScanData, AScanOfOnlyFFBytesIsReadInLinearTime) {
    // Every pair FF FF is a marker inside the scan data: reported, and its
    // first byte taken as eight 1-bits. Nothing may be written.
    const TBytes file = GreyFile(kOnesSide, kOnesSide, {OnesDcTable(), OnesAcTable()},
                                 TBytes(2 * kOnesDataBytes + 64, 0xFF));
    for (std::uint8_t mode = 0; mode < kModeCount; ++mode) {
        TCountingHost host;
        TPassResult result{};
        const double seconds = SecondsFor([&] { result = host.Run(file, mode); });
        EXPECT_LT(seconds, kSecondsPerPass) << "mode " << int(mode);
        EXPECT_NE(result, TPassResult::Written) << "mode " << int(mode);
        EXPECT_GE(host.errors, 1) << "mode " << int(mode);
        EXPECT_EQ(host.firstError, kMsgMarkerInScanData) << "mode " << int(mode);
        // At most one report per marker and one for the block.
        EXPECT_LE(host.errors, static_cast<long>(file.size() / 2 + 1)) << "mode " << int(mode);
    }
}

TEST(ScanData, AScanOfStuffedFFBytesDecodesInLinearTimeAndIsWrittenWithCompleteTables) {
    TBytes scan;
    scan.reserve(2 * kOnesDataBytes);
    for (std::size_t i = 0; i < kOnesDataBytes; ++i) {
        scan.push_back(0xFF);
        scan.push_back(0x00);
    }
    const TBytes file = GreyFile(kOnesSide, kOnesSide, {OnesDcTable(), OnesAcTable()}, scan);
    for (std::uint8_t mode = 0; mode < kModeCount; ++mode) {
        TCountingHost host;
        TPassResult result{};
        const double seconds = SecondsFor([&] { result = host.Run(file, mode); });
        EXPECT_LT(seconds, kSecondsPerPass) << "mode " << int(mode);
        ASSERT_EQ(result, TPassResult::Written) << "mode " << int(mode) << ": " << host.firstError;
        if (mode != kModeNone) continue;
        // Every block: DC 0 and 63 coefficients of 1, now under Annex K tables.
        const TCoefficientImage image = ReadCoefficients(host.output);
        EXPECT_EQ(image.warnings, "");
        ASSERT_EQ(image.components.size(), 1u);
        TBlock expected;
        expected.fill(1);
        expected[0] = 0;
        std::size_t wrong = 0;
        for (const TBlock& block : image.components[0].blocks) wrong += block != expected;
        EXPECT_EQ(wrong, 0u);
        EXPECT_EQ(image.components[0].blocks.size(), std::size_t{kOnesSide / 8} * (kOnesSide / 8));
    }
}

TEST(ScanData, RestartIntervalOneWithGarbageNeverWritesWhatLibjpegCannotRead) {
    // 48 x 32 at 4:2:0: six MCUs, a marker due after each but the last.
    for (std::uint32_t seed = 1; seed <= 150; ++seed) {
        TRandom random(seed);
        TBytes scan(64 + random.Below(2048));
        for (std::uint8_t& byte : scan) byte = random.Byte();
        // Some seeds get real restart markers at random places.
        if (seed % 3 == 0)
            for (int i = 0; i < 8; ++i) {
                const std::size_t at = random.Below(static_cast<std::uint32_t>(scan.size() - 1));
                scan[at] = 0xFF;
                scan[at + 1] = static_cast<std::uint8_t>(0xD0 + i);
            }
        TSegmentBuilder b;
        b.Soi()
            .Dqt({FlatQuantTable(0, 1), FlatQuantTable(1, 2)})
            .Sof0(48, 32, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}})
            .StandardDht()
            .Dri(1)
            .Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}})
            .Bytes(scan)
            .Eoi();
        TCountingHost host;
        for (std::uint8_t mode = 0; mode < kModeCount; ++mode) {
            const TPassResult result = host.Run(b.Data(), mode);
            if (result == TPassResult::Written) {
                EXPECT_EQ(ScanProblems(host.output, b.Data()), "")
                    << "seed " << seed << " mode " << int(mode);
            } else if (result == TPassResult::Refused) {
                EXPECT_GE(host.errors, 1) << "seed " << seed << " mode " << int(mode);
            }
        }
    }
}

// ---- Values ----

TEST(Values, DcValuesThatLeaveSixteenBitsAreRefused) {
    // The 17th block would hold 17 x 2047 = 34799.
    const TBytes file = GreyFile(
        17 * 8, 8, {StandardHuffmanTable(0, 0), StandardHuffmanTable(1, 0)}, RisingDcScan(17));
    for (std::uint8_t mode = 0; mode < kModeCount; ++mode) {
        TCountingHost host;
        EXPECT_EQ(host.Run(file, mode), TPassResult::Refused) << "mode " << int(mode);
        EXPECT_EQ(host.firstError, kMsgDcValueOutOfRange) << "mode " << int(mode);
    }
}

TEST(Values, AnOutputDcDifferenceWithoutACodeIsNeverWritten) {
    // DC values 2047, 4094, ... 30705 from left to right: read backwards the
    // first difference is 30705, a size (15) that no baseline table codes.
    const TBytes file = GreyFile(
        15 * 8, 8, {StandardHuffmanTable(0, 0), StandardHuffmanTable(1, 0)}, RisingDcScan(15));
    TCountingHost host;
    EXPECT_EQ(host.Run(file, kModeNone), TPassResult::Written) << host.firstError;
    EXPECT_EQ(host.Run(file, kModeRotate180), TPassResult::Refused);
    EXPECT_EQ(host.firstError, kMsgSymbolWithoutCode);
    for (std::uint8_t mode = 0; mode < kModeCount; ++mode) {
        const TPassResult result = host.Run(file, mode);
        if (result == TPassResult::Written) {
            ExpectReadsCleanly(host.output, "mode " + std::to_string(mode));
        } else {
            EXPECT_EQ(host.firstError, kMsgSymbolWithoutCode) << "mode " << int(mode);
        }
    }
}

// ---- Damaged files ----

std::vector<TBytes> SmallFiles() {
    std::vector<TBytes> files;
    TEncodeOptions a;
    a.Size(40, 24).Sampling(TSampling::k420);
    a.restartInterval = 2;
    files.push_back(EncodeJpeg(a));
    TEncodeOptions b;
    b.Size(24, 17).Sampling(TSampling::k422);
    b.optimizeCoding = true;
    files.push_back(EncodeJpeg(b));
    TEncodeOptions c;
    c.Size(16, 16).Sampling(TSampling::kGrey);
    c.noise = 60;
    files.push_back(EncodeJpeg(c));
    files.push_back(FlatJpeg(24, 16, {{2, 1}, {1, 1}, {1, 1}}, 1));
    return files;
}

TEST(DamagedFiles, EveryPrefixOfAFileEndsInARefusalOrTheReadError) {
    for (const TBytes& file : SmallFiles()) {
        TCountingHost host;
        // The last two bytes are EOI, which a pass does not need.
        for (std::size_t size = 0; size + 2 < file.size(); ++size) {
            const TBytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(size));
            for (std::uint8_t mode = 0; mode < kModeCount; ++mode)
                EXPECT_NE(host.Run(prefix, mode), TPassResult::Written)
                    << "size " << size << " mode " << int(mode);
        }
    }
}

TEST(DamagedFiles, WhatIsWrittenFromAMutatedFileReadsCleanly) {
    int written = 0;
    std::uint32_t seed = 0;
    for (const TBytes& file : SmallFiles()) {
        for (int round = 0; round < 150; ++round) {
            TRandom random(++seed);
            TBytes mutated = file;
            const int changes = 1 + static_cast<int>(random.Below(4));
            for (int i = 0; i < changes; ++i) {
                const std::size_t at = random.Below(static_cast<std::uint32_t>(mutated.size()));
                switch (random.Below(4)) {
                    case 0:
                        mutated[at] = random.Byte();
                        break;
                    case 1:
                        mutated[at] ^= static_cast<std::uint8_t>(1u << random.Below(8));
                        break;
                    case 2:
                        mutated[at] = 0xFF;
                        break;
                    default:
                        mutated[at] = static_cast<std::uint8_t>(mutated[at] + 1);
                        break;
                }
            }
            TCountingHost host;
            for (std::uint8_t mode = 0; mode < kModeCount; ++mode) {
                const TPassResult result = host.Run(mutated, mode);
                if (result != TPassResult::Written) continue;
                ++written;
                EXPECT_EQ(ScanProblems(host.output, mutated), "")
                    << "seed " << seed << " mode " << int(mode);
            }
        }
    }
    // The mutations leave many files whole enough to be written.
    EXPECT_GT(written, 100);
}

}  // namespace
}  // namespace plume::test
