// Img_Thumb: shows a picture centred in its area, scaled down in proportion
// when it is larger than the area and never enlarged.
#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <vector>

namespace plume::gui {

// Decodes JPEG bytes (an EXIF thumbnail); bytes that do not decode give a
// null image.
QImage DecodeThumbnail(const std::vector<std::uint8_t>& jpeg);

// Where a picture of the given size is drawn inside an area of the given size.
QRect PlacePicture(const QSize& picture, const QSize& area);

class TThumbImage : public QWidget {
  public:
    explicit TThumbImage(QWidget* parent = nullptr);

    void SetPicture(const QImage& picture);
    void Clear();
    const QImage& Picture() const { return picture_; }
    bool HasPicture() const { return !picture_.isNull(); }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QImage picture_;
};

}  // namespace plume::gui
