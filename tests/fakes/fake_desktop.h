// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/clock.h"
#include "base/desktop.h"

namespace reburn3::testing {

// Records what the core asked of the desktop; file dialog answers are queued by the test.
class FakeDesktop final : public Desktop {
public:
    std::optional<std::string> runOpenFileDialog(const FileDialogSettings& settings) override {
        lastDialog = settings;
        ++dialogsShown;
        if (answers.empty()) {
            return std::nullopt;
        }
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void showMainWindow() override { ++mainWindowShown; }
    void showPortDialog() override { portDialogVisible = true; }
    void hidePortDialog() override { portDialogVisible = false; }
    void selectPortOption(int index) override { selectedOption = index; }
    void showMessageBox(const std::string& text) override { messageBoxes.push_back(text); }
    bool askYesNo(const std::string& text) override {
        questions.push_back(text);
        if (onQuestion) {
            onQuestion();
        }
        return yes;
    }
    void endProcess() override { ended = true; }
    std::string currentDirectory() const override { return "/work/dir"; }

    std::deque<std::optional<std::string>> answers;  // nullopt: the operator cancels
    FileDialogSettings lastDialog;
    int dialogsShown = 0;
    int mainWindowShown = 0;
    bool portDialogVisible = false;
    int selectedOption = 0;
    std::vector<std::string> messageBoxes;
    std::vector<std::string> questions;
    bool yes = false;                  // the answer to every question
    std::function<void()> onQuestion;  // what happens while a question is open
    bool ended = false;
};

// A clock whose time of day the test sets.
class FixedClock final : public Clock {
public:
    std::string timeOfDay() override { return now; }
    std::string now = "12:00:00";
};

}  // namespace reburn3::testing
