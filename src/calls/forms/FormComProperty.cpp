// The dialog that sets how one port dials and recognises the answer.
#include "calls/forms/FormComProperty.h"

#include "calls/forms/UpDown.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <cstdint>
#include <iterator>

namespace peltra::calls {

const char* const FormComProperty::kNumberMissing = "Введите число";
const char* const FormComProperty::kWriteFailed = "Не удалось записать настройки линии";

namespace {

// The line polarity as the adapter sees it when the party answers: a long reversal that lasts
// while the party listens, or a short pulse after which the polarity returns to normal.
class WaveformPicture : public QWidget {
public:
    WaveformPicture(bool shortPulse, QWidget* parent) : QWidget(parent), m_shortPulse(shortPulse)
    {
        setFixedSize(120, 40);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.fillRect(rect(), Qt::black);
        const int high = 10;
        const int low = height() - 10;
        const int right = width() - 4;
        const int fall = width() / 4;
        const int rise = m_shortPulse ? fall + width() / 8 : right - width() / 8;
        painter.setPen(QPen(QColor(0, 80, 0), 1, Qt::DotLine));
        painter.drawLine(4, height() / 2, right, height() / 2);
        painter.setPen(QPen(QColor(0, 230, 0), 2));
        const QPoint trace[] = {{4, high},  {fall, high}, {fall, low},
                                {rise, low}, {rise, high}, {right, high}};
        painter.drawPolyline(trace, static_cast<int>(std::size(trace)));
    }

private:
    const bool m_shortPulse;
};

QRadioButton* option(const char* name, const QString& text, QWidget* parent)
{
    auto* button = new QRadioButton(text, parent);
    button->setObjectName(name);
    return button;
}

QCheckBox* checkBox(const char* name, const QString& text, QWidget* parent)
{
    auto* box = new QCheckBox(text, parent);
    box->setObjectName(name);
    return box;
}

// The length limit holds for typing only: a stored value longer than the limit is shown whole, so
// that OK does not write back a truncated number.
void showText(QLineEdit* box, const QString& text)
{
    if (text.size() > box->maxLength())
        box->setMaxLength(static_cast<int>(text.size()));
    box->setText(text);
}

}  // namespace

FormComProperty::FormComProperty(config::ConfigStore& store, std::string port, QWidget* parent)
    : QDialog(parent), m_settings(store), m_port(std::move(port))
{
    setObjectName("FormComProperty");
    setWindowTitle(QStringLiteral("Настройка линии ") + QString::fromStdString(m_port));
    setModal(false);

    auto* dialing = new QGroupBox(QStringLiteral("Набор номера"), this);
    dialing->setObjectName("groupb_dial");
    m_pulse = option("optb_pulse", QStringLiteral("Импульсный"), dialing);
    m_tone = option("optb_tone", QStringLiteral("Тоновый"), dialing);
    auto* dialingLayout = new QHBoxLayout(dialing);
    dialingLayout->addWidget(m_pulse);
    dialingLayout->addWidget(m_tone);

    auto* timing = new QGroupBox(QStringLiteral("Задержки"), this);
    timing->setObjectName("groupb_timing");
    auto* timingLayout = new QGridLayout(timing);
    int row = 0;
    // The widest box holds five digits, so that 10000, the top of its range, is shown whole.
    auto addNumber = [&](const QString& label, const char* boxName, const char* upDownName, int maxLength,
                         unsigned minimum, unsigned maximum, unsigned step, const QString& unit) {
        auto* box = new QLineEdit(timing);
        box->setObjectName(boxName);
        box->setMaxLength(maxLength);
        box->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), box));
        box->setFixedWidth(box->fontMetrics().horizontalAdvance(QString(maxLength + 1, '0')) + 12);
        auto* upDown = new UpDown(*box, minimum, maximum, step, timing);
        upDown->setObjectName(upDownName);
        timingLayout->addWidget(new QLabel(label, timing), row, 0);
        timingLayout->addWidget(box, row, 1);
        timingLayout->addWidget(upDown, row, 2);
        timingLayout->addWidget(new QLabel(unit, timing), row, 3);
        ++row;
        return box;
    };
    const QString ms = QStringLiteral("мс");
    m_ringOff = addNumber(QStringLiteral("Отбой"), "textb_duration_otboj", "updown_1", 4, 800, 3000, 100, ms);
    m_delayFirst = addNumber(QStringLiteral("Перед набором"), "textb_delayfirst", "updown_2", 4, 800, 3000, 100, ms);
    m_waitAnswer = addNumber(QStringLiteral("Ожидание ответа"), "textb_answer", "updown_4", 3, 5, 120, 5,
                             QStringLiteral("с"));
    m_delayW = addNumber(QStringLiteral("Пауза W"), "textb_w", "updown_3", 5, 800, 10000, 100, ms);
    m_delayP = addNumber(QStringLiteral("Пауза P"), "textb_p", "updown_5", 5, 800, 10000, 100, ms);

    auto* prefixes = new QGroupBox(QStringLiteral("Префиксы"), this);
    prefixes->setObjectName("groupb_prefix");
    auto* prefixLayout = new QGridLayout(prefixes);
    m_needPrefix = checkBox("checkbox_prefix", QStringLiteral("Междугородный: 8, пауза W, затем"), prefixes);
    m_prefix = new QLineEdit(prefixes);
    m_prefix->setObjectName("textb_prefix");
    m_prefix->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), m_prefix));
    m_needPrefixTown = checkBox("checkbox_town", QStringLiteral("Выход в город, затем пауза P"), prefixes);
    m_prefixTown = new QLineEdit(prefixes);
    m_prefixTown->setObjectName("textb_town");
    m_prefixTown->setMaxLength(1);
    m_prefixTown->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]?"), m_prefixTown));
    prefixLayout->addWidget(m_needPrefix, 0, 0);
    prefixLayout->addWidget(m_prefix, 0, 1);
    prefixLayout->addWidget(m_needPrefixTown, 1, 0);
    prefixLayout->addWidget(m_prefixTown, 1, 1);

    auto* answer = new QGroupBox(QStringLiteral("Ответ абонента"), this);
    answer->setObjectName("groupb_answer");
    m_longReversal = option("optb_PerepDlin", QStringLiteral("Длительная переполюсовка"), answer);
    m_pulseReversal = option("optb_PerepPulse", QStringLiteral("Импульсная переполюсовка"), answer);
    m_longReversalPicture = new WaveformPicture(false, answer);
    m_longReversalPicture->setObjectName("pictb_OscPerepDlin");
    m_pulseReversalPicture = new WaveformPicture(true, answer);
    m_pulseReversalPicture->setObjectName("pictb_OscPerepPulse");
    auto* answerLayout = new QGridLayout(answer);
    answerLayout->addWidget(m_longReversal, 0, 0);
    answerLayout->addWidget(m_pulseReversal, 1, 0);
    // Both pictures share one place; only the chosen option's is shown.
    answerLayout->addWidget(m_longReversalPicture, 0, 1, 2, 1);
    answerLayout->addWidget(m_pulseReversalPicture, 0, 1, 2, 1);
    connect(m_longReversal, &QRadioButton::toggled, this, &FormComProperty::showWaveforms);
    connect(m_pulseReversal, &QRadioButton::toggled, this, &FormComProperty::showWaveforms);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("cb_OK");
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("cb_Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &FormComProperty::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FormComProperty::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(dialing);
    layout->addWidget(timing);
    layout->addWidget(prefixes);
    layout->addWidget(answer);
    layout->addWidget(buttons);

    fill();
}

