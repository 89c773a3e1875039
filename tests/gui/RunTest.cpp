// Runs started from the window: drops, the command line, the cancel button,
// a close during a run, and the boxes of errors.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFileInfo>
#include <QImageReader>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cstdlib>
#include <filesystem>

#include "BitStreamFile/MemoryStream.h"
#include "GuiTestSupport.h"
#include "app/texts/AppTexts.h"
#include "gui/GuiTexts.h"
#include "gui/PlumeApplication.h"

namespace plume::gui::test {
namespace {

using TRunTest = TGuiTest;

QString Utf8(const char* text) {
    return QString::fromUtf8(text);
}

// Size of the stored picture as its pixels lie (no EXIF turn applied).
QSize StoredSize(const QString& path) {
    QImageReader reader(path);
    reader.setAutoTransform(false);
    return reader.size();
}

QString LabelText(const QWidget& window, const char* name) {
    return Child<QLabel>(window, name)->text();
}

QString CancelCaption(const QWidget& window) {
    return Child<QPushButton>(window, "Btn_Cancel")->text();
}

// Presses the button at the run's next pumping point.
void QueueClick(QPushButton* button) {
    QMetaObject::invokeMethod(button, "click", Qt::QueuedConnection);
}

TEST_F(TRunTest, DroppedFolderIsRunAndTheWindowStaysOpen) {
    const QString turned = WriteFile("pics/a.jpg", ExifPhoto(6));
    const QString upright = WriteFile("pics/b.JPG", ExifPhoto(1));
    WriteFile("pics/notes.txt", "not a photo");
    const QByteArray before = ReadBytes(turned);
    TWatchedWindow window;
    window.show();

    EXPECT_TRUE(Drop(window, {Folder() + "/pics"}));

    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.FileList().size(), 2u);
    EXPECT_EQ(StoredSize(Folder() + "/pics/result/a.jpg"), QSize(48, 64));
    EXPECT_FALSE(QFileInfo::exists(Folder() + "/pics/result/b.JPG"));
    EXPECT_EQ(ReadBytes(turned), before);  // the result method leaves the input alone
    EXPECT_EQ(LabelText(window, "Lbl_Status"), Utf8("処理を完了しました"));
    EXPECT_EQ(LabelText(window, "Lbl_FileName"), QString());
    EXPECT_EQ(LabelText(window, "Lbl_FileCounter"), QStringLiteral("( 2 / 2 )"));
    EXPECT_TRUE(Child<QLabel>(window, "Lbl_FileCounter")->isVisible());
    EXPECT_EQ(CancelCaption(window), Utf8("閉じる"));
    EXPECT_TRUE(boxes_.Boxes.empty());

