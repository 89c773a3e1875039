// The scan decoded on several threads: each further thread decodes its part
// of the scan from a byte inside it, and the first thread takes over their
// work once they decode the same bits; the output is coded in parts on every
// thread. Whatever they find, the pass must do exactly what one thread does:
// the same bytes, messages, progress and read errors. The passes that decode
// the scan once without an index (each restart interval as the output needs
// it; a half turn from the front) must do exactly what the index pass does.
#include <gtest/gtest.h>

#include "EngineTestSupport.h"
#include "JpegRotation/EngineMessages.h"
#include "ReferenceCoder.h"
#include "ReferenceCoderRuns.h"
#include "fixtures/JpegEncoder.h"
#include "fixtures/SegmentBuilder.h"

namespace plume::test {
namespace {

using fixtures::TEncodeOptions;
using fixtures::TSampling;

struct TPass {
    bool ok = false;
    std::string readError;
    std::vector<TMessage> messages;
    std::vector<int> progress;
    TBytes output;
    std::int64_t speculated = 0;
    bool once = false;  // decoded once, without the index
};

// once: the passes that decode the scan once may be taken.
TPass RunPass(const TBytes& jpeg, int mode, int threads, bool once = false, bool trim = false) {
    TEngineRun run;
    run.UseThreads(threads);
    run.options.Schemes.intervalPass = once;
    run.options.Schemes.halfTurnOnce = once;
    run.options.TrimPartialEdges = trim;
    TPass pass;
    if (!run.Validate(jpeg)) {
        ADD_FAILURE() << "ValidateJpeg refused the file";
        return pass;
    }
    run.ClearRecords();
    pass.ok = run.Rotate(jpeg, static_cast<std::uint8_t>(mode));
    if (run.InputEnded()) pass.readError = kStreamReadError;
    pass.messages = run.messages;
    pass.progress = run.progress;
    pass.output = run.output;
    const TScanPass used = run.engine.LastPass().pass;
    pass.speculated = run.engine.LastPass().speculatedMcus;
    pass.once = used != TScanPass::Index && used != TScanPass::Copy;
    return pass;
}

// Calls check(bad, trace) for copies of the file damaged at 23 places of its
// scan data, each in three ways, one of them a marker.
template <class TCheck>
void ForEachDamage(const TBytes& jpeg, TCheck check) {
    const std::size_t start = ScanStart(jpeg);
    const std::size_t length = jpeg.size() - 2 - start;
    for (int step = 1; step < 24; ++step) {
        const std::size_t at = start + length * static_cast<std::size_t>(step) / 24;
        for (const std::uint8_t value :
             {std::uint8_t{0x00}, std::uint8_t{0xFF}, std::uint8_t{0x5A}}) {
            TBytes bad = jpeg;
            bad[at] = value;
            if (value == 0xFF && at + 1 < bad.size())
                bad[at + 1] = 0xD9;  // a marker inside the data
            SCOPED_TRACE("byte " + std::to_string(at) + " := " + std::to_string(value));
            check(bad);
        }
    }
}

void ExpectSamePass(const TPass& threaded, const TPass& single) {
    EXPECT_EQ(threaded.ok, single.ok);
    EXPECT_EQ(threaded.readError, single.readError);
    EXPECT_EQ(threaded.messages, single.messages);
    EXPECT_EQ(threaded.progress, single.progress);
    EXPECT_TRUE(threaded.output == single.output) << "the output bytes differ";
}

TBytes Photo(TSampling sampling, int restartInterval, std::uint32_t seed = 3) {
    TEncodeOptions options;
    options.Size(320, 240).Sampling(sampling);
    options.restartInterval = restartInterval;
    options.seed = seed;
    return fixtures::EncodeJpeg(options);
}

TEST(ThreadedScan, TheOtherThreadsFallIntoStepAndTheBytesStayTheSame) {
    for (const TSampling sampling : fixtures::kAllSamplings)
        for (const int restartInterval : {0, 7})
            for (const int mode : {0, 1, 3, 5, 6, 7})
                for (const int threads : {2, 4}) {
                    SCOPED_TRACE(fixtures::SamplingName(sampling) + ", restart interval " +
                                 std::to_string(restartInterval) + ", mode " +
                                 std::to_string(mode) + ", " + std::to_string(threads) +
                                 " threads");
                    const TBytes jpeg = Photo(sampling, restartInterval);
                    const TPass threaded = RunPass(jpeg, mode, threads);
                    const TPass single = RunPass(jpeg, mode, 1);
                    ASSERT_TRUE(single.ok);
                    ExpectSamePass(threaded, single);
                    EXPECT_EQ(single.speculated, 0);
                    // The other threads start inside the scan data, at 1/n,
                    // 2/n ...; what they did ahead of time is most of what
                    // lies after the first part.
                    const std::size_t mcus =
                        (sampling == TSampling::k444 || sampling == TSampling::kGrey) ? 1200
                        : sampling == TSampling::k420                                 ? 300
                                                                                      : 600;
                    const std::size_t after = mcus * static_cast<std::size_t>(threads - 1) /
                                              static_cast<std::size_t>(threads);
                    EXPECT_GT(threaded.speculated, static_cast<std::int64_t>(after * 2 / 3));
                    EXPECT_LT(threaded.speculated, static_cast<std::int64_t>(after * 4 / 3));
                }
}

// Damage anywhere in the scan, and in particular in the part that the second
// thread decodes, changes nothing in what the pass reports.
TEST(ThreadedScan, DamagedScansEndAsWithOneThread) {
    for (const int restartInterval : {0, 5}) {
        SCOPED_TRACE("restart interval " + std::to_string(restartInterval));
        int damaged = 0, speculatedAnyway = 0;
        ForEachDamage(Photo(TSampling::k420, restartInterval, 7), [&](const TBytes& bad) {
            const TPass single = RunPass(bad, 1, 1);
            for (const int threads : {2, 3}) {
                const TPass threaded = RunPass(bad, 1, threads);
                ExpectSamePass(threaded, single);
                if (!single.ok && threaded.speculated > 0) ++speculatedAnyway;
            }
            if (!single.ok) ++damaged;
        });
        EXPECT_GT(damaged, 20);
        // Damage early in the scan still leaves the second thread's work usable up
        // to the point where the first thread fails.
        EXPECT_GT(speculatedAnyway, 0);
    }
}

// The reference coder agrees too, on damaged files of every layout.
TEST(ThreadedScan, DamagedScansMatchTheReference) {
    for (const TSampling sampling : fixtures::kAllSamplings) {
        const TBytes jpeg = Photo(sampling, 0, 11);
        const std::size_t start = ScanStart(jpeg);
        TBytes bad = jpeg;
        bad[start + (jpeg.size() - start) * 3 / 4] ^= 0x5A;
        SCOPED_TRACE(fixtures::SamplingName(sampling));
        ExpectSameAsReference(bad, 2, true);
    }
}

// Every layout and mode, with intervals of one MCU, of one and two MCU rows,
// of half a row and of 7 MCUs (which only mode 0 carries whole), on one, two
// and three threads: the same pass as the index pass's, and the interval
// pass taken where it should be.
// Tables made for the output come from symbols counted in parts on every
// thread. A count that ends in a refusal must leave the progress that one
// thread leaves, whichever thread counted the last part: in the pass that
// counts one scan, and in the store's, which splits a scan of more than
// 16384 blocks.
TEST(ThreadedScan, ARefusedCountReportsTheProgressOfOneThread) {
    // A grey progressive frame of its DC band alone, 256 x 130 blocks: the
    // odd rows rise to 4094 and fall back, so that turned a quarter, a block
    // follows one 4094 apart, which no output table may code.
    const int columns = 256, rows = 130;
    std::vector<int> dc;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x)
            dc.push_back(y % 2 == 0 ? 0 : x == 0 || x == columns - 1 ? 2047 : 4094);
    fixtures::TSegmentBuilder progressive;
    progressive.Soi().Dqt({fixtures::FlatQuantTable(0, 1)});
    progressive.Sof(0xFFC2, columns * 8, rows * 8, {{1, 1, 1, 0}}).StandardDht();
    progressive.Sos({{1, 0, 0}}, 0, 0).Bytes(fixtures::DcBandScan(dc)).Eoi();