void FormComProperty::fill()
{
    (m_settings.pulseDialing(m_port) ? m_pulse : m_tone)->setChecked(true);
    showText(m_ringOff, QString::number(m_settings.ringOffMs(m_port)));
    showText(m_delayFirst, QString::number(m_settings.delayFirstMs(m_port)));
    showText(m_waitAnswer, QString::number(m_settings.waitAnswerS(m_port)));
    showText(m_delayW, QString::number(m_settings.delayWMs(m_port)));
    m_needPrefix->setChecked(m_settings.needPrefix(m_port));
    showText(m_prefix, QString::fromStdString(m_settings.prefix(m_port)));
    showText(m_delayP, QString::number(m_settings.delayPMs(m_port)));
    m_needPrefixTown->setChecked(m_settings.needPrefixTown(m_port));
    showText(m_prefixTown, QString::fromStdString(m_settings.prefixTown(m_port)));
    const bool pulseReversal = m_settings.answerType(m_port) == AnswerType::PulseReversal;
    (pulseReversal ? m_pulseReversal : m_longReversal)->setChecked(true);
    showWaveforms();
}

void FormComProperty::showWaveforms()
{
    m_longReversalPicture->setVisible(m_longReversal->isChecked());
    m_pulseReversalPicture->setVisible(m_pulseReversal->isChecked());
}

