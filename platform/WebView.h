#pragma once

#include "WebViewRequests.h"

#include <QObject>
#include <QString>

class QWidget;

/// The embedded web view as the browser window uses it. The names follow the platform's
/// browser control so that the window's handlers read the same on every platform.
/// Requests that cannot be carried out (back or forward with no page, refresh with no page,
/// an empty or malformed address) do nothing; they never end the program.
class WebView : public QObject {
    Q_OBJECT
public:
    /// Values of CommandStateChange's Command argument.
    enum : int { CscNavigateForward = 1, CscNavigateBack = 2 };

    using QObject::QObject;
    ~WebView() override = default;

    /// The view's widget, owned by this object; the window inserts it into its layout.
    virtual QWidget* widget() = 0;

    /// Starts loading url and returns at once.
    virtual void Navigate(const QString& url) = 0;
    virtual void GoBack() = 0;
    virtual void GoForward() = 0;
    virtual void Refresh() = 0;

    /// The address of the current page, as text.
    virtual QString LocationURL() const = 0;
    /// The name (title) of the current page.
    virtual QString LocationName() const = 0;
    /// True while a load is in progress.
    virtual bool Busy() const = 0;

    /// Who answers the pages' requests (login, certificate, download, upload); none: every
    /// request is refused. The answerer outlives the view or is reset first.
    void setRequests(WebViewRequests* requests) { m_requests = requests; }
    WebViewRequests* requests() const { return m_requests; }

signals:
    /// Going back (Command 2) or forward (Command 1) became possible or impossible.
    void CommandStateChange(int Command, bool Enable);
    /// A load has ended, whether it succeeded or not.
    void DownloadComplete();
    /// A document has finished loading.
    void DocumentComplete(const QString& url);

private:
    WebViewRequests* m_requests = nullptr;
};
