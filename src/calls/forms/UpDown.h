// A pair of arrow buttons that steps the number in an edit box within a range, as the port
// dialog's delay and time-out boxes use it.
#pragma once

#include <QWidget>

class QLineEdit;
class QToolButton;

namespace peltra::calls {

// Steps the unsigned number shown in its buddy box by singleStep, kept within [minimum, maximum].
// The box itself stays free text, so a value stored outside the range is shown and kept as it is
// until an arrow is used.
class UpDown : public QWidget {
    Q_OBJECT

public:
    UpDown(QLineEdit& buddy, unsigned minimum, unsigned maximum, unsigned singleStep, QWidget* parent = nullptr);

    unsigned minimum() const { return m_minimum; }
    unsigned maximum() const { return m_maximum; }
    unsigned singleStep() const { return m_singleStep; }
    QLineEdit& buddy() const { return m_buddy; }

    // Moves the buddy's number by steps (negative: down). Text that is not a number counts as the
    // minimum.
    void stepBy(int steps);

private:
    QLineEdit& m_buddy;
    const unsigned m_minimum;
    const unsigned m_maximum;
    const unsigned m_singleStep;
    QToolButton* m_up;
    QToolButton* m_down;
};

}  // namespace peltra::calls
