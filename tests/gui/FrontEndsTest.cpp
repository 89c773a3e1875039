// The two front ends drive one run: the window and the console, given the
// same photos and the same choices, write the same files, byte for byte and
// with the same times.
#include <QCheckBox>
#include <QComboBox>
#include <QDirIterator>
#include <QFileInfo>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "GuiTestSupport.h"

namespace plume::gui::test {
namespace {

using TFrontEndsTest = TGuiTest;

// Every file below folder, by its path relative to it: bytes and time.
std::map<QString, std::pair<QByteArray, qint64>> FilesBelow(const QString& folder) {
    std::map<QString, std::pair<QByteArray, qint64>> files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files[path.mid(folder.size())] = {ReadBytes(path),
                                          QFileInfo(path).lastModified().toMSecsSinceEpoch()};
    }
    return files;
}

TEST_F(TFrontEndsTest, WindowAndConsoleWriteTheSameFiles) {
    const auto self = std::filesystem::read_symlink("/proc/self/exe");
    const auto console = self.parent_path().parent_path() / "src/cli/plume-cli";
    if (!std::filesystem::exists(console)) GTEST_SKIP() << "plume-cli not built at " << console;
    // Turns with thumbnails, an upright photo stored by --all, a mirrored
    // one, and partial edges that come to the top or left.
    const std::pair<const char*, QByteArray> photos[] = {
        {"a.jpg", ExifPhoto(6)},
        {"b.jpg", ExifPhoto(3)},
        {"c.jpg", ExifPhoto(8)},
        {"d.jpg", ExifPhoto(1)},
        {"e.jpg", ExifPhoto(2)},
        {"f.jpg", WithExif(EncodeJpeg(QSize(50, 30), QColor(40, 90, 200)), 8)},
        {"sub/g.jpg", WithExif(EncodeJpeg(QSize(61, 35), QColor(200, 90, 40)), 3)},
    };
    for (const char* copy : {"window", "console"}) {
        for (const auto& [name, bytes] : photos) {
            const QString path = WriteFile(QStringLiteral("%1/%2").arg(copy, name), bytes);
            QFile file(path);
            file.open(QIODevice::ReadWrite);
            file.setFileTime(QDateTime::fromSecsSinceEpoch(1262347445),
                             QFileDevice::FileModificationTime);
        }
    }

    TWatchedWindow window;
    Child<QCheckBox>(window, "Chk_OperateAllFile")->setChecked(true);
    Child<QCheckBox>(window, "chk_FixMirrored")->setChecked(true);
    Child<QComboBox>(window, "cbo_EdgePolicy")->setCurrentIndex(1);
    window.show();
    Drop(window, {Folder() + "/window"});

    const std::string command =
        "cd '" + Folder().toStdString() +
        "' && LANGUAGE= LC_ALL=ja_JP.UTF-8 HOME=. XDG_CONFIG_HOME=./none '" + console.string() +
        "' --all --mirrored --edges trim --save-method result --keep-modified console "
        ">/dev/null 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0);

    const auto fromWindow = FilesBelow(Folder() + "/window");
    const auto fromConsole = FilesBelow(Folder() + "/console");
    EXPECT_EQ(fromWindow.size(), 2 * std::size(photos));
    EXPECT_TRUE(fromWindow == fromConsole);
    for (const auto& [path, file] : fromWindow) {
        const auto other = fromConsole.find(path);
        EXPECT_TRUE(other != fromConsole.end() && other->second == file) << path.toStdString();
    }
}

}  // namespace
}  // namespace plume::gui::test
