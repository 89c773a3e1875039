// The window's suites need one application object for the whole process, on
// Qt's offscreen platform, with the settings store and the trash in a
// temporary folder that is made before anything asks Qt for them, and the
// texts in Japanese.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <QtGlobal>

#include "app/texts/Language.h"
#include "gui/PlumeApplication.h"

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir home;
    if (!home.isValid()) return 2;
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/config")).toLocal8Bit());
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/data")).toLocal8Bit());
    qputenv("XDG_CACHE_HOME", (home.path() + QStringLiteral("/cache")).toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", home.path().toLocal8Bit());

    plume::gui::TPlumeApplication application(argc, argv);
    application.setQuitOnLastWindowClosed(false);
    // The suites assert the window's own texts, in Japanese, whatever the
    // locale they run under; the language suite chooses its own.
    plume::InitLanguage();
    plume::SetLanguage("ja");
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
