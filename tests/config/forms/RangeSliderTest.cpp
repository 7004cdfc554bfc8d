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
    void everyPositionIsReachedByTheMouse_data()
    {
        QTest::addColumn<int>("minimum");
        QTest::addColumn<int>("maximum");
        QTest::addColumn<int>("width");
        QTest::newRow("1 day hours, wide") << 32 << 88 << 500;
        QTest::newRow("2 with night, wide") << 0 << 96 << 500;
        QTest::newRow("3 with night, narrow: 3 px a step") << 0 << 96 << 320;
    }

    void everyPositionIsReachedByTheMouse()
    {
        QFETCH(int, minimum);
        QFETCH(int, maximum);
        QFETCH(int, width);
        RangeSlider slider;
        setUpDay(slider, minimum, maximum);
        slider.resize(width, slider.height());
        int previous = -1;
        for (int p = minimum; p <= maximum; ++p) {
            QVERIFY2(slider.pixelOf(p) > previous, qPrintable(QString::number(p)));
            previous = slider.pixelOf(p);
            QCOMPARE(slider.positionAt(slider.pixelOf(p)), p);
        }
        // Beyond the ends the mouse means the ends.
        QCOMPARE(slider.positionAt(-50), minimum);
        QCOMPARE(slider.positionAt(width + 50), maximum);
    }

    void nothingIsSelectedAtFirst()
    {
        RangeSlider slider;
        setUpDay(slider);
        QVERIFY(!slider.hasSelection());
        // Keys move no handle while there is none.
        QSignalSpy changed(&slider, &RangeSlider::rangeChanged);
        QTest::keyClick(&slider, Qt::Key_Right);
        QVERIFY(changed.isEmpty());
        QVERIFY(!slider.hasSelection());
    }

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

    void aShiftClickThatDoesNotMoveLeavesNothingSelected()
    {
        RangeSlider slider;
        setUpDay(slider);
        slider.setSelection(40, 60);
        QSignalSpy cleared(&slider, &RangeSlider::rangeCleared);
        drag(slider, 50, 50, Qt::ShiftModifier);
        QVERIFY(!slider.hasSelection());
        QCOMPARE(cleared.size(), 1);
    }

    void withNothingSelectedAPlainDragSelects()
    {
        RangeSlider slider;
        setUpDay(slider);
        drag(slider, 44, 52);
        QVERIFY(slider.hasSelection());
        QCOMPARE(range(slider), qMakePair(44, 52));
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
        slider.setSelection(44, 56);
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

    void setSelectionSwapsAndClamps()
    {
        RangeSlider slider;
        setUpDay(slider);
        slider.setSelection(70, 50);
        QCOMPARE(range(slider), qMakePair(50, 70));
        slider.setSelection(0, 96);
        QCOMPARE(range(slider), qMakePair(32, 88));
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

    void itPaintsAtItsSize()
    {
        RangeSlider slider;
        setUpDay(slider, 0, 96);
        slider.setTickLabels([](int p) { return p % 8 == 0 ? QString::number(p / 4) : QString(); });
        slider.setSelection(32, 80);
        slider.resize(500, slider.sizeHint().height());
        QVERIFY(slider.sizeHint().height() > slider.fontMetrics().height());
        const QImage image = slider.grab().toImage();
        QCOMPARE(image.width(), 500);
        // The selected span is drawn in the highlight colour between the handles.
        const QColor highlight = slider.palette().color(QPalette::Active, QPalette::Highlight);
        bool found = false;
        for (int y = 0; y < image.height() && !found; ++y)
            found = image.pixelColor((slider.pixelOf(40) + slider.pixelOf(70)) / 2, y) == highlight;
        QVERIFY(found);
    }
};

QTEST_MAIN(RangeSliderTest)
#include "RangeSliderTest.moc"
