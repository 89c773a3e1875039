// Real photos: the headers that a quarter turn right writes must be those of
// jpegtran -rotate 90 (frame size, sampling bytes, quantisation tables).
#include <gtest/gtest.h>

#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/EngineTestSupport.h"
#include "fixtures/Fixtures.h"

namespace plume::test {
namespace {

using namespace plume::fixtures;

std::string Relative(const std::filesystem::path& photo) {
    return std::filesystem::relative(photo, SamplesDir()).string();
}

// The quantisation table of each frame component, in component order.
std::vector<std::array<std::uint16_t, 64>> ComponentQuantTables(const TBytes& jpeg) {
    std::vector<std::array<std::uint16_t, 64>> tables;
    const auto frame = ParseFrameHeader(jpeg);
    const auto quant = ParseQuantTables(jpeg);
    if (!frame) return tables;
    for (const TFrameComponent& c : frame->components) {
        const auto it = quant.find(c.tq);
        tables.push_back(it == quant.end() ? std::array<std::uint16_t, 64>{} : it->second);
    }
    return tables;
}

TEST(SampleHeadersTest, QuarterTurnRightWritesTheHeadersOfJpegtranRotate90) {
    PLUME_REQUIRE_SAMPLES();
    PLUME_REQUIRE_JPEGTRAN();
    int checked = 0;
    std::ostringstream notes;
    for (const std::filesystem::path& photo : SamplePhotos()) {
        const std::string name = Relative(photo);
        SCOPED_TRACE(name);
        const TBytes input = ReadFileBytes(photo);
        if (!IsBaseline(input)) {
            notes << "  not baseline, skipped: " << name << "\n";
            continue;
        }
        TEngineRun run;
        if (!run.Validate(input)) {
            notes << "  refused by ValidateJpeg: " << name << ": "
                  << (run.messages.empty() ? std::string("(no message)") : run.messages.back().text)
                  << "\n";
            continue;
        }
        // The headers are written before the scan is read, so they can be
        // compared even when the scan itself does not decode.
        TMemoryStream in(input);
        TMemoryStream out;
        if (!run.engine.RotateJpeg(in, out, 1)) {
            const auto errors = run.Messages(2);
            notes << "  RotateJpeg false after its headers: " << name << ": "
                  << (run.InputEnded() ? std::string("the input ended")
                      : errors.empty() ? std::string("(no message)")
                                       : errors.back().text)
                  << "\n";
        }
        const TBytes ours = out.Bytes();
        std::string warnings;
        const TBytes theirs = RunJpegtran({"-rotate", "90"}, input, &warnings);

        const auto ourFrame = ParseFrameHeader(ours);
        const auto theirFrame = ParseFrameHeader(theirs);
        ASSERT_TRUE(ourFrame.has_value());
        ASSERT_TRUE(theirFrame.has_value());
        EXPECT_EQ(ourFrame->marker, kSOF0);
        EXPECT_EQ(ourFrame->width, theirFrame->width);
        EXPECT_EQ(ourFrame->height, theirFrame->height);
        EXPECT_EQ(ourFrame->SamplingBytes(), theirFrame->SamplingBytes());
        EXPECT_EQ(ComponentQuantTables(ours), ComponentQuantTables(theirs));
        ++checked;
    }
    std::cout << "[ samples  ] " << checked << " photos checked in mode 1 against jpegtran\n"
              << notes.str();
    EXPECT_GT(checked, 0) << "no baseline photo found under " << SamplesDir();
}

}  // namespace
}  // namespace plume::test
