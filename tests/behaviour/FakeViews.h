#pragma once

#include "ConfigBehaviour.h"
#include "ConfigView.h"
#include "MainView.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// A main window without a toolkit: it keeps what a window would show and records, in order,
// what the behaviour asked of it.
class FakeMainView final : public behaviour::MainView {
public:
    std::array<bool, 3> enabled{true, false, true};
    Button defaultButton = Button::Command3;
    std::optional<Button> focus;
    int interval = 0;
    int frame = 0;
    std::string status;
    bool blocked = false;
    struct Message {
        Icon icon;
        std::string title;
        std::string text;
    };
    std::vector<Message> messages;
    /// What the operator does in the settings dialog; nothing: the dialog is closed as is.
    std::function<void()> dialog;
    /// What the last dialog was opened with, and what a dialog returns.
    behaviour::PublicArea shown;
    behaviour::Assignment answer;
    int dialogs = 0;
    int events = 0;
    std::function<void()> onEvents;
    std::string browserFailure;
    std::vector<std::string> pages;
    int browserUnloads = 0;
    int unloads = 0;
    /// "status:<text>", "dialog", "block", "unblock", "page:<url>", "message", "events".
    std::vector<std::string> log;

    void setButtonEnabled(Button b, bool on) override { enabled[static_cast<int>(b)] = on; }
    void setDefaultButton(Button b) override { defaultButton = b; }
    void setButtonFocus(Button b) override { focus = b; }
    void setTimerInterval(int ms) override { interval = ms; }
    void showFrame(int index) override { frame = index; }
    void setStatus(const std::string& text) override
    {
        status = text;
        log.push_back("status:" + text);
    }
    void setInputBlocked(bool on) override
    {
        blocked = on;
        log.push_back(on ? "block" : "unblock");
    }
    void showMessage(Icon icon, const std::string& title, const std::string& text) override
    {
        messages.push_back({icon, title, text});
        log.push_back("message");
    }
    /// The questions asked (title and text) and the operator's answer: No unless set.
    std::vector<std::pair<std::string, std::string>> questions;
    bool answerYes = false;
    bool askQuestion(const std::string& title, const std::string& text) override
    {
        questions.emplace_back(title, text);
        log.push_back("question");
        return answerYes;
    }
    behaviour::Assignment showSettingsDialog(const behaviour::PublicArea& area) override
    {
        ++dialogs;
        log.push_back("dialog");
        shown = area;
        if (dialog) {
            dialog();
        }
        return answer;
    }
    void processEvents() override
    {
        ++events;
        if (log.empty() || log.back() != "events") {
            log.push_back("events");
        }
        if (onEvents) {
            onEvents();
        }
    }
    std::string browserStartFailure() override { return browserFailure; }
    void openPage(const std::string& url) override
    {
        pages.push_back(url);
        log.push_back("page:" + url);
    }
    void unloadBrowser() override { ++browserUnloads; }
    void unload() override { ++unloads; }

    bool isEnabled(Button b) const { return enabled[static_cast<int>(b)]; }
};

// A settings dialog without a toolkit. Like a real one it raises the change handler after
// every real change of a box's text, refuses a fourth character, and runs the focus-loss
// handler of a box when the focus moves from it to another control.
class FakeConfigView final : public behaviour::ConfigView {
public:
    struct Focus {
        bool onSet = false;
        Group group = Group::IpAddr;
        int index = 0;
        bool operator==(const Focus&) const = default;
    };

    behaviour::ConfigBehaviour* core = nullptr;
    std::array<std::array<std::u16string, 4>, 3> texts;
    std::array<std::array<int, 4>, 3> carets{};
    std::optional<Focus> focus;
    bool setIsDefault = false;
    std::string mac;
    bool browserChecked = true;
    /// The operator's answer to the confirmation; No unless set.
    bool answerYes = false;
    std::vector<std::string> questions;
    std::string questionTitle;
    std::optional<bool> closedWithSet;

    std::u16string boxText(Group g, int i) const override { return at(texts, g, i); }
    void setBoxText(Group g, int i, const std::u16string& text) override
    {
        if (at(texts, g, i) == text) {
            return;
        }
        at(texts, g, i) = text;
        at(carets, g, i) = static_cast<int>(text.size());
        core->change(g, static_cast<short>(i));
    }
    int caret(Group g, int i) const override { return at(carets, g, i); }
    void setCaret(Group g, int i, int position) override
    {
        at(carets, g, i) = std::min(position, static_cast<int>(at(texts, g, i).size()));
    }
    void focusBox(Group g, int i) override { moveFocus({false, g, i}); }
    void makeSetDefault() override { setIsDefault = true; }
    void focusSet() override { moveFocus({true, Group::IpAddr, 0}); }
    void setMacText(const std::string& text) override { mac = text; }
    bool openBrowserChecked() const override { return browserChecked; }
    bool confirm(const std::string& title, const std::string& text) override
    {
        questionTitle = title;
        questions.push_back(text);
        return answerYes;
    }
    void closeDialog(bool set) override
    {
        closedWithSet = set;
        core->Form_Unload();
    }

    // The operator.
    /// Keys typed one by one into whichever box has the focus, at its caret.
    void type(std::u16string_view keys)
    {
        for (const char16_t key : keys) {
            insert(std::u16string(1, key));
        }
    }
    /// Text pasted at the caret; the box keeps what fits in three characters.
    void insert(const std::u16string& piece)
    {
        if (!focus || focus->onSet) {
            return;
        }
        std::u16string& t = at(texts, focus->group, focus->index);
        const std::size_t room = t.size() < 3 ? 3 - t.size() : 0;
        if (room == 0) {
            return;
        }
        int& c = at(carets, focus->group, focus->index);
        t.insert(static_cast<std::size_t>(c), piece.substr(0, room));
        c += static_cast<int>(std::min(room, piece.size()));
        core->change(focus->group, static_cast<short>(focus->index));
    }
    void click(Group g, int i) { moveFocus({false, g, i}); }
    void clickSet()
    {
        moveFocus({true, Group::IpAddr, 0});
        core->Command2_Click();
    }
    bool focusIs(Group g, int i) const { return focus && *focus == Focus{false, g, i}; }
    bool focusOnSet() const { return focus && focus->onSet; }

private:
    template <typename T> static T& at(std::array<std::array<T, 4>, 3>& a, Group g, int i)
    {
        return a[static_cast<int>(g)][i];
    }
    template <typename T>
    static const T& at(const std::array<std::array<T, 4>, 3>& a, Group g, int i)
    {
        return a[static_cast<int>(g)][i];
    }
    void moveFocus(Focus to)
    {
        const std::optional<Focus> from = focus;
        focus = to;
        if (from && !from->onSet && !(*from == to)) {
            core->lostFocus(from->group, static_cast<short>(from->index));
        }
    }
};
