// SPDX-License-Identifier: Apache-2.0
#include "gui/log_view.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionSlider>
#include <QToolTip>

#include <algorithm>
#include <array>

#include "gui/gui_texts.h"

namespace reburn3 {

namespace {
constexpr int kTextMargin = 3;
constexpr int kSidewaysStep = 20;

QString qs(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A scroll bar that can hold back its repaints while its range and value change in
// steps, and then repaints only when it looks different from what it last painted. A post
// to a long log moves the range and then the value by one row: the slider comes back to
// the same pixels, and the bar is not painted for nothing.
class QuietScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

    void holdRepaints() { m_holding = true; }
    void releaseRepaints() {
        m_holding = false;
        if (m_changedWhileHeld && !(m_painted && look() == m_paintedLook)) {
            update();
        }
        m_changedWhileHeld = false;
    }

protected:
    void sliderChange(SliderChange change) override {
        if (m_holding && change != SliderOrientationChange) {
            m_changedWhileHeld = true;
            return;
        }
        QScrollBar::sliderChange(change);
    }

    void paintEvent(QPaintEvent* event) override {
        m_paintedLook = look();
        m_painted = true;
        QScrollBar::paintEvent(event);
    }

private:
    // What a paint of the bar shows: where its slider is, which end it is at, and its
    // state (enabled, pressed or hovered parts).
    struct Look {
        QRect slider;
        bool atMinimum = false;
        bool atMaximum = false;
        int state = 0;
        int activeParts = 0;
        bool operator==(const Look&) const = default;
    };
    Look look() const {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                        this),
                option.sliderValue == option.minimum, option.sliderValue == option.maximum,
                static_cast<int>(option.state), static_cast<int>(option.activeSubControls)};
    }

    Look m_paintedLook;
    bool m_painted = false;
    bool m_holding = false;
    bool m_changedWhileHeld = false;
};

// Holds back the repaints of a view's scroll bars while it lives.
class QuietScrollBars {
public:
    explicit QuietScrollBars(QAbstractScrollArea& area)
        : m_bars{dynamic_cast<QuietScrollBar*>(area.verticalScrollBar()),
                 dynamic_cast<QuietScrollBar*>(area.horizontalScrollBar())} {
        for (QuietScrollBar* bar : m_bars) {
            if (bar != nullptr) {
                bar->holdRepaints();
            }
        }
    }
    ~QuietScrollBars() {
        for (QuietScrollBar* bar : m_bars) {
            if (bar != nullptr) {
                bar->releaseRepaints();
            }
        }
    }
    QuietScrollBars(const QuietScrollBars&) = delete;
    QuietScrollBars& operator=(const QuietScrollBars&) = delete;

private:
    std::array<QuietScrollBar*, 2> m_bars;
};

void setBarShown(QAbstractScrollArea& area, Qt::Orientation orientation, bool shown) {
    const Qt::ScrollBarPolicy policy = shown ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff;
    // Setting a policy lays the view out again even when it does not change.
    if (orientation == Qt::Vertical) {
        if (area.verticalScrollBarPolicy() != policy) {
            area.setVerticalScrollBarPolicy(policy);
        }
    } else if (area.horizontalScrollBarPolicy() != policy) {
        area.setHorizontalScrollBarPolicy(policy);
    }
}
}  // namespace

LogView::LogView(const MessageList& lines, QWidget* parent)
    : QAbstractScrollArea(parent), m_lines(lines) {
    setFocusPolicy(Qt::StrongFocus);
    setVerticalScrollBar(new QuietScrollBar(Qt::Vertical));
    setHorizontalScrollBar(new QuietScrollBar(Qt::Horizontal));
    // The bars come and go with the content (showScrollBarsAsNeeded), decided at once
    // rather than at a later turn of the event loop, so that a post paints its final
    // layout.
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(false);
    // The view paints every pixel of its viewport itself.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_rowHeight = fontMetrics().height() + 1;
    verticalScrollBar()->setSingleStep(1);
    horizontalScrollBar()->setSingleStep(kSidewaysStep);
    measureAllLines();
    updateScrollRange();
}

int LogView::rowCount() const {
    return static_cast<int>(m_lines.count());
}

QString LogView::rowText(int row) const {
    if (row < 0 || row >= rowCount()) {
        return {};
    }
    return QString::fromStdString(m_lines.line(static_cast<std::size_t>(row)));
}

int LogView::firstVisibleRow() const {
    return verticalScrollBar()->value();
}

int LogView::rowAt(QPoint viewportPos) const {
    if (viewportPos.y() < 0 || viewportPos.y() >= visibleRows() * m_rowHeight) {
        return -1;
    }
    const int row = firstVisibleRow() + viewportPos.y() / m_rowHeight;
    return row < rowCount() ? row : -1;
}

