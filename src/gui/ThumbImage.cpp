#include "gui/ThumbImage.h"

#include <QBuffer>
#include <QImageReader>
#include <QPainter>

namespace plume::gui {

QImage DecodeThumbnail(const std::vector<std::uint8_t>& jpeg) {
    if (jpeg.empty()) return {};
    QByteArray bytes(reinterpret_cast<const char*>(jpeg.data()),
                     static_cast<qsizetype>(jpeg.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    reader.setAutoTransform(false);
    QImage picture;
    if (!reader.read(&picture)) return {};
    return picture;
}

QRect PlacePicture(const QSize& picture, const QSize& area) {
    if (picture.isEmpty() || area.isEmpty()) return {};
    QSize size = picture;
    if (size.width() > area.width() || size.height() > area.height()) {
        size = picture.scaled(area, Qt::KeepAspectRatio);
        size = size.expandedTo(QSize(1, 1));
    }
    return QRect(QPoint((area.width() - size.width()) / 2, (area.height() - size.height()) / 2),
                 size);
}

TThumbImage::TThumbImage(QWidget* parent) : QWidget(parent) {}

void TThumbImage::SetPicture(const QImage& picture) {
    picture_ = picture;
    update();
}

void TThumbImage::Clear() {
    picture_ = QImage();
    update();
}

void TThumbImage::paintEvent(QPaintEvent*) {
    if (picture_.isNull()) return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(PlacePicture(picture_.size(), size()), picture_);
}

}  // namespace plume::gui
