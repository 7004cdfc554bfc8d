// The dialog that sets how one port dials and recognises the answer.
#include "calls/forms/FormComProperty.h"

#include "calls/forms/UpDown.h"
#include "platform/text/CaseFold.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
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

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace peltra::calls {

const char* const FormComProperty::kNumberMissing = "Введите число";
const char* const FormComProperty::kWriteFailed = "Не удалось записать настройки линии";
const char* const FormComProperty::kPortRange = "Номер порта — от 0 до 65535";
const char* const FormComProperty::kBadTrunkName = "Имя транка не может быть пустым или содержать \\";
const char* const FormComProperty::kBadCodecs = "Укажите кодеки через запятую: PCMA, PCMU";
const char* const FormComProperty::kPasswordKept = "не изменён";

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

QLineEdit* lineEdit(const char* name, QWidget* parent)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    return box;
}

QLineEdit* numberEdit(const char* name, int maxLength, QWidget* parent)
{
    QLineEdit* box = lineEdit(name, parent);
    box->setMaxLength(maxLength);
    box->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), box));
    box->setFixedWidth(box->fontMetrics().horizontalAdvance(QString(maxLength + 1, '0')) + 12);
    return box;
}

// Widgets side by side in one row of a form, the rest of the row left empty.
QHBoxLayout* row(std::initializer_list<QWidget*> widgets)
{
    auto* layout = new QHBoxLayout;
    for (QWidget* widget : widgets)
        layout->addWidget(widget);
    layout->addStretch();
    return layout;
}

constexpr sip::Transport kTransports[] = {sip::Transport::Udp, sip::Transport::Tcp, sip::Transport::Tls};
constexpr std::uint32_t kPortMaximum = 65535;

}  // namespace

FormComProperty::FormComProperty(config::ConfigStore& store, std::string port, QWidget* parent)
    : QDialog(parent), m_settings(store), m_trunks(store), m_port(std::move(port)), m_sip(sip::isSipPort(m_port))
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
    const int pauseRows = row;
    m_delayW = addNumber(QStringLiteral("Пауза W"), "textb_w", "updown_3", 5, 800, 10000, 100, ms);
    m_delayP = addNumber(QStringLiteral("Пауза P"), "textb_p", "updown_5", 5, 800, 10000, 100, ms);

    auto* prefixes = new QGroupBox(QStringLiteral("Префиксы"), this);
    prefixes->setObjectName("groupb_prefix");
    auto* prefixLayout = new QGridLayout(prefixes);
    m_needPrefix = checkBox("checkbox_prefix", QStringLiteral("Междугородный: 8, пауза W, затем"), prefixes);
    m_prefix = new QLineEdit(prefixes);
    m_prefix->setObjectName("textb_prefix");
    m_prefix->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), m_prefix));
    m_prefix->setMinimumWidth(m_prefix->fontMetrics().horizontalAdvance(QString(10, '0')) + 12);
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

    auto* portColumn = new QVBoxLayout;
    portColumn->addWidget(dialing);
    portColumn->addWidget(timing);
    portColumn->addWidget(prefixes);
    portColumn->addWidget(answer);
    auto* columns = new QHBoxLayout;
    columns->addLayout(portColumn);
    if (m_sip) {
        // A SIP call sends the number in one INVITE: no dialing mode, no pauses, no polarity.
        dialing->hide();
        answer->hide();
        for (int pause = pauseRows; pause < row; ++pause)
            for (int column = 0; column < timingLayout->columnCount(); ++column)
                if (QLayoutItem* item = timingLayout->itemAtPosition(pause, column); item && item->widget())
                    item->widget()->hide();
        m_needPrefix->setText(QStringLiteral("Междугородный: 8, затем"));
        m_needPrefixTown->setText(QStringLiteral("Выход в город"));
        portColumn->addStretch();
        columns->addWidget(buildTrunkGroup());
    }

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(columns);
    layout->addWidget(buttons);

    fill();
    if (m_sip) {
        // The boxes show the trunk named when it exists; a new name keeps them, to be stored under it.
        connect(m_trunk, &QComboBox::currentTextChanged, this, [this](const QString& text) {
            const std::string name = text.trimmed().toStdString();
            for (const std::string& trunk : m_trunks.trunkNames())
                if (platform::equalsIgnoreCase(trunk, name) && !platform::equalsIgnoreCase(trunk, m_shownTrunk))
                    fillTrunk(trunk);
        });
    }
}

