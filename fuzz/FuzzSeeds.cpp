// Writes the seed files of the fuzz targets, one folder per target, each file
// a few MCUs:
//   fuzz_engine/        baseline files of every sampling, with and without
//                       restart intervals, standard, optimised and incomplete
//                       tables, extra segments, trailing data, EXIF with JPEG
//                       and uncompressed thumbnails, and a few refused files;
//                       the kinds that AnyJpeg takes: progressive files of
//                       every kind of scan script, restart markers inside
//                       progressive scans, sequential files of several scans,
//                       SOF1, CMYK and YCCK with an Adobe segment, letters
//                       for identifiers (made by jpegtran from libjpeg files)
//   fuzz_exif_rewrite/  APP1 bodies (first byte: mode and the engine's options)
//   fuzz_analysis/      whole files with EXIF, after SOI or after JFIF
//   fuzz_multi_picture/ multi-picture files: both byte orders, previews, gain
//                       maps, Ultra HDR container directories, fill bytes
//   fuzz_xmp/           XMP packets: attribute and element forms, padding or
//                       none, no trailer, container directories, nested
//                       resources, comments, CDATA, processing instructions
//   fuzz_engine/ also holds the multi-picture files and files with XMP
#include <cstdio>
#include <filesystem>
#include <string>

#include "FuzzSupport.h"
#include "fixtures/ExifBuilder.h"
#include "fixtures/JpegEncoder.h"
#include "fixtures/JpegKinds.h"
#include "fixtures/MultiPictureBuilder.h"
#include "fixtures/SegmentBuilder.h"
#include "fixtures/TempDir.h"

namespace fs = std::filesystem;
using namespace plume;
using fixtures::TBytes;

namespace {

class TSeedWriter {
  public:
    explicit TSeedWriter(const fs::path& root) : root_(root) {}
    void Put(const std::string& target, const std::string& name, const TBytes& bytes) {
        fs::create_directories(root_ / target);
        fixtures::WriteFileBytes(root_ / target / name, bytes);
        ++written_;
    }
    int Written() const { return written_; }

  private:
    fs::path root_;
    int written_ = 0;
};

TBytes Encode(int width, int height, std::vector<fixtures::THv> sampling, std::uint32_t seed) {
    fixtures::TEncodeOptions options;
    options.Size(width, height);
    options.sampling = std::move(sampling);
    options.noise = 8;
    options.seed = seed;
    return fixtures::EncodeJpeg(options);
}

// Every layout with restart intervals 0, 1 and 3 MCUs, standard and
// optimised tables; sizes that end inside an MCU in either direction.
void PutSamplings(TSeedWriter& out) {
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
                out.Put("fuzz_engine",
                        fixtures::SamplingName(sampling) + "-rst" + std::to_string(restart) +
                            (optimise ? "-opt" : "-std") + ".jpg",
                        fixtures::EncodeJpeg(options));
            }
        }
    }
}

// Frames that the usual layouts leave out: 4:1:1 and 4:2:x, mixed factors,
// two components, identifiers from 0, a grey frame with factors that its
// single-component scan ignores, extreme qualities, a progressive file
// (refused without AnyJpeg), extra segments and data after EOI.
void PutUnusualFrames(TSeedWriter& out) {
    out.Put("fuzz_engine", "411.jpg", Encode(40, 8, {{4, 1}, {1, 1}, {1, 1}}, 1));
    out.Put("fuzz_engine", "42x.jpg", Encode(32, 16, {{4, 2}, {1, 1}, {1, 1}}, 2));
    out.Put("fuzz_engine", "mixed.jpg", Encode(24, 24, {{2, 2}, {1, 2}, {2, 1}}, 3));
    out.Put("fuzz_engine", "two-components.jpg", Encode(24, 8, {{2, 1}, {1, 1}}, 4));
    out.Put("fuzz_engine", "grey-factors.jpg",
            fixtures::FlatJpeg(24, 16, {{2, 2}}, /*restartInterval=*/2));
    out.Put("fuzz_engine", "flat-420.jpg", fixtures::FlatJpeg(24, 16, {{2, 2}, {1, 1}, {1, 1}}, 1));
    for (int quality : {1, 100}) {
        fixtures::TEncodeOptions options;
        options.Size(16, 16).Sampling(fixtures::TSampling::k422);
        options.quality = quality;
        out.Put("fuzz_engine", "quality-" + std::to_string(quality) + ".jpg",
                fixtures::EncodeJpeg(options));
    }
    fixtures::TEncodeOptions options;
    options.Size(16, 16);
    options.progressive = true;
    out.Put("fuzz_engine", "progressive.jpg", fixtures::EncodeJpeg(options));

    options = {};
    options.Size(16, 8);
    options.componentIds = {0, 1, 2};
    options.markers = {{0xFE, {'p', 'l', 'u', 'm', 'e'}},
                       {0xE2, {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0, 1, 1}},
                       {0xED, TBytes(12, 0x20)}};
    TBytes file = fixtures::EncodeJpeg(options);
    file.insert(file.end(), {0x00, 0xFF, 0xD8, 0xFF, 0xD9});
    out.Put("fuzz_engine", "segments-and-trailer.jpg", file);
}

