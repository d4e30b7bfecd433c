#include "MainBehaviour.h"

#include "BootMessage.h"
#include "BootP.h"
#include "SearchFailure.h"
#include "SearchRules.h"
#include "Texts.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace behaviour {

using text::Id;
using text::twin;
using Button = MainView::Button;

namespace {
constexpr const char* kNoRemote = "0.0.0.0";
constexpr const char* kBroadcast = "255.255.255.255";
} // namespace

MainBehaviour::MainBehaviour(MainView& view, Services services)
    : m_view(view), m_services(std::move(services))
{
    m_services.socket.DataArrival = [this](std::int32_t bytesTotal) {
        Winsock1_DataArrival(bytesTotal);
    };
    m_services.socket.Error = [this](std::int16_t number, const std::string& description) {
        Winsock1_Error(number, description);
    };
}

MainBehaviour::~MainBehaviour()
{
    m_services.socket.DataArrival = nullptr;
    m_services.socket.Error = nullptr;
}

void MainBehaviour::Form_Load()
{
    m_services.queryVersion(M_OsVer);
    DatagramSocket& socket = m_services.socket;
    socket.setLocalPort(bootp::kServerPort);
    socket.setRemoteHost(kNoRemote);
    socket.setRemotePort(bootp::kClientPort);
    M_Search = false;
    area.G_LocalIp = splitLocalIp(socket.localIP());
}

void MainBehaviour::Command1_Click()
{
    m_view.setButtonEnabled(Button::Command1, false);
    m_view.setButtonEnabled(Button::Command2, true);
    m_view.setDefaultButton(Button::Command2);
    m_view.setButtonFocus(Button::Command2);
    m_view.setButtonEnabled(Button::Command3, false);
    m_view.setTimerInterval(200);
    if (!bindOrStop()) {
        return;
    }
    m_view.setStatus(text::tr(Id::StatusSearching));
    M_Search = true;
}

void MainBehaviour::Command2_Click()
{
    m_view.setButtonEnabled(Button::Command1, true);
    m_view.setButtonEnabled(Button::Command2, false);
    m_view.setButtonEnabled(Button::Command3, true);
    m_view.setDefaultButton(Button::Command3);
    m_view.setButtonFocus(Button::Command3);
    m_view.setTimerInterval(0);
    M_AniIdx = 0;
    m_view.showFrame(0);
    m_services.socket.endSearch();
    // Ending the search took the temporary address away.
    m_temporary.reset();
    m_temporaryGone.reset();
    m_view.setStatus({});
    M_Search = false;
}

void MainBehaviour::Command3_Click()
{
    m_view.unload();
}

void MainBehaviour::Form_Unload()
{
    m_view.unloadBrowser();
    if (M_Search) {
        m_services.socket.endSearch();
    }
}

void MainBehaviour::Timer1_Timer()
{
    m_view.showFrame(M_AniIdx);
    ++M_AniIdx;
    if (M_AniIdx > 11) {
        M_AniIdx = 0;
    }
    checkTemporary();
}

void MainBehaviour::checkTemporary()
{
    // About every two seconds: a network manager that reactivates the device flushes its
    // addresses, and the operator must hear of it rather than watch the page fail.
    constexpr int kTicks = 10;
    if (m_temporary && ++m_temporaryTicks >= kTicks) {
        m_temporaryTicks = 0;
        if (!m_services.neighbours.temporaryPresent()) {
            m_temporaryGone = std::move(m_temporary);
            m_temporary.reset();
        }
    }
    if (m_temporaryGone && !m_assigning) {
        const Temporary gone = std::move(*m_temporaryGone);
        m_temporaryGone.reset();
        showReport({0,
                    twin(Id::TemporaryGone, {gone.address, gone.ifName}),
                    {},
                    twin(Id::DoTemporaryGone),
                    {}});
    }
}

