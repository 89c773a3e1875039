// The engine's inner loops per megapixel: scan decoding, block transforms
// and scan coding, and the whole rotate-and-write pass per mode.
#include <benchmark/benchmark.h>

#include "JpegRotation/JpegRotation.h"
#include "fixtures/JpegEncoder.h"
#include "fixtures/JpegSegments.h"

namespace {

using namespace plume;
using plume::fixtures::TBytes;

constexpr int kWidth = 2048, kHeight = 1536;  // 3 megapixels, 4:2:0
constexpr double kMegapixels = kWidth * kHeight / 1e6;

const TBytes& Photo() {
    static const TBytes photo = [] {
        fixtures::TEncodeOptions options;
        options.Size(kWidth, kHeight).Sampling(fixtures::TSampling::k420);
        options.quality = 90;
        return fixtures::EncodeJpeg(options);
    }();
    return photo;
}

void SetMegapixelRate(benchmark::State& state) {
    state.counters["MP/s"] =
        benchmark::Counter(kMegapixels * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// A validated engine standing at the first byte of the scan.
struct TDecodeSetup {
    TMemoryStream input{Photo()};
    TJpegRotation engine;

    void StartScan() {
        engine.ValidateJpeg(input);
        engine.McusPerRow = (engine.ImageWidth + 8 * engine.MaxHSampling - 1) / (8 * engine.MaxHSampling);
        engine.McuRows = (engine.ImageHeight + 8 * engine.MaxVSampling - 1) / (8 * engine.MaxVSampling);
        engine.InBits = std::make_unique<TInBitStreamFile>(input, nullptr);
        input.SetPosition(*fixtures::ScanDataOffset(Photo()));
    }
};

void BM_DecodeScan(benchmark::State& state) {
    TDecodeSetup setup;
    for (auto _ : state) {
        setup.StartScan();
        benchmark::DoNotOptimize(setup.engine.DecodeScan());
    }
    SetMegapixelRate(state);
}
BENCHMARK(BM_DecodeScan)->Unit(benchmark::kMillisecond);

void BM_BlockTransform(benchmark::State& state) {
    TDecodeSetup setup;
    setup.StartScan();
    setup.engine.DecodeScan();
    TCoefRaster& luma = setup.engine.Coefficients[1];
    for (auto _ : state) {
        for (std::size_t i = 0; i < luma.Size(); ++i) TJpegRotation::RotateBlockRight(luma[i]);
        benchmark::ClobberMemory();
    }
    state.counters["blocks/s"] =
        benchmark::Counter(static_cast<double>(luma.Size() * state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BlockTransform)->Unit(benchmark::kMillisecond);

void BM_EncodeBlocks(benchmark::State& state) {
    TDecodeSetup setup;
    setup.StartScan();
    setup.engine.DecodeScan();
    setup.engine.ReplaceIncompleteTables();
    setup.engine.BuildSymbolIndex();
    TMemoryStream output;
    for (auto _ : state) {
        output.Clear();
        setup.engine.OutBits = std::make_unique<TOutBitStreamFile>(output, nullptr);
        for (int slot = 0; slot < 4; ++slot) {
            const TCoefRaster& blocks = setup.engine.Coefficients[slot];
            if (setup.engine.HSampling[slot] == 0) continue;
            for (std::size_t i = 0; i < blocks.Size(); ++i) setup.engine.EncodeBlock(slot, blocks[i]);
        }
        setup.engine.OutBits.reset();
    }
    SetMegapixelRate(state);
}
BENCHMARK(BM_EncodeBlocks)->Unit(benchmark::kMillisecond);

void BM_RotateJpeg(benchmark::State& state) {
    TMemoryStream input{Photo()};
    TMemoryStream output;
    TJpegRotation engine;
    engine.AllowParallelCoding = state.range(1) != 0;
    const auto mode = static_cast<std::uint8_t>(state.range(0));
    for (auto _ : state) {
        engine.ValidateJpeg(input);
        benchmark::DoNotOptimize(engine.RotateJpeg(input, output, mode));
    }
    SetMegapixelRate(state);
}
BENCHMARK(BM_RotateJpeg)
    ->ArgNames({"mode", "threads"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6, 7}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
