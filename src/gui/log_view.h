#pragma once

#include <QAbstractScrollArea>
#include <QString>

#include "ui/window_model.h"

namespace reburn3 {

// A message log on screen: a list box over the core's MessageList that paints only
// the rows in view, all of one height. A post scrolls the newest line into view and
// repaints at once, without returning to the event loop, so lines posted during a
// long tick show as they come; that stays cheap however full the log is.
class LogView : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit LogView(const MessageList& lines, QWidget* parent = nullptr);

    // The list gained a line at its end (and may have lost some at its front).
    void lineAppended();
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

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    void updateScrollRange();
    void scrollToLast();

    const MessageList& m_lines;
    int m_rowHeight = 16;
};

}  // namespace reburn3