void MainBehaviour::Winsock1_DataArrival(std::int32_t bytesTotal)
{
    DatagramSocket& socket = m_services.socket;
    std::vector<std::uint8_t> message = socket.getData(bytesTotal);
    if (bytesTotal < std::int32_t(bootp::kMinMessage) ||
        bytesTotal > std::int32_t(bootp::kMaxCardRequest)) {
        return;
    }
    if (!chkRequest(message)) {
        return;
    }
    macText(message, area);
    // The card can only use this PC's address on the network its request came from; with no
    // address there, nothing is proposed and the reply names no server.
    const std::string local = socket.arrivalAddress();
    area.G_LocalIp = local.empty() ? Octets{} : splitLocalIp(local);
    m_view.setStatus(text::tr(Id::StatusCardFound));
    socket.close();
    static_cast<Assignment&>(area) = m_view.showSettingsDialog(area);
    if (area.G_SetOk) {
        m_assigning = true;
        m_view.setInputBlocked(true);
        const std::optional<Report> report = assign(message);
        m_view.setInputBlocked(false);
        m_assigning = false;
        // Shown before listening again: what the card repeats meanwhile is dropped, as while
        // the dialog is open, so the box cannot be buried under the next dialog.
        if (report) {
            showReport(*report);
        }
        if (m_rootNoticeDue) {
            // Chromium cannot sandbox itself as root: the page is shown, but the operator
            // should know, once.
            m_rootNoticeDue = false;
            const text::Twin notice = twin(Id::NoticeRoot);
            std::fprintf(stderr, "torvane: %s\n", notice.english.c_str());
            m_view.showBrowserNotice(text::tr(Id::NoticeTitle), notice.local());
        }
    }
    m_view.setStatus(text::tr(Id::StatusSearching));
    bindOrStop();
}

std::optional<MainBehaviour::Report> MainBehaviour::assign(std::vector<std::uint8_t>& message)
{
    DatagramSocket& socket = m_services.socket;
    m_view.setStatus(text::tr(Id::StatusSetting));
    const std::string interface = socket.arrivalInterfaceName();
    if (!socket.arrivalInterfaceExists()) {
        return Report{0,
                      twin(Id::FailInterfaceGone, {interface}),
                      twin(Id::CardNotSent),
                      twin(Id::DoCheckInterface),
                      {}};
    }
    makeReply(message, area);
    socket.setRemoteHost(kBroadcast);
    try {
        socket.sendData(message);
    } catch (const SearchFailure& e) {
        socket.setRemoteHost(kNoRemote);
        return Report{e.number(),
                      twin(Id::FailReplyNotSent, {e.text()}),
                      twin(Id::CardNotSent),
                      twin(Id::DoSetAgain),
                      {}};
    }
    socket.close();
    socket.setRemoteHost(kNoRemote);
    const std::string address = dottedText(area.G_IpAddr);
    // The card has its address either way; but a page on another network than the request's
    // interface would be looked for by another NIC, and never load.
    std::optional<Report> report;
    bool reachable = !socket.arrivalAddress().empty() && socket.arrivalSubnetHolds(address);
    if (!reachable) {
        report = reachOutside(address, interface);
        reachable = !report;
    }
    if (reachable) {
        report = addNeighbourEntry(
            address,
            std::span<const std::uint8_t>(message).subspan<bootp::kChaddr, bootp::kMacSize>());
    }
    waitSeconds(5.0);
    if (!socket.arrivalInterfaceExists()) {
        return Report{0,
                      twin(Id::FailInterfaceGone, {interface}),
                      twin(Id::CardSent, {address}),
                      twin(Id::DoCheckInterface),
                      {}};
    }
    // A refused neighbour entry does not keep the page shut: once the card has taken its
    // address, the PC finds it by ARP like any other host of the subnet.
    if (area.G_OpenBrw && reachable) {
        const std::string browserFailure = m_view.browserStartFailure();
        if (!browserFailure.empty()) {
            // The browser's loader has named the cause on stderr in English already.
            text::Twin what(
                browserFailure,
                text::format(text::tr(Id::BrowserCannotStart, text::Lang::English), {"see above"}));
            if (report) {
                what = {report->what.japanese + '\n' + what.japanese,
                        report->what.english + '\n' + what.english};
            }
            return Report{0, what, twin(Id::CardSent, {address}),
                          twin(Id::DoOtherBrowser, {address}),
                          report ? report->context : std::string()};
        }
        m_view.openPage("http://" + address + "/");
        if (report) {
            report->todo = twin(Id::DoNeighbourPageOpened);
        }
        if (m_services.asRoot && m_services.asRoot() && !m_rootNoticeShown) {
            m_rootNoticeShown = m_rootNoticeDue = true;
        }
    }
    return report;
}

