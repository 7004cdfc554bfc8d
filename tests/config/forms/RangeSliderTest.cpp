// The two-handled slider: positions under the mouse, the Shift selection, handle drags clamped
// by the other handle, keys, and the empty range.
#include "config/forms/RangeSlider.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QTest>

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
    void shiftDragSelectsFromThePressPoint_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::newRow("1 rightwards 09:00-12:00") << 36 << 48 << 36 << 48;
        QTest::newRow("2 leftwards, ends swapped") << 80 << 40 << 40 << 80;
        QTest::newRow("3 past the right end") << 84 << 200 << 84 << 88;
        QTest::newRow("4 one step") << 50 << 51 << 50 << 51;
    }

    void shiftDragSelectsFromThePressPoint()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(int, low);
        QFETCH(int, high);
        RangeSlider slider;
        setUpDay(slider);
        slider.setSelection(60, 70);  // a previous selection is replaced, not extended
        QSignalSpy changed(&slider, &RangeSlider::rangeChanged);
        send(slider, QEvent::MouseButtonPress, slider.pixelOf(from), Qt::ShiftModifier, Qt::LeftButton);
        send(slider, QEvent::MouseMove, to > 88 ? slider.width() + 20 : slider.pixelOf(to), Qt::ShiftModifier,
             Qt::LeftButton);
        send(slider, QEvent::MouseButtonRelease, to > 88 ? slider.width() + 20 : slider.pixelOf(to),
             Qt::ShiftModifier, Qt::NoButton);
        QVERIFY(slider.hasSelection());
        QCOMPARE(range(slider), qMakePair(low, high));
        QVERIFY(!changed.isEmpty());
        QCOMPARE(changed.back().at(0).toInt(), low);
        QCOMPARE(changed.back().at(1).toInt(), high);
    }

    void withoutAShiftDragNothingIsSelected()
    {
        RangeSlider slider;
        setUpDay(slider);
        QVERIFY(!slider.hasSelection());
        // Keys move no handle while there is none.
        QSignalSpy changed(&slider, &RangeSlider::rangeChanged);
        QTest::keyClick(&slider, Qt::Key_Right);
        QVERIFY(changed.isEmpty());
        // With nothing selected a plain drag selects.
        drag(slider, 44, 52);
        QCOMPARE(range(slider), qMakePair(44, 52));
        // A Shift click that does not move leaves nothing selected.
        QSignalSpy cleared(&slider, &RangeSlider::rangeCleared);
        drag(slider, 50, 50, Qt::ShiftModifier);
        QVERIFY(!slider.hasSelection());
        QCOMPARE(cleared.size(), 1);
    }

    void aPlainDragMovesTheHandleUpToTheOther()
    {
        RangeSlider slider;
        setUpDay(slider);
        slider.setSelection(40, 60);
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

    void aPressBesideTheHandlesPagesTheNearerOne()
    {
        RangeSlider slider;
        setUpDay(slider);
        slider.setSelection(56, 44);  // given the wrong way round
        QCOMPARE(range(slider), qMakePair(44, 56));
        drag(slider, 80, 80);
        QCOMPARE(range(slider), qMakePair(44, 60));
        drag(slider, 33, 33);
        QCOMPARE(range(slider), qMakePair(40, 60));
    }

    void keysMoveTheHandleLastTouched()
    {
        RangeSlider slider;
        setUpDay(slider);
        slider.setSelection(40, 60);
        drag(slider, 60, 60);  // touch the high handle
        QTest::keyClick(&slider, Qt::Key_Right);
        QCOMPARE(range(slider), qMakePair(40, 61));
        QTest::keyClick(&slider, Qt::Key_PageDown);
        QCOMPARE(range(slider), qMakePair(40, 57));
        QTest::keyClick(&slider, Qt::Key_End);
        QCOMPARE(range(slider), qMakePair(40, 88));
        drag(slider, 40, 40);  // now the low one
        QTest::keyClick(&slider, Qt::Key_Left);
        QCOMPARE(range(slider), qMakePair(39, 88));
        QTest::keyClick(&slider, Qt::Key_PageUp);
        QCOMPARE(range(slider), qMakePair(43, 88));
        QTest::keyClick(&slider, Qt::Key_Home);
        QCOMPARE(range(slider), qMakePair(32, 88));
        QTest::keyClick(&slider, Qt::Key_Left);  // already at the end
        QCOMPARE(range(slider), qMakePair(32, 88));
        QTest::keyClick(&slider, Qt::Key_Delete);
        QVERIFY(!slider.hasSelection());
    }

    void narrowingTheRangeClampsOrClearsTheSelection_data()
    {
        QTest::addColumn<int>("low");
        QTest::addColumn<int>("high");
        QTest::addColumn<bool>("kept");
        QTest::addColumn<int>("newLow");
        QTest::addColumn<int>("newHigh");
        QTest::newRow("1 inside") << 40 << 60 << true << 40 << 60;
        QTest::newRow("2 reaching into the night at both ends") << 10 << 96 << true << 32 << 88;
        QTest::newRow("3 wholly in the morning night") << 0 << 20 << false << 0 << 0;
        QTest::newRow("4 wholly in the evening") << 90 << 96 << false << 0 << 0;
    }

    void narrowingTheRangeClampsOrClearsTheSelection()
    {
        QFETCH(int, low);
        QFETCH(int, high);
        QFETCH(bool, kept);
        QFETCH(int, newLow);
        QFETCH(int, newHigh);
        RangeSlider slider;
        setUpDay(slider, 0, 96);
        slider.setSelection(low, high);
        QSignalSpy changed(&slider, &RangeSlider::rangeChanged);
        QSignalSpy cleared(&slider, &RangeSlider::rangeCleared);
        slider.setRange(32, 88);
        QCOMPARE(slider.hasSelection(), kept);
        if (kept) {
            QCOMPARE(range(slider), qMakePair(newLow, newHigh));
            QCOMPARE(changed.size(), (low == newLow && high == newHigh) ? 0 : 1);
        } else {
            QCOMPARE(cleared.size(), 1);
        }
    }
};

QTEST_MAIN(RangeSliderTest)
#include "RangeSliderTest.moc"