// bytes with zeros after EOI up to the first size that chooses AnyJpeg, the
// mode, TrimPartialEdges and OptimizeTables so in fuzz_engine (AllowBreakDCF
// off).
TBytes SizedForEngine(TBytes bytes, int mode, bool trim, bool optimise) {
    const auto chooses = [&](std::size_t size) {
        return (size & 1) == 0 && (size / 2 % 8) == static_cast<std::size_t>(mode) &&
               ((size & 16) != 0) == trim && (size & 0x60) != 0 && ((size & 0x80) != 0) == optimise;
    };
    while (!chooses(bytes.size())) bytes.push_back(0);
    return bytes;
}

// Every kind that AnyJpeg takes, in three layouts of three components (4:2:0
// whole MCUs, 4:2:2 partial ones, 4:4:4) and grey, four components (CMYK and
// YCCK with an Adobe segment): every mode, some trimmed, some with tables
// made for the output.
void PutAnyJpeg(TSeedWriter& out) {
    struct TLayout {
        std::string name;
        std::vector<fixtures::THv> sampling;
        int width, height;
    };
    const std::vector<TLayout> layouts = {
        {"420", fixtures::SamplingFactors(fixtures::TSampling::k420), 32, 32},
        {"422", fixtures::SamplingFactors(fixtures::TSampling::k422), 27, 19},
        {"444", fixtures::SamplingFactors(fixtures::TSampling::k444), 16, 24},
        {"grey", fixtures::SamplingFactors(fixtures::TSampling::kGrey), 24, 16},
        {"cmyk", std::vector<fixtures::THv>(4, fixtures::THv{1, 1}), 16, 16},
        {"ycck", {{2, 2}, {1, 1}, {1, 1}, {2, 2}}, 32, 16},
    };
    int n = 0;
    for (const TLayout& layout : layouts) {
        for (const fixtures::TJpegKind kind : fixtures::kAllJpegKinds) {
            // Letters name the components of three or four.
            if (kind == fixtures::TJpegKind::Letters && layout.sampling.size() == 1) continue;
            fixtures::TEncodeOptions options;
            options.Size(layout.width, layout.height);
            options.sampling = layout.sampling;
            options.noise = 8;
            options.seed = static_cast<std::uint32_t>(++n);
            const TBytes file = fixtures::EncodeJpegKind(kind, options);
            out.Put("fuzz_engine",
                    std::string("any-") + fixtures::JpegKindName(kind) + "-" + layout.name + ".jpg",
                    SizedForEngine(file, n % 8, n % 5 == 0, n % 3 == 0));
        }
    }
}

