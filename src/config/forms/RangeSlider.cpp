// A horizontal slider with two handles that select a range of whole positions, or no range at all.
#include "config/forms/RangeSlider.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSlider>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>

namespace peltra::config {

namespace {

// Room the style leaves for ticks on one side, as a plain slider reserves it.
constexpr int kTickSpace = 5;

}  // namespace

RangeSlider::RangeSlider(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setAttribute(Qt::WA_Hover);
}

void RangeSlider::setRange(int minimum, int maximum)
{
    if (maximum < minimum)
        std::swap(minimum, maximum);
    m_minimum = minimum;
    m_maximum = maximum;
    if (m_selected) {
        if (m_high < minimum || m_low > maximum)
            clearSelection();
        else
            select(clamp(m_low), clamp(m_high));
    }
    update();
}

void RangeSlider::setPageStep(int step)
{
    m_pageStep = std::max(1, step);
}

void RangeSlider::setTickInterval(int interval)
{
    m_tickInterval = std::max(0, interval);
    update();
}

void RangeSlider::setTickLabels(std::function<QString(int)> labelOf)
{
    m_labelOf = std::move(labelOf);
    updateGeometry();
    update();
}

void RangeSlider::setSelection(int low, int high)
{
    if (high < low)
        std::swap(low, high);
    select(clamp(low), clamp(high));
}

void RangeSlider::clearSelection()
{
    m_drag = Drag::None;
    if (!m_selected)
        return;
    m_selected = false;
    update();
    emit rangeCleared();
}

int RangeSlider::clamp(int position) const
{
    return std::clamp(position, m_minimum, m_maximum);
}

void RangeSlider::select(int low, int high)
{
    if (m_selected && low == m_low && high == m_high)
        return;
    m_selected = true;
    m_low = low;
    m_high = high;
    update();
    emit rangeChanged(low, high);
}

void RangeSlider::moveHandle(Handle handle, int position)
{
    if (!m_selected)
        return;
    m_focused = handle;
    if (handle == Handle::Low)
        select(std::clamp(position, m_minimum, m_high), m_high);
    else
        select(m_low, std::clamp(position, m_low, m_maximum));
}

int RangeSlider::labelHeight() const
{
    return m_labelOf ? fontMetrics().height() : 0;
}

void RangeSlider::initStyleOption(QStyleOptionSlider& option) const
{
    option.initFrom(this);
    option.rect = QRect(0, 0, width(), height() - labelHeight());
    option.subControls = QStyle::SC_None;
    option.activeSubControls = QStyle::SC_None;
    option.orientation = Qt::Horizontal;
    option.minimum = m_minimum;
    option.maximum = m_maximum;
    option.sliderPosition = m_minimum;
    option.sliderValue = m_minimum;
    option.singleStep = 1;
    option.pageStep = m_pageStep;
    option.tickPosition = m_tickInterval > 0 ? QSlider::TicksBelow : QSlider::NoTicks;
    option.tickInterval = m_tickInterval;
    option.upsideDown = false;
    option.direction = Qt::LeftToRight;
    option.state |= QStyle::State_Horizontal;
    option.state &= ~QStyle::State_HasFocus;
}

QRect RangeSlider::handleRect(int position) const
{
    QStyleOptionSlider option;
    initStyleOption(option);
    option.sliderPosition = position;
    option.sliderValue = position;
    return style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
}

int RangeSlider::pixelOf(int position) const
{
    return handleRect(clamp(position)).center().x();
}

int RangeSlider::positionAt(int x) const
{
    QStyleOptionSlider option;
    initStyleOption(option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const int handleLength = handleRect(m_minimum).width();
    const int first = groove.x();
    const int span = groove.right() - handleLength + 1 - first;
    return QStyle::sliderValueFromPosition(m_minimum, m_maximum, x - handleLength / 2 - first, std::max(1, span));
}

QSize RangeSlider::sizeHint() const
{
    QStyleOptionSlider option;
    initStyleOption(option);
    int thickness = style()->pixelMetric(QStyle::PM_SliderThickness, &option, this);
    if (m_tickInterval > 0)
        thickness += kTickSpace;
    const QSize size = style()->sizeFromContents(QStyle::CT_Slider, &option, QSize(200, thickness), this);
    return {size.width(), size.height() + labelHeight()};
}

QSize RangeSlider::minimumSizeHint() const
{
    const QSize hint = sizeHint();
    return {80, hint.height()};
}

void RangeSlider::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOptionSlider option;
    initStyleOption(option);

    // The groove and the ticks as the style draws them for a slider standing at its start, so the
    // style's own "filled" part stays out of the way of the selected span drawn over it.
    option.subControls = QStyle::SC_SliderGroove;
    if (m_tickInterval > 0)
        option.subControls |= QStyle::SC_SliderTickmarks;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);

    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    if (m_selected) {
        const int left = pixelOf(m_low);
        const int right = pixelOf(m_high);
        const int thickness = std::max(4, std::min(groove.height(), 6));
        const QRect span(left, groove.center().y() - thickness / 2 + 1, std::max(2, right - left + 1), thickness);
        QColor colour = palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Highlight);
        painter.fillRect(span, colour);
    }

    if (m_labelOf && m_tickInterval > 0) {
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        const QFontMetrics metrics = fontMetrics();
        const int top = height() - labelHeight();
        int lastRight = -1;
        for (int position = m_minimum; position <= m_maximum; position += m_tickInterval) {
            const QString text = m_labelOf(position);
            if (text.isEmpty())
                continue;
            const int textWidth = metrics.horizontalAdvance(text);
            int left = pixelOf(position) - textWidth / 2;
            left = std::clamp(left, 0, std::max(0, width() - textWidth));
            // Labels that would run into the previous one are left out.
            if (left <= lastRight + 3)
                continue;
            painter.drawText(QRect(left, top, textWidth, labelHeight()), Qt::AlignCenter, text);
            lastRight = left + textWidth;
        }
    }

    if (!m_selected)
        return;
    // The handle last touched is drawn last, so it is the one on top where both stand together.
    const Handle order[2] = {m_focused == Handle::Low ? Handle::High : Handle::Low, m_focused};
    for (Handle handle : order) {
        QStyleOptionSlider handleOption;
        initStyleOption(handleOption);
        handleOption.subControls = QStyle::SC_SliderHandle;
        const int position = handle == Handle::Low ? m_low : m_high;
        handleOption.sliderPosition = position;
        handleOption.sliderValue = position;
        const bool dragged = (handle == Handle::Low && m_drag == Drag::Low) ||
                             (handle == Handle::High && m_drag == Drag::High);
        if (dragged) {
            handleOption.activeSubControls = QStyle::SC_SliderHandle;
            handleOption.state |= QStyle::State_Sunken;
        }
        if (hasFocus() && handle == m_focused)
            handleOption.state |= QStyle::State_HasFocus;
        style()->drawComplexControl(QStyle::CC_Slider, &handleOption, &painter, this);
    }
}

