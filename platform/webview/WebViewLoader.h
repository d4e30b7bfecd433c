#pragma once

#include "WebView.h"

#include <QString>
#include <QStringList>

#include <memory>

class WebViewEngineFactory;

/// "ActiveX component can't create object": the number the window system gives a web view
/// that cannot be created.
inline constexpr int kCannotCreateObject = 429;

/// Why no web view can be made, as a short Japanese sentence for the status line, or an empty
/// text when one can. The first call loads the web engine module and tries the engine's helper
/// process; the details go to stderr. A success is kept, a failure is looked at again on the
/// next call.
QString webViewStartFailure();

/// A web view backed by the web engine module. Throws FatalError when webViewStartFailure()
/// names a reason.
std::unique_ptr<WebView> createWebView();

/// The folders searched for the web engine module, in order: the program's own folder (a build
/// tree) and the installed module folder beside it. Nothing from the build machine.
QStringList webViewModuleDirs();
/// Replaces those folders, for programs that do not sit beside the module (tests, tools). Has
/// no effect once the module is loaded.
void setWebViewModuleDirs(const QStringList& dirs);

/// The module's entry point, or none and why (English, naming the folders searched).
struct WebViewModule {
    WebViewEngineFactory* factory = nullptr;
    QString failure;
};
/// Loads the web engine module from the first of dirs that holds it.
WebViewModule loadWebViewModule(const QStringList& dirs);

/// Why the engine's helper process cannot start, or an empty text: it is looked for where the
/// engine looks (QTWEBENGINEPROCESS_PATH when set, else Qt's executables folders and the
/// program's folder) and run once without arguments, which only prints its version.
struct HelperProcessCheck {
    QString path;
    QString failure;   // English, for stderr
    QString shortText; // Japanese, for the status line
};
HelperProcessCheck checkWebEngineProcess();