// Hand-made tables: 16-bit quantisation entries (refused), and Huffman tables
// that hold only the codes a flat picture needs (incomplete, so the engine
// codes with the typical tables instead).
void PutHandMadeTables(TSeedWriter& out) {
    using namespace fixtures;
    TQuantTable wide = RampQuantTable(0, 300);
    wide.precision = 1;
    out.Put("fuzz_engine", "dqt-16bit.jpg",
            TSegmentBuilder()
                .Soi()
                .Dqt({wide, RampQuantTable(1)})
                .Sof0(16, 16, {{1, 2, 2, 0}, {2, 1, 1, 1}, {3, 1, 1, 1}})
                .StandardDht()
                .Sos({{1, 0, 0}, {2, 1, 1}, {3, 1, 1}})
                .Bytes(FlatScan(1, {0, 0, 0, 0, 1, 1}))
                .Eoi()
                .Take());
    THuffmanTable dc{0, 0, {}, {0}}, ac{1, 0, {}, {0}};
    dc.bits[0] = 1;
    ac.bits[1] = 1;
    out.Put("fuzz_engine", "incomplete-tables.jpg",
            TSegmentBuilder()
                .Soi()
                .Dqt({RampQuantTable(0)})
                .Sof0(16, 8, {{1, 1, 1, 0}})
                .Dht({dc, ac})
                .Dri(1)
                .Sos({{1, 0, 0}})
                .Bytes(FlatScanWithTables(2, {{dc, ac}}, 1))
                .Eoi()
                .Take());
}

TBytes Thumbnail(fixtures::TSampling sampling, bool optimise) {
    fixtures::TEncodeOptions options;
    options.Size(16, 8).Sampling(sampling);
    options.writeJfif = false;
    options.optimizeCoding = optimise;
    options.noise = 4;
    return fixtures::EncodeJpeg(options);
}

// EXIF in both byte orders, orientations 1, 3, 6 and 8, JPEG and uncompressed
// thumbnails, IFD1 with an Orientation of its own, the blocks in another
// order: as whole files for the engine and the analysis, and as APP1 bodies
// for the rewrite (the first byte picks the mode, TrimPartialEdges and
// AllowBreakDCF).
void PutExif(TSeedWriter& out) {
    int n = 0;
    for (bool little : {true, false}) {
        for (int orientation : {1, 3, 6, 8}) {
            fixtures::TExifOptions exif;
            exif.littleEndian = little;
            exif.ifd0 = fixtures::TypicalIfd0(orientation);
            exif.exifIfd = fixtures::TypicalExifIfd(24, 16);
            if (orientation == 1) {
                exif.ifd1 = fixtures::UncompressedThumbnailIfd1(2, 2);
                exif.thumbnail = TBytes(12, 0x80);
            } else {
                exif.ifd1 = fixtures::JpegThumbnailIfd1(16, 8);
                exif.thumbnail = Thumbnail(
                    orientation == 8 ? fixtures::TSampling::k422 : fixtures::TSampling::k420,
                    orientation == 3);
            }
            if (orientation == 6)
                exif.ifd1.push_back(fixtures::Short(fixtures::tag::kOrientation, {6}));
            if (!little && orientation == 3)
                exif.order = {fixtures::TExifBlock::kIfd1, fixtures::TExifBlock::kThumbnail,
                              fixtures::TExifBlock::kExifIfd};
            const fixtures::TBuiltExif built = fixtures::BuildExif(exif);
            const TBytes body = built.App1Body();
            const std::string name = "exif-" + std::to_string(++n);

            fixtures::TEncodeOptions options;
            options.Size(24, 16);
            options.writeJfif = false;
            options.markers.push_back({0xE1, body});
            const TBytes file = fixtures::EncodeJpeg(options);
            out.Put("fuzz_engine", name + ".jpg", file);
            out.Put("fuzz_analysis", name + ".jpg", file);
            for (const std::uint8_t first : {0x01, 0x81, 0x43, 0xC6, 0x07}) {
                TBytes input = {first};
                input.insert(input.end(), body.begin(), body.end());
                out.Put("fuzz_exif_rewrite", name + "-" + std::to_string(first), input);
            }
        }
    }
    // The EXIF segment behind a JFIF segment (for the analysis's option).
    fixtures::TExifOptions exif;
    exif.ifd0 = fixtures::TypicalIfd0(6);
    exif.ifd1 = fixtures::JpegThumbnailIfd1();
    exif.thumbnail = Thumbnail(fixtures::TSampling::k444, false);
    fixtures::TEncodeOptions options;
    options.Size(16, 16);
    options.markers.push_back({0xE1, fixtures::BuildExif(exif).App1Body()});
    out.Put("fuzz_analysis", "jfif-then-exif.jpg", fixtures::EncodeJpeg(options));
}