void RangeSlider::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    const QPoint point = event->position().toPoint();
    const int position = positionAt(point.x());
    if ((event->modifiers() & Qt::ShiftModifier) || !m_selected) {
        m_drag = Drag::Select;
        m_anchor = position;
        m_focused = Handle::High;
        select(position, position);
        return;
    }
    // The handle under the press, the nearer one where they overlap; a press beside both pages
    // the nearer handle towards it, as a plain slider does.
    const QRect lowRect = handleRect(m_low);
    const QRect highRect = handleRect(m_high);
    const bool onLow = lowRect.contains(point);
    const bool onHigh = highRect.contains(point);
    if (onLow || onHigh) {
        Handle handle = onLow ? Handle::Low : Handle::High;
        if (onLow && onHigh) {
            if (m_low == m_high)
                handle = position < m_low ? Handle::Low : Handle::High;
            else
                handle = std::abs(point.x() - lowRect.center().x()) <= std::abs(point.x() - highRect.center().x())
                             ? Handle::Low
                             : Handle::High;
        }
        m_focused = handle;
        m_drag = handle == Handle::Low ? Drag::Low : Drag::High;
        update();
        return;
    }
    const Handle nearer =
        std::abs(position - m_low) <= std::abs(position - m_high) && position <= m_high ? Handle::Low : Handle::High;
    const int current = nearer == Handle::Low ? m_low : m_high;
    moveHandle(nearer, position < current ? current - m_pageStep : current + m_pageStep);
}

void RangeSlider::mouseMoveEvent(QMouseEvent* event)
{
    const int position = positionAt(event->position().toPoint().x());
    switch (m_drag) {
    case Drag::None:
        event->ignore();
        return;
    case Drag::Select:
        select(std::min(m_anchor, position), std::max(m_anchor, position));
        m_focused = position < m_anchor ? Handle::Low : Handle::High;
        return;
    case Drag::Low:
        moveHandle(Handle::Low, position);
        return;
    case Drag::High:
        moveHandle(Handle::High, position);
        return;
    }
}

void RangeSlider::mouseReleaseEvent(QMouseEvent* event)
{
    if (m_drag == Drag::None) {
        event->ignore();
        return;
    }
    mouseMoveEvent(event);
    const bool selecting = m_drag == Drag::Select;
    m_drag = Drag::None;
    // A selecting click that did not move chose nothing.
    if (selecting && m_low == m_high)
        clearSelection();
    update();
}

void RangeSlider::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Delete) {
        clearSelection();
        return;
    }
    if (!m_selected) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int current = m_focused == Handle::Low ? m_low : m_high;
    switch (event->key()) {
    case Qt::Key_Left:
    case Qt::Key_Down:
        moveHandle(m_focused, current - 1);
        break;
    case Qt::Key_Right:
    case Qt::Key_Up:
        moveHandle(m_focused, current + 1);
        break;
    case Qt::Key_PageDown:
        moveHandle(m_focused, current - m_pageStep);
        break;
    case Qt::Key_PageUp:
        moveHandle(m_focused, current + m_pageStep);
        break;
    case Qt::Key_Home:
        moveHandle(m_focused, m_minimum);
        break;
    case Qt::Key_End:
        moveHandle(m_focused, m_maximum);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    update();
}

}  // namespace peltra::config
