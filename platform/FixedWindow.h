#pragma once

#include <QObject>

class QTimer;
class QWidget;
class QWindow;

// Keeps a window of fixed size out of the maximised and full-screen states on a Wayland
// compositor. Qt's own title bar there offers a maximise box whatever the window's flags say,
// and a compositor may maximise any window by its own key binding; once the client has
// acknowledged a maximised configure, weston ends the connection at the next frame that is
// not the maximised size, and a fixed window cannot be. So, once maximised, the window draws
// nothing, asks for full screen (which, unlike maximised, may be smaller than the screen) and
// then for its normal state, drawing again only where its size is allowed. A full-screen
// request is simply undone. Elsewhere (X11, offscreen) it does nothing.
class FixedWindow final : public QObject {
public:
    /// Watches widget's window from its first show on; widget owns it.
    static void keep(QWidget* widget);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    explicit FixedWindow(QWidget* widget);
    void stateChanged(QWindow* window);
    void drawAgain();

    QWidget* m_widget;
    QWindow* m_window = nullptr;
    QTimer* m_giveUp;
};
