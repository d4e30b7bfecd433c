#pragma once

#include "WebView.h"

#include <QStringList>

#include <memory>

class WebViewEngineFactory;

/// A web view backed by the web engine module, which is loaded on the first call. Throws
/// FatalError when the module cannot be loaded.
std::unique_ptr<WebView> createWebView();

/// The folders searched for the web engine module, in order: the program's own folder, the
/// library folder of an installation beside it, the build tree, the configured install
/// folder.
QStringList webViewModuleDirs();

/// Loads the web engine module from the first of dirs that holds it. Throws FatalError
/// naming the folders searched and the loader's reason when none does.
WebViewEngineFactory& loadWebViewModule(const QStringList& dirs);
