#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>

#include <optional>

// What a card's pages ask of the window around the web view: a login, a decision on a
// certificate, where to save a download, which file to upload. Plain C++ on Qt's value types,
// shared by the program and the web engine module.

/// A server (or a proxy) that asks for a user name and password, by HTTP Basic or Digest.
struct WebViewLogin {
    QString host; // host[:port] of the page, or the proxy's host
    QString realm;
    bool proxy = false;
};

struct WebViewCredentials {
    QString user;
    QString password;
};

/// A certificate the engine does not trust, with what the operator needs to judge it.
struct WebViewCertificate {
    enum class Problem { Authority, Name, Date, Other };
    QString host;
    Problem problem = Problem::Other;
    QString description; // the engine's own words (English)
    QString sha256;      // "AB:CD:…", 32 pairs
    QDateTime notBefore;
    QDateTime notAfter;
};

/// Answered by the window; every default refuses, so a view without a window accepts nothing.
class WebViewRequests {
public:
    /// The credentials to send, or none to cancel (the server's own 401 page then shows).
    virtual std::optional<WebViewCredentials> login(const WebViewLogin& request) = 0;
    /// True to go on to the page in spite of the certificate's problem.
    virtual bool acceptCertificate(const WebViewCertificate& certificate) = 0;
    /// The whole path to save a download under, or an empty text not to save it.
    virtual QString downloadPath(const QString& suggestedName) = 0;
    /// total is -1 while the size is not known.
    virtual void downloadProgress(qint64 received, qint64 total) = 0;
    /// reason: the engine's words for a failure, empty on success.
    virtual void downloadFinished(bool ok, const QString& path, const QString& reason) = 0;
    /// The files a page's file chooser is given; empty to choose none.
    virtual QStringList chooseFiles(bool multiple, const QStringList& acceptedTypes) = 0;

protected:
    ~WebViewRequests() = default;
};