void FormComProperty::accept()
{
    if (save())
        QDialog::accept();
}

bool FormComProperty::readNumber(QLineEdit* box, std::uint32_t& value)
{
    bool isNumber = false;
    const qulonglong number = box->text().toULongLong(&isNumber);
    if (!isNumber || number > 0xFFFFFFFFu) {
        // An empty box would otherwise be stored as 0: no wait for the answer, no pause on hook.
        showMessage(QString::fromUtf8(kNumberMissing));
        box->setFocus();
        box->selectAll();
        return false;
    }
    value = static_cast<std::uint32_t>(number);
    return true;
}

bool FormComProperty::save()
{
    // Every box is checked before the first write, so that a rejected entry writes nothing.
    std::uint32_t ringOff = 0, delayFirst = 0, waitAnswer = 0, delayW = 0, delayP = 0;
    if (!readNumber(m_ringOff, ringOff) || !readNumber(m_delayFirst, delayFirst) ||
        !readNumber(m_waitAnswer, waitAnswer) || !readNumber(m_delayW, delayW) || !readNumber(m_delayP, delayP))
        return false;

    bool allWritten = true;
    auto wrote = [&](const char* valueName, bool written) {
        allWritten = allWritten && written;
        if (m_writeObserver)
            m_writeObserver(valueName);
    };
    wrote("CallMode", m_settings.setPulseDialing(m_port, m_pulse->isChecked()));
    wrote("RingOff", m_settings.setRingOffMs(m_port, ringOff));
    wrote("DelayFirst", m_settings.setDelayFirstMs(m_port, delayFirst));
    wrote("WaitAnswer", m_settings.setWaitAnswerS(m_port, waitAnswer));
    wrote("DelayW", m_settings.setDelayWMs(m_port, delayW));
    wrote("NeedPrefix", m_settings.setNeedPrefix(m_port, m_needPrefix->isChecked()));
    wrote("Prefix", m_settings.setPrefix(m_port, m_prefix->text().toStdString()));
    wrote("DelayP", m_settings.setDelayPMs(m_port, delayP));
    wrote("NeedPrefixTown", m_settings.setNeedPrefixTown(m_port, m_needPrefixTown->isChecked()));
    wrote("PrefixTown", m_settings.setPrefixTown(m_port, m_prefixTown->text().toStdString()));
    if (m_longReversal->isChecked())
        wrote("TypeAnswer", m_settings.setAnswerType(m_port, AnswerType::LongReversal));
    else if (m_pulseReversal->isChecked())
        wrote("TypeAnswer", m_settings.setAnswerType(m_port, AnswerType::PulseReversal));

    if (!allWritten)
        showMessage(QString::fromUtf8(kWriteFailed) + ' ' + QString::fromStdString(m_port));
    return allWritten;
}

void FormComProperty::showMessage(const QString& text)
{
    // Opened without a nested event loop, so the dialog stays responsive and can be tested.
    auto* box = new QMessageBox(QMessageBox::Information, windowTitle(), text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

}  // namespace peltra::calls
