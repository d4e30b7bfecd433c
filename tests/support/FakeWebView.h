#pragma once

#include "WebView.h"

#include <QStringList>
#include <QWidget>

#include <functional>

// A web view without an engine: it records every request and lets the test raise the
// view's events and set what it reports.
class FakeWebView final : public WebView {
public:
    FakeWebView() { m_widget.setFocusPolicy(Qt::StrongFocus); }

    QWidget* widget() override { return &m_widget; }
    void Navigate(const QString& url) override
    {
        calls << QStringLiteral("Navigate ") + url;
        if (onNavigate) {
            onNavigate(url);
        }
    }
    void GoBack() override { calls << QStringLiteral("GoBack"); }
    void GoForward() override { calls << QStringLiteral("GoForward"); }
    void Refresh() override { calls << QStringLiteral("Refresh"); }
    QString LocationURL() const override { return url; }
    QString LocationName() const override { return name; }
    bool Busy() const override { return busy; }

    void commandStateChange(int command, bool enable) { emit CommandStateChange(command, enable); }
    void downloadComplete() { emit DownloadComplete(); }
    void documentComplete() { emit DocumentComplete(url); }

    QStringList calls;
    QString url;
    QString name;
    bool busy = false;
    std::function<void(const QString&)> onNavigate;

private:
    QWidget m_widget;
};
