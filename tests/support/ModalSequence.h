#pragma once

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QObject>
#include <QTimer>
#include <QVariant>
#include <QWidget>

#include <functional>

/// Plays the operator at every modal window of type T that opens while it lives, in turn:
/// action(n, window) for the n-th (from 0). A modal window runs its own event loop, and a
/// second one may open before the test's own code runs again, so one player answers them all.
/// Each is answered once it is the active window, as for ModalOperator.
template <class T> class ModalSequence : public QObject {
public:
    explicit ModalSequence(std::function<void(int, T*)> action) : m_action(std::move(action))
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalSequence::poll);
        m_timer.start(5);
    }
    int count() const { return m_count; }

private:
    void poll()
    {
        auto* w = qobject_cast<T*>(QApplication::activeModalWidget());
        if (w == nullptr || !w->isVisible() || !w->isActiveWindow() ||
            w->property("torvaneOperated").toBool()) {
            return;
        }
        w->setProperty("torvaneOperated", true);
        m_action(m_count++, w);
    }

    std::function<void(int, T*)> m_action;
    QTimer m_timer;
    int m_count = 0;
};

/// The operator types a file's path into an active file dialog's name box, which has the focus.
/// (QFileDialog::selectFile leaves a name box that has the focus alone.) Without a name box
/// the dialog is cancelled, so that the test fails rather than waits.
inline bool typeFileName(QFileDialog* dialog, const QString& path)
{
    auto* name = qobject_cast<QLineEdit*>(dialog->focusWidget());
    if (name == nullptr) {
        static_cast<QDialog*>(dialog)->reject();
        return false;
    }
    name->setText(path);
    return true;
}