    // A second drop replaces the list; the box asks for files needing no turn too.
    Child<QCheckBox>(window, "Chk_OperateAllFile")->setChecked(true);
    EXPECT_TRUE(Drop(window, {upright}));
    ASSERT_EQ(window.FileList().size(), 1u);
    EXPECT_EQ(window.FileList().front(), upright.toStdString());
    EXPECT_EQ(StoredSize(Folder() + "/pics/result/b.JPG"), QSize(64, 48));
    EXPECT_EQ(LabelText(window, "Lbl_FileCounter"), QStringLiteral("( 1 / 1 )"));
    EXPECT_TRUE(window.isVisible());
}

// The three run options of the panel reach the run: a mirrored photo is set
// right, one whose EXIF follows a comment is read, and one whose turn would
// bring a partial edge to the left is left alone without a warning box.
TEST_F(TRunTest, PanelRunOptionsReachTheRun) {
    QByteArray later = ExifPhoto(8);
    later.insert(2, QByteArray("\xFF\xFE\x00\x04hi", 6));
    WriteFile("opts/a.jpg", ExifPhoto(2));
    const QString partial =
        WriteFile("opts/b.jpg", WithExif(EncodeJpeg(QSize(64, 43), Qt::blue), 6));
    WriteFile("opts/c.jpg", later);
    const QByteArray before = ReadBytes(partial);
    TWatchedWindow window;
    Child<QCheckBox>(window, "chk_FixMirrored")->setChecked(true);
    Child<QCheckBox>(window, "chk_ExifAnywhere")->setChecked(true);
    Child<QComboBox>(window, "cbo_EdgePolicy")->setCurrentIndex(2);
    window.show();
    Drop(window, {Folder() + "/opts"});

    EXPECT_TRUE(boxes_.Boxes.empty());
    EXPECT_EQ(window.Statuses,
              (std::vector<std::string>{kStatusAnalysing, kStatusFlipHorizontal, kStatusAnalysing,
                                        kStatusRotateRight, kStatusSkippedPartialEdge,
                                        kStatusAnalysing, kStatusRotateLeft, kStatusCompleted}));
    EXPECT_EQ(StoredSize(Folder() + "/opts/result/a.jpg"), QSize(64, 48));
    EXPECT_FALSE(QFileInfo::exists(Folder() + "/opts/result/b.jpg"));
    EXPECT_EQ(ReadBytes(partial), before);
    EXPECT_EQ(StoredSize(Folder() + "/opts/result/c.jpg"), QSize(48, 64));
}

// The bar repaints at most once a frame while the engine reports every MCU
// row, but each pumping point shows the last position, and the run ends at 0.
TEST_F(TRunTest, ProgressBarShowsTheLastPositionAtEachPumpingPoint) {
    for (int i = 1; i <= 3; ++i)
        WriteFile(QStringLiteral("bar/p%1.jpg").arg(i),
                  WithExif(EncodeJpeg(QSize(640, 480), Qt::red), 6));
    TWatchedWindow window;
    window.show();
    Drop(window, {Folder() + "/bar"});
    ASSERT_EQ(window.Pumped.size(), 6u);
    for (const auto& pumped : window.Pumped) EXPECT_EQ(pumped.Shown, pumped.Reported);
    EXPECT_GT(window.Pumped[2].Reported, 0);  // file 2 starts where file 1 ended
    EXPECT_EQ(Child<QProgressBar>(window, "ProgressBar")->value(), 0);
    EXPECT_TRUE(QFileInfo::exists(Folder() + "/bar/result/p3.jpg"));
}

TEST_F(TRunTest, DroppedPathsLongerThan255CharactersAreKeptWhole) {
    QString relative;
    for (int i = 0; i < 9; ++i)
        relative += QStringLiteral("folder_with_a_rather_long_name_%1/").arg(i);
    const QString photo = WriteFile(relative + QStringLiteral("写真.jpg"), ExifPhoto(3));
    ASSERT_GT(photo.size(), 255);
    TWatchedWindow window;
    window.show();
    EXPECT_TRUE(Drop(window, {photo}));
    ASSERT_EQ(window.FileList().size(), 1u);
    EXPECT_EQ(QString::fromStdString(window.FileList().front()), photo);
    EXPECT_EQ(StoredSize(Folder() + "/" + relative + QStringLiteral("result/写真.jpg")),
              QSize(64, 48));
    EXPECT_TRUE(boxes_.Boxes.empty());
}

// A file dropped by itself is taken when it is a JPEG whatever its name
// (a ".jpeg" from a file manager); one that is not is named in one box.
TEST_F(TRunTest, DroppedFilesAreTakenByTheirContent) {
    const QString notes = WriteFile("notes.txt", "text");
    const QString fake = WriteFile("fake.jpeg", "no picture");
    TWatchedWindow window;
    window.show();
    Drop(window, {notes, fake});
    EXPECT_TRUE(window.FileList().empty());
    EXPECT_EQ(LabelText(window, "Lbl_FileName"), Utf8("ファイルをドラッグすると"));
    EXPECT_FALSE(Child<QLabel>(window, "Lbl_FileCounter")->isVisible());
    ASSERT_EQ(boxes_.Boxes.size(), 1u);
    EXPECT_EQ(boxes_.Boxes[0].Kind, TBoxKind::Plain);
    const std::string expected = FormatPathText(kSkippedNotJpeg, notes.toStdString()) + "\n" +
                                 FormatPathText(kSkippedNotJpeg, fake.toStdString());
    EXPECT_EQ(boxes_.Boxes[0].Text, Utf8(expected.c_str()));

    const QString jpeg = WriteFile("photo.jpeg", ExifPhoto(6));
    Drop(window, {jpeg});
    EXPECT_EQ(StoredSize(Folder() + "/result/photo.jpeg"), QSize(48, 64));
}

// The partial-edge warning comes for every such photo; ticked, its check box
// keeps it away for the rest of the run, and the next run shows it again.
TEST_F(TRunTest, PartialEdgeWarningCanBeTurnedOffForTheRestOfTheRun) {
    QStringList photos;
    for (int i = 1; i <= 3; ++i)
        photos << WriteFile(QStringLiteral("edges/p%1.jpg").arg(i),
                            WithExif(EncodeJpeg(QSize(50, 30), QColor(40, 90, 200)), 6));
    TWatchedWindow window;
    window.show();
    boxes_.TickCheckBox = true;
    Drop(window, photos);
    ASSERT_EQ(boxes_.Boxes.size(), 1u);
    EXPECT_EQ(boxes_.Boxes[0].Kind, TBoxKind::Warning);
    EXPECT_EQ(boxes_.Boxes[0].CheckText, Utf8(kNoMoreForThisRun));
    EXPECT_TRUE(QFileInfo::exists(Folder() + "/edges/result/p3.jpg"));
    boxes_.TickCheckBox = false;
    Drop(window, photos);
    EXPECT_EQ(boxes_.Boxes.size(), 4u);
}

// As a file manager or a user's terminal starts it: --help answers without
// asking for a display (the xcb platform without one would end the program).
TEST(TProgram, HelpPrintsTheUsageWithoutAWindow) {
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    const auto program = self.parent_path().parent_path() / "src/gui/plume";
    const std::string output = (std::filesystem::temp_directory_path() / "plume-help.txt").string();
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY LANGUAGE= LC_ALL=C QT_QPA_PLATFORM=xcb '" +
        program.string() + "' --help >'" + output + "' 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);
    const QByteArray text = ReadBytes(QString::fromStdString(output));
    EXPECT_TRUE(text.startsWith("Usage: plume [FILES-OR-FOLDERS...]")) << text.toStdString();
    std::filesystem::remove(output);
}

TEST_F(TRunTest, CommandLineStartRunsThenCloses) {
    WriteFile("cmd/x.jpg", ExifPhoto(8));
    TWatchedWindow window;
    window.SetCommandLine({Folder() + "/cmd"});
    window.show();
    EXPECT_TRUE(WaitUntil([&] { return !window.isVisible(); }));
    EXPECT_EQ(StoredSize(Folder() + "/cmd/result/x.jpg"), QSize(48, 64));
    // Closing wrote the settings.
    EXPECT_TRUE(OpenStore()->contains(QStringLiteral("gSaveMethod")));
    EXPECT_TRUE(boxes_.Boxes.empty());
}

TEST_F(TRunTest, CommandLineWithoutJpegPathsKeepsTheWindowWaiting) {
    const QString notes = WriteFile("notes.txt", "text");
    TWatchedWindow window;
    window.SetCommandLine({notes});
    window.show();
    EXPECT_TRUE(
        WaitUntil([&] { return !Child<QObject>(window, "Timer")->property("active").toBool(); }));
    WaitUntil([] { return false; }, 150);
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.FileList().empty());
}

