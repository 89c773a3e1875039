#include "gui/PlumeApplication.h"

#include <exception>

#include "gui/GuiTexts.h"
#include "gui/MessageBoxes.h"

namespace plume::gui {

TPlumeApplication::TPlumeApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TPlumeApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        ShowUncaughtError(Shown(error.what()));
    } catch (...) {
        ShowUncaughtError(QString());
    }
    return false;
}

}  // namespace plume::gui
