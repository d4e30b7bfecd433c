#include "FixedWindow.h"

#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>

namespace {

constexpr Qt::WindowStates kLarge = Qt::WindowMaximized | Qt::WindowFullScreen;

} // namespace

void FixedWindow::keep(QWidget* widget)
{
    if (QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        new FixedWindow(widget);
    }
}

FixedWindow::FixedWindow(QWidget* widget)
    : QObject(widget), m_widget(widget), m_giveUp(new QTimer(this))
{
    // A compositor that answers neither request must not leave the window blank for good.
    m_giveUp->setSingleShot(true);
    m_giveUp->setInterval(2000);
    connect(m_giveUp, &QTimer::timeout, this, &FixedWindow::drawAgain);
    widget->installEventFilter(this);
}

bool FixedWindow::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_widget) {
        // The native window exists from the first show on, and is made anew after a hide.
        if (event->type() == QEvent::Show && m_widget->windowHandle() != m_window) {
            m_window = m_widget->windowHandle();
            if (m_window != nullptr) {
                m_window->installEventFilter(this);
            }
        }
    } else if (watched == m_window && event->type() == QEvent::WindowStateChange &&
               event->spontaneous()) {
        // Before the window sees the state: what the compositor configured has been
        // acknowledged, and nothing is drawn yet.
        stateChanged(m_window);
    }
    return QObject::eventFilter(watched, event);
}

void FixedWindow::stateChanged(QWindow* window)
{
    const Qt::WindowStates states = window->windowStates();
    if (states & Qt::WindowMaximized) {
        // Any frame now would end the connection: draw nothing until full screen is
        // configured. The request leaves maximised and enters full screen in one.
        m_widget->setUpdatesEnabled(false);
        m_giveUp->start();
        window->setWindowStates((states & ~kLarge) | Qt::WindowFullScreen);
    } else if (states & Qt::WindowFullScreen) {
        // The compositor takes the way back only from a state it has seen drawn.
        drawAgain();
        window->setWindowStates(states & ~kLarge);
    } else if (m_giveUp->isActive()) {
        drawAgain();
    }
}

void FixedWindow::drawAgain()
{
    m_giveUp->stop();
    if (!m_widget->updatesEnabled()) {
        m_widget->setUpdatesEnabled(true);
    }
    m_widget->repaint();
}
