// Writes the seed corpora of the fuzz targets into a folder:
//   engine/   small baseline files of every sampling, with and without
//             restart intervals, standard and optimised tables, EXIF
//   exif/     APP1 bodies for fuzz_exif_rewrite (first byte: mode and flag)
//   analysis/ whole files with EXIF for fuzz_analysis
#include <cstdio>
#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "fixtures/JpegEncoder.h"
#include "fixtures/SegmentBuilder.h"
#include "fixtures/TempDir.h"

namespace fs = std::filesystem;
using namespace plume;

namespace {

int written = 0;

void Put(const fs::path& folder, const std::string& name, const fuzz::TBytes& bytes) {
    fs::create_directories(folder);
    fixtures::WriteFileBytes(folder / name, bytes);
    ++written;
}

fuzz::TBytes Thumbnail(fixtures::TSampling sampling, bool optimise) {
    fixtures::TEncodeOptions options;
    options.Size(16, 8).Sampling(sampling);
    options.writeJfif = false;
    options.optimizeCoding = optimise;
    options.noise = 4;
    return fixtures::EncodeJpeg(options);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
        return 2;
    }
    const fs::path root = argv[1];
    const fs::path engine = root / "engine", exif = root / "exif", analysis = root / "analysis";

    int n = 0;
    for (fixtures::TSampling sampling : fixtures::kAllSamplings) {
        for (int restart : {0, 1, 3}) {
            for (bool optimise : {false, true}) {
                fixtures::TEncodeOptions options;
                options.Size(restart == 1 ? 17 : 32, restart == 3 ? 9 : 16).Sampling(sampling);
                options.restartInterval = restart;
                options.optimizeCoding = optimise;
                options.noise = 8;
                options.seed = static_cast<std::uint32_t>(++n);
                Put(engine, "synthetic-" + std::to_string(n) + ".jpg",
                    fixtures::EncodeJpeg(options));
            }
        }
    }
    Put(engine, "flat-420.jpg", fixtures::FlatJpeg(24, 16, {{2, 2}, {1, 1}, {1, 1}}, 1));
    Put(engine, "flat-grey-21.jpg", fixtures::FlatJpeg(16, 8, {{2, 1}}));

    // EXIF files: both byte orders, orientations, JPEG and uncompressed
    // thumbnails, IFD1's Orientation.
    n = 0;
    for (bool little : {true, false}) {
        for (int orientation : {1, 3, 6, 8}) {
            fuzz::TExifParts parts;
            parts.littleEndian = little;
            parts.orientation = orientation;
            parts.ifd1Orientation = orientation == 6 ? 6 : 0;
            parts.thumbnail =
                Thumbnail(orientation == 8 ? fixtures::TSampling::k422 : fixtures::TSampling::k420,
                          orientation == 3);
            if (orientation == 1) parts.thumbnailCompression = 1;
            const fuzz::TBytes body = fuzz::MakeExifBody(parts);
            ++n;
            fixtures::TEncodeOptions options;
            options.Size(24, 16);
            options.writeJfif = false;
            options.markers.push_back({0xE1, body});
            const fuzz::TBytes file = fixtures::EncodeJpeg(options);
            Put(engine, "exif-" + std::to_string(n) + ".jpg", file);
            Put(analysis, "exif-" + std::to_string(n) + ".jpg", file);
            for (std::uint8_t first : {std::uint8_t{1}, std::uint8_t{0x81}, std::uint8_t{3}}) {
                fuzz::TBytes input = {first};
                input.insert(input.end(), body.begin(), body.end());
                Put(exif, "exif-" + std::to_string(n) + "-" + std::to_string(first), input);
            }
        }
    }
    // The EXIF segment behind a JFIF segment (for the analysis's option).
    {
        fuzz::TExifParts parts;
        parts.thumbnail = Thumbnail(fixtures::TSampling::k444, false);
        fixtures::TEncodeOptions options;
        options.Size(16, 16);
        options.markers.push_back({0xE1, fuzz::MakeExifBody(parts)});
        Put(analysis, "jfif-then-exif.jpg", fixtures::EncodeJpeg(options));
    }
    std::printf("%d seed files in %s\n", written, root.c_str());
    return 0;
}