QGroupBox* FormComProperty::buildTrunkGroup()
{
    auto* group = new QGroupBox(QStringLiteral("SIP-транк"), this);
    group->setObjectName("groupb_sip");
    m_trunk = new QComboBox(group);
    m_trunk->setObjectName("combo_trunk");
    m_trunk->setEditable(true);
    m_trunk->setInsertPolicy(QComboBox::NoInsert);
    for (const std::string& trunk : m_trunks.trunkNames())
        m_trunk->addItem(QString::fromStdString(trunk));
    m_proxy = lineEdit("textb_proxy", group);
    m_proxy->setPlaceholderText(QStringLiteral("sip:адрес:порт"));
    m_proxy->setMinimumWidth(m_proxy->fontMetrics().horizontalAdvance(QString(28, '0')));
    m_domain = lineEdit("textb_domain", group);
    m_user = lineEdit("textb_user", group);
    m_authUser = lineEdit("textb_authuser", group);
    m_authUser->setPlaceholderText(QStringLiteral("как пользователь"));
    m_password = lineEdit("textb_password", group);
    m_password->setEchoMode(QLineEdit::Password);
    m_transport = new QComboBox(group);
    m_transport->setObjectName("combo_transport");
    for (sip::Transport transport : kTransports)
        m_transport->addItem(QString::fromStdString(sip::transportName(transport)).toUpper());
    m_localAddress = lineEdit("textb_localaddress", group);
    m_localAddress->setPlaceholderText(QStringLiteral("адрес в сторону прокси"));
    m_localPort = numberEdit("textb_localport", 5, group);
    m_register = checkBox("checkbox_register", QStringLiteral("Регистрироваться"), group);
    m_expires = numberEdit("textb_expires", 6, group);
    m_codecs = lineEdit("textb_codecs", group);
    m_codecs->setPlaceholderText(QStringLiteral("PCMA,PCMU"));
    m_rtpPortMin = numberEdit("textb_rtpmin", 5, group);
    m_rtpPortMax = numberEdit("textb_rtpmax", 5, group);
    m_callerId = lineEdit("textb_callerid", group);
    m_callerId->setPlaceholderText(QStringLiteral("не передаётся"));
    m_caFile = lineEdit("textb_cafile", group);
    m_caFile->setPlaceholderText(QStringLiteral("системные сертификаты"));

    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("Транк"), m_trunk);
    form->addRow(QStringLiteral("Прокси-сервер"), m_proxy);
    form->addRow(QStringLiteral("Домен"), m_domain);
    form->addRow(QStringLiteral("Пользователь"), m_user);
    form->addRow(QStringLiteral("Имя для авторизации"), m_authUser);
    form->addRow(QStringLiteral("Пароль"), m_password);
    form->addRow(QStringLiteral("Транспорт"), row({m_transport}));
    form->addRow(QStringLiteral("Локальный адрес"), m_localAddress);
    form->addRow(QStringLiteral("Локальный порт"),
                 row({m_localPort, new QLabel(QStringLiteral("0 — любой свободный"), group)}));
    form->addRow(QString(), row({m_register, m_expires, new QLabel(QStringLiteral("с"), group)}));
    form->addRow(QStringLiteral("Кодеки"), m_codecs);
    form->addRow(QStringLiteral("Порты RTP"),
                 row({m_rtpPortMin, new QLabel(QStringLiteral("—"), group), m_rtpPortMax}));
    form->addRow(QStringLiteral("Имя вызывающего"), m_callerId);
    form->addRow(QStringLiteral("Файл CA для TLS"), m_caFile);
    return group;
}

