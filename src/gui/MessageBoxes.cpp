#include "gui/MessageBoxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>

#include "gui/GuiTexts.h"

namespace plume::gui {

namespace {

TMessageBoxHandler& Handler() {
    static TMessageBoxHandler handler;
    return handler;
}

QString Caption(TBoxKind kind) {
    switch (kind) {
        case TBoxKind::Warning:
            return Shown(kWarningCaption);
        case TBoxKind::Error:
            return Shown(kErrorCaption);
        case TBoxKind::Plain:
            break;
    }
    return QString::fromUtf8(kApplicationTitle);
}

}  // namespace

QString BoxText(const QString& text) {
    QString result = text;
    result.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    result.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return result;
}

std::unique_ptr<QMessageBox> BuildMessageBox(TBoxKind kind, const QString& text,
                                             const QString& checkText) {
    // No parent: the box is application-modal and centred on the screen.
    auto box = std::make_unique<QMessageBox>();
    box->setWindowTitle(Caption(kind));
    box->setText(BoxText(text));
    box->setTextFormat(Qt::PlainText);
    switch (kind) {
        case TBoxKind::Plain:
            box->setIcon(QMessageBox::NoIcon);
            box->addButton(Shown(kOkButton), QMessageBox::AcceptRole);
            break;
        case TBoxKind::Warning:
            box->setIcon(QMessageBox::Warning);
            box->addButton(Shown(kYesButton), QMessageBox::AcceptRole);
            break;
        case TBoxKind::Error:
            box->setIcon(QMessageBox::Critical);
            box->addButton(Shown(kYesButton), QMessageBox::AcceptRole);
            break;
    }
    // The box owns the check box.
    if (!checkText.isEmpty()) box->setCheckBox(new QCheckBox(checkText));
    return box;
}

bool ShowMessageBox(TBoxKind kind, const QString& text, const QString& checkText) {
    if (Handler()) return Handler()(kind, Caption(kind), BoxText(text), checkText);
    auto box = BuildMessageBox(kind, text, checkText);
    box->exec();
    return box->checkBox() != nullptr && box->checkBox()->isChecked();
}

void SetMessageBoxHandler(TMessageBoxHandler handler) {
    Handler() = std::move(handler);
}

void ShowUncaughtError(const QString& text) {
    ShowMessageBox(TBoxKind::Error, text);
}

}  // namespace plume::gui
