// The application object: a QApplication whose event delivery catches what a
// handler throws (a stream error that ended a run), shows its text in an
// error box and goes back to the event loop.
#pragma once

#include <QApplication>

namespace plume::gui {

class TPlumeApplication : public QApplication {
  public:
    TPlumeApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace plume::gui