// The XMP packets of the seeds, each with what it shows.
std::vector<std::pair<std::string, std::string>> XmpPackets() {
    using fixtures::TXmpOptions;
    std::vector<std::pair<std::string, std::string>> packets;
    TXmpOptions options;
    options.orientation = 6;
    options.imageSize = {{640, 1024}};
    options.pixelSize = {{4000, 3000}};
    options.containerItems = {{"GainMap", 9999}, {"Depth", 12}};
    options.padding = 40;
    packets.emplace_back("attributes", fixtures::BuildXmpPacket(options));
    options.elementForm = true;
    options.tiffPrefix = "t";
    options.padding = 0;
    packets.emplace_back("elements-no-padding", fixtures::BuildXmpPacket(options));
    std::string cut = packets.back().second;
    cut.resize(cut.rfind("<?xpacket end"));
    packets.emplace_back("no-trailer", cut);

    // A second top-level description, whose orientation turns too, and values
    // the turn must leave: a nested resource's orientation, one inside a
    // comment, digits inside CDATA, an instruction.
    options = {};
    options.orientation = 8;
    options.imageSize = {{16, 8}};
    options.padding = 8;
    options.extra =
        "  <rdf:Description rdf:about=\"\" xmlns:mm=\"http://ns.adobe.com/xap/1.0/mm/\"\n"
        "    xmlns:tiff=\"http://ns.adobe.com/tiff/1.0/\" tiff:Orientation=\"3\">\n"
        "   <mm:DerivedFrom rdf:parseType=\"Resource\">\n"
        "    <tiff:Orientation>5</tiff:Orientation>\n"
        "   </mm:DerivedFrom>\n"
        "   <!-- <tiff:Orientation>2</tiff:Orientation> -->\n"
        "   <mm:Note xml:lang=\"x-default\"><![CDATA[1234]]></mm:Note>\n"
        "   <?plume 7?>\n"
        "   <tiff:ImageWidth xmlns=\"http://ns.adobe.com/tiff/1.0/\">  12  </tiff:ImageWidth>\n"
        "  </rdf:Description>\n";
    packets.emplace_back("nested", fixtures::BuildXmpPacket(options));

    // A directory of three items after the primary, one with padding.
    options = {};
    options.containerItems = {{"GainMap", 123456}, {"Depth", 7}, {"Confidence", 0}};
    options.padding = 16;
    std::string padded = fixtures::BuildXmpPacket(options);
    const std::string length = "Item:Length=\"7\"";
    padded.insert(padded.find(length) + length.size(), " Item:Padding=\"4\"");
    packets.emplace_back("container", padded);
    return packets;
}

// The APP1 body of an XMP packet: the identifier with its NUL, the packet.
TBytes XmpBody(const std::string& packet) {
    const TBytes segment = fixtures::XmpSegment(packet);
    return TBytes(segment.begin() + 4, segment.end());
}

// Whole packets for the rewrite, each in two sizes: the size picks what the
// turn changes (odd: orientation; bit 1: sizes), so line ends after the
// trailer make one seed of each. And each as the XMP of a small file for the
// engine, one with EXIF (Orientation 6) so the XMP orientation follows.
void PutXmp(TSeedWriter& out) {
    int n = 0;
    for (const auto& [name, packet] : XmpPackets()) {
        for (std::size_t flags : {1, 3}) {
            std::string sized = packet;
            while (sized.size() % 4 != flags) sized += '\n';
            out.Put("fuzz_xmp", name + "-" + std::to_string(flags),
                    TBytes(sized.begin(), sized.end()));
        }
        fixtures::TEncodeOptions options;
        options.Size(16, 8);
        options.writeJfif = false;
        if (++n % 2 == 0) {
            fixtures::TExifOptions exif;
            exif.ifd0 = fixtures::TypicalIfd0(6);
            options.markers.push_back({0xE1, fixtures::BuildExif(exif).App1Body()});
        }
        options.markers.push_back({0xE1, XmpBody(packet)});
        out.Put("fuzz_engine", "xmp-" + name + ".jpg", fixtures::EncodeJpeg(options));
    }
}

