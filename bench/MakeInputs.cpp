// Makes the benchmark inputs: photo-like baseline JPEG files from the test
// fixture library (gradients, shapes and noise), optionally with an EXIF
// segment carrying an orientation and a JPEG thumbnail.
//
//   plume-bench-inputs photo OUT.jpg WIDTH HEIGHT [NOISE [RESTART]]
//   plume-bench-inputs camera OUT.jpg WIDTH HEIGHT [NOISE [RESTART]]
//   plume-bench-inputs batch DIR COUNT WIDTH HEIGHT [NOISE [RESTART]]
//
// A camera photo has a camera's EXIF segment (orientation 1); the photos of a
// batch have orientations as a camera writes them, most of them upright.
//
// RESTART is a restart interval in MCUs, or "row" for one MCU row, as phone
// and many camera encoders write it so that rows can be decoded in parallel.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "fixtures/ExifBuilder.h"
#include "fixtures/JpegEncoder.h"
#include "fixtures/TempDir.h"

namespace {

using namespace plume::fixtures;

struct TPhotoOptions {
    int width, height;
    int noise = 24;
    int restartInterval = 0;
};

TBytes Photo(const TPhotoOptions& photo, std::uint32_t seed) {
    TEncodeOptions options;
    options.Size(photo.width, photo.height).Sampling(TSampling::k420);
    options.quality = 90;
    options.noise = photo.noise;
    options.seed = seed;
    options.restartInterval = photo.restartInterval;
    return EncodeJpeg(options);
}

// The optional NOISE and RESTART arguments from argv[first] on.
TPhotoOptions PhotoOptions(int width, int height, int argc, char** argv, int first) {
    TPhotoOptions photo{width, height};
    if (argc > first) photo.noise = std::atoi(argv[first]);
    if (argc > first + 1) {
        const std::string restart = argv[first + 1];
        const int mcuWidth = 16;  // 4:2:0
        photo.restartInterval =
            restart == "row" ? (width + mcuWidth - 1) / mcuWidth : std::atoi(restart.c_str());
    }
    return photo;
}

// A camera's EXIF: orientation, pixel dimensions and a 160 x 120 JPEG thumbnail.
TBytes WithCameraExif(const TBytes& jpeg, int orientation, int width, int height) {
    TEncodeOptions thumbnail;
    thumbnail.Size(160, 120).Sampling(TSampling::k420);
    TExifOptions exif;
    exif.ifd0 = TypicalIfd0(orientation);
    exif.exifIfd =
        TypicalExifIfd(static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height));
    exif.ifd1 = JpegThumbnailIfd1(160, 120);
    exif.thumbnail = EncodeJpeg(thumbnail);
    return InsertSegmentAfterSoi(jpeg, BuildExif(exif).Segment());
}

int Usage() {
    std::fprintf(stderr,
                 "usage: plume-bench-inputs photo OUT.jpg WIDTH HEIGHT [NOISE [RESTART]]\n"
                 "       plume-bench-inputs camera OUT.jpg WIDTH HEIGHT [NOISE [RESTART]]\n"
                 "       plume-bench-inputs batch DIR COUNT WIDTH HEIGHT [NOISE [RESTART]]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage();
    const std::string command = argv[1];
    if ((command == "photo" || command == "camera") && argc >= 5 && argc <= 7) {
        const int width = std::atoi(argv[3]), height = std::atoi(argv[4]);
        TBytes jpeg = Photo(PhotoOptions(width, height, argc, argv, 5), 1);
        if (command == "camera") jpeg = WithCameraExif(jpeg, 1, width, height);
        WriteFileBytes(argv[2], jpeg);
        return 0;
    }
    if (command == "batch" && argc >= 6 && argc <= 8) {
        const std::filesystem::path folder = argv[2];
        const int count = std::atoi(argv[3]), width = std::atoi(argv[4]),
                  height = std::atoi(argv[5]);
        const TPhotoOptions photo = PhotoOptions(width, height, argc, argv, 6);
        std::filesystem::create_directories(folder);
        // Orientations as a camera writes them, most photos upright.
        const int orientations[] = {1, 6, 1, 8, 3, 1, 6, 1};
        for (int i = 0; i < count; ++i) {
            TBytes jpeg = Photo(photo, static_cast<std::uint32_t>(i + 1));
            jpeg = WithCameraExif(jpeg, orientations[i % 8], width, height);
            char name[32];
            std::snprintf(name, sizeof name, "IMG_%04d.jpg", i + 1);
            WriteFileBytes(folder / name, jpeg);
        }
        return 0;
    }
    return Usage();
}
