#pragma once

#include "WebViewRequests.h"

#include <QDialog>

#include <memory>
#include <optional>

namespace Ui {
class F_Login;
}

/// The login box for a card page (or a proxy) that asks for HTTP Basic or Digest credentials:
/// host and realm, a user name and a masked password. Enter logs in, Esc cancels. What is typed
/// stays in the dialog's fields and goes to the caller only.
class F_Login : public QDialog {
    Q_OBJECT
public:
    /// retry: the last credentials for this realm were refused, and the box says so.
    F_Login(const WebViewLogin& request, bool retry, QWidget* owner);
    ~F_Login() override;

    /// Shows the box modally; the credentials, or none when cancelled.
    std::optional<WebViewCredentials> ask();

private:
    void Command1_Click();
    void Command2_Click();

    std::unique_ptr<Ui::F_Login> ui;
};
