#include "gui/log_view.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>

namespace reburn3 {

namespace {
constexpr int kTextMargin = 3;
}

LogView::LogView(const MessageList& lines, QWidget* parent)
    : QAbstractScrollArea(parent), m_lines(lines) {
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(false);
    // The view paints every pixel of its viewport itself.
    viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
    m_rowHeight = fontMetrics().height() + 1;
    verticalScrollBar()->setSingleStep(1);
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
    if (viewportPos.y() < 0) {
        return -1;
    }
    const int row = firstVisibleRow() + viewportPos.y() / m_rowHeight;
    return row < rowCount() ? row : -1;
}

int LogView::visibleRows() const {
    return std::max(1, viewport()->height() / m_rowHeight);
}

bool LogView::lastRowVisible() const {
    const int last = rowCount() - 1;
    return last < 0 || (last >= firstVisibleRow() && last < firstVisibleRow() + visibleRows());
}

void LogView::lineAppended() {
    updateScrollRange();
    scrollToLast();
    viewport()->repaint();
}

void LogView::cleared() {
    updateScrollRange();
    viewport()->repaint();
}

void LogView::updateScrollRange() {
    QScrollBar* bar = verticalScrollBar();
    const int pageRows = visibleRows();
    bar->setPageStep(pageRows);
    // Blocked so that the range change does not scroll (and paint) before the caller
    // decides where the view stands.
    const bool blocked = bar->blockSignals(true);
    bar->setRange(0, std::max(0, rowCount() - pageRows));
    bar->blockSignals(blocked);
}

void LogView::scrollToLast() {
    QScrollBar* bar = verticalScrollBar();
    const bool blocked = bar->blockSignals(true);
    bar->setValue(bar->maximum());
    bar->blockSignals(blocked);
}

void LogView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const QRect area = event->rect();
    painter.fillRect(area, palette().color(QPalette::Base));
    painter.setPen(palette().color(QPalette::Text));

    const int width = viewport()->width();
    const int first = firstVisibleRow() + area.top() / m_rowHeight;
    const int lastInArea = firstVisibleRow() + area.bottom() / m_rowHeight;
    const int last = std::min(lastInArea, rowCount() - 1);
    for (int row = first; row <= last; ++row) {
        const int y = (row - firstVisibleRow()) * m_rowHeight;
        painter.drawText(QRect(kTextMargin, y, width - kTextMargin, m_rowHeight),
                         Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, rowText(row));
    }
    if (hasFocus()) {
        // Where a list box with the focus but no current row shows its focus frame.
        painter.setPen(QPen(palette().color(QPalette::Text), 1, Qt::DotLine));
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
