// Drives modal dialogs from tests: a modal dialog runs its own event loop,
// so the test hands a timer the work to do once the dialog is up.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace velnar::testing {

// Calls handle(dialog) once the application's active modal widget is a T
// (checked every few milliseconds from the event loop), then stops. Call it
// before starting the action that opens the dialog.
template <typename T>
void WhenModal(std::function<void(T*)> handle)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, handle] {
        auto* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        timer->stop();
        timer->deleteLater();
        handle(dialog);
    });
    timer->start();
}

struct SeenMessageBox {
    bool seen = false;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

// Answers the next modal message box with its default button, recording
// what it said.
inline void AnswerNextMessageBox(SeenMessageBox& seen)
{
    WhenModal<QMessageBox>([&seen](QMessageBox* box) {
        seen.seen = true;
        seen.text = box->text();
        seen.icon = box->icon();
        box->accept();
    });
}

}  // namespace velnar::testing
