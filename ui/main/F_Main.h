#pragma once

#include "Clock.h"
#include "DatagramSocket.h"
#include "MainBehaviour.h"
#include "MainView.h"
#include "NeighbourTable.h"
#include "OsVersion.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace Ui {
class F_Main;
}

// The start-up window: owns the UDP socket and draws the search for unconfigured cards. What
// it does is decided by MainBehaviour; the handlers below only forward to it.
class F_Main : public QWidget, private behaviour::MainView {
    Q_OBJECT

    // First, so that the behaviour exists before the members below that refer to it.
    std::unique_ptr<Ui::F_Main> m_ui;

public:
    /// The platform services the window works with; tests hand in fakes.
    struct Services {
        std::unique_ptr<DatagramSocket> socket;
        std::unique_ptr<NeighbourTable> neighbours;
        std::unique_ptr<Clock> clock;
        std::function<void(OsVersion&)> queryVersion;
        /// Whether the program runs as root (the browser then has no sandbox).
        std::function<bool()> asRoot;
    };
    static Services platformServices();

    explicit F_Main(Services services = platformServices(), QWidget* parent = nullptr);
    ~F_Main() override;

private:
    Services m_services;
    behaviour::MainBehaviour m_core;

public:
    // Controls, named as in the window definition.
    QPushButton* Command1; // Start
    QPushButton* Command2; // Stop
    QPushButton* Command3; // Exit
    QPlainTextEdit* Text1;
    QLabel* Img_Card;
    std::array<QLabel*, 12> ImgAni;
    QLabel* Img_AniBuf;
    QTimer* Timer1;
    DatagramSocket* Winsock1;

    // The window's variables, kept by the behaviour.
    const bool& M_Search = m_core.M_Search;
    const std::int16_t& M_AniIdx = m_core.M_AniIdx;
    const OsVersion& M_OsVer = m_core.M_OsVer;
    const behaviour::PublicArea& area = m_core.area;

    /// The button that Enter activates when the focus is not on a push button.
    QPushButton* defaultButton() const { return m_defaultButton; }
    /// True while a card is being assigned: the window takes no input, close box included,
    /// but stays drawn as it is.
    bool inputBlocked() const { return m_inputBlocked; }

    void Form_Load();
    void Form_Unload();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Timer1_Timer();
    void Winsock1_DataArrival(qint32 bytesTotal);
    void Winsock1_Error(qint16 number, const QString& description);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // MainView
    void setButtonEnabled(Button button, bool enabled) override;
    void setDefaultButton(Button button) override;
    void setButtonFocus(Button button) override;
    void setTimerInterval(int milliseconds) override;
    void showFrame(int index) override;
    void setStatus(const std::string& text) override;
    void setInputBlocked(bool blocked) override;
    void showMessage(Icon icon, const std::string& title, const std::string& text) override;
    void showBrowserNotice(const std::string& title, const std::string& text) override;
    bool askQuestion(const std::string& title, const std::string& text) override;
    behaviour::Assignment showSettingsDialog(const behaviour::PublicArea& area) override;
    void processEvents() override;
    std::string browserStartFailure() override;
    void openPage(const std::string& url) override;
    void unloadBrowser() override;
    void unload() override;

    void applyTexts();
    QPushButton* button(Button button) const;
    void setDefaultButton(QPushButton* button);

    QPushButton* m_defaultButton = nullptr;
    QTimer* m_wake = nullptr;
    bool m_centred = false;
    bool m_inputBlocked = false;
};