int LogView::rowAtClamped(QPoint viewportPos) const {
    const int y = std::clamp(viewportPos.y(), 0, visibleRows() * m_rowHeight - 1);
    return std::min(firstVisibleRow() + y / m_rowHeight, rowCount() - 1);
}

int LogView::visibleRows() const {
    return std::max(1, viewport()->height() / m_rowHeight);
}

bool LogView::lastRowVisible() const {
    const int last = rowCount() - 1;
    return last < 0 || (last >= firstVisibleRow() && last < firstVisibleRow() + visibleRows());
}

int LogView::textWidth(const std::string& line) const {
    return fontMetrics().horizontalAdvance(QString::fromStdString(line));
}

void LogView::measureAllLines() {
    m_widths.clear();
    m_widest = 0;
    for (const std::string& line : m_lines.lines()) {
        m_widths.push_back(textWidth(line));
        m_widest = std::max(m_widest, m_widths.back());
    }
}

int LogView::contentWidth() const {
    return m_widest + 2 * kTextMargin;
}

void LogView::lineAppended(const std::string& line, std::size_t dropped) {
    const ViewState before = viewState();
    m_widths.push_back(textWidth(line));
    m_widest = std::max(m_widest, m_widths.back());
    bool widestDropped = false;
    for (std::size_t i = 0; i < dropped && !m_widths.empty(); ++i) {
        widestDropped = widestDropped || m_widths.front() >= m_widest;
        m_widths.pop_front();
    }
    if (widestDropped) {
        m_widest = m_widths.empty() ? 0 : *std::max_element(m_widths.begin(), m_widths.end());
    }
    // The new line becomes the current line and is deselected again: nothing stays
    // highlighted after a post.
    const bool hadSelection = hasSelection();
    m_anchor = m_current = -1;
    {
        const QuietScrollBars quiet(*this);
        updateScrollRange();
        scrollToLast();
    }
    if (hadSelection || !paintNewRowOnly(before, dropped)) {
        viewport()->repaint();
    }
}

LogView::ViewState LogView::viewState() const {
    return {firstVisibleRow(),
            verticalScrollBar()->value() == verticalScrollBar()->maximum(),
            horizontalScrollBar()->value(),
            verticalScrollBarPolicy() == Qt::ScrollBarAlwaysOn,
            horizontalScrollBarPolicy() == Qt::ScrollBarAlwaysOn,
            viewport()->size()};
}

// After a post at the end of the log the rows in view are the ones shown before, moved up
// by a row when the view was full: their pixels are moved and only the new row is
// painted. Whatever else changed (a scroll bar came or went, the view was not at the end,
// the view moved sideways, the focus frame, which would move with the rows) asks for a
// whole repaint: false.
bool LogView::paintNewRowOnly(const ViewState& before, std::size_t dropped) {
    const ViewState now = viewState();
    if (!before.atEnd || hasFocus() || now.sideways != before.sideways ||
        now.verticalBar != before.verticalBar || now.horizontalBar != before.horizontalBar ||
        now.size != before.size) {
        return false;
    }
    // How far the rows in view moved, in rows of the list before the post.
    const std::ptrdiff_t moved = static_cast<std::ptrdiff_t>(now.first) +
                                 static_cast<std::ptrdiff_t>(dropped) - before.first;
    const int newRow = rowCount() - 1 - firstVisibleRow();
    if (moved < 0 || moved > 1 || newRow < 0 || newRow >= visibleRows()) {
        return false;
    }
    // Right of the text of every row in view there is only the background, the same
    // before and after the move: only the part up to there is moved and painted.
    const std::ptrdiff_t oldFirst =
        static_cast<std::ptrdiff_t>(before.first) - static_cast<std::ptrdiff_t>(dropped);
    const int width =
        oldFirst < 0 ? viewport()->width() : inkRight(static_cast<int>(oldFirst), rowCount() - 1);
    if (moved == 1) {
        // Left of where the rows first differ they look alike: only the rest moves.
        const int from = std::min(sameUpTo(static_cast<int>(oldFirst), rowCount() - 1), width);
        viewport()->scroll(0, -m_rowHeight,
                           QRect(from, 0, width - from, visibleRows() * m_rowHeight));
    }
    // At once, as a whole repaint would be: the moved rows go to the screen with it.
    viewport()->repaint(QRect(0, newRow * m_rowHeight, width, m_rowHeight));
    return true;
}

