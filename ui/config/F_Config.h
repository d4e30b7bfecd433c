#pragma once

#include "ConfigBehaviour.h"
#include "ConfigView.h"

#include <QDialog>

#include <array>
#include <memory>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;

namespace Ui {
class F_Config;
}

// The modal dialog that shows a detected card's MAC address and takes the address, subnet
// mask and gateway to give it. Its result is an Assignment: G_SetOk is true only when the
// operator confirmed Set; every other way out of the dialog leaves it false. What it does is
// decided by ConfigBehaviour; the handlers below only forward to it.
//
//     F_Config dlg(mainWindow, area); // the card's G_MacAddr and G_LocalIp
//     dlg.exec();
//     const behaviour::Assignment result = dlg.result();
class F_Config : public QDialog, private behaviour::ConfigView {
    Q_OBJECT

public:
    using Boxes = std::array<QLineEdit*, 4>;

    explicit F_Config(QWidget* parent = nullptr, const behaviour::PublicArea& area = {});
    ~F_Config() override;

    /// What the dialog was left with; final once it has closed.
    const behaviour::Assignment& result() const { return m_core.result(); }

    // The controls, under the names the window's handlers use. Each also carries its name as
    // objectName (the boxes as T_IpAddr_0 .. T_GateWay_3).
    Boxes T_IpAddr{};
    Boxes T_SbMask{};
    Boxes T_GateWay{};
    QCheckBox* C_SetBrw = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QLabel* L_MacAddr = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;
    QLabel* Label7 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label13 = nullptr;
    QFrame* Line1 = nullptr;
    QFrame* Line2 = nullptr;
    QLabel* Image2 = nullptr;

    void Form_Load();
    void Form_Activate();
    void Command1_Click();
    void Command2_Click();
    void T_IpAddr_Change(short Index);
    void T_SbMask_Change(short Index);
    void T_GateWay_Change(short Index);
    void T_IpAddr_LostFocus(short Index);
    void T_SbMask_LostFocus(short Index);
    void T_GateWay_LostFocus(short Index);

    void done(int r) override;

protected:
    bool event(QEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* e) override;

private:
    // ConfigView
    std::u16string boxText(Group group, int index) const override;
    void setBoxText(Group group, int index, const std::u16string& text) override;
    int caret(Group group, int index) const override;
    void setCaret(Group group, int index, int position) override;
    void focusBox(Group group, int index) override;
    void makeSetDefault() override;
    void focusSet() override;
    void setMacText(const std::string& text) override;
    bool openBrowserChecked() const override;
    bool confirm(const std::string& title, const std::string& text) override;
    void closeDialog(bool set) override;

    void applyTexts();
    QLineEdit* box(Group group, int index) const;

    std::unique_ptr<Ui::F_Config> m_ui;
    behaviour::ConfigBehaviour m_core;
};
