#include "ReferenceCoderRuns.h"

#include <memory>

namespace plume::test {

TEngineRotation RunEngine(const TBytes& jpeg, int mode, bool parallel, bool trim) {
    TEngineRotation result;
    TEngineRun run;
    run.UseThreads(parallel);
    run.options.TrimPartialEdges = trim;
    run.options.AllowBreakDCF = trim;
    result.validated = run.Validate(jpeg);
    if (!run.InputEnded()) {
        result.validateMessages = run.messages;
        result.movesPartialEdge = run.engine.MovesPartialEdge(static_cast<std::uint8_t>(mode));
        run.ClearRecords();
        if (result.validated) result.ok = run.Rotate(jpeg, static_cast<std::uint8_t>(mode));
    }
    if (run.InputEnded()) {
        result.readError = true;
        result.readErrorText = kStreamReadError;
    }
    result.messages = run.messages;
    result.progressMax = run.progressMax;
    result.progress = run.progress;
    result.output = run.output;
    return result;
}

void ExpectSameAsReference(const TBytes& jpeg, int mode, bool parallel) {
    ExpectSameAsReference(jpeg, mode, parallel, ReferenceRotate(jpeg, mode));
}

void ExpectSameAsReference(const TBytes& jpeg, int mode, bool parallel,
                           const TRefRotation& reference) {
    SCOPED_TRACE("mode " + std::to_string(mode) +
                 (parallel ? ", parallel coding" : ", one thread"));
    const TEngineRotation engine = RunEngine(jpeg, mode, parallel);
    ASSERT_TRUE(engine.validated) << "ValidateJpeg refused the file";
    EXPECT_EQ(engine.readError, reference.readError);
    if (reference.readError) {
        EXPECT_EQ(engine.readErrorText, reference.readErrorText);
    }
    std::vector<TMessage> expected = reference.messages;
    if (reference.missingSymbol) {
        const std::string missing =
            "出力に必要なハフマン符号がハフマンテーブルに定義されていません。";
        expected.emplace_back(missing, kLevelError);
    }
    EXPECT_EQ(engine.messages, expected);
    EXPECT_EQ(engine.ok, reference.ok);
    if (!engine.ok || !reference.ok) return;
    const std::size_t start = ScanStart(engine.output);
    const TBytes scan(engine.output.begin() + static_cast<std::ptrdiff_t>(start),
                      engine.output.end());
    ASSERT_EQ(scan.size(), reference.scan.size()) << "output scan lengths differ";
    for (std::size_t i = 0; i < scan.size(); ++i)
        ASSERT_EQ(scan[i], reference.scan[i]) << "first difference at output byte " << start + i;
}

void ExpectSameDecodeAsReference(const TBytes& jpeg, const TRefRotation& reference) {
    const TEngineDecode engine = RunEngineDecode(jpeg);
    EXPECT_EQ(engine.readError, reference.readError);
    if (reference.readError) return;
    EXPECT_EQ(engine.messages, reference.messages);
    if (!reference.ok) return;
    EXPECT_TRUE(engine.ok);
    EXPECT_EQ(engine.position, reference.scanEnd) << "input position after the scan";
    for (int s = 0; s < 4; ++s) {
        ASSERT_EQ(engine.store[s].size(), reference.decoded[s].size()) << "slot " << s;
        for (std::size_t i = 0; i < engine.store[s].size(); ++i)
            ASSERT_EQ(engine.store[s][i], reference.decoded[s][i])
                << "slot " << s << " block " << i;
    }
}

std::vector<int> RestartMarkersIn(const TBytes& jpeg) {
    std::vector<int> markers;
    for (std::size_t i = ScanStart(jpeg); i + 1 < jpeg.size(); ++i) {
        if (jpeg[i] != 0xFF) continue;
        const std::uint8_t next = jpeg[i + 1];
        if (next == 0x00) {
            ++i;
        } else if (next >= 0xD0 && next <= 0xD7) {
            markers.push_back(next - 0xD0);
            ++i;
        } else {
            break;
        }
    }
    return markers;
}

fixtures::TCoefficientImage MovedCoefficients(const TBytes& input,
                                              const fixtures::TCoefficientImage& output, int mode) {
    const fixtures::TCoefficientImage whole = fixtures::ReadCoefficients(input, true);
    const bool exchanged = ExchangesDimensions(static_cast<std::uint8_t>(mode));
    fixtures::TCoefficientImage expected = output;
    for (std::size_t c = 0; c < whole.components.size(); ++c) {
        const fixtures::TComponentCoefficients& in = whole.components[c];
        fixtures::TComponentCoefficients& out = expected.components[c];
        out.id = in.id;
        out.h = exchanged ? in.v : in.h;
        out.v = exchanged ? in.h : in.v;
        const std::size_t w =
            static_cast<std::size_t>(exchanged ? in.heightInBlocks : in.widthInBlocks);
        const std::size_t hb =
            static_cast<std::size_t>(exchanged ? in.widthInBlocks : in.heightInBlocks);
        for (int k = 0; k < 64; ++k) {
            const auto [v, u] = FrequencyOf(k);
            out.quant[k] = exchanged ? in.quant[ZigzagPosition(u, v)] : in.quant[k];
        }
        for (int y = 0; y < out.heightInBlocks; ++y)
            for (int x = 0; x < out.widthInBlocks; ++x) {
                const fixtures::TBlock& block = in.blocks[RefSourceIndex(
                    mode, static_cast<std::size_t>(x), static_cast<std::size_t>(y), w, hb)];
                TCoefBlock turned;
                std::copy(block.begin(), block.end(), turned.begin());
                turned = RefTransformBlock(turned, mode);
                std::copy(turned.begin(), turned.end(),
                          out.blocks[static_cast<std::size_t>(y) * out.widthInBlocks + x].begin());
            }
    }
    return expected;
}

}  // namespace plume::test