TEST_F(TRunTest, CommandLineRunEndingInAnErrorKeepsTheWindowOpen) {
    const QString missing = Folder() + "/missing.jpg";
    WriteFile("later.jpg", ExifPhoto(6));
    TWatchedWindow window;
    window.SetCommandLine({missing, Folder() + "/later.jpg"});
    window.show();
    ASSERT_TRUE(WaitUntil([&] { return !boxes_.Boxes.empty(); }));
    WaitUntil([] { return false; }, 200);
    EXPECT_TRUE(window.isVisible());
    ASSERT_EQ(boxes_.Boxes.size(), 1u);
    EXPECT_EQ(boxes_.Boxes[0].Kind, TBoxKind::Error);
    EXPECT_EQ(boxes_.Boxes[0].Caption, Utf8("エラー"));
    EXPECT_EQ(boxes_.Boxes[0].Text, Utf8("ファイル ") + missing + Utf8(" は開けません"));
    // The run ended at that file; the window is idle again.
    EXPECT_FALSE(QFileInfo::exists(Folder() + "/result"));
    EXPECT_FALSE(window.InRun());
    EXPECT_EQ(CancelCaption(window), Utf8("閉じる"));
    Child<QPushButton>(window, "Btn_Cancel")->click();
    EXPECT_FALSE(window.isVisible());
}