    // A row of 15 blocks whose DC rises by 2047 each: turned left, the
    // first block's difference is 15 times that.
    const struct {
        const char* name;
        TBytes jpeg;
        int mode;
        TScanPass pass;
    } cases[] = {{"counted", fixtures::RisingDcFile(15), 2, TScanPass::Counted},
                 {"store", progressive.Take(), 1, TScanPass::Store}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto pass = [&c](int threads) {
            TEngineRun run;
            run.UseThreads(threads);
            run.options.AnyJpeg = true;
            run.options.OptimizeTables = true;
            EXPECT_TRUE(run.Validate(c.jpeg));
            run.ClearRecords();
            EXPECT_FALSE(run.Rotate(c.jpeg, static_cast<std::uint8_t>(c.mode)));
            EXPECT_EQ(run.engine.LastPass().pass, c.pass);
            return std::make_pair(run.messages, run.progress);
        };
        const auto single = pass(1);
        ASSERT_EQ(single.first.size(), 1u);
        EXPECT_EQ(single.first[0].text, kMsgOutputValueOutOfRange);
        ASSERT_GT(single.second.size(), 2u);
        // Which thread counts the last part changes from run to run; the
        // store's three parts leave it to the second thread about once in
        // a hundred runs.
        for (int run = 0; run < 160; ++run) ASSERT_EQ(pass(2), single) << "run " << run;
    }
}

TEST(IntervalPass, DoesWhatTheIndexPassDoes) {
    for (const TSampling sampling : fixtures::kAllSamplings) {
        const int perRow = (sampling == TSampling::k444 || sampling == TSampling::kGrey ||
                            sampling == TSampling::k440)
                               ? 40
                               : 20;
        for (const int restartInterval : {1, perRow, 2 * perRow, perRow / 2, 7}) {
            const TBytes jpeg = Photo(sampling, restartInterval, 5);
            for (int mode = 0; mode < kModeCount; ++mode) {
                SCOPED_TRACE(fixtures::SamplingName(sampling) + ", restart interval " +
                             std::to_string(restartInterval) + ", mode " + std::to_string(mode));
                const TPass index = RunPass(jpeg, mode, 1);
                ASSERT_TRUE(index.ok);
                for (const int threads : {1, 2, 3}) {
                    const TPass intervals = RunPass(jpeg, mode, threads, true);
                    ExpectSamePass(intervals, index);
                    // Held whole: rows of whole intervals kept or turned
                    // half round. Walked (on two threads in two ranges):
                    // turning right or transposing rows that hold whole
                    // intervals.
                    const bool whole = restartInterval == perRow &&
                                       (mode == 0 || mode == 3 || mode == 4 || mode == 5);
                    const bool walked = perRow % restartInterval == 0 && (mode == 1 || mode == 6);
                    if (restartInterval == 1 || whole || walked) {
                        EXPECT_TRUE(intervals.once);
                    } else if (mode == 2 || mode == 7) {
                        EXPECT_FALSE(intervals.once);
                    }
                }
            }
        }
    }
}

// Partial edges: moved as they are, the intervals still map whole; trimmed
// away, the output grid loses a column or row and the index pass does it.
TEST(IntervalPass, TrimmedEdgesGoThroughTheIndexPass) {
    TEncodeOptions options;
    options.Size(328, 248).Sampling(TSampling::k420);  // 20.5 x 15.5 MCUs
    options.restartInterval = 21;                      // one MCU row
    const TBytes jpeg = fixtures::EncodeJpeg(options);
    for (const bool trim : {false, true})
        for (const int mode : {3, 4, 5}) {
            SCOPED_TRACE(std::string(trim ? "trimmed" : "moved") + ", mode " +
                         std::to_string(mode));
            const TPass intervals = RunPass(jpeg, mode, 2, true, trim);
            ExpectSamePass(intervals, RunPass(jpeg, mode, 1, false, trim));
            EXPECT_EQ(intervals.once, !trim);
        }
}

// A damaged interval, a marker out of its order or a marker missing: the
// index pass takes over and the pass is its own, messages and all.
TEST(IntervalPass, HandsOverToTheIndexPassWhereTheScanIsNotClean) {
    const TBytes jpeg = Photo(TSampling::k420, 20, 9);
    int handedOver = 0;
    ForEachDamage(jpeg, [&](const TBytes& bad) {
        // Held whole on one and two threads; walked on one, and in ranges on two and three.
        for (const auto& [mode, threads] : {std::pair{3, 1}, std::pair{3, 2}, std::pair{1, 1},
                                            std::pair{1, 2}, std::pair{6, 3}}) {
            const TPass intervals = RunPass(bad, mode, threads, true);
            ExpectSamePass(intervals, RunPass(bad, mode, 1));
            if (!intervals.once) ++handedOver;
        }
    });
    EXPECT_GT(handedOver, 60);

    const std::size_t start = ScanStart(jpeg);
    std::vector<std::size_t> markers;
    for (std::size_t at = start; at + 1 < jpeg.size(); ++at)
        if (jpeg[at] == 0xFF && jpeg[at + 1] >= 0xD0 && jpeg[at + 1] <= 0xD7) markers.push_back(at);
    ASSERT_EQ(markers.size(), 14u);
    TBytes swapped = jpeg;
    std::swap(swapped[markers[3] + 1], swapped[markers[4] + 1]);
    TBytes missing = jpeg;
    missing.erase(missing.begin() + static_cast<std::ptrdiff_t>(markers[6]),
                  missing.begin() + static_cast<std::ptrdiff_t>(markers[6]) + 2);
    for (const TBytes& odd : {swapped, missing}) {
        const TPass intervals = RunPass(odd, 3, 2, true);
        EXPECT_FALSE(intervals.once);
        ExpectSamePass(intervals, RunPass(odd, 3, 1));
    }
    EXPECT_TRUE(RunPass(jpeg, 3, 2, true).once);
}

// A half turn without restart markers, decoded once from the front on one
// thread or in parts on several (many more parts than runs of MCUs in the
// small photo): every layout, whole and partial MCUs, the same pass as the
// index pass's.
TEST(ReversedPass, DoesWhatTheIndexPassDoes) {
    for (const TSampling sampling : fixtures::kAllSamplings)
        for (const auto& [width, height] : {std::pair{320, 240}, std::pair{1029, 771}}) {
            TEncodeOptions options;
            options.Size(width, height).Sampling(sampling);
            options.seed = 13;
            const TBytes jpeg = fixtures::EncodeJpeg(options);
            const TPass index = RunPass(jpeg, 3, 1);
            ASSERT_TRUE(index.ok);
            for (const int threads : {1, 2, 3}) {
                SCOPED_TRACE(fixtures::SamplingName(sampling) + ", " + std::to_string(width) +
                             " pixels wide, " + std::to_string(threads) + " threads");
                const TPass once = RunPass(jpeg, 3, threads, true);
                EXPECT_TRUE(once.once);
                ExpectSamePass(once, index);
            }
        }
}

// Damage in any part, a scan cut short, bytes between the scan and its end:
// whatever the threads' parts find, the index pass takes over exactly where
// the scan does not decode, and the pass is its own, messages and all.
TEST(ReversedPass, HandsOverToTheIndexPassWhereTheScanIsNotClean) {
    TEncodeOptions options;
    options.Size(640, 480).Sampling(TSampling::k420);
    options.seed = 17;
    const TBytes jpeg = fixtures::EncodeJpeg(options);
    int handedOver = 0;
    const auto check = [&](const TBytes& bad) {
        const TPass index = RunPass(bad, 3, 1);
        for (const int threads : {1, 2, 4}) {
            const TPass once = RunPass(bad, 3, threads, true);
            ExpectSamePass(once, index);
            EXPECT_EQ(once.once, index.ok) << threads << " threads";
            if (!once.once) ++handedOver;
        }
    };
    ForEachDamage(jpeg, check);
    EXPECT_GT(handedOver, 100);

    const std::size_t start = ScanStart(jpeg);
    const auto end = static_cast<std::ptrdiff_t>(jpeg.size() - 2);
    TBytes cut(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(start) + (end - 2) / 2);
    TBytes padded = jpeg;
    padded.insert(padded.begin() + end, {0x00, 0x00, 0xFF, 0x00, 0x13});
    TBytes onesPadded = jpeg;
    onesPadded.insert(onesPadded.begin() + end, {0xFF, 0x00, 0xFF, 0x00});
    for (const TBytes& odd : {cut, padded, onesPadded}) check(odd);
}

}  // namespace
}  // namespace plume::test
