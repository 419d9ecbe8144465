// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A main window without a toolkit: records what the core shows, answers the
// file dialogs from queues, and runs a scripted action whenever the core
// processes pending events (that is where a user's clicks would run).

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "editor/MainWindowView.h"

class FakeView : public MainWindowView {
public:
    struct Status {
        std::string text;
        std::optional<Rgb> colour;
        bool repaintNow;
    };

    void ShowStatus(const std::string& text, std::optional<Rgb> colour, bool repaintNow) override {
        statuses.push_back({text, colour, repaintNow});
        statusText = text;
        if (colour) statusColour = colour;
        if (onStatus) onStatus(statuses.back());
    }
    void setFrameLabel(const std::string& text) override { frameLabel = text; }
    void setJumpLabel(const std::string& text) override { jumpLabel = text; }
    void setButtonEnabled(ViewButton b, bool enabled) override { buttons[b] = enabled; }
    void showErrorBox(const std::string& text) override { errors.push_back(text); }
    void showWarningBox(const std::string& text) override { warnings.push_back(text); }
    std::optional<std::string> askOpenFileName() override { return next(openAnswers); }
    std::optional<std::string> askSaveFileName() override { return next(saveAnswers); }
    void setPortMenu(const std::vector<std::string>& names) override {
        portMenu = names;
        ++portMenuBuilds;
    }
    void processPendingEvents() override {
        ++eventRounds;
        if (onEvents) onEvents(eventRounds);
    }
    void quitApplication() override { quitRequested = true; }
    void repaintNow() override {
        ++repaints;
        if (onRepaint) onRepaint();
    }

    bool enabled(ViewButton b) const {
        auto it = buttons.find(b);
        return it == buttons.end() ? true : it->second;
    }

    std::vector<Status> statuses;
    std::string statusText;
    std::optional<Rgb> statusColour;
    std::string frameLabel = "0";
    std::string jumpLabel = "-1";
    std::map<ViewButton, bool> buttons;
    std::vector<std::string> errors, warnings;
    std::deque<std::optional<std::string>> openAnswers, saveAnswers;
    std::vector<std::string> portMenu;
    int portMenuBuilds = 0;
    int eventRounds = 0;
    bool quitRequested = false;
    int repaints = 0;
    std::function<void()> onRepaint;
    // Runs at every processPendingEvents, with the round number (from 1).
    std::function<void(int round)> onEvents;
    std::function<void(const Status&)> onStatus;

private:
    static std::optional<std::string> next(std::deque<std::optional<std::string>>& q) {
        if (q.empty()) return std::nullopt;
        auto v = q.front();
        q.pop_front();
        return v;
    }
};