void FormComProperty::fillTrunk(const std::string& trunk)
{
    const sip::TrunkSettings settings = m_trunks.stored(trunk);
    m_shownTrunk = trunk;
    m_proxy->setText(QString::fromStdString(settings.proxy));
    m_domain->setText(QString::fromStdString(settings.domain));
    m_user->setText(QString::fromStdString(settings.user));
    m_authUser->setText(QString::fromStdString(settings.authUser));
    // The stored password stays in the store: the box only ever holds a new one.
    m_password->clear();
    m_password->setPlaceholderText(settings.password.empty() ? QStringLiteral("не задан")
                                                              : QString::fromUtf8(kPasswordKept));
    for (int i = 0; i < static_cast<int>(std::size(kTransports)); ++i)
        if (kTransports[i] == settings.transport)
            m_transport->setCurrentIndex(i);
    m_localAddress->setText(QString::fromStdString(settings.localAddress));
    showText(m_localPort, QString::number(settings.localPort));
    m_register->setChecked(settings.registerOn);
    showText(m_expires, QString::number(settings.expires));
    QStringList codecs;
    for (sip::Codec codec : settings.codecs)
        codecs << QString::fromStdString(sip::codecName(codec));
    m_codecs->setText(codecs.join(','));
    showText(m_rtpPortMin, QString::number(settings.rtpPortMin));
    showText(m_rtpPortMax, QString::number(settings.rtpPortMax));
    m_callerId->setText(QString::fromStdString(settings.callerId));
    m_caFile->setText(QString::fromStdString(settings.caFile));
}

