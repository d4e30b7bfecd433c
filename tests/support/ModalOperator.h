#pragma once

#include <QApplication>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <functional>

// Plays the operator at a modal window: once a modal widget of type T is the active window,
// runs the action on it, once. Modal windows run their own event loop, so this must be armed
// before the code that opens them. Shown is not enough: activation comes later from the
// window system (later still on a busy machine), the operator's keys only reach the active
// window, and a window may act on its activation (the settings dialog proposes the address).
template <class T> class ModalOperator : public QObject {
public:
    explicit ModalOperator(std::function<void(T*)> action) : m_action(std::move(action))
    {
        connect(&m_timer, &QTimer::timeout, this, &ModalOperator::poll);
        m_timer.start(5);
    }
    bool acted() const { return m_acted; }

private:
    void poll()
    {
        auto* modal = qobject_cast<T*>(QApplication::activeModalWidget());
        if (modal == nullptr || !modal->isVisible() || !modal->isActiveWindow()) {
            return;
        }
        m_timer.stop();
        m_acted = true;
        m_action(modal);
    }

    std::function<void(T*)> m_action;
    QTimer m_timer;
    bool m_acted = false;
};