// How far from the viewport's left edge rows `first` to `last` look the same: they begin
// with the same words, and left of where the first word in which they differ can reach
// they are drawn alike. During a download every row begins "Processing ...   ".
int LogView::sameUpTo(int first, int last) {
    if (first < 0 || first >= last) {
        return 0;
    }
    const std::string& top = m_lines.line(static_cast<std::size_t>(first));
    std::size_t shared = top.size();
    for (int row = first + 1; row <= last && shared > 0; ++row) {
        const std::string& line = m_lines.line(static_cast<std::size_t>(row));
        const std::size_t length = std::min(shared, line.size());
        shared = static_cast<std::size_t>(
            std::mismatch(top.begin(), top.begin() + static_cast<std::ptrdiff_t>(length),
                          line.begin())
                .first -
            top.begin());
    }
    // Back to the start of a word: the words before it are shaped alike in every row.
    while (shared > 0 && top[shared - 1] != ' ') {
        --shared;
    }
    const std::string_view words(top.data(), shared);
    // Only plain printable ASCII is sure to run left to right, glyph after glyph.
    if (words.empty() ||
        std::any_of(words.begin(), words.end(), [](char c) { return c < 0x20 || c > 0x7e; })) {
        return 0;
    }
    if (words != m_sameWords) {
        m_sameWords = words;
        // The next word's glyphs may reach left of where it starts, and a kerning pair
        // across the blank may move it a little.
        const int reach =
            std::max(0, -fontMetrics().minLeftBearing()) + fontMetrics().averageCharWidth();
        m_sameWordsEnd = fontMetrics().horizontalAdvance(qs(words)) - reach;
    }
    return std::max(0, kTextMargin - horizontalScrollBar()->value() + m_sameWordsEnd);
}

// How far from the viewport's left edge the text of rows `first` to `last` can reach,
// with room for a glyph drawn past its advance; at most the viewport's width.
int LogView::inkRight(int first, int last) const {
    int widest = 0;
    for (int row = std::max(first, 0); row <= last && row < static_cast<int>(m_widths.size());
         ++row) {
        widest = std::max(widest, m_widths[static_cast<std::size_t>(row)]);
    }
    const int right =
        kTextMargin - horizontalScrollBar()->value() + widest + fontMetrics().averageCharWidth();
    return std::clamp(right, 0, viewport()->width());
}

void LogView::cleared() {
    m_widths.clear();
    m_widest = 0;
    m_anchor = m_current = -1;
    updateScrollRange();
    viewport()->repaint();
}

void LogView::showScrollBarsAsNeeded() {
    // Each bar takes room from the other direction: two rounds settle both.
    for (int round = 0; round < 2; ++round) {
        setBarShown(*this, Qt::Vertical, rowCount() > viewport()->height() / m_rowHeight);
        setBarShown(*this, Qt::Horizontal, contentWidth() > viewport()->width());
    }
}

void LogView::updateScrollRange() {
    showScrollBarsAsNeeded();
    QScrollBar* bar = verticalScrollBar();
    const int pageRows = visibleRows();
    bar->setPageStep(pageRows);
    // Blocked so that the range change does not scroll (and paint) before the caller
    // decides where the view stands.
    bool blocked = bar->blockSignals(true);
    bar->setRange(0, std::max(0, rowCount() - pageRows));
    bar->blockSignals(blocked);

    QScrollBar* sideways = horizontalScrollBar();
    sideways->setPageStep(viewport()->width());
    blocked = sideways->blockSignals(true);
    sideways->setRange(0, std::max(0, contentWidth() - viewport()->width()));
    sideways->blockSignals(blocked);
}

void LogView::scrollToLast() {
    QScrollBar* bar = verticalScrollBar();
    const bool blocked = bar->blockSignals(true);
    bar->setValue(bar->maximum());
    bar->blockSignals(blocked);
}

int LogView::selectionFirst() const {
    return hasSelection() ? std::min(m_anchor, m_current) : -1;
}

int LogView::selectionLast() const {
    return hasSelection() ? std::max(m_anchor, m_current) : -1;
}

void LogView::selectRows(int first, int last) {
    if (rowCount() == 0) {
        clearSelection();
        return;
    }
    m_anchor = std::clamp(first, 0, rowCount() - 1);
    m_current = std::clamp(last, 0, rowCount() - 1);
    viewport()->update();
}

void LogView::selectAll() {
    selectRows(0, rowCount() - 1);
}

void LogView::clearSelection() {
    m_anchor = m_current = -1;
    viewport()->update();
}

QString LogView::selectedText() const {
    QStringList rows;
    for (int row = selectionFirst(); hasSelection() && row <= selectionLast(); ++row) {
        rows << rowText(row);
    }
    return rows.join(QLatin1Char('\n'));
}

QString LogView::allText() const {
    QStringList rows;
    for (int row = 0; row < rowCount(); ++row) {
        rows << rowText(row);
    }
    return rows.join(QLatin1Char('\n'));
}

void LogView::copySelection() const {
    if (hasSelection()) {
        QGuiApplication::clipboard()->setText(selectedText());
    }
}

