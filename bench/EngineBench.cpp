// The whole rotate-and-write pass per mode, per megapixel.
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
    state.counters["MP/s"] = benchmark::Counter(
        kMegapixels * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_RotateJpeg(benchmark::State& state) {
    TMemoryStream input{Photo()};
    TMemoryStream output;
    TJpegRotation engine;
    TEngineOptions options;
    options.AllowParallelCoding = state.range(1) != 0;
    engine.SetOptions(options);
    const auto mode = static_cast<std::uint8_t>(state.range(0));
    for (auto _ : state) {
        if (!engine.ValidateJpeg(input) || !engine.RotateJpeg(input, output, mode))
            state.SkipWithError("the engine refused the photo");
    }
    SetMegapixelRate(state);
}
BENCHMARK(BM_RotateJpeg)
    ->ArgNames({"mode", "threads"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6, 7}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