TEST_F(TRunTest, CancelButtonStopsTheRunAfterTheCurrentFile) {
    for (int i = 1; i <= 5; ++i) WriteFile(QStringLiteral("five/p%1.jpg").arg(i), ExifPhoto(6));
    TWatchedWindow window;
    auto* cancel = Child<QPushButton>(window, "Btn_Cancel");
    QString captionDuringRun;
    window.OnCounter = [&](const std::string& counter) {
        if (counter == "( 1 / 5 )") captionDuringRun = cancel->text();
        if (counter == "( 2 / 5 )") QueueClick(cancel);
    };
    window.show();
    Drop(window, {Folder() + "/five"});

    EXPECT_EQ(captionDuringRun, Utf8("キャンセル"));
    for (int i = 1; i <= 5; ++i) {
        EXPECT_EQ(QFileInfo::exists(Folder() + QStringLiteral("/five/result/p%1.jpg").arg(i)),
                  i <= 2)
            << i;
    }
    EXPECT_EQ(LabelText(window, "Lbl_Status"), Utf8("処理を中断しました"));
    EXPECT_EQ(cancel->text(), Utf8("閉じる"));
    EXPECT_TRUE(window.isVisible());
    // After the run the same button closes the window.
    cancel->click();
    EXPECT_FALSE(window.isVisible());
}

TEST_F(TRunTest, DropDuringARunIsIgnored) {
    WriteFile("first/a.jpg", ExifPhoto(6));
    WriteFile("first/b.jpg", ExifPhoto(3));
    const QString other = WriteFile("second/c.jpg", ExifPhoto(6));
    TWatchedWindow window;
    bool accepted = true;
    window.OnCounter = [&](const std::string& counter) {
        if (counter == "( 1 / 2 )") accepted = Drop(window, {other});
    };
    window.show();
    Drop(window, {Folder() + "/first"});

    EXPECT_FALSE(accepted);
    ASSERT_EQ(window.FileList().size(), 2u);
    EXPECT_TRUE(QFileInfo::exists(Folder() + "/first/result/a.jpg"));
    EXPECT_TRUE(QFileInfo::exists(Folder() + "/first/result/b.jpg"));
    EXPECT_FALSE(QFileInfo::exists(Folder() + "/second/result"));
    EXPECT_EQ(LabelText(window, "Lbl_Status"), Utf8("処理を完了しました"));
}

TEST_F(TRunTest, CloseDuringARunWritesTheSettingsAndTheRunGoesOn) {
    for (int i = 1; i <= 3; ++i) WriteFile(QStringLiteral("three/p%1.jpg").arg(i), ExifPhoto(6));
    TWatchedWindow window;
    bool storedAtClose = false;
    window.OnCounter = [&](const std::string& counter) {
        if (counter == "( 1 / 3 )") {
            window.close();
            storedAtClose = OpenStore()->contains(QStringLiteral("gShowOption"));
        }
    };
    window.show();
    Drop(window, {Folder() + "/three"});
    EXPECT_TRUE(storedAtClose);
    EXPECT_FALSE(window.isVisible());
    for (int i = 1; i <= 3; ++i) {
        EXPECT_TRUE(QFileInfo::exists(Folder() + QStringLiteral("/three/result/p%1.jpg").arg(i)))
            << i;
    }
}

