#pragma once

#include "Clock.h"
#include "DatagramSocket.h"
#include "MainView.h"
#include "NeighbourTable.h"
#include "OsVersion.h"
#include "PublicArea.h"
#include "Twin.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace behaviour {

// The main window's behaviour, without any toolkit: the search cycle, the detection of a
// card and its assignment (reply, neighbour entry, five-second wait, page), and every failure
// the operator is told of. The window's own handlers only forward here.
class MainBehaviour {
public:
    /// The platform services, owned by the window; they outlive this object.
    struct Services {
        DatagramSocket& socket;
        NeighbourTable& neighbours;
        Clock& clock;
        std::function<void(OsVersion&)> queryVersion;
        /// Whether the program runs as root (the browser then has no sandbox); may be empty.
        std::function<bool()> asRoot;
    };

    /// Takes the socket's two events. Form_Load is the window's to call.
    MainBehaviour(MainView& view, Services services);
    ~MainBehaviour();
    MainBehaviour(const MainBehaviour&) = delete;
    MainBehaviour& operator=(const MainBehaviour&) = delete;

    bool M_Search = false;
    std::int16_t M_AniIdx = 0;
    OsVersion M_OsVer;
    /// The card at hand and what the operator decided for it.
    PublicArea area;

    void Form_Load();
    void Form_Unload();
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Timer1_Timer();
    void Winsock1_DataArrival(std::int32_t bytesTotal);
    void Winsock1_Error(std::int16_t number, const std::string& description);

    /// True while a card is being assigned (the view blocks input meanwhile).
    bool assigning() const { return m_assigning; }

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

    std::optional<Report> assign(std::vector<std::uint8_t>& message);
    std::optional<Report> addNeighbourEntry(const std::string& address,
                                            std::span<const std::uint8_t, 6> mac);
    /// The card lies outside the interface's networks: offers a temporary address of its
    /// subnet. nullopt once one is in place, else what the operator is told.
    std::optional<Report> reachOutside(const std::string& address, const std::string& ifName);
    void checkTemporary();
    void showReport(const Report& report);
    void waitSeconds(double seconds);
    bool bindOrStop();

    MainView& m_view;
    Services m_services;
    bool m_assigning = false;
    bool m_rootNoticeShown = false;
    bool m_rootNoticeDue = false;
    /// The temporary address in place and its interface, while the search lasts.
    struct Temporary {
        std::string address;
        std::string ifName;
    };
    std::optional<Temporary> m_temporary;
    std::optional<Temporary> m_temporaryGone; // noticed, not yet told
    int m_temporaryTicks = 0;
};

} // namespace behaviour
