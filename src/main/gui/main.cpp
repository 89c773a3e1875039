// plume: the window. Creates the application and the main window, shows it
// and runs the event loop until the window has been closed.
#include <QIcon>

#include "gui/MainWindow.h"
#include "gui/PlumeApplication.h"

int main(int argc, char** argv) {
    plume::gui::TPlumeApplication application(argc, argv);
    QApplication::setWindowIcon(QIcon::fromTheme(QStringLiteral("plume")));
    plume::gui::TFm_Main Fm_Main;
    Fm_Main.show();
    return application.exec();
}
