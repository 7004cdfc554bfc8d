// The range dialog: the bounds of one numeric range of a task's filter, new or existing.
#include "config/forms/FormRange.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

#include <cstdio>
#include <limits>

namespace peltra::config {

const char* const FormRange::kHint = "Введите целые числа от 0 до 4294967295:";
const char* const FormRange::kBadMinimum =
    "Ошибка при вводе минимального значения.\r\nЧисло должно быть не менее %u и не более %u.\r\n"
    "Будет принято значение: %u";
const char* const FormRange::kBadMaximum =
    "Ошибка при вводе максимального значения.\r\nЧисло должно быть не менее %u и не более %u.\r\n"
    "Будет принято значение: %u";
const char* const FormRange::kWriteFailed = "Ошибка записи диапазона!";

namespace {

constexpr std::uint32_t kLowest = 0;
constexpr std::uint32_t kHighest = std::numeric_limits<std::uint32_t>::max();

QString rangeTitle(const std::string& name)
{
    bool isNumber = false;
    const unsigned number = QString::fromStdString(name).toUInt(&isNumber);
    return isNumber ? QStringLiteral("Диапазон %1").arg(number) : QString::fromStdString(name);
}

}  // namespace

FormRange::FormRange(ConfigStore& store, std::string binding, std::string task, std::optional<std::string> range,
                     QWidget* parent)
    : QDialog(parent), m_task(store, std::move(binding), std::move(task)), m_range(std::move(range))
{
    setObjectName("FormRange");
    setWindowTitle(m_range ? QStringLiteral("Диапазон") : QStringLiteral("Новый диапазон"));
    setModal(true);

    auto* listLabel = new QLabel(QStringLiteral("Назначенные диапазоны :"), this);
    listLabel->setObjectName("label_ranges");
    m_ranges = new QListWidget(this);
    m_ranges->setObjectName("lv_ranges");
    m_ranges->setSelectionMode(QAbstractItemView::NoSelection);
    m_ranges->setFocusPolicy(Qt::NoFocus);
    const std::string field = m_task.rangeField();
    std::optional<Range> edited;
    for (const Range& r : m_task.ranges()) {
        const QString fieldName = QString::fromStdString(field);
        auto* item = new QListWidgetItem(QStringLiteral("%1:  %2 <= %3 <= %4")
                                             .arg(rangeTitle(r.name))
                                             .arg(r.minValue)
                                             .arg(fieldName.isEmpty() ? QStringLiteral("...") : fieldName)
                                             .arg(r.maxValue),
                                         m_ranges);
        if (m_range && *m_range == r.name) {
            edited = r;
            QFont bold = item->font();
            bold.setBold(true);
            item->setFont(bold);
        }
    }
    m_ranges->setMaximumHeight(m_ranges->sizeHintForRow(0) > 0 ? m_ranges->sizeHintForRow(0) * 6 + 6 : 110);

    auto* hint = new QLabel(QString::fromUtf8(kHint), this);
    hint->setObjectName("label_hint");
    m_minimum = new QLineEdit(this);
    m_minimum->setObjectName("textb_min");
    m_maximum = new QLineEdit(this);
    m_maximum->setObjectName("textb_max");
    const int boxWidth = fontMetrics().horizontalAdvance(QStringLiteral("00000000000")) + 16;
    m_minimum->setMinimumWidth(boxWidth);
    m_maximum->setMinimumWidth(boxWidth);
    if (edited) {
        m_minimum->setText(QString::number(edited->minValue));
        m_maximum->setText(QString::number(edited->maxValue));
    }
    auto* bounds = new QGridLayout;
    auto* minLabel = new QLabel(QStringLiteral("min:"), this);
    minLabel->setBuddy(m_minimum);
    auto* maxLabel = new QLabel(QStringLiteral("max:"), this);
    maxLabel->setBuddy(m_maximum);
    bounds->addWidget(minLabel, 0, 0);
    bounds->addWidget(m_minimum, 0, 1);
    bounds->addWidget(maxLabel, 1, 0);
    bounds->addWidget(m_maximum, 1, 1);
    bounds->setColumnStretch(2, 1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("cb_OK");
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("cb_Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &FormRange::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FormRange::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(listLabel);
    layout->addWidget(m_ranges);
    layout->addWidget(hint);
    layout->addLayout(bounds);
    layout->addWidget(buttons);

    m_minimum->setFocus();
}

FormRange::Reading FormRange::readBound(const QString& text, bool isMaximum)
{
    static const QRegularExpression kNumber(QStringLiteral("^\\s*([+-]?)0*(\\d+)\\s*$"));
    const QRegularExpressionMatch match = kNumber.match(text);
    if (!match.hasMatch())
        return {false, isMaximum ? kHighest : kLowest};
    const QString digits = match.captured(2);
    if (match.captured(1) == QStringLiteral("-"))
        return {digits.count(QLatin1Char('0')) == digits.size(), kLowest};  // "-0" is still zero
    if (digits.size() > 10)
        return {false, kHighest};
    const qulonglong number = digits.toULongLong();
    if (number > kHighest)
        return {false, kHighest};
    return {true, static_cast<std::uint32_t>(number)};
}

std::optional<std::uint32_t> FormRange::takeBound(QLineEdit* box, bool isMaximum)
{
    const Reading reading = readBound(box->text(), isMaximum);
    if (reading.readable)
        return reading.value;
    char text[256];
    std::snprintf(text, sizeof text, isMaximum ? kBadMaximum : kBadMinimum, kLowest, kHighest, reading.value);
    QMessageBox question(QMessageBox::Warning, windowTitle(), QString::fromUtf8(text),
                     QMessageBox::Ok | QMessageBox::Cancel, this);
    if (question.exec() != QMessageBox::Ok) {
        box->setFocus();
        box->selectAll();
        return std::nullopt;
    }
    box->setText(QString::number(reading.value));
    return reading.value;
}

void FormRange::accept()
{
    if (store())
        QDialog::accept();
}

bool FormRange::store()
{
    const std::optional<std::uint32_t> minimum = takeBound(m_minimum, false);
    if (!minimum)
        return false;
    const std::optional<std::uint32_t> maximum = takeBound(m_maximum, true);
    if (!maximum)
        return false;
    std::uint32_t low = *minimum;
    std::uint32_t high = *maximum;
    if (high < low)
        std::swap(low, high);

    const bool wasValid = m_task.valid();
    bool stored = false;
    if (m_range) {
        stored = m_task.setRangeBounds(*m_range, low, high) != Change::NotFound;
    } else if (std::optional<std::string> name = m_task.addRange(low, high)) {
        m_range = *name;
        stored = true;
    }
    if (!stored) {
        QMessageBox box(QMessageBox::Warning, windowTitle(), QString::fromUtf8(kWriteFailed), QMessageBox::Ok, this);
        box.exec();
        return false;
    }
    m_withdrawn = wasValid && !m_task.valid();
    return true;
}

}  // namespace peltra::config
