// The two-handled slider: positions under the mouse, the Shift selection, handle drags clamped
// by the other handle, keys, and the empty range.
#include "config/forms/RangeSlider.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

#include <tuple>

using peltra::config::RangeSlider;

namespace {

void send(QWidget& widget, QEvent::Type type, int x, Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons)
{
    const QPointF local(x, widget.height() / 3);
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, local, widget.mapToGlobal(local), button, buttons, modifiers);
    QApplication::sendEvent(&widget, &event);
}

// Presses at one position, moves through to another and releases there.
void drag(RangeSlider& slider, int from, int to, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    send(slider, QEvent::MouseButtonPress, slider.pixelOf(from), modifiers, Qt::LeftButton);
    const int step = from <= to ? 1 : -1;
    for (int p = from; p != to; p += step)
        send(slider, QEvent::MouseMove, slider.pixelOf(p + step), modifiers, Qt::LeftButton);
    send(slider, QEvent::MouseButtonRelease, slider.pixelOf(to), modifiers, Qt::NoButton);
}

}  // namespace

class RangeSliderTest : public QObject {
    Q_OBJECT

private:
    // A quarter-hour day slider as the schedule editor uses it.
    static void setUpDay(RangeSlider& slider, int minimum = 32, int maximum = 88)
    {
        slider.setRange(minimum, maximum);
        slider.setPageStep(4);
        slider.setTickInterval(4);
        slider.resize(500, slider.sizeHint().height());
        slider.show();
    }

    static QPair<int, int> range(const RangeSlider& slider) { return {slider.low(), slider.high()}; }

private slots:
    void shiftDragSelectsFromThePressPoint()
    {
        // from, to, low, high: rightwards, leftwards (ends swapped), past the right end, one step.
        const int cases[][4] = {{36, 48, 36, 48}, {80, 40, 40, 80}, {84, 200, 84, 88}, {50, 51, 50, 51}};
        for (const auto& [from, to, low, high] : cases) {
            RangeSlider slider;
            setUpDay(slider);
            slider.setSelection(60, 70);  // a previous selection is replaced, not extended
            QSignalSpy changed(&slider, &RangeSlider::rangeChanged);
            const int x = to > 88 ? slider.width() + 20 : slider.pixelOf(to);
            send(slider, QEvent::MouseButtonPress, slider.pixelOf(from), Qt::ShiftModifier, Qt::LeftButton);
            send(slider, QEvent::MouseMove, x, Qt::ShiftModifier, Qt::LeftButton);
            send(slider, QEvent::MouseButtonRelease, x, Qt::ShiftModifier, Qt::NoButton);
            QVERIFY(slider.hasSelection());
            QCOMPARE(range(slider), qMakePair(low, high));
            QVERIFY(!changed.isEmpty());
            QCOMPARE(changed.back(), (QVariantList{low, high}));
        }
    }

    void aPlainDragMovesTheHandleUpToTheOther()
    {
        RangeSlider slider;
        setUpDay(slider);
        slider.setSelection(60, 40);  // given the wrong way round
        QCOMPARE(range(slider), qMakePair(40, 60));
        drag(slider, 60, 72);  // the high handle
        QCOMPARE(range(slider), qMakePair(40, 72));
        QVERIFY(slider.focusedHandle() == RangeSlider::Handle::High);
        drag(slider, 40, 36);  // the low handle
        QCOMPARE(range(slider), qMakePair(36, 72));
        QVERIFY(slider.focusedHandle() == RangeSlider::Handle::Low);
        // The low handle stops at the high one.
        send(slider, QEvent::MouseButtonPress, slider.pixelOf(36), Qt::NoModifier, Qt::LeftButton);
        send(slider, QEvent::MouseMove, slider.pixelOf(80), Qt::NoModifier, Qt::LeftButton);
        send(slider, QEvent::MouseButtonRelease, slider.pixelOf(80), Qt::NoModifier, Qt::NoButton);
        QCOMPARE(range(slider), qMakePair(72, 72));
        QVERIFY(slider.hasSelection());  // a handle drag never clears the range
    }

    void keysMoveTheHandleLastTouched()
    {
        RangeSlider slider;
        setUpDay(slider);
        slider.setSelection(40, 60);
        drag(slider, 60, 60);  // the high handle first
        // Each key after touching a handle, and the range it leaves.
        const std::tuple<int, int, int, int> steps[] = {
            {-1, Qt::Key_Right, 40, 61}, {-1, Qt::Key_PageDown, 40, 57}, {-1, Qt::Key_End, 40, 88},
            {40, Qt::Key_Left, 39, 88},  {-1, Qt::Key_PageUp, 43, 88},   {-1, Qt::Key_Home, 32, 88},
            {-1, Qt::Key_Left, 32, 88},  // already at the end
        };
        for (const auto& [touch, key, low, high] : steps) {
            if (touch >= 0)
                drag(slider, touch, touch);
            QTest::keyClick(&slider, Qt::Key(key));
            QCOMPARE(range(slider), qMakePair(low, high));
        }
        QTest::keyClick(&slider, Qt::Key_Delete);
        QVERIFY(!slider.hasSelection());
    }

    void narrowingTheRangeClampsOrClearsTheSelection()
    {
        // low, high, kept, new low, new high: inside, into the night at both ends, wholly in the
        // morning night, wholly in the evening.
        const std::tuple<int, int, bool, int, int> cases[] = {
            {40, 60, true, 40, 60}, {10, 96, true, 32, 88}, {0, 20, false, 0, 0}, {90, 96, false, 0, 0}};
        for (const auto& [low, high, kept, newLow, newHigh] : cases) {
            RangeSlider slider;
            setUpDay(slider, 0, 96);
            slider.setSelection(low, high);
            QSignalSpy changed(&slider, &RangeSlider::rangeChanged);
            QSignalSpy cleared(&slider, &RangeSlider::rangeCleared);
            slider.setRange(32, 88);
            QCOMPARE(slider.hasSelection(), kept);
            QCOMPARE(kept ? range(slider) : qMakePair(0, 0), qMakePair(newLow, newHigh));
            QCOMPARE(changed.size(), kept && (low != newLow || high != newHigh) ? 1 : 0);
            QCOMPARE(cleared.size(), kept ? 0 : 1);
        }
    }
};

QTEST_MAIN(RangeSliderTest)
#include "RangeSliderTest.moc"