TBytes Picture(int width, int height, fixtures::TSampling sampling, bool progressive = false) {
    fixtures::TEncodeOptions options;
    options.Size(width, height).Sampling(sampling);
    options.writeJfif = false;
    options.noise = 4;
    options.progressive = progressive;
    return fixtures::EncodeJpeg(options);
}

// A phone's photo: the primary with EXIF (Orientation 6) and XMP whose
// container directory locates the gain map right after the primary; a grey
// gain map with its own XMP; a preview of the full-HD class; a trailer.
TBytes PhoneFile(bool littleEndian, bool progressiveGainMap) {
    fixtures::TXmpOptions gainMapXmp;
    gainMapXmp.imageSize = {{8, 8}};
    gainMapXmp.padding = 8;
    const TBytes gainMap = fixtures::InsertSegmentAfterSoi(
        Picture(8, 8, fixtures::TSampling::kGrey, progressiveGainMap),
        fixtures::XmpSegment(fixtures::BuildXmpPacket(gainMapXmp)));
    fixtures::TXmpOptions xmp;
    xmp.orientation = 6;
    xmp.imageSize = {{24, 16}};
    xmp.containerItems = {{"GainMap", gainMap.size()}};
    xmp.padding = 24;
    fixtures::TExifOptions exif;
    exif.littleEndian = littleEndian;
    exif.ifd0 = fixtures::TypicalIfd0(6);
    exif.exifIfd = fixtures::TypicalExifIfd(24, 16);
    fixtures::TEncodeOptions options;
    options.Size(24, 16).Sampling(fixtures::TSampling::k420);
    options.writeJfif = false;
    options.markers = {{0xE1, fixtures::BuildExif(exif).App1Body()},
                       {0xE1, XmpBody(fixtures::BuildXmpPacket(xmp))}};
    return fixtures::BuildMultiPicture(
        fixtures::EncodeJpeg(options),
        {littleEndian,
         {{fixtures::kMpUndefined, gainMap},
          {fixtures::kMpLargeThumbnail, Picture(16, 8, fixtures::TSampling::k422)}},
         {'e', 'n', 'd'}});
}

// Multi-picture files, for the rewrite and for the engine: phones' photos in
// both byte orders (one whose gain map the engine refuses), a stereo pair
// with a preview and an image of another format, and a primary that ends in
// fill bytes before its EOI, after restart intervals.
void PutMultiPicture(TSeedWriter& out) {
    std::vector<std::pair<std::string, TBytes>> files;
    files.emplace_back("phone-le.jpg", PhoneFile(true, false));
    files.emplace_back("phone-be.jpg", PhoneFile(false, false));
    files.emplace_back("phone-progressive-gain-map.jpg", PhoneFile(true, true));
    files.emplace_back("stereo.jpg", fixtures::BuildMultiPicture(
                                         Picture(16, 16, fixtures::TSampling::k444),
                                         {false,
                                          {{0x00020002, Picture(16, 16, fixtures::TSampling::k444)},
                                           {fixtures::kMpLargeThumbnail | 0x01000000, {1, 2, 3}},
                                           {0x00010001, Picture(8, 16, fixtures::TSampling::k440)}},
                                          {}}));
    fixtures::TEncodeOptions options;
    options.Size(16, 16).Sampling(fixtures::TSampling::k420);
    options.writeJfif = false;
    options.restartInterval = 1;
    TBytes primary = fixtures::EncodeJpeg(options);
    primary.insert(primary.end() - 2, {0xFF, 0xFF});
    files.emplace_back("fill-before-eoi.jpg",
                       fixtures::BuildMultiPicture(
                           primary, {true, {{0, Picture(8, 8, fixtures::TSampling::kGrey)}}, {}}));
    for (const auto& [name, file] : files) {
        out.Put("fuzz_multi_picture", name, file);
        out.Put("fuzz_engine", "mpf-" + name, file);
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds FOLDER\n");
        return 2;
    }
    TSeedWriter out(argv[1]);
    PutSamplings(out);
    PutUnusualFrames(out);
    PutHandMadeTables(out);
    PutAnyJpeg(out);
    PutExif(out);
    PutXmp(out);
    PutMultiPicture(out);
    std::printf("%d seed files in %s\n", out.Written(), argv[1]);
    return 0;
}