void FormComProperty::fill()
{
    showText(m_ringOff, QString::number(m_settings.ringOffMs(m_port)));
    showText(m_delayFirst, QString::number(m_settings.delayFirstMs(m_port)));
    showText(m_waitAnswer, QString::number(m_settings.waitAnswerS(m_port)));
    m_needPrefix->setChecked(m_settings.needPrefix(m_port));
    showText(m_prefix, QString::fromStdString(m_settings.prefix(m_port)));
    m_needPrefixTown->setChecked(m_settings.needPrefixTown(m_port));
    showText(m_prefixTown, QString::fromStdString(m_settings.prefixTown(m_port)));
    // Reading writes a missing value's default: a SIP channel gets none of the serial line's own.
    if (!m_sip) {
        (m_settings.pulseDialing(m_port) ? m_pulse : m_tone)->setChecked(true);
        showText(m_delayW, QString::number(m_settings.delayWMs(m_port)));
        showText(m_delayP, QString::number(m_settings.delayPMs(m_port)));
        const bool pulseReversal = m_settings.answerType(m_port) == AnswerType::PulseReversal;
        (pulseReversal ? m_pulseReversal : m_longReversal)->setChecked(true);
        showWaveforms();
    } else {
        const std::string trunk = m_trunks.trunkOfPort(m_port);
        m_trunk->setCurrentText(QString::fromStdString(trunk));
        fillTrunk(trunk);
    }
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

bool FormComProperty::readNumber(QLineEdit* box, std::uint32_t& value, std::uint32_t maximum)
{
    bool isNumber = false;
    const qulonglong number = box->text().toULongLong(&isNumber);
    if (!isNumber || number > maximum) {
        // An empty box would otherwise be stored as 0: no wait for the answer, no pause on hook.
        refuse(box, QString::fromUtf8(isNumber && maximum == kPortMaximum ? kPortRange : kNumberMissing));
        return false;
    }
    value = static_cast<std::uint32_t>(number);
    return true;
}

void FormComProperty::refuse(QWidget* box, const QString& text)
{
    showMessage(text);
    box->setFocus();
    if (auto* edit = qobject_cast<QLineEdit*>(box))
        edit->selectAll();
}

std::optional<sip::TrunkSettings> FormComProperty::readTrunk()
{
    sip::TrunkSettings trunk;
    trunk.name = m_trunk->currentText().trimmed().toStdString();
    if (!sip::isTrunkName(trunk.name)) {
        refuse(m_trunk, QString::fromUtf8(kBadTrunkName));
        return std::nullopt;
    }
    std::uint32_t localPort = 0, rtpPortMin = 0, rtpPortMax = 0;
    if (!readNumber(m_localPort, localPort, kPortMaximum) || !readNumber(m_expires, trunk.expires) ||
        !readNumber(m_rtpPortMin, rtpPortMin, kPortMaximum) || !readNumber(m_rtpPortMax, rtpPortMax, kPortMaximum))
        return std::nullopt;
    std::optional<std::vector<sip::Codec>> codecs = sip::codecsFromList(m_codecs->text().toStdString());
    if (!codecs) {
        refuse(m_codecs, QString::fromUtf8(kBadCodecs));
        return std::nullopt;
    }
    const auto text = [](QLineEdit* box) { return box->text().trimmed().toStdString(); };
    trunk.proxy = text(m_proxy);
    trunk.domain = text(m_domain);
    trunk.user = text(m_user);
    trunk.authUser = text(m_authUser);
    trunk.transport = kTransports[std::max(0, m_transport->currentIndex())];
    trunk.localAddress = text(m_localAddress);
    trunk.localPort = static_cast<std::uint16_t>(localPort);
    trunk.registerOn = m_register->isChecked();
    trunk.codecs = std::move(*codecs);
    trunk.rtpPortMin = static_cast<std::uint16_t>(rtpPortMin);
    trunk.rtpPortMax = static_cast<std::uint16_t>(rtpPortMax);
    trunk.callerId = m_callerId->text().toStdString();
    trunk.caFile = text(m_caFile);
    return trunk;
}

bool FormComProperty::saveTrunk(const sip::TrunkSettings& trunk)
{
    bool written = m_trunks.setTrunkOfPort(m_port, trunk.name) && m_trunks.write(trunk);
    if (!m_password->text().isEmpty())
        written = m_trunks.setPassword(trunk.name, m_password->text().toStdString()) && written;
    else if (!platform::equalsIgnoreCase(trunk.name, m_shownTrunk))
        // The shown values, the kept password among them, go to the trunk newly named.
        written = m_trunks.setPassword(trunk.name, m_trunks.stored(m_shownTrunk).password) && written;
    return written;
}

bool FormComProperty::save()
{
    // Every box is checked before the first write, so that a rejected entry writes nothing.
    std::uint32_t ringOff = 0, delayFirst = 0, waitAnswer = 0, delayW = 0, delayP = 0;
    if (!readNumber(m_ringOff, ringOff) || !readNumber(m_delayFirst, delayFirst) ||
        !readNumber(m_waitAnswer, waitAnswer) ||
        (!m_sip && (!readNumber(m_delayW, delayW) || !readNumber(m_delayP, delayP))))
        return false;
    std::optional<sip::TrunkSettings> trunk;
    if (m_sip && !(trunk = readTrunk()))
        return false;

    bool allWritten = true;
    auto wrote = [&](const char* valueName, bool written) {
        allWritten = allWritten && written;
        if (m_writeObserver)
            m_writeObserver(valueName);
    };
    if (!m_sip)
        wrote("CallMode", m_settings.setPulseDialing(m_port, m_pulse->isChecked()));
    wrote("RingOff", m_settings.setRingOffMs(m_port, ringOff));
    wrote("DelayFirst", m_settings.setDelayFirstMs(m_port, delayFirst));
    wrote("WaitAnswer", m_settings.setWaitAnswerS(m_port, waitAnswer));
    if (!m_sip)
        wrote("DelayW", m_settings.setDelayWMs(m_port, delayW));
    wrote("NeedPrefix", m_settings.setNeedPrefix(m_port, m_needPrefix->isChecked()));
    wrote("Prefix", m_settings.setPrefix(m_port, m_prefix->text().toStdString()));
    if (!m_sip)
        wrote("DelayP", m_settings.setDelayPMs(m_port, delayP));
    wrote("NeedPrefixTown", m_settings.setNeedPrefixTown(m_port, m_needPrefixTown->isChecked()));
    wrote("PrefixTown", m_settings.setPrefixTown(m_port, m_prefixTown->text().toStdString()));
    if (m_sip)
        allWritten = saveTrunk(*trunk) && allWritten;
    else if (m_longReversal->isChecked())
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