void LogView::copyAll() const {
    QGuiApplication::clipboard()->setText(allText());
}

QMenu* LogView::createContextMenu() {
    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("logMenu"));
    QAction* copy = menu->addAction(qs(text::gui::kCopy), this, &LogView::copySelection);
    copy->setObjectName(QStringLiteral("copy"));
    copy->setEnabled(hasSelection());
    QAction* copyAll = menu->addAction(qs(text::gui::kCopyAll), this, &LogView::copyAll);
    copyAll->setObjectName(QStringLiteral("copyAll"));
    copyAll->setEnabled(rowCount() > 0);
    return menu;
}

void LogView::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void LogView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton || rowCount() == 0) {
        QAbstractScrollArea::mousePressEvent(event);
        return;
    }
    const int row = rowAt(event->position().toPoint());
    if (row < 0) {
        clearSelection();
    } else if ((event->modifiers() & Qt::ShiftModifier) && hasSelection()) {
        selectRows(m_anchor, row);
    } else {
        selectRows(row, row);
    }
    event->accept();
}

void LogView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || !hasSelection()) {
        QAbstractScrollArea::mouseMoveEvent(event);
        return;
    }
    selectRows(m_anchor, rowAtClamped(event->position().toPoint()));
    event->accept();
}

void LogView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect area = event->rect();
    const QPalette& colours = palette();
    painter.fillRect(area, colours.color(QPalette::Base));

    const int left = kTextMargin - horizontalScrollBar()->value();
    const int width = std::max(viewport()->width(), contentWidth());
    const int first = firstVisibleRow() + area.top() / m_rowHeight;
    // Whole rows only: the strip under the last whole row stays empty.
    const int lastWhole = firstVisibleRow() + visibleRows() - 1;
    const int lastInArea = firstVisibleRow() + area.bottom() / m_rowHeight;
    const int last = std::min({lastInArea, lastWhole, rowCount() - 1});
    for (int row = first; row <= last; ++row) {
        const int y = (row - firstVisibleRow()) * m_rowHeight;
        const bool selected = hasSelection() && row >= selectionFirst() && row <= selectionLast();
        if (selected) {
            painter.fillRect(QRect(0, y, viewport()->width(), m_rowHeight),
                             colours.color(QPalette::Highlight));
            painter.setPen(colours.color(QPalette::HighlightedText));
        } else {
            painter.setPen(colours.color(QPalette::Text));
        }
        painter.drawText(QRect(left, y, width, m_rowHeight),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, rowText(row));
    }
    if (hasFocus()) {
        // Where a list box with the focus but no current row shows its focus frame.
        painter.setPen(QPen(colours.color(QPalette::Text), 1, Qt::DotLine));
        painter.drawRect(viewport()->rect().adjusted(0, 0, -1, -1));
    }
}

void LogView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    const bool atEnd = verticalScrollBar()->value() == verticalScrollBar()->maximum();
    updateScrollRange();
    if (atEnd) {
        scrollToLast();
    }
}

void LogView::scrollContentsBy(int /*dx*/, int /*dy*/) {
    viewport()->update();
}

void LogView::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Copy)) {
        copySelection();
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::SelectAll)) {
        selectAll();
        event->accept();
        return;
    }
    QScrollBar* bar = verticalScrollBar();
    switch (event->key()) {
        case Qt::Key_Up:
            bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
            break;
        case Qt::Key_Down:
            bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            break;
        case Qt::Key_PageUp:
            bar->triggerAction(QAbstractSlider::SliderPageStepSub);
            break;
        case Qt::Key_PageDown:
            bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
            break;
        case Qt::Key_Home:
            bar->triggerAction(QAbstractSlider::SliderToMinimum);
            break;
        case Qt::Key_End:
            bar->triggerAction(QAbstractSlider::SliderToMaximum);
            break;
        case Qt::Key_Left:
            horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
            break;
        case Qt::Key_Right:
            horizontalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
            break;
        default:
            QAbstractScrollArea::keyPressEvent(event);
            return;
    }
    event->accept();
}

void LogView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        m_rowHeight = fontMetrics().height() + 1;
        m_sameWords.clear();
        measureAllLines();
        updateScrollRange();
    }
}

// A line too long for the view shows whole in a tooltip.
bool LogView::viewportEvent(QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        const QString line = rowText(rowAt(help->pos()));
        if (fontMetrics().horizontalAdvance(line) + kTextMargin > viewport()->width()) {
            QToolTip::showText(help->globalPos(), line, viewport());
        } else {
            QToolTip::hideText();
        }
        return true;
    }
    return QAbstractScrollArea::viewportEvent(event);
}

void LogView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    viewport()->update();
}

void LogView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    viewport()->update();
}

}  // namespace reburn3
