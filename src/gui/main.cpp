// plume: the window. Creates the application and the main window, shows it
// and runs the event loop until the window has been closed.
#include <QIcon>
#include <cstdio>
#include <string_view>

#include "BitStreamFile/MessageEvent.h"
#include "app/texts/AppTexts.h"
#include "app/texts/Language.h"
#include "gui/MainWindow.h"
#include "gui/PlumeApplication.h"

namespace {

constexpr const char* kUsage = plume::Msg(
    "Usage: plume [FILES-OR-FOLDERS...]\n"
    "Opens the window that turns JPEG photos upright as their EXIF orientation\n"
    "asks. Given files or folders, it handles them and closes; given none, it\n"
    "waits for files and folders dropped on it. The options are set in the\n"
    "window; plume-cli runs the same from a terminal (see plume-cli --help).\n"
    "\n"
    "  -h, --help     show this help\n"
    "  --version      show the version\n");

}  // namespace

int main(int argc, char** argv) {
    // Answered before any window or display is asked for.
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--") break;
        if (arg == "-h" || arg == "--help") {
            plume::InitLanguage();
            std::fputs(plume::Localize(kUsage).c_str(), stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("%s\n", plume::kVersionText);
            return 0;
        }
    }
    plume::gui::TPlumeApplication application(argc, argv);
    // After the application, which sets the locale as the environment says.
    plume::InitLanguage();
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("plume")));
    plume::gui::TFm_Main Fm_Main;
    Fm_Main.show();
    return application.exec();
}
