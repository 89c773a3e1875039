// Multi-picture files and XMP after a turn, judged by exiftool and jpegtran:
// every MP entry names its whole image, each secondary image is turned as
// its type asks (exactly jpegtran's blocks) or kept byte for byte, the
// Ultra HDR container's gain map length is true, the XMP orientation reads 1
// and the XMP sizes are exchanged by quarter turns; an index that cannot be
// read safely leaves the tail as it was; a gain map that cannot be kept
// true refuses the file.
#include <map>

#include "EngineTestSupport.h"
#include "ExifRewriteTestSupport.h"
#include "JpegRotation/EngineMessages.h"
#include "JpegRotation/metadata/MultiPicture.h"
#include "JpegRotation/metadata/XmpRewrite.h"
#include "fixtures/MultiPictureBuilder.h"

namespace plume::test {
namespace {

using fixtures::TMpImage;
using fixtures::TXmpOptions;

const TBytes kTrailer = {'t', 'r', 'a', 'i', 'l', 'e', 'r'};

struct TPhoneFile {
    TBytes file, gainMap, preview;
};

// A phone's photo: the primary with XMP, whose container directory lists the
// gain map, and then EXIF (Orientation 6), whose rewrite decides the XMP's;
// a grey gain map with its own XMP; a full-HD-class preview with its own
// EXIF; a trailer. beforePrimaryEoi comes right before the primary's EOI.
TPhoneFile PhoneFile(bool littleEndian, const TBytes& gainMapJpeg, bool container = true,
                     const TBytes& beforePrimaryEoi = {}) {
    TPhoneFile phone;
    TXmpOptions gainMapXmp;
    gainMapXmp.imageSize = {{16, 8}};
    phone.gainMap = fixtures::InsertSegmentAfterSoi(
        gainMapJpeg, fixtures::XmpSegment(fixtures::BuildXmpPacket(gainMapXmp)));
    phone.preview = PhotoWithExif(CameraExif(!littleEndian));

    TXmpOptions xmp;
    xmp.orientation = 6;
    xmp.imageSize = {{48, 1024}};
    xmp.pixelSize = {{48, 1024}};
    if (container) xmp.containerItems = {{"GainMap", phone.gainMap.size()}};
    TBytes primary =
        fixtures::InsertSegmentAfterSoi(PhotoWithExif(CameraExif(littleEndian)),
                                        fixtures::XmpSegment(fixtures::BuildXmpPacket(xmp)));
    primary.insert(primary.end() - 2, beforePrimaryEoi.begin(), beforePrimaryEoi.end());
    phone.file = fixtures::BuildMultiPicture(
        primary,
        {littleEndian,
         {{fixtures::kMpUndefined, phone.gainMap}, {fixtures::kMpLargeThumbnail, phone.preview}},
         kTrailer});
    return phone;
}

TBytes GreyGainMap(bool progressive = false) {
    fixtures::TEncodeOptions options;
    options.Size(16, 8).Sampling(fixtures::TSampling::kGrey);
    options.writeJfif = false;
    options.progressive = progressive;
    return fixtures::EncodeJpeg(options);
}

TBytes Slice(const TBytes& bytes, std::size_t start, std::size_t size) {
    if (start > bytes.size() || size > bytes.size() - start) return {};
    return TBytes(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                  bytes.begin() + static_cast<std::ptrdiff_t>(start + size));
}

std::string Warnings(const std::map<std::string, std::string>& tags) {
    std::string warnings;
    for (const auto& [key, value] : tags)
        if (key.starts_with("ExifTool:Warning")) warnings += value + "\n";
    return warnings;
}

TEST(MultiPictureTest, EveryImageTheIndexAndTheXmpStayTrueInEveryMode) {
    PLUME_REQUIRE_EXIFTOOL();
    PLUME_REQUIRE_JPEGTRAN();
    for (const bool little : {true, false}) {
        SCOPED_TRACE(little ? "MP header II" : "MP header MM");
        const TPhoneFile phone = PhoneFile(little, GreyGainMap());
        struct TCase {
            int mode;
            bool allow;
        };
        std::vector<TCase> cases;
        std::vector<TBytes> files = {phone.file};
        for (int mode = 1; mode < kModeCount; ++mode)
            for (const bool allow : {false, true}) {
                cases.push_back({mode, allow});
                files.push_back(RotateOk(phone.file, static_cast<std::uint8_t>(mode), allow));
            }
        const auto tags = fixtures::ExiftoolTags(files);
        ASSERT_EQ(Warnings(tags[0]), "");
        for (std::size_t i = 0; i < cases.size(); ++i) {
            const auto [mode, allow] = cases[i];
            SCOPED_TRACE(testing::Message() << "mode " << mode << " allow " << allow);
            const TBytes& output = files[i + 1];
            auto after = tags[i + 1];
            EXPECT_EQ(Warnings(after), "");

            // The primary, then the images back to back, then the trailer
            // (exiftool gives the starts from the beginning of the file).
            const std::size_t primarySize = std::stoul(after["MPImage1:MPImageLength"]);
            EXPECT_EQ(after["MPImage1:MPImageStart"], "0");
            const TBytes gainMap = fixtures::ExiftoolBinary(output, "MPImage2");
            const TBytes preview = fixtures::ExiftoolBinary(output, "PreviewImage");
            EXPECT_EQ(after["MPImage2:MPImageStart"], std::to_string(primarySize));
            EXPECT_EQ(after["MPImage3:MPImageStart"], std::to_string(primarySize + gainMap.size()));
            EXPECT_EQ(primarySize + gainMap.size() + preview.size() + kTrailer.size(),
                      output.size());
            EXPECT_EQ(Slice(output, primarySize, gainMap.size()), gainMap);
            EXPECT_EQ(Slice(output, output.size() - kTrailer.size(), kTrailer.size()), kTrailer);

            // The gain map always turns; the preview as the EXIF thumbnail does.
            ExpectTurnedLikeJpegtran(gainMap, phone.gainMap, mode);
            const bool quarter = ExchangesDimensions(static_cast<std::uint8_t>(mode));
            if (quarter && !allow)
                EXPECT_EQ(preview, phone.preview);
            else
                ExpectTurnedLikeJpegtran(preview, phone.preview, mode);
            EXPECT_EQ(after["XMP-Container:DirectoryItemLength"], std::to_string(gainMap.size()));

            // XMP: upright, and the sizes exchanged by a quarter turn, in the
            // primary and in the gain map.
            EXPECT_EQ(after["XMP-tiff:Orientation"], "1");
            const char* width = quarter ? "1024" : "48";
            const char* height = quarter ? "48" : "1024";
            EXPECT_EQ(after["XMP-tiff:ImageWidth"], width);
            EXPECT_EQ(after["XMP-tiff:ImageHeight"], height);
            EXPECT_EQ(after["XMP-exif:ExifImageWidth"], width);
            EXPECT_EQ(after["XMP-exif:ExifImageHeight"], height);
            auto gainMapTags = fixtures::ExiftoolTags(gainMap);
            EXPECT_EQ(gainMapTags["XMP-tiff:ImageWidth"], quarter ? "8" : "16");
        }
    }
}

TEST(MultiPictureTest, AnIndexThatCannotBeReadSafelyLeavesTheTailAsItWas) {
    const TPhoneFile phone = PhoneFile(true, GreyGainMap(), false);
    const TPhoneFile listed = PhoneFile(true, GreyGainMap());
    const auto app2 = *fixtures::FindSegment(phone.file, 0xFFE2);
    // The gain map's entry (the second) : its offset field, little-endian.
    const std::size_t offsetField = app2.BodyOffset() + kMpfIdentifierSize + 50 + 16 + 8;
    const std::size_t primaryEnd =
        phone.file.size() - phone.gainMap.size() - phone.preview.size() - kTrailer.size();
    const std::uint32_t gainMapOffset = phone.file[offsetField] | phone.file[offsetField + 1] << 8;
    for (const std::uint32_t offset :
         {std::uint32_t{0x00FFFFFF}, std::uint32_t{16},  // past the file, inside the primary
          gainMapOffset + 1}) {                          // overlapping the preview
        SCOPED_TRACE(offset);
        TBytes file = phone.file;
        for (int b = 0; b < 4; ++b)
            file[offsetField + b] = static_cast<std::uint8_t>(offset >> (8 * b));
        TEngineRun run;
        ASSERT_TRUE(run.ValidateAndRotate(file, kModeRotate180));
        EXPECT_EQ(fixtures::SegmentBytes(run.output, *fixtures::FindSegment(run.output, 0xFFE2)),
                  fixtures::SegmentBytes(file, app2));
        const std::size_t tail = file.size() - primaryEnd;
        EXPECT_EQ(Slice(run.output, run.output.size() - tail, tail), Slice(file, primaryEnd, tail));
        // A gain map left as it was no longer lies under the primary: when
        // the XMP container lists it, the file is refused.
        TBytes listedFile = listed.file;
        const std::size_t shift = listed.file.size() - phone.file.size();
        for (int b = 0; b < 4; ++b)
            listedFile[offsetField + shift + b] = static_cast<std::uint8_t>(offset >> (8 * b));
        TEngineRun refused;
        EXPECT_FALSE(refused.ValidateAndRotate(listedFile, kModeRotate180));
        EXPECT_EQ(refused.Messages(kLevelError),
                  (std::vector<TMessage>{{kMsgGainMapNotTurned, 2}}));
    }
}

TEST(MultiPictureTest, AGainMapThatCannotBeKeptTrueRefusesTheFile) {
    {  // A gain map that the engine refuses (progressive) cannot turn with the primary.
        const TPhoneFile phone = PhoneFile(false, GreyGainMap(true));
        TEngineRun run;
        EXPECT_FALSE(run.ValidateAndRotate(phone.file, kModeRotateRight));
        EXPECT_EQ(run.Messages(kLevelError), (std::vector<TMessage>{{kMsgGainMapNotTurned, 2}}));
        EXPECT_TRUE(run.ValidateAndRotate(phone.file, kModeNone)) << "mode 0 keeps it aligned";

        // AnyJpeg turns it with the primary, and it stays progressive.
        TEngineRun any;
        any.options.AnyJpeg = true;
        ASSERT_TRUE(any.ValidateAndRotate(phone.file, kModeRotateRight))
            << ::testing::PrintToString(any.messages);
        if (fixtures::HaveExiftool() && fixtures::HaveJpegtran()) {
            const TBytes gainMap = fixtures::ExiftoolBinary(any.output, "MPImage2");
            EXPECT_TRUE(fixtures::ReadCoefficients(gainMap).progressive);
            ExpectTurnedLikeJpegtran(gainMap, phone.gainMap, kModeRotateRight);
        }
    }
    // A new gain map length with one digit more than the old, in a packet
    // without padding: a COM segment makes the old length 9999.
    const TBytes gainMap = GreyGainMap();
    TEngineRun alone;
    ASSERT_TRUE(alone.ValidateAndRotate(gainMap, kModeRotateRight));
    ASSERT_GT(alone.output.size(), gainMap.size());
    TPhoneFile phone = PhoneFile(true, gainMap);
    TXmpOptions gainMapXmp;
    gainMapXmp.imageSize = {{16, 8}};
    const std::size_t xmpSize = fixtures::XmpSegment(fixtures::BuildXmpPacket(gainMapXmp)).size();
    const std::size_t target = 10000 - (alone.output.size() - gainMap.size());
    fixtures::TSegmentBuilder comment;
    comment.Com(std::string(target - gainMap.size() - xmpSize - 4, 'c'));
    phone = PhoneFile(true, fixtures::InsertSegmentAfterSoi(gainMap, comment.Data()));
    ASSERT_EQ(phone.gainMap.size(), target);
    const auto xmp = *fixtures::FindSegment(phone.file, fixtures::kAPP1);
    TXmpOptions tight;
    tight.orientation = 6;
    tight.containerItems = {{"GainMap", target}};
    tight.padding = 0;
    const TBytes tightFile = fixtures::ReplaceSegment(
        phone.file, xmp, fixtures::XmpSegment(fixtures::BuildXmpPacket(tight)));
    // The MP header lies after the packet: the index still names the images.
    TEngineRun run;
    EXPECT_FALSE(run.ValidateAndRotate(tightFile, kModeRotateRight));
    EXPECT_EQ(run.Messages(kLevelError), (std::vector<TMessage>{{kMsgGainMapLength, 2}}));
}

// Bytes between the primary's scan and its EOI (zeros an encoder left after
// the last MCU, a comment) stay with the primary, and the index and the
// container still name the new primary and the turned gain map.
TEST(MultiPictureTest, BytesBetweenThePrimarysScanAndItsEoiKeepTheIndexTrue) {
    const TBytes kEoi = {0xFF, 0xD9};
    for (const TBytes& between : {TBytes{0, 0, 0}, fixtures::TSegmentBuilder().Com("c").Take()}) {
        const TPhoneFile phone = PhoneFile(true, GreyGainMap(), true, between);
        TEngineRun alone, run;
        ASSERT_TRUE(alone.ValidateAndRotate(phone.gainMap, kModeRotateRight));
        ASSERT_TRUE(run.ValidateAndRotate(phone.file, kModeRotateRight));
        const auto app2 = *fixtures::FindSegment(run.output, 0xFFE2);
        const auto index = ReadMpIndex(run.output.data() + app2.BodyOffset(), app2.length - 2u);
        ASSERT_TRUE(index.has_value());
        const std::size_t primarySize = index->entries[0].size;
        TBytes end = between;
        end.insert(end.end(), kEoi.begin(), kEoi.end());
        EXPECT_EQ(Slice(run.output, primarySize - end.size(), end.size()), end);
        const TMpEntry& gainMap = index->entries[1];
        EXPECT_EQ(app2.BodyOffset() + kMpfIdentifierSize + gainMap.offset, primarySize);
        EXPECT_EQ(Slice(run.output, primarySize, gainMap.size), alone.output);
        const auto xmp = *fixtures::FindSegment(run.output, fixtures::kAPP1);
        const auto items =
            ReadContainerItems(run.output.data() + xmp.BodyOffset() + kXmpIdentifierSize,
                               xmp.length - 2u - kXmpIdentifierSize);
        ASSERT_EQ(items.size(), 2u);
        EXPECT_EQ(items[1].length, alone.output.size());
    }
}

// The packet rewrite alone: both forms, any prefix bound to the TIFF
// namespace, with and without padding; the exchanged values differ in length;
// a nested resource's orientation (a placed document's) stays.
TEST(XmpRewriteTest, OrientationAndSizesChangeInPlaceAndTheLengthsOfTheContainerTake) {
    const std::string nested =
        "  <rdf:Description rdf:about=\"\" xmlns:xmpMM=\"http://ns.adobe.com/xap/1.0/mm/\"\n"
        "    xmlns:t2=\"http://ns.adobe.com/tiff/1.0/\">\n   <xmpMM:Pantry><rdf:Bag>"
        "<rdf:li rdf:parseType=\"Resource\"><t2:Orientation>8</t2:Orientation></rdf:li>"
        "</rdf:Bag></xmpMM:Pantry>\n  </rdf:Description>\n";
    for (const bool element : {false, true})
        for (const std::size_t padding : {std::size_t{0}, std::size_t{100}})
            for (const char* prefix : {"tiff", "t"}) {
                SCOPED_TRACE(testing::Message() << element << " " << padding << " " << prefix);
                TXmpOptions options{.elementForm = element,
                                    .tiffPrefix = prefix,
                                    .orientation = 6,
                                    .imageSize = {{640, 1024}},
                                    .pixelSize = {{640, 1024}},
                                    .containerItems = {{"GainMap", 999}},
                                    .extra = nested,
                                    .padding = padding};
                std::string packet = fixtures::BuildXmpPacket(options);
                auto* data = reinterpret_cast<std::uint8_t*>(packet.data());
                EXPECT_TRUE(RewriteXmpPacket(data, packet.size(), {true, true}));
                options.orientation = 1;
                options.imageSize = options.pixelSize = {{1024, 640}};
                EXPECT_EQ(packet, fixtures::BuildXmpPacket(options));

                EXPECT_EQ(ReadContainerItems(data, packet.size())[1].length, 999u);
                EXPECT_EQ(SetContainerItemLengths(data, packet.size(), {{1, 1000}}), padding > 0);
                if (padding > 0) {
                    options.containerItems = {{"GainMap", 1000}};
                    options.padding = padding - 1;
                }
                EXPECT_EQ(packet, fixtures::BuildXmpPacket(options));
            }
}

// A trimmed width of more digits than the old needs bytes from the padding:
// without them that property stays, the others change, and the rewrite says so.
TEST(XmpRewriteTest, AChangeThePaddingCannotTakeIsLeftOutAndSaidSo) {
    for (const std::size_t padding : {std::size_t{0}, std::size_t{100}}) {
        SCOPED_TRACE(padding);
        TXmpOptions options;
        options.orientation = 6;
        options.imageSize = {{640, 480}};
        options.padding = padding;
        std::string packet = fixtures::BuildXmpPacket(options);
        TXmpTurn turn;
        turn.uprightOrientation = true;
        turn.width = 10000;
        EXPECT_EQ(
            RewriteXmpPacket(reinterpret_cast<std::uint8_t*>(packet.data()), packet.size(), turn),
            padding > 0);
        options.orientation = 1;
        if (padding > 0) {
            options.imageSize = {{10000, 480}};
            options.padding = padding - 2;
        }
        EXPECT_EQ(packet, fixtures::BuildXmpPacket(options));
    }
}

}  // namespace
}  // namespace plume::test