bool MainBehaviour::bindOrStop()
{
    try {
        m_services.socket.bind(bootp::kServerPort);
        return true;
    } catch (const SearchFailure& e) {
        // The operator can fix what went wrong and start again: back to idle, not to the end.
        showReport({e.number(), e.text(), {}, {}, {}});
        Command2_Click();
        return false;
    }
}

void MainBehaviour::showReport(const Report& r)
{
    const auto body = [&r](text::Lang lang) {
        std::string out;
        for (const text::Twin* part : {&r.what, &r.card, &r.todo}) {
            if (!part->in(lang).empty()) {
                out += (out.empty() ? "" : "\n") + part->in(lang);
            }
        }
        return r.code == 0
                   ? out
                   : text::format(text::tr(Id::ErrorCodeLine, lang), {std::to_string(r.code), out});
    };
    std::fprintf(stderr, "torvane: %s%s\n", r.context.c_str(), body(text::Lang::English).c_str());
    m_view.showMessage(MainView::Icon::Critical, text::tr(Id::ErrorTitle), body(text::language()));
}

std::optional<MainBehaviour::Report>
MainBehaviour::addNeighbourEntry(const std::string& address, std::span<const std::uint8_t, 6> mac)
{
    DatagramSocket& socket = m_services.socket;
    std::array<std::uint8_t, 6> hardware;
    std::copy(mac.begin(), mac.end(), hardware.begin());
    const text::Twin failure =
        m_services.neighbours.addPermanent(socket.arrivalInterface(), area.G_IpAddr, hardware);
    const std::string entry = "neighbour entry " + address + ' ' + area.G_MacAddr + " on " +
                              socket.arrivalInterfaceName();
    if (failure.empty()) {
        std::fprintf(stderr, "torvane: %s: permanent\n", entry.c_str());
        return std::nullopt;
    }
    return Report{0, twin(Id::FailNeighbour, {failure}), twin(Id::CardSent, {address}),
                  twin(Id::DoNeighbour), entry + ": "};
}

std::optional<MainBehaviour::Report> MainBehaviour::reachOutside(const std::string& address,
                                                                 const std::string& interface)
{
    Report outside{0,
                   twin(Id::FailOutsideNetwork, {address, interface}),
                   twin(Id::CardSent, {address}),
                   twin(Id::DoOutside),
                   {}};
    NeighbourTable& table = m_services.neighbours;
    const NeighbourTable::Card card{area.G_IpAddr, area.G_SbMask, area.G_GateWay};
    const std::optional<NeighbourTable::Ip> proposal = table.proposeTemporary(card);
    if (!proposal) {
        return outside;
    }
    if (std::optional<text::Twin> byHand = table.temporaryByHand(card, *proposal)) {
        outside.todo = std::move(*byHand);
        return outside;
    }
    const text::Twin question =
        twin(Id::TemporaryQuestion, {address, interface, dottedText(*proposal)});
    if (!m_view.askQuestion(text::tr(Id::TemporaryTitle), question.local())) {
        return outside;
    }
    const NeighbourTable::Temporary added = table.addTemporary(card, *proposal);
    if (!added.address) {
        outside.what = twin(Id::FailTemporary, {added.failure});
        outside.context = "temporary address on " + interface + ": ";
        return outside;
    }
    const std::string temporary = dottedText(*added.address);
    std::fprintf(stderr, "torvane: temporary address %s/32 on %s, host route to %s\n",
                 temporary.c_str(), interface.c_str(), address.c_str());
    m_view.setStatus(text::format(Id::StatusTemporary, {temporary, interface}));
    m_temporary = Temporary{temporary, interface};
    m_temporaryTicks = 0;
    return std::nullopt;
}

void MainBehaviour::waitSeconds(double seconds)
{
    // Events keep flowing (animation, browser window) while the clock is polled.
    const double start = m_services.clock.seconds();
    do {
        m_view.processEvents();
    } while (m_services.clock.seconds() - start <= seconds);
}

void MainBehaviour::Winsock1_Error(std::int16_t number, const std::string& description)
{
    // A number of 0 is no error code: the socket's end came without one.
    const std::string message =
        number == 0 ? text::format(Id::SocketErrorNoCode, {description})
                    : text::format(Id::SocketError, {std::to_string(number), description});
    m_view.showMessage(MainView::Icon::Critical, text::tr(Id::ErrorTitle), message);
    // What fails here is the search (the helper has ended); the operator can start it again.
    if (M_Search) {
        Command2_Click();
    }
}

} // namespace behaviour
