// A horizontal slider with two handles that select a range of whole positions, or no range at all.
#pragma once

#include <QWidget>

#include <functional>

class QStyleOptionSlider;

namespace peltra::config {

// Positions run from minimum() to maximum(); the selected range is low()..high() with both ends
// inside, or there is none (hasSelection() false). Dragging a handle moves it up to the other
// one; dragging with Shift held (or anywhere while nothing is selected) selects a new range from
// the press point, and such a drag that ends where it began leaves nothing selected. The arrow
// keys move the handle last touched by one position, Page Up/Down by a page, Home/End to the
// ends; Delete clears the selection. Drawn by the style as a slider with ticks below, the
// selected span highlighted in the groove. User interface thread only.
class RangeSlider : public QWidget {
    Q_OBJECT

public:
    enum class Handle { Low, High };

    explicit RangeSlider(QWidget* parent = nullptr);

    int minimum() const { return m_minimum; }
    int maximum() const { return m_maximum; }
    // A selection is clamped into the new range; one lying wholly outside it is cleared.
    void setRange(int minimum, int maximum);

    int pageStep() const { return m_pageStep; }
    void setPageStep(int step);
    int tickInterval() const { return m_tickInterval; }
    void setTickInterval(int interval);
    // A text drawn under every tick (for instance the hour it stands for); none by default.
    void setTickLabels(std::function<QString(int position)> labelOf);

    bool hasSelection() const { return m_selected; }
    int low() const { return m_low; }
    int high() const { return m_high; }
    // Ends given the wrong way round are swapped; both are clamped to the positions.
    void setSelection(int low, int high);
    void clearSelection();

    Handle focusedHandle() const { return m_focused; }

    // The x coordinate (in this widget) of a position's handle centre, and the position nearest to
    // an x coordinate: what a mouse press at that point means.
    int pixelOf(int position) const;
    int positionAt(int x) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // After every change of the selected range, also when it was clamped by setRange.
    void rangeChanged(int low, int high);
    // When the range went away and nothing is selected any more.
    void rangeCleared();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    enum class Drag { None, Low, High, Select };

    void initStyleOption(QStyleOptionSlider& option) const;
    QRect handleRect(int position) const;
    int labelHeight() const;
    // Sets the range and tells about it when it differs from the current one.
    void select(int low, int high);
    void moveHandle(Handle handle, int position);
    int clamp(int position) const;

    int m_minimum = 0;
    int m_maximum = 99;
    int m_pageStep = 10;
    int m_tickInterval = 0;
    std::function<QString(int)> m_labelOf;

    bool m_selected = false;
    int m_low = 0;
    int m_high = 0;
    Handle m_focused = Handle::Low;

    Drag m_drag = Drag::None;
    int m_anchor = 0;
};

}  // namespace peltra::config
