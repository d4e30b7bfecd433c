#pragma once

#include "BrowserView.h"

#include <deque>
#include <functional>
#include <set>
#include <string>

namespace behaviour {

/// A certificate the web engine does not trust; the dates as the window shows them.
struct Certificate {
    enum class Problem { Authority, Name, Date, Other };
    std::string host;
    Problem problem = Problem::Other;
    std::string description; // the engine's own words
    std::string sha256;      // "AB:CD:…", 32 pairs
    std::string notBefore;
    std::string notAfter;
};

/// A question with two answers, or (yes and no empty) a report with OK.
struct Question {
    bool warning = true;
    std::string title;
    std::string text;
    std::string yes;
    std::string no;
};

// The browser window's behaviour, without any toolkit: the address history, the busy
// indicator and the title, the back and forward buttons, which page of the history is on
// show, and what the card's pages ask the operator. Logins and accepted certificates are
// remembered for the life of this object, that is of the window.
class BrowserBehaviour {
public:
    /// The most addresses the history holds: its index is a signed 16-bit number. A full
    /// history gives up its oldest entry for a new address rather than refusing it.
    static constexpr int kMaxHistory = 32767;
    static constexpr int kTimer1Interval = 100;

    /// maxHistory: kMaxHistory, or fewer.
    explicit BrowserBehaviour(BrowserView& view, int maxHistory = kMaxHistory)
        : m_view(view), m_maxHistory(maxHistory)
    {
    }

    /// Puts sURL into the history (once) and selects it, starts the busy indicator and
    /// navigates to it.
    void addURL(const std::string& sURL);
    /// Combo1's selection changed to index: navigates to it when the operator picked it.
    void Combo1_Click(int index);
    /// "Connecting" in the title while the view loads, else the page's name, and the timer
    /// stops.
    void Timer1_Timer();
    /// Command 1 (forward) or 2 (back) became possible or impossible; other values (-1, the
    /// whole tool bar) concern neither button.
    void WebBrowser1_CommandStateChange(long Command, bool Enable);
    void WebBrowser1_DownloadComplete();
    /// The event's own address may be a frame's; the view's address is read instead.
    void WebBrowser1_DocumentComplete();

    /// A server (or a proxy) asks for a user name and password: asks through ask, which is
    /// told whether the same realm was answered before (the credentials were refused); true
    /// when the operator answered. The credentials themselves never pass through here.
    bool login(bool proxy, const std::string& host, const std::string& realm,
               const std::function<bool(bool again)>& ask);
    /// True to go on in spite of the certificate's problem: asked through ask (true for yes;
    /// no is the default and Esc) once per host and certificate.
    bool acceptCertificate(const Certificate& certificate,
                           const std::function<bool(const Question&)>& ask);
    /// total is -1 while the size is not known.
    void downloadProgress(long long received, long long total);
    /// The page's name back in the title, and the report to show. path as the operator reads
    /// it; reason: the engine's words for a failure.
    Question downloadFinished(bool ok, const std::string& path, const std::string& reason);

private:
    bool findURL(const std::string& url);
    void navigate(const std::string& url);
    void Completion();

    BrowserView& m_view;
    int m_maxHistory;
    /// True while a change of the history's selection is the operator's choice; false while
    /// the window changes the selection itself.
    bool M_ClickNav = false;
    std::deque<std::string> m_history;
    std::set<std::string> m_loginsAnswered;
    std::set<std::string> m_certificatesAccepted;
};

} // namespace behaviour
