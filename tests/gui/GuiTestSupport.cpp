#include "GuiTestSupport.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QMimeData>
#include <QProgressBar>
#include <QThread>
#include <QUrl>

namespace plume::gui::test {

std::unique_ptr<QSettings> OpenStore() {
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                       QStringLiteral("Tidecrest"), QStringLiteral("plume_auto"));
}

void ClearStore() {
    auto store = OpenStore();
    store->clear();
    store->sync();
}

TBoxRecorder::TBoxRecorder() {
    SetMessageBoxHandler([this](TBoxKind kind, const QString& caption, const QString& text,
                                const QString& checkText) {
        Boxes.push_back({kind, caption, text, checkText});
        if (OnBox) OnBox(Boxes.back());
        return TickCheckBox && !checkText.isEmpty();
    });
}

TBoxRecorder::~TBoxRecorder() {
    SetMessageBoxHandler({});
}

TWatchedWindow::TWatchedWindow() {
    SetCommandLine({});
}

void TWatchedWindow::SetFileCounter(const std::string& text) {
    TFm_Main::SetFileCounter(text);
    if (OnCounter) OnCounter(text);
}

void TWatchedWindow::SetStatus(const std::string& text) {
    TFm_Main::SetStatus(text);
    Statuses.push_back(text);
}

void TWatchedWindow::SetProgressPosition(int position) {
    TFm_Main::SetProgressPosition(position);
    reported_ = position;
}

void TWatchedWindow::ProcessMessages() {
    TFm_Main::ProcessMessages();
    Pumped.push_back({findChild<QProgressBar*>(QStringLiteral("ProgressBar"))->value(), reported_});
    if (OnPump) OnPump();
}

bool Drop(QWidget& window, const QStringList& paths) {
    QMimeData mime;
    QList<QUrl> urls;
    for (const QString& path : paths) urls << QUrl::fromLocalFile(path);
    mime.setUrls(urls);
    QDragEnterEvent enter(QPoint(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    QDropEvent drop(QPointF(20, 20), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
    return enter.isAccepted();
}

bool WaitUntil(const std::function<bool()>& done, int milliseconds) {
    QDeadlineTimer deadline(milliseconds);
    while (!done()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

void TGuiTest::SetUp() {
    ASSERT_TRUE(folder_.isValid());
    ClearStore();
}

void TGuiTest::TearDown() {
    ClearStore();
}

QString TGuiTest::WriteFile(const QString& relative, const QByteArray& bytes) {
    const QString path = folder_.filePath(relative);
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
}

QByteArray EncodeJpeg(const QSize& size, const QColor& color, bool progressive) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    // A darker quarter, so that a turn is visible in the pixels.
    for (int y = 0; y < size.height() / 2; ++y)
        for (int x = 0; x < size.width() / 2; ++x) image.setPixelColor(x, y, color.darker(300));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(90);
    writer.setProgressiveScanWrite(progressive);
    EXPECT_TRUE(writer.write(image)) << writer.errorString().toStdString();
    return bytes;
}

namespace {

void Put16(QByteArray& out, int value) {
    out.append(static_cast<char>((value >> 8) & 0xFF));
    out.append(static_cast<char>(value & 0xFF));
}

void Put32(QByteArray& out, quint32 value) {
    Put16(out, static_cast<int>(value >> 16));
    Put16(out, static_cast<int>(value & 0xFFFF));
}

void PutEntry(QByteArray& out, int tag, int type, quint32 value) {
    Put16(out, tag);
    Put16(out, type);
    Put32(out, 1);
    if (type == 3) {
        Put16(out, static_cast<int>(value));
        Put16(out, 0);
    } else {
        Put32(out, value);
    }
}

}  // namespace

QByteArray WithExif(const QByteArray& jpeg, int orientation, const QByteArray& thumbnail) {
    constexpr int kShort = 3;
    constexpr int kLong = 4;
    QByteArray tiff("MM", 2);
    Put16(tiff, 42);
    Put32(tiff, 8);
    // IFD0: the orientation.
    Put16(tiff, 1);
    PutEntry(tiff, 0x0112, kShort, static_cast<quint32>(orientation));
    const quint32 ifd1 = thumbnail.isEmpty() ? 0 : 8 + 2 + 12 + 4;
    Put32(tiff, ifd1);
    if (!thumbnail.isEmpty()) {
        // IFD1: a JPEG thumbnail right after it.
        const quint32 thumbnailOffset = ifd1 + 2 + 3 * 12 + 4;
        Put16(tiff, 3);
        PutEntry(tiff, 0x0103, kShort, 6);
        PutEntry(tiff, 0x0201, kLong, thumbnailOffset);
        PutEntry(tiff, 0x0202, kLong, static_cast<quint32>(thumbnail.size()));
        Put32(tiff, 0);
        tiff.append(thumbnail);
    }
    QByteArray out;
    out.append(jpeg.left(2));  // SOI
    Put16(out, 0xFFE1);
    Put16(out, 2 + 6 + static_cast<int>(tiff.size()));
    out.append("Exif\0\0", 6);
    out.append(tiff);
    out.append(jpeg.mid(2));
    return out;
}

QByteArray ExifPhoto(int orientation) {
    return WithExif(EncodeJpeg(QSize(64, 48), QColor(40, 90, 200)), orientation,
                    EncodeJpeg(QSize(32, 24), QColor(220, 30, 30)));
}

QByteArray ReadBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

}  // namespace plume::gui::test
