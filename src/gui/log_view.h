// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <QAbstractScrollArea>
#include <QString>
#include <deque>
#include <string>

#include "base/window_model.h"

class QMenu;

namespace reburn3 {

// A message log on screen: a list box over the core's MessageList that paints only
// the rows in view, all of one height, and never a part of a row. A post scrolls the
// newest line into view and repaints at once, without returning to the event loop, so
// lines posted during a long tick show as they come; that stays cheap however full the
// log is: a post at the end moves the pixels of the rows in view, only right of where
// they all begin alike, and paints only the new row.
//
// Rows can be selected with the mouse (a click, Shift+click or a drag; Ctrl+A selects
// all) and copied with Ctrl+C or the context menu ("Copy", "Copy All"), one line of
// text per row. A post leaves no row highlighted, as the list box does. Lines wider
// than the view scroll sideways; a line too long for the view also shows whole in a
// tooltip. Each scroll bar shows only when there is something to scroll.
class LogView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit LogView(const MessageList& lines, QWidget* parent = nullptr);

    // The list gained `line` at its end and lost `dropped` lines at its front.
    void lineAppended(const std::string& line, std::size_t dropped);
    // The list was emptied.
    void cleared();

    int rowCount() const;
    QString rowText(int row) const;
    int rowHeight() const { return m_rowHeight; }
    // The first row in view and how many rows the view shows in full.
    int firstVisibleRow() const;
    // The row at this point of the viewport, or -1.
    int rowAt(QPoint viewportPos) const;
    int visibleRows() const;
    // True when the newest line is in view.
    bool lastRowVisible() const;

    // The selected rows, first to last; empty when none is.
    bool hasSelection() const { return m_anchor >= 0; }
    int selectionFirst() const;
    int selectionLast() const;
    void selectRows(int first, int last);
    void selectAll();
    void clearSelection();
    // The selected rows, or every row, as text with one line per row.
    QString selectedText() const;
    QString allText() const;
    // "Copy" and "Copy All": the text goes to the clipboard.
    void copySelection() const;
    void copyAll() const;
    // The context menu as it would open now (the caller owns it).
    QMenu* createContextMenu();

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    // What decides whether a post can move the rows in view instead of painting them.
    struct ViewState {
        int first;  // the first row in view
        bool atEnd;
        int sideways;
        bool verticalBar;
        bool horizontalBar;
        QSize size;
    };
    ViewState viewState() const;
    bool paintNewRowOnly(const ViewState& before, std::size_t dropped);
    void updateScrollRange();
    void showScrollBarsAsNeeded();
    void scrollToLast();
    void measureAllLines();
    int textWidth(const std::string& line) const;
    int inkRight(int first, int last) const;
    int sameUpTo(int first, int last);
    int contentWidth() const;
    int rowAtClamped(QPoint viewportPos) const;

    const MessageList& m_lines;
    int m_rowHeight = 16;
    // The width of each line on screen, front to back, and the widest of them.
    std::deque<int> m_widths;
    int m_widest = 0;
    // The words every row in view began with at the last post, and how far from the
    // text's start the rows look alike with them.
    std::string m_sameWords;
    int m_sameWordsEnd = 0;
    // The selection runs from the anchor row to the current row; -1 when none.
    int m_anchor = -1;
    int m_current = -1;
};

}  // namespace reburn3
