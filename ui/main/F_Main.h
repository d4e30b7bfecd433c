#pragma once

#include "Clock.h"
#include "NeighbourTable.h"
#include "OsVersion.h"
#include "Twin.h"
#include "UdpSocket.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <span>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class SearchFailure;

namespace Ui {
class F_Main;
}

// The start-up window: owns the UDP socket, runs the search for unconfigured cards and hands
// each card found to the settings dialog, the reply, the neighbour table and the browser.
class F_Main : public QWidget {
    Q_OBJECT
public:
    /// The platform services the window works with; tests hand in fakes.
    struct Services {
        std::unique_ptr<UdpSocket> socket;
        std::unique_ptr<NeighbourTable> neighbours;
        std::unique_ptr<Clock> clock;
        std::function<void(OsVersion&)> queryVersion;
        /// Whether the program runs as root (the browser then has no sandbox).
        std::function<bool()> asRoot;
    };
    static Services platformServices();

    explicit F_Main(Services services = platformServices(), QWidget* parent = nullptr);
    ~F_Main() override;

    // Controls, named as in the window definition.
    QPushButton* Command1; // Start
    QPushButton* Command2; // Stop
    QPushButton* Command3; // Exit
    QPlainTextEdit* Text1;
    QLabel* Img_Card;
    std::array<QLabel*, 12> ImgAni;
    QLabel* Img_AniBuf;
    QTimer* Timer1;
    UdpSocket* Winsock1;

    bool M_Search = false;
    qint16 M_AniIdx = 0;
    OsVersion M_OsVer;

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
    /// What went wrong while a card was assigned, in the operator's terms: what happened,
    /// what it means for the card, and what to do.
    struct Report {
        int code = 0; ///< a real error code, 0 when there is none
        text::Twin what;
        text::Twin card;
        text::Twin todo;
        std::string context; ///< said on stderr before the English text
    };

    void applyTexts();
    void setDefaultButton(QPushButton* button);
    void setTimerInterval(int milliseconds);
    void setStatus(const QString& text);
    std::optional<Report> addNeighbourEntry(const QString& address,
                                            std::span<const std::uint8_t, 6> mac);
    std::optional<Report> assign(std::span<std::uint8_t> bytes, QByteArray& message);
    void showReport(const Report& report);
    void waitSeconds(double seconds);
    void setInputBlocked(bool blocked);
    bool bindOrStop();
    void searchFailed(const SearchFailure& failure);

    std::unique_ptr<Ui::F_Main> m_ui;
    Services m_services;
    QPushButton* m_defaultButton = nullptr;
    bool m_centred = false;
    bool m_inputBlocked = false;
    bool m_rootNoticeShown = false;
    bool m_rootNoticeDue = false;
};
