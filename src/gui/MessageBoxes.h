// The three modal boxes of the window (plain, warning "警告", error "エラー")
// and the application-wide handler for errors that ended a run. Tests replace
// the box display with a recorder through SetMessageBoxHandler.
#pragma once

#include <QString>
#include <functional>
#include <memory>

class QMessageBox;

namespace plume::gui {

enum class TBoxKind { Plain, Warning, Error };

// Builds the box as it is shown: caption, icon, text and its single button,
// and a check box of checkText below the text when that is not empty.
std::unique_ptr<QMessageBox> BuildMessageBox(TBoxKind kind, const QString& text,
                                             const QString& checkText = {});

// Shows the box modally (or hands it to the installed handler) and returns
// when it has been closed: whether its check box (see BuildMessageBox) was
// ticked then.
bool ShowMessageBox(TBoxKind kind, const QString& text, const QString& checkText = {});

// A handler that takes the place of the modal box, returning what the box
// would; an empty one restores the box.
using TMessageBoxHandler = std::function<bool(TBoxKind kind, const QString& caption,
                                              const QString& text, const QString& checkText)>;
void SetMessageBoxHandler(TMessageBoxHandler handler);

// The text as the box lays it out: a lone carriage return becomes a line break.
QString BoxText(const QString& text);

// Shows the text of an error that nothing else caught in an error box; the
// caller then returns to the event loop.
void ShowUncaughtError(const QString& text);

}  // namespace plume::gui
