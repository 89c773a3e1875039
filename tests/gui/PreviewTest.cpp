// The preview: the EXIF thumbnail of the file being handled, centred in
// Img_Thumb and scaled down in proportion; what does not decode shows nothing.
#include <QColor>
#include <QImage>
#include <QImageReader>

#include "GuiTestSupport.h"
#include "gui/ThumbImage.h"

namespace plume::gui::test {
namespace {

using TPreviewTest = TGuiTest;

bool IsReddish(const QColor& color) {
    return color.red() > 150 && color.green() < 90 && color.blue() < 90;
}

std::vector<std::uint8_t> Bytes(const QByteArray& bytes) {
    return {bytes.begin(), bytes.end()};
}

TEST(TPlacePicture, LargePicturesShrinkInProportionSmallOnesStayCentred) {
    const QSize area(160, 160);
    EXPECT_EQ(PlacePicture(QSize(320, 240), area), QRect(0, 20, 160, 120));
    EXPECT_EQ(PlacePicture(QSize(120, 480), area), QRect(60, 0, 40, 160));
    EXPECT_EQ(PlacePicture(QSize(32, 24), area), QRect(64, 68, 32, 24));
    EXPECT_EQ(PlacePicture(QSize(160, 160), area), QRect(0, 0, 160, 160));
    // A sliver keeps at least one pixel.
    EXPECT_EQ(PlacePicture(QSize(10000, 2), area).height(), 1);
    EXPECT_TRUE(PlacePicture(QSize(), area).isNull());
}

TEST(TDecodeThumbnail, DecodesJpegAndRefusesAnythingElse) {
    ASSERT_TRUE(QImageReader::supportedImageFormats().contains("jpeg"));
    const QImage picture = DecodeThumbnail(Bytes(EncodeJpeg(QSize(32, 24), QColor(220, 30, 30))));
    EXPECT_EQ(picture.size(), QSize(32, 24));
    EXPECT_TRUE(DecodeThumbnail({}).isNull());
    EXPECT_TRUE(DecodeThumbnail(Bytes("not a jpeg at all")).isNull());
    EXPECT_TRUE(DecodeThumbnail({0xFF, 0xD8, 0xFF, 0xDB, 0x00}).isNull());
}

TEST_F(TPreviewTest, RunShowsTheThumbnailOfTheExifPhotoCentred) {
    const QString photo = WriteFile("thumb/a.jpg", ExifPhoto(6));
    TWatchedWindow window;
    window.show();
    auto* image = Child<TThumbImage>(window, "Img_Thumb");
    ASSERT_NE(image, nullptr);
    EXPECT_FALSE(image->HasPicture());

    Drop(window, {photo});

    ASSERT_TRUE(image->HasPicture());
    EXPECT_EQ(image->Picture().size(), QSize(32, 24));
    const QImage shown = image->grab().toImage();
    ASSERT_EQ(shown.size(), QSize(160, 160));
    // Centred and not enlarged: the 32 x 24 picture covers (64, 68) to (95, 91);
    // its lower right quarter is plain red.
    EXPECT_TRUE(IsReddish(shown.pixelColor(88, 86)));
    EXPECT_TRUE(IsReddish(shown.pixelColor(94, 90)));
    EXPECT_FALSE(IsReddish(shown.pixelColor(97, 86)));
    EXPECT_FALSE(IsReddish(shown.pixelColor(88, 93)));
    EXPECT_FALSE(IsReddish(shown.pixelColor(40, 80)));
    EXPECT_TRUE(boxes_.Boxes.empty());
}

TEST_F(TPreviewTest, ThumbnailThatDoesNotDecodeLeavesThePreviewEmpty) {
    const QByteArray garbage("\xFF\xD8 this is no picture", 22);
    const QString photo = WriteFile(
        "bad/a.jpg", WithExif(EncodeJpeg(QSize(64, 48), QColor(40, 90, 200)), 6, garbage));
    TWatchedWindow window;
    window.show();
    auto* image = Child<TThumbImage>(window, "Img_Thumb");
    window.ShowPreview(Bytes(EncodeJpeg(QSize(32, 24), QColor(220, 30, 30))));
    ASSERT_TRUE(image->HasPicture());

    window.ShowPreview(Bytes(garbage));
    EXPECT_FALSE(image->HasPicture());

    // In a run: no box for the preview, and the file is still handled.
    Drop(window, {photo});
    EXPECT_FALSE(image->HasPicture());
    EXPECT_TRUE(boxes_.Boxes.empty());
    EXPECT_EQ(window.FileList().size(), 1u);
}

TEST_F(TPreviewTest, EachRunStartsWithAnEmptyPreview) {
    const QString withThumb = WriteFile("one/a.jpg", ExifPhoto(6));
    const QString without =
        WriteFile("two/b.jpg", WithExif(EncodeJpeg(QSize(64, 48), QColor(40, 90, 200)), 6));
    TWatchedWindow window;
    window.show();
    auto* image = Child<TThumbImage>(window, "Img_Thumb");
    Drop(window, {withThumb});
    ASSERT_TRUE(image->HasPicture());
    Drop(window, {without});
    EXPECT_FALSE(image->HasPicture());
}

// Within a run too: a photo without a thumbnail never shows the one before.
TEST_F(TPreviewTest, EachFileStartsWithAnEmptyPreview) {
    const QString withThumb = WriteFile("a.jpg", ExifPhoto(6));
    const QString without =
        WriteFile("b.jpg", WithExif(EncodeJpeg(QSize(64, 48), QColor(40, 90, 200)), 6));
    TWatchedWindow window;
    window.show();
    auto* image = Child<TThumbImage>(window, "Img_Thumb");
    std::vector<bool> analysed;  // at the pumping point after each file's analysis
    int pumps = 0;
    window.OnPump = [&] {
        if (++pumps % 2 == 0) analysed.push_back(image->HasPicture());
    };
    Drop(window, {withThumb, without});
    EXPECT_EQ(analysed, (std::vector<bool>{true, false}));
}

}  // namespace
}  // namespace plume::gui::test