TEST_F(TRunTest, ProgramEndsWhenARunThatOutlivedItsWindowReturns) {
    for (int i = 1; i <= 3; ++i) WriteFile(QStringLiteral("late/p%1.jpg").arg(i), ExifPhoto(6));
    TWatchedWindow window;
    bool runDone = false;
    window.OnCounter = [&](const std::string& counter) {
        if (counter == "( 1 / 3 )") window.close();
    };
    window.show();
    QApplication::setQuitOnLastWindowClosed(true);
    QTimer::singleShot(0, [&] {
        Drop(window, {Folder() + "/late"});
        runDone = true;
    });
    QTimer guard;  // never hang the suite
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    guard.start(10000);
    const int result = QApplication::exec();
    QApplication::setQuitOnLastWindowClosed(false);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(runDone);
    EXPECT_TRUE(QFileInfo::exists(Folder() + "/late/result/p3.jpg"));
}

TEST_F(TRunTest, EngineErrorShowsAnErrorBoxAndTheNextFileIsHandled) {
    const QString progressive = WriteFile(
        "mixed/a.jpg",
        WithExif(EncodeJpeg(QSize(64, 48), QColor(10, 200, 10), /*progressive=*/true), 6));
    WriteFile("mixed/b.jpg", ExifPhoto(6));
    const QByteArray before = ReadBytes(progressive);
    TWatchedWindow window;
    window.show();
    Drop(window, {Folder() + "/mixed"});

    ASSERT_EQ(boxes_.Boxes.size(), 1u);
    const TRecordedBox& box = boxes_.Boxes[0];
    EXPECT_EQ(box.Kind, TBoxKind::Error);
    EXPECT_EQ(box.Caption, Utf8("エラー"));
    const QStringList lines = box.Text.split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 3);
    EXPECT_FALSE(lines.front().isEmpty());
    EXPECT_EQ(lines[lines.size() - 2], Utf8("処理を行うことが出来ません。"));
    // The check box that would turn it, named as the window shows it.
    EXPECT_EQ(
        lines.back(),
        Utf8("「プログレッシブ形式などのJPEGも回転する。」をオンにすると、この画像も回転します。"));
    EXPECT_FALSE(QFileInfo::exists(Folder() + "/mixed/result/a.jpg"));
    EXPECT_EQ(ReadBytes(progressive), before);
    EXPECT_EQ(StoredSize(Folder() + "/mixed/result/b.jpg"), QSize(48, 64));
    EXPECT_EQ(LabelText(window, "Lbl_Status"), Utf8("処理を完了しました"));
}

// An object whose events end in a stream error, as a run's may.
class TThrowingObject : public QObject {
  public:
    bool event(QEvent*) override { throw EStreamError(kStreamReadError); }
};

TEST_F(TRunTest, ApplicationShowsAnUncaughtErrorAndCarriesOn) {
    auto* application = dynamic_cast<TPlumeApplication*>(QCoreApplication::instance());
    ASSERT_NE(application, nullptr);
    TThrowingObject object;
    QEvent event(QEvent::User);
    EXPECT_FALSE(QCoreApplication::sendEvent(&object, &event));
    ASSERT_EQ(boxes_.Boxes.size(), 1u);
    EXPECT_EQ(boxes_.Boxes[0].Kind, TBoxKind::Error);
    EXPECT_EQ(boxes_.Boxes[0].Text, Utf8("ストリームからの読み込みエラー"));
}

}  // namespace
}  // namespace plume::gui::test
