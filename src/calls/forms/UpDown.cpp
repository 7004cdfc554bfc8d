// Arrow buttons stepping the number of an edit box.
#include "calls/forms/UpDown.h"

#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdint>

namespace peltra::calls {

UpDown::UpDown(QLineEdit& buddy, unsigned minimum, unsigned maximum, unsigned singleStep, QWidget* parent)
    : QWidget(parent), m_buddy(buddy), m_minimum(minimum), m_maximum(std::max(minimum, maximum)),
      m_singleStep(singleStep), m_up(new QToolButton(this)), m_down(new QToolButton(this))
{
    m_up->setArrowType(Qt::UpArrow);
    m_down->setArrowType(Qt::DownArrow);
    for (QToolButton* button : {m_up, m_down}) {
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setFixedSize(18, 12);
    }
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_up);
    layout->addWidget(m_down);
    connect(m_up, &QToolButton::clicked, this, [this] { stepBy(1); });
    connect(m_down, &QToolButton::clicked, this, [this] { stepBy(-1); });
}

void UpDown::stepBy(int steps)
{
    bool isNumber = false;
    const qulonglong shown = m_buddy.text().toULongLong(&isNumber);
    // Wide arithmetic, so that stepping near either end cannot wrap around.
    std::int64_t value = isNumber ? static_cast<std::int64_t>(std::min<qulonglong>(shown, m_maximum)) : m_minimum;
    value = std::clamp<std::int64_t>(value, m_minimum, m_maximum);
    value += static_cast<std::int64_t>(steps) * m_singleStep;
    value = std::clamp<std::int64_t>(value, m_minimum, m_maximum);
    m_buddy.setText(QString::number(value));
}

}  // namespace peltra::calls
