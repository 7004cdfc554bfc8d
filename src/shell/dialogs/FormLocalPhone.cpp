// The local-phone dialog: the mode box, the number and whether results go into the tables.
#include "shell/dialogs/FormLocalPhone.h"

#include "engine/Controller.h"
#include "line/DialString.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

namespace peltra::shell {

FormLocalPhone::FormLocalPhone(QWidget* parent) : QDialog(parent)
{
    setObjectName("FormLocalPhone");
    setWindowTitle(QStringLiteral("\"Местный телефон\" (PELTRA)"));

    auto* explanation = new QLabel(
        QStringLiteral("Применяйте режим \"Местный телефон\" для комплексной проверки работы системы. "
                       "После его установки все звонки будут направляться на указанный номер вместо "
                       "полученных из базы данных. "),
        this);
    explanation->setObjectName("label_explanation");
    explanation->setWordWrap(true);

    m_modeBox = new QCheckBox(QStringLiteral("Включить режим \"Местный телефон\""), this);
    m_modeBox->setObjectName("checkbox_local_phone");
    auto* numberLabel = new QLabel(QStringLiteral("Номер по которому будут производиться звонки:"), this);
    numberLabel->setObjectName("label_number");
    m_numberBox = new QLineEdit(this);
    m_numberBox->setObjectName("textb_number");
    numberLabel->setBuddy(m_numberBox);
    m_writeResultsBox = new QCheckBox(QStringLiteral("Заносить результаты оповещения в базу данных"), this);
    m_writeResultsBox->setObjectName("checkbox_update");

    auto* ok = new QPushButton(QStringLiteral("ОК"), this);  // Cyrillic letters, as the station always wrote it
    ok->setObjectName("cb_ok");
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
    cancel->setObjectName("cb_cancel");
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(explanation);
    layout->addWidget(m_modeBox);
    layout->addWidget(numberLabel);
    layout->addWidget(m_numberBox);
    layout->addWidget(m_writeResultsBox);
    layout->addStretch();
    layout->addLayout(buttons);

    connect(m_modeBox, &QCheckBox::toggled, this, &FormLocalPhone::updateEnabled);
    connect(ok, &QPushButton::clicked, this, &FormLocalPhone::accept);
    connect(cancel, &QPushButton::clicked, this, &FormLocalPhone::reject);
    updateEnabled();
}

void FormLocalPhone::setValues(bool on, const QString& number, bool writeResults)
{
    m_on = on;
    m_number = number;
    m_writeResults = writeResults;
    m_modeBox->setChecked(on);
    m_numberBox->setText(number);
    m_writeResultsBox->setChecked(writeResults);
    updateEnabled();
}

void FormLocalPhone::accept()
{
    const std::string typed = m_numberBox->text().toStdString();
    if (m_modeBox->isChecked() && !line::isDialableNumber(typed)) {
        QMessageBox::warning(this, QString::fromUtf8(engine::kStationCaption),
                             QString::fromStdString(engine::localPhoneRefusal(typed)));
        m_numberBox->setFocus();
        return;
    }
    m_on = m_modeBox->isChecked();
    m_number = m_numberBox->text();
    m_writeResults = m_writeResultsBox->isChecked();
    QDialog::accept();
}

void FormLocalPhone::updateEnabled()
{
    const bool on = m_modeBox->isChecked();
    m_numberBox->setEnabled(on);
    m_writeResultsBox->setEnabled(on);
}

}  // namespace peltra::shell
