// Makes the benchmark inputs: photo-like baseline JPEG files from the test
// fixture library (gradients, shapes and noise), optionally with an EXIF
// segment carrying an orientation and a JPEG thumbnail.
//
//   plume-bench-inputs photo OUT.jpg WIDTH HEIGHT [NOISE]
//   plume-bench-inputs batch DIR COUNT WIDTH HEIGHT [NOISE]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fixtures/JpegEncoder.h"
#include "fixtures/TempDir.h"
#if __has_include("fixtures/ExifBuilder.h")
#include "fixtures/ExifBuilder.h"
#define PLUME_HAVE_EXIF_BUILDER 1
#endif

namespace {

using namespace plume::fixtures;

TBytes Photo(int width, int height, int noise, std::uint32_t seed) {
    TEncodeOptions options;
    options.Size(width, height).Sampling(TSampling::k420);
    options.quality = 90;
    options.noise = noise;
    options.seed = seed;
    return EncodeJpeg(options);
}

int Usage() {
    std::fprintf(stderr,
                 "usage: plume-bench-inputs photo OUT.jpg WIDTH HEIGHT [NOISE]\n"
                 "       plume-bench-inputs batch DIR COUNT WIDTH HEIGHT [NOISE]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if (command == "photo" && (argc == 5 || argc == 6)) {
        const int noise = argc == 6 ? std::atoi(argv[5]) : 24;
        WriteFileBytes(argv[2], Photo(std::atoi(argv[3]), std::atoi(argv[4]), noise, 1));
        return 0;
    }
    if (command == "batch" && (argc == 6 || argc == 7)) {
        const std::filesystem::path folder = argv[2];
        const int count = std::atoi(argv[3]), width = std::atoi(argv[4]), height = std::atoi(argv[5]);
        const int noise = argc == 7 ? std::atoi(argv[6]) : 24;
        std::filesystem::create_directories(folder);
        // Orientations as a camera writes them, most photos upright.
        const int orientations[] = {1, 6, 1, 8, 3, 1, 6, 1};
        for (int i = 0; i < count; ++i) {
            TBytes jpeg = Photo(width, height, noise, static_cast<std::uint32_t>(i + 1));
#ifdef PLUME_HAVE_EXIF_BUILDER
            jpeg = WithCameraExif(jpeg, orientations[i % 8], width, height);
#else
            (void)orientations;
#endif
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%04d.jpg", i + 1);
            WriteFileBytes(folder / name, jpeg);
        }
        return 0;
    }
    return Usage();
}
