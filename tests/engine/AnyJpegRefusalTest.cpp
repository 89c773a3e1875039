// What AnyJpeg still refuses, and what it would take: each kind of JPEG that
// a turn of the blocks cannot take is named in words with AnyJpeg on and
// refused as before with it off; a file that AnyJpeg takes is refused as
// before with it off, and the header pass says that AnyJpeg would take it.
// Damaged progressive files (cut inside each kind of scan, a bad code, a run
// past the band, a refinement of the wrong bit) get a clear message and
// nothing written. A progressive EXIF thumbnail is turned with the photo.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "EngineTestSupport.h"
#include "JpegRotation/EngineMessages.h"
#include "fixtures/ExifBuilder.h"
#include "fixtures/Fixtures.h"

namespace plume::test {
namespace {

using namespace plume::fixtures;

const char* const kUnknownHeader = "ヘッダ($%s)を認識できませんでした。";

TBytes Photo(bool progressive, std::vector<THv> sampling = SamplingFactors(TSampling::k420)) {
    TEncodeOptions options;
    options.Size(48, 32).sampling = std::move(sampling);
    options.progressive = progressive;
    options.noise = 16;
    return EncodeJpeg(options);
}

TBytes WithFrameMarker(TBytes jpeg, std::uint8_t marker) {
    jpeg[FindSegment(jpeg, 0xFFC0)->offset + 1] = marker;
    return jpeg;
}

struct TRefusal {
    const char* name;
    TBytes (*make)();            // made when the test runs, not when it is listed
    std::string withAnyJpeg;     // the refusal with AnyJpeg on; empty: it turns the file
    std::string withoutAnyJpeg;  // the refusal with it off
};

std::string Unknown(const char* digits) {
    std::string text = kUnknownHeader;
    return text.replace(text.find("%s"), 2, digits);
}

TBytes TwelveBit() {
    TBytes jpeg = WithFrameMarker(Photo(false), 0xC1);
    jpeg[FindSegment(jpeg, 0xFFC1)->offset + 4] = 12;
    return jpeg;
}
TBytes Conditioning() {
    const TBytes jpeg = Photo(false);
    return InsertBytes(jpeg, FindSegment(jpeg, 0xFFC0)->offset,
                       {0xFF, 0xCC, 0x00, 0x04, 0x00, 0x10});
}
// No encoder writes five components: the frame header of a photo made so.
TBytes FiveComponents() {
    const TBytes jpeg = Photo(false);
    const TBytes frame = {0xFF, 0xC0, 0, 23, 8,    0, 32, 0,    48, 5, 1,    0x11, 0,
                          2,    0x11, 0, 3,  0x11, 0, 4,  0x11, 0,  5, 0x11, 0};
    return ReplaceSegment(jpeg, *FindSegment(jpeg, 0xFFC0), frame);
}
template <std::uint8_t kMarker>
TBytes Marked() {
    return WithFrameMarker(Photo(false), kMarker);
}

std::vector<TRefusal> Refusals() {
    return {
        {"Lossless", Marked<0xC3>, kMsgLosslessFrame, Unknown("FFC3")},
        {"Hierarchical", Marked<0xC5>, kMsgHierarchicalFrame, Unknown("FFC5")},
        {"Arithmetic", Marked<0xC9>, kMsgArithmeticCoding, Unknown("FFC9")},
        {"ArithmeticProgressive", Marked<0xCA>, kMsgArithmeticCoding, Unknown("FFCA")},
        {"Conditioning", Conditioning, kMsgArithmeticCoding, Unknown("FFCC")},
        {"TwelveBit", TwelveBit, kMsgPrecision, Unknown("FFC1")},
        {"FiveComponents", FiveComponents, kMsgTooManyComponents, kMsgComponentIdOutOfRange},
        {"Progressive", [] { return Photo(true); }, "", Unknown("FFC2")},
        {"Extended", Marked<0xC1>, "", Unknown("FFC1")},
        {"FourComponents",
         [] {
             return Photo(false, std::vector<THv>(4, THv{1, 1}));
         },
         "", kMsgNotYCbCr},
    };
}

class AnyJpegRefusalTest : public ::testing::TestWithParam<TRefusal> {};

TEST_P(AnyJpegRefusalTest, NamedWithItAndAsBeforeWithout) {
    const TRefusal& c = GetParam();
    const TBytes jpeg = c.make();
    TEngineRun off;
    EXPECT_FALSE(off.Validate(jpeg));
    EXPECT_EQ(off.messages, (std::vector<TMessage>{{c.withoutAnyJpeg, kLevelError}}));
    EXPECT_EQ(off.engine.LastPass().anyJpegTakes, c.withAnyJpeg.empty());

    TEngineRun on;
    on.options.AnyJpeg = true;
    if (c.withAnyJpeg.empty()) {
        EXPECT_TRUE(on.ValidateAndRotate(jpeg, kModeRotateRight))
            << ::testing::PrintToString(on.messages);
        return;
    }
    EXPECT_FALSE(on.ValidateAndRotate(jpeg, kModeRotateRight));
    EXPECT_EQ(on.messages, (std::vector<TMessage>{{c.withAnyJpeg, kLevelError}}));
    EXPECT_FALSE(on.engine.LastPass().anyJpegTakes);
}

INSTANTIATE_TEST_SUITE_P(Kinds, AnyJpegRefusalTest, ::testing::ValuesIn(Refusals()),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- Damaged progressive files ----

// A grey progressive file whose scans are, in order: DC first, AC first of
// 1-5 and of 6-63 (Al 1), DC refinement, AC refinement of 1-63.
TBytes GreyProgressive() {
    TEncodeOptions options;
    options.Size(64, 48).Sampling(TSampling::kGrey);
    options.noise = 24;
    fixtures::TTempDir dir;
    const std::string script =
        "0: 0-0, 0, 1;\n0: 1-5, 0, 1;\n0: 6-63, 0, 1;\n0: 0-0, 1, 0;\n0: 1-63, 1, 0;\n";
    const std::string path = dir.File("scans.txt").string();
    WriteFileBytes(path, TBytes(script.begin(), script.end()));
    return RunJpegtran({"-scans", path}, EncodeJpeg(options));
}

// A rotate pass refused with exactly this message, nothing written; or, for
// a file cut short, the input's end reported to the host.
void ExpectRefused(const TBytes& jpeg, const std::string& message) {
    TEngineRun run;
    run.options.AnyJpeg = true;
    const bool turned = run.ValidateAndRotate(jpeg, kModeRotateRight);
    EXPECT_FALSE(turned);
    if (message.empty()) {
        EXPECT_TRUE(run.InputEnded());
        EXPECT_TRUE(run.output.empty());
    } else {
        EXPECT_FALSE(run.InputEnded());
        EXPECT_EQ(run.Messages(kLevelError).front(), (TMessage{message, kLevelError}));
    }
}

TEST(ProgressiveDamageTest, EveryKindOfScanCutShortEndsTheInput) {
    const TBytes jpeg = GreyProgressive();
    const std::vector<TScanHeaderRef> scans = ListScans(jpeg);
    ASSERT_EQ(scans.size(), 5u);
    for (const TScanHeaderRef& scan : scans) {
        SCOPED_TRACE("scan at " + std::to_string(scan.offset));
        const std::size_t data = scan.offset + 2 + 8;  // SOS, length, one component
        ExpectRefused(TBytes(jpeg.begin(),
                             jpeg.begin() + static_cast<std::ptrdiff_t>((data + scan.dataEnd) / 2)),
                      "");
    }
}

TEST(ProgressiveDamageTest, BadCodesRunsPastTheBandAndWrongBitsAreNamed) {
    const TBytes jpeg = GreyProgressive();
    const std::vector<TScanHeaderRef> scans = ListScans(jpeg);
    ASSERT_EQ(scans.size(), 5u);
    // Sixteen 1-bits: no code of a table made for its symbols (T.81 K.2).
    for (const std::size_t s : {0u, 1u, 4u}) {
        SCOPED_TRACE("scan " + std::to_string(s));
        const std::size_t data = scans[s].offset + 10;
        ExpectRefused(InsertBytes(jpeg, data, {0xFF, 0x00, 0xFF, 0x00}), kMsgHuffmanBlock);
    }
    // The band of the AC scan narrowed to 1-2: its coefficients at 3 to 5
    // lie past it.
    ExpectRefused(MutateByte(jpeg, scans[1].offset + 8, 2), kMsgRunPastBand);
    // The refinement of bit 0 said to refine bit 1, which no scan coded;
    // a refinement of two bits at once.
    ExpectRefused(MutateByte(jpeg, scans[4].offset + 9, 0x21), kMsgBadProgression);
    ExpectRefused(MutateByte(jpeg, scans[4].offset + 9, 0x20), kMsgBadScanHeader);
    // AC before DC; a scan of two components' AC.
    TBytes acFirst = jpeg;
    const TBytes dc(jpeg.begin() + static_cast<std::ptrdiff_t>(scans[0].offset),
                    jpeg.begin() + static_cast<std::ptrdiff_t>(scans[0].dataEnd));
    acFirst.erase(acFirst.begin() + static_cast<std::ptrdiff_t>(scans[0].offset),
                  acFirst.begin() + static_cast<std::ptrdiff_t>(scans[0].dataEnd));
    ExpectRefused(acFirst, kMsgBadProgression);
    // Something that is no marker after a scan.
    ExpectRefused(InsertBytes(jpeg, scans[2].dataEnd, {0x12, 0x34}), kMsgBadAfterScan);
    // A quantisation table between scans.
    const auto dqt = FindSegment(jpeg, 0xFFDB);
    ASSERT_TRUE(dqt);
    ExpectRefused(InsertBytes(jpeg, scans[2].dataEnd, SegmentBytes(jpeg, *dqt)),
                  kMsgTablesBetweenScans);
}

// ---- A progressive thumbnail ----

// A Nikon D5000 writes a progressive thumbnail: with AnyJpeg it turns with
// the photo, as jpegtran turns it; without, it cannot be turned and is
// dropped, as before.
TEST(ProgressiveThumbnailTest, TurnsWithThePhoto) {
    PLUME_REQUIRE_JPEGTRAN();
    TEncodeOptions small;
    small.Size(48, 32).Sampling(TSampling::k422);
    small.progressive = true;
    small.writeJfif = false;
    const TBytes thumbnail = EncodeJpeg(small);
    TExifOptions exif;
    exif.ifd1 = JpegThumbnailIfd1(48, 32);
    exif.thumbnail = thumbnail;
    const TBytes jpeg = InsertSegmentAfterSoi(Photo(false), BuildExif(exif).Segment());
    for (const bool anyJpeg : {false, true}) {
        TEngineRun run;
        run.options.AnyJpeg = anyJpeg;
        ASSERT_TRUE(run.ValidateAndRotate(jpeg, kModeRotate180));
        const auto parsed = ParseExif(run.output);
        ASSERT_TRUE(parsed);
        if (!anyJpeg) {
            EXPECT_TRUE(parsed->JpegThumbnail().empty());
            continue;
        }
        const TBytes turned = parsed->JpegThumbnail();
        EXPECT_TRUE(ReadCoefficients(turned).progressive);
        ExpectSameCoefficients(ReadCoefficients(turned),
                               ReadCoefficients(RunJpegtran({"-rotate", "180"}, thumbnail)));
    }
}

}  // namespace
}  // namespace plume::test
