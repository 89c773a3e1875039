// The EXIF rewrite on the sample photos and on synthetic files, judged by
// exiftool: after a turn every tag reads as before except the Orientation
// (1, in EXIF and XMP), the exchanged pairs and the thumbnail, no new warning appears, and a
// turned thumbnail holds exactly the blocks jpegtran gives for it.
#include <map>

#include "ExifRewriteTestSupport.h"

namespace plume::test {
namespace {

using TTags = std::map<std::string, std::string>;

// exiftool's names of the pairs (group:tag).
struct TTagPair {
    const char* first;
    const char* second;
};
constexpr TTagPair kMainPairs[] = {{"IFD0:XResolution", "IFD0:YResolution"},
                                   {"ExifIFD:ExifImageWidth", "ExifIFD:ExifImageHeight"},
                                   {"XMP-tiff:ImageWidth", "XMP-tiff:ImageHeight"},
                                   {"XMP-exif:ExifImageWidth", "XMP-exif:ExifImageHeight"}};
constexpr TTagPair kThumbnailPairs[] = {
    {"IFD1:ImageWidth", "IFD1:ImageHeight"},
    {"IFD1:XResolution", "IFD1:YResolution"},
    {"ExifIFD:FocalPlaneXResolution", "ExifIFD:FocalPlaneYResolution"}};

// What the file tells about itself rather than its EXIF: name, size, frame.
TTags WithoutFileTags(TTags tags) {
    std::erase_if(tags, [](const auto& entry) {
        const std::string& key = entry.first;
        return key.starts_with("System:") || key.starts_with("File:") ||
               key.starts_with("Composite:") || key.starts_with("ExifTool:ExifToolVersion");
    });
    return tags;
}

void Exchange(TTags& tags, const TTagPair& pair) {
    const auto a = tags.find(pair.first), b = tags.find(pair.second);
    if (a != tags.end() && b != tags.end()) std::swap(a->second, b->second);
}

struct TCase {
    std::uint8_t mode;
    bool allowBreakDCF;
};
constexpr TCase kCases[] = {{kModeRotateRight, false},
                            {kModeRotateRight, true},
                            {kModeRotateLeft, true},
                            {kModeRotate180, false}};

// One file through the four cases, compared with exiftool's reading of the input.
void CheckFile(const TBytes& input) {
    const auto inExif = fixtures::ParseExif(input);
    ASSERT_TRUE(inExif.has_value());
    std::vector<TBytes> files = {input};
    for (const TCase& c : kCases) files.push_back(RotateOk(input, c.mode, c.allowBreakDCF));
    const auto tags = fixtures::ExiftoolTags(files);
    const TTags before = WithoutFileTags(tags[0]);
    const TBytes thumbnail = inExif->JpegThumbnail();

    for (std::size_t i = 0; i < std::size(kCases); ++i) {
        const TCase& c = kCases[i];
        SCOPED_TRACE(testing::Message() << "mode " << int(c.mode) << " allow " << c.allowBreakDCF);
        const TBytes& output = files[i + 1];
        const auto outExif = fixtures::ParseExif(output);
        ASSERT_TRUE(outExif.has_value());
        EXPECT_EQ(outExif->Number(outExif->ifd0, fixtures::tag::kOrientation).value_or(1), 1u);

        TTags expected = before;
        // The XMP orientation follows IFD0's.
        if (expected.count("IFD0:Orientation"))
            for (const char* key : {"IFD0:Orientation", "XMP-tiff:Orientation"})
                if (expected.count(key)) expected[key] = "1";
        const bool quarter = ExchangesDimensions(c.mode);
        if (quarter)
            for (const TTagPair& pair : kMainPairs) Exchange(expected, pair);
        const TBytes newThumbnail = outExif->JpegThumbnail();
        const bool turned = !thumbnail.empty() && newThumbnail != thumbnail;
        if (turned) {
            EXPECT_FALSE(quarter && !c.allowBreakDCF) << "thumbnail turned sideways";
            if (quarter)
                for (const TTagPair& pair : kThumbnailPairs) Exchange(expected, pair);
            for (const char* key : {"IFD1:ThumbnailLength", "IFD1:ThumbnailImage"})
                if (tags[i + 1].count(key)) expected[key] = tags[i + 1].at(key);
            if (fixtures::HaveJpegtran()) ExpectTurnedLikeJpegtran(newThumbnail, thumbnail, c.mode);
        }
        // The multi-picture index gives the primary's new size (MultiPictureTest
        // checks every entry of files with secondary images).
        if (const auto it = before.find("MPImage1:MPImageLength"); it != before.end()) {
            const bool whole = it->second == std::to_string(input.size());
            expected[it->first] = whole ? std::to_string(output.size()) : tags[i + 1].at(it->first);
        }
        const TTags after = WithoutFileTags(tags[i + 1]);
        for (const auto& [key, value] : after) {
            const auto it = expected.find(key);
            if (it == expected.end())
                ADD_FAILURE() << key << " is new: " << value;
            else
                EXPECT_EQ(it->second, value) << key;
        }
        for (const auto& [key, value] : expected)
            EXPECT_TRUE(after.count(key)) << key << " lost (was " << value << ")";
    }
}

TEST(ExifRewriteSampleTest, SamplePhotosKeepEveryTagButTheOnesTheTurnChanges) {
    PLUME_REQUIRE_SAMPLES();
    PLUME_REQUIRE_EXIFTOOL();
    int checked = 0;
    for (const auto& path : fixtures::SamplePhotos()) {
        const TBytes jpeg = fixtures::ReadFileBytes(path);
        if (!fixtures::IsBaseline(jpeg)) continue;
        std::optional<fixtures::TParsedExif> exif;
        try {
            exif = fixtures::ParseExif(jpeg);
        } catch (const std::runtime_error&) {
            continue;
        }
        if (!exif) continue;
        // Photos the engine refuses, or whose scan is cut short, are not turned.
        TJpegRotation engine;
        TMemoryStream stream(jpeg), scratch;
        if (!engine.ValidateJpeg(stream) || !engine.RotateJpeg(stream, scratch, kModeRotate180))
            continue;
        SCOPED_TRACE(path.string());
        CheckFile(jpeg);
        ++checked;
    }
    EXPECT_GT(checked, 10);
}

TEST(ExifRewriteSampleTest, SyntheticFilesKeepEveryTagButTheOnesTheTurnChanges) {
    PLUME_REQUIRE_EXIFTOOL();
    for (const bool little : {true, false}) {
        SCOPED_TRACE(little ? "II" : "MM");
        CheckFile(PhotoWithExif(CameraExif(little)));
        fixtures::TExifOptions uncompressed = CameraExif(little);
        uncompressed.ifd1 = fixtures::UncompressedThumbnailIfd1(4, 2);
        uncompressed.thumbnail.assign(24, 0x40);
        CheckFile(PhotoWithExif(uncompressed));
    }
}

}  // namespace
}  // namespace plume::test
