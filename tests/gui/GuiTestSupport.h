// Helpers of the window's suites: a clean settings store, recorded message
// boxes, windows that ignore the test program's own command line, and small
// JPEG files with an EXIF orientation and thumbnail.
#pragma once

#include <gtest/gtest.h>

#include <QByteArray>
#include <QColor>
#include <QSettings>
#include <QSize>
#include <QString>
#include <QTemporaryDir>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/MainWindow.h"
#include "gui/MessageBoxes.h"

namespace plume::gui::test {

// The store the window reads and writes.
std::unique_ptr<QSettings> OpenStore();
void ClearStore();

struct TRecordedBox {
    TBoxKind Kind;
    QString Caption;
    QString Text;
    QString CheckText;  // the box's check box, if it has one
};

// Takes the place of the modal boxes while it lives.
class TBoxRecorder {
  public:
    TBoxRecorder();
    ~TBoxRecorder();
    std::vector<TRecordedBox> Boxes;
    // Whether a box with a check box is closed with it ticked.
    bool TickCheckBox = false;
    // Called for each box after it has been recorded.
    std::function<void(const TRecordedBox&)> OnBox;
};

// A window whose view calls can be watched: OnCounter sees each file counter
// text as the run shows it, Statuses every status text, and Pumped the
// progress bar's value at each pumping point beside the last position the
// run reported.
class TWatchedWindow : public TFm_Main {
  public:
    TWatchedWindow();
    std::function<void(const std::string& text)> OnCounter;
    std::vector<std::string> Statuses;
    struct TPumpedProgress {
        int Shown, Reported;
    };
    std::vector<TPumpedProgress> Pumped;
    std::function<void()> OnPump;  // at each pumping point, after the events
    void SetFileCounter(const std::string& text) override;
    void SetStatus(const std::string& text) override;
    void SetProgressPosition(int position) override;
    void ProcessMessages() override;

  private:
    int reported_ = 0;
};

// Drags the paths over the window and drops them, as the desktop does; true
// when the window accepted the drag.
bool Drop(QWidget& window, const QStringList& paths);

// Processes events until done() holds or the time is up; the result of done().
bool WaitUntil(const std::function<bool()>& done, int milliseconds = 5000);

// Suite base: a clean store before and after, boxes recorded, a temporary folder.
class TGuiTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
    QString Folder() const { return folder_.path(); }
    // A new file in the temporary folder (sub-folders made as needed).
    QString WriteFile(const QString& relative, const QByteArray& bytes);

    TBoxRecorder boxes_;

  private:
    QTemporaryDir folder_;
};

template <typename T>
T* Child(const QWidget& window, const char* name) {
    return window.findChild<T*>(QString::fromLatin1(name));
}

// A baseline JPEG (or a progressive one) of one colour, through Qt's writer.
QByteArray EncodeJpeg(const QSize& size, const QColor& color, bool progressive = false);
// jpeg with a big-endian EXIF segment right after SOI: IFD0 holds the
// orientation, IFD1 the thumbnail (none when thumbnail is empty).
QByteArray WithExif(const QByteArray& jpeg, int orientation, const QByteArray& thumbnail = {});
// A 64 x 48 photo with orientation and a 32 x 24 red thumbnail.
QByteArray ExifPhoto(int orientation);

QByteArray ReadBytes(const QString& path);

}  // namespace plume::gui::test
