#pragma once

#include "WebViewRequests.h"

#include <QString>
#include <QtGlobal>
#include <QtPlugin>

#include <memory>

class QWidget;

// The boundary between the program and the web engine module. It is plain C++ on purpose:
// the program and the module then share no meta-object code, and the signals of WebView are
// emitted by the program's side only.

/// What the engine reports back and asks; implemented by the program's side of the seam.
class WebViewEvents : public WebViewRequests {
public:
    virtual void commandStateChange(int command, bool enable) = 0;
    virtual void loadFinished(bool ok, const QString& url) = 0;

protected:
    ~WebViewEvents() = default;
};

/// Fixed when a view is made.
struct WebViewSettings {
    /// The engine's own pages (errors, form messages) in this language, such as "ja"; it takes
    /// effect with the first view of the process, since the engine reads it once.
    QString locale;
    /// The languages the view asks pages for, as the Accept-Language header.
    QString acceptLanguage;
};

/// One web view, implemented by the module.
class WebViewEngine {
public:
    virtual ~WebViewEngine() = default;
    virtual QWidget* widget() = 0;
    virtual void navigate(const QString& url) = 0;
    virtual void goBack() = 0;
    virtual void goForward() = 0;
    virtual void refresh() = 0;
    virtual QString locationUrl() const = 0;
    virtual QString locationName() const = 0;
    virtual bool busy() const = 0;
};

/// The module's entry point, found through QPluginLoader.
class WebViewEngineFactory {
public:
    virtual ~WebViewEngineFactory() = default;
    /// A new view that reports to events; events outlives the view. Each view has a profile of
    /// its own, kept in memory only: logins and certificate decisions go with the view.
    virtual std::unique_ptr<WebViewEngine> create(WebViewEvents& events,
                                                  const WebViewSettings& settings) = 0;
};

/// While it lives, drops the engine's advice to set Qt::AA_ShareOpenGLContexts before the
/// application object exists: the module sets the shared context up itself on first use.
class EngineSetUpMessageFilter {
public:
    EngineSetUpMessageFilter() { s_previous = qInstallMessageHandler(&filter); }
    ~EngineSetUpMessageFilter() { qInstallMessageHandler(s_previous); }
    EngineSetUpMessageFilter(const EngineSetUpMessageFilter&) = delete;
    EngineSetUpMessageFilter& operator=(const EngineSetUpMessageFilter&) = delete;

private:
    static void filter(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (text.contains(QLatin1String("AA_ShareOpenGLContexts"))) {
            return;
        }
        if (s_previous) {
            s_previous(type, context, text);
        }
    }
    static inline QtMessageHandler s_previous = nullptr;
};

#define WebViewEngineFactory_iid "org.torvane.WebViewEngineFactory/2"
Q_DECLARE_INTERFACE(WebViewEngineFactory, WebViewEngineFactory_iid)
