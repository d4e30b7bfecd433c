#pragma once

// Plays the operator at the browser window's questions and reads what the web engine shows.
// Shared by the engine test on 127.0.0.1 and the one against torvane-cardsim in namespaces.

#include "F_Browser.h"
#include "F_Login.h"
#include "ModalSequence.h"

#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>
#include <functional>
#include <memory>
#include <optional>

namespace cardpages {

inline constexpr int kLoadTimeoutMs = 60000;

/// Types into whatever holds the focus, as a keyboard would.
inline void type(const QString& text)
{
    QTest::keyClicks(QApplication::focusWidget(), text);
}

/// What the login box showed before the operator typed.
struct LoginSeen {
    QString title;
    QString message;
    QString realm;
    bool failedShown = false;
    bool focusStartedInUser = false;
    bool passwordMasked = false;
};

/// For a ModalOperator<F_Login>: user name, Tab, password, Enter, as an operator types.
inline LoginSeen typeLogin(F_Login* box, const QString& user, const QString& password)
{
    box->activateWindow();
    static_cast<void>(QTest::qWaitFor(
        [box] {
            return QApplication::focusWidget() != nullptr &&
                   QApplication::focusWidget()->window() == box;
        },
        5000));
    auto* userField = box->findChild<QLineEdit*>(QStringLiteral("T_User"));
    auto* passwordField = box->findChild<QLineEdit*>(QStringLiteral("T_Password"));
    LoginSeen seen;
    seen.title = box->windowTitle();
    seen.message = box->findChild<QLabel*>(QStringLiteral("L_Message"))->text();
    seen.realm = box->findChild<QLabel*>(QStringLiteral("L_Realm"))->text();
    seen.failedShown = box->findChild<QLabel*>(QStringLiteral("L_Failed"))->isVisible();
    seen.focusStartedInUser = QApplication::focusWidget() == userField;
    seen.passwordMasked = passwordField->echoMode() == QLineEdit::Password;
    type(user);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    type(password);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    return seen;
}

/// What the certificate question showed.
struct QuestionSeen {
    QString title;
    QString text;
    bool noIsDefault = false;
};

/// For a ModalOperator<QMessageBox>: reads the question and answers it.
inline QuestionSeen answerQuestion(QMessageBox* box, bool yes)
{
    QuestionSeen seen{box->windowTitle(), box->text(),
                      box->defaultButton() == box->button(QMessageBox::No)};
    box->button(yes ? QMessageBox::Yes : QMessageBox::No)->click();
    return seen;
}

inline QWebEnginePage* page(F_Browser& window)
{
    auto* view = window.findChild<QWebEngineView*>();
    return view != nullptr ? view->page() : nullptr;
}

/// The text of the page on show (the engine's own error pages included).
/// The answer is shared with the callback: a page that goes away still calls it, with nothing,
/// after the wait here may have given up (a slow engine), and it must not write to a gone frame.
inline QString pageText(QWebEnginePage* page)
{
    auto text = std::make_shared<std::optional<QString>>();
    page->toPlainText([text](const QString& t) { *text = t; });
    static_cast<void>(QTest::qWaitFor([&text] { return text->has_value(); }, 10000));
    return text->value_or(QString());
}

inline QVariant runScript(QWebEnginePage* page, const QString& script)
{
    auto result = std::make_shared<std::optional<QVariant>>();
    page->runJavaScript(script, [result](const QVariant& v) { *result = v; });
    static_cast<void>(QTest::qWaitFor([&result] { return result->has_value(); }, 10000));
    return result->value_or(QVariant());
}

/// Clicks the element with this id with the mouse, as an operator does.
inline bool clickElement(F_Browser& window, const QString& id)
{
    QWebEnginePage* p = page(window);
    const QVariantList box =
        runScript(p, QStringLiteral("(function(){var r=document.getElementById('%1')"
                                    ".getBoundingClientRect();return [r.left+r.width/2,"
                                    "r.top+r.height/2];})()")
                         .arg(id))
            .toList();
    if (box.size() != 2) {
        return false;
    }
    auto* view = window.findChild<QWebEngineView*>();
    QWidget* target = view->focusProxy() != nullptr ? view->focusProxy() : view;
    const QPoint at(qRound(box[0].toDouble()), qRound(box[1].toDouble()));
    QTest::mouseClick(target, Qt::LeftButton, {}, at);
    return true;
}

} // namespace cardpages
