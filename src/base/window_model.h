// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <array>
#include <cstddef>
#include <deque>
#include <string>
#include <vector>

namespace reburn3 {

enum class TextBoxId { Text1, Text2, Text3, Text4, Text5 };
enum class ButtonId {
    SelectInputFile,
    ConfigComPort,
    ProgramFlash,
    AbortProgram,
    ClearStatus,
    ClearDebug
};
enum class LogId { Status, Debug };  // List1, List2

// One scrolling message log: lines in posting order, the oldest dropped past the limit.
class MessageList {
public:
    explicit MessageList(std::size_t limit) : m_limit(limit) {}

    // Appends a line, makes it the current (visible, not highlighted) line and drops
    // the oldest lines past the limit. Returns how many lines were dropped.
    std::size_t append(const std::string& line);
    void clear() { m_lines.clear(); }

    std::size_t limit() const { return m_limit; }
    std::size_t count() const { return m_lines.size(); }
    const std::string& line(std::size_t i) const { return m_lines.at(i); }
    const std::string& last() const { return m_lines.back(); }
    const std::deque<std::string>& lines() const { return m_lines; }
    bool empty() const { return m_lines.empty(); }

private:
    std::size_t m_limit;
    std::deque<std::string> m_lines;
};

struct CommandButton {
    std::string caption;
    bool enabled = true;
};

// Told of every change of the window model, so that a view can show it at once.
class WindowListener {
public:
    virtual ~WindowListener() = default;
    virtual void textChanged(TextBoxId /*box*/) {}
    virtual void buttonChanged(ButtonId /*button*/) {}
    virtual void timerChanged() {}
    virtual void lineAppended(LogId /*log*/, const std::string& /*line*/, std::size_t /*dropped*/) {
    }
    virtual void logCleared(LogId /*log*/) {}
};

// The main window as plain data: the five text boxes, the command buttons, the
// state of the tick timer and the two logs. The core writes it; views read it.
class WindowModel {
public:
    static constexpr std::size_t kStatusLimit = 1000;
    static constexpr std::size_t kDebugLimit = 300;
    static constexpr int kTimerInterval = 5;

    WindowModel();

    // Views register here; every change is told to each of them in turn.
    void addListener(WindowListener* listener);
    void removeListener(WindowListener* listener);

    const std::string& text(TextBoxId box) const { return m_texts.at(index(box)); }
    void setText(TextBoxId box, std::string value);

    const CommandButton& button(ButtonId id) const { return m_buttons.at(index(id)); }
    void setCaption(ButtonId id, std::string caption);
    void setEnabled(ButtonId id, bool enabled);

    bool timerEnabled() const { return m_timerEnabled; }
    int timerInterval() const { return m_timerInterval; }
    void setTimerEnabled(bool enabled);
    void setTimerInterval(int milliseconds);

    const MessageList& log(LogId id) const { return id == LogId::Status ? m_status : m_debug; }
    void appendLine(LogId id, const std::string& line);
    void clearLog(LogId id);

private:
    template <typename E>
    static std::size_t index(E e) {
        return static_cast<std::size_t>(e);
    }
    MessageList& list(LogId id) { return id == LogId::Status ? m_status : m_debug; }

    std::array<std::string, 5> m_texts;
    std::array<CommandButton, 6> m_buttons;
    bool m_timerEnabled = false;
    int m_timerInterval = kTimerInterval;
    MessageList m_status{kStatusLimit};
    MessageList m_debug{kDebugLimit};
    std::vector<WindowListener*> m_listeners;
};

}  // namespace reburn3
