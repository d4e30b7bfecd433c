#include "BrowserBehaviour.h"

#include "Texts.h"

#include <algorithm>

namespace behaviour {

using text::Id;

void BrowserBehaviour::addURL(const std::string& sURL)
{
    M_ClickNav = false;
    if (!sURL.empty() && !findURL(sURL)) {
        if (static_cast<int>(m_history.size()) >= m_maxHistory) {
            m_history.pop_back();
            m_view.removeEntry(m_maxHistory - 1);
        }
        m_history.insert(m_history.begin(), sURL);
        m_view.insertEntry(0, sURL);
        m_view.selectEntry(0);
    }
    M_ClickNav = true;
    m_view.setTimerInterval(kTimer1Interval);
    navigate(sURL);
}

void BrowserBehaviour::Combo1_Click(int index)
{
    if (!M_ClickNav) {
        return;
    }
    m_view.setTimerInterval(kTimer1Interval);
    navigate(index >= 0 && index < static_cast<int>(m_history.size())
                 ? m_history[static_cast<std::size_t>(index)]
                 : std::string());
}

void BrowserBehaviour::Timer1_Timer()
{
    if (m_view.busy()) {
        m_view.setTitle(text::tr(Id::BrowserConnecting));
    } else {
        m_view.setTimerInterval(0);
        m_view.setTitle(m_view.locationName());
    }
}

void BrowserBehaviour::WebBrowser1_CommandStateChange(long Command, bool Enable)
{
    // The browser control's values: 1 is forward, 2 is back.
    if (Command == 1) {
        m_view.setButtonEnabled(BrowserView::Button::Command3, Enable);
    } else if (Command == 2) {
        m_view.setButtonEnabled(BrowserView::Button::Command2, Enable);
    }
}

void BrowserBehaviour::WebBrowser1_DownloadComplete()
{
    Completion();
    m_view.setTimerInterval(0);
    m_view.setTitle(m_view.locationName());
}

void BrowserBehaviour::WebBrowser1_DocumentComplete()
{
    Completion();
    m_view.setTitle(m_view.locationName());
}

// Selects the entry of the page on show, if the history has it. Pages reached inside the view
// (links, back, forward) never enter the history.
void BrowserBehaviour::Completion()
{
    M_ClickNav = false;
    findURL(m_view.locationURL());
    M_ClickNav = true;
}

// Equal is the whole text compared exactly: addresses that differ in letter case or in a
// trailing "/" are different entries.
bool BrowserBehaviour::findURL(const std::string& url)
{
    const auto found = std::find(m_history.begin(), m_history.end(), url);
    if (found == m_history.end()) {
        return false;
    }
    m_view.selectEntry(static_cast<int>(found - m_history.begin()));
    return true;
}

void BrowserBehaviour::navigate(const std::string& url)
{
    if (m_view.navigate(url)) {
        return;
    }
    // The default browser's loading cannot be seen from here: the busy indicator, started just
    // before, stops before its first tick.
    m_view.setTimerInterval(0);
    if (url.empty()) {
        return;
    }
    // The title is the window's only report.
    const unsigned long error = m_view.openOutside(url);
    m_view.setTitle(error == 0 ? text::format(Id::BrowserOpenedOutside, {url})
                               : text::format(Id::BrowserNotOpened, {std::to_string(error), url}));
}

bool BrowserBehaviour::login(bool proxy, const std::string& host, const std::string& realm,
                             const std::function<bool(bool again)>& ask)
{
    const std::string key = (proxy ? "proxy " : "server ") + host + '\n' + realm;
    const bool answered = ask(m_loginsAnswered.count(key) != 0);
    if (answered) {
        m_loginsAnswered.insert(key);
    } else {
        m_loginsAnswered.erase(key);
    }
    return answered;
}

bool BrowserBehaviour::acceptCertificate(const Certificate& c,
                                         const std::function<bool(const Question&)>& ask)
{
    const std::string key = c.host + '\n' + c.sha256;
    if (m_certificatesAccepted.count(key) != 0) {
        return true;
    }
    using P = Certificate::Problem;
    const std::string problem = c.problem == P::Authority ? text::tr(Id::CertAuthority)
                                : c.problem == P::Name    ? text::tr(Id::CertName)
                                : c.problem == P::Date
                                    ? text::tr(Id::CertDate)
                                    : text::format(Id::CertOther, {c.description});
    // 32 pairs in two lines of 16, so that the box stays narrow enough to read.
    const std::string fingerprint =
        c.sha256.substr(0, 47) + '\n' + (c.sha256.size() > 48 ? c.sha256.substr(48) : "");
    const std::string message = text::format(Id::CertHost, {c.host}) + '\n' + problem + "\n\n" +
                                text::tr(Id::CertFingerprint) + '\n' + fingerprint + '\n' +
                                text::format(Id::CertValidity, {c.notBefore, c.notAfter}) + "\n\n" +
                                text::tr(Id::CertAsk);
    if (!ask({true, text::tr(Id::CertTitle), message, text::tr(Id::CertYes),
              text::tr(Id::CertNo)})) {
        return false;
    }
    m_certificatesAccepted.insert(key);
    return true;
}

void BrowserBehaviour::downloadProgress(long long received, long long total)
{
    // Shown as the busy indicator shows a load; the timer must not put the page's name back.
    m_view.setTimerInterval(0);
    m_view.setTitle(total > 0
                        ? text::format(Id::DownloadPercent,
                                       {std::to_string(std::min(received * 100 / total, 100LL))})
                        : text::format(Id::DownloadBytes, {std::to_string(received / 1024)}));
}

Question BrowserBehaviour::downloadFinished(bool ok, const std::string& path,
                                            const std::string& reason)
{
    WebBrowser1_DownloadComplete();
    return {!ok,
            text::tr(Id::DownloadTitle),
            ok ? text::format(Id::DownloadDone, {path})
               : text::format(Id::DownloadFailed, {path, reason}),
            {},
            {}};
}

} // namespace behaviour
