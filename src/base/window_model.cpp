// SPDX-License-Identifier: Apache-2.0
#include "base/window_model.h"

#include <algorithm>

#include "base/messages.h"

namespace reburn3 {

std::size_t MessageList::append(const std::string& line) {
    m_lines.push_back(line);
    std::size_t dropped = 0;
    while (m_lines.size() > m_limit) {
        m_lines.pop_front();
        ++dropped;
    }
    return dropped;
}

WindowModel::WindowModel() {
    m_buttons[index(ButtonId::SelectInputFile)].caption = text::kSelectInputFile;
    m_buttons[index(ButtonId::ConfigComPort)].caption = text::kConfigComPort;
    m_buttons[index(ButtonId::ProgramFlash)].caption = text::kProgramFlash;
    m_buttons[index(ButtonId::AbortProgram)].caption = text::kExitAbort;
    m_buttons[index(ButtonId::ClearStatus)].caption = text::kClearStatus;
    m_buttons[index(ButtonId::ClearDebug)].caption = text::kClearDebug;
}

void WindowModel::addListener(WindowListener* listener) {
    if (listener != nullptr &&
        std::find(m_listeners.begin(), m_listeners.end(), listener) == m_listeners.end()) {
        m_listeners.push_back(listener);
    }
}

void WindowModel::removeListener(WindowListener* listener) {
    std::erase(m_listeners, listener);
}

void WindowModel::setText(TextBoxId box, std::string value) {
    m_texts.at(index(box)) = std::move(value);
    for (auto* l : m_listeners) {
        l->textChanged(box);
    }
}

void WindowModel::setCaption(ButtonId id, std::string caption) {
    m_buttons.at(index(id)).caption = std::move(caption);
    for (auto* l : m_listeners) {
        l->buttonChanged(id);
    }
}

void WindowModel::setEnabled(ButtonId id, bool enabled) {
    m_buttons.at(index(id)).enabled = enabled;
    for (auto* l : m_listeners) {
        l->buttonChanged(id);
    }
}

void WindowModel::setTimerEnabled(bool enabled) {
    m_timerEnabled = enabled;
    for (auto* l : m_listeners) {
        l->timerChanged();
    }
}

void WindowModel::setTimerInterval(int milliseconds) {
    m_timerInterval = milliseconds;
    for (auto* l : m_listeners) {
        l->timerChanged();
    }
}

void WindowModel::appendLine(LogId id, const std::string& line) {
    const std::size_t dropped = list(id).append(line);
    for (auto* l : m_listeners) {
        l->lineAppended(id, line, dropped);
    }
}

void WindowModel::clearLog(LogId id) {
    list(id).clear();
    for (auto* l : m_listeners) {
        l->logCleared(id);
    }
}

}  // namespace reburn3
