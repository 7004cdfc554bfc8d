// The shutdown wait window: closes on the end of work or on the operator's word only.
#include "shell/dialogs/FormWaitCompletion.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace peltra::shell {

FormWaitCompletion::FormWaitCompletion(QWidget* parent) : QDialog(parent)
{
    setObjectName("FormWaitCompletion");
    setWindowTitle(QStringLiteral("PELTRA завершение"));
    setModal(true);

    auto* text = new QLabel(
        QStringLiteral("Приложение Peltra ожидает завершения сеансов оповещения для безопасного выхода"), this);
    text->setObjectName("label_text");
    text->setWordWrap(true);
    auto* button = new QPushButton(QStringLiteral("Завершить немедленно"), this);
    button->setObjectName("cb_terminate");
    button->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(button);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addLayout(buttons);

    connect(button, &QPushButton::clicked, this, &FormWaitCompletion::terminateNow);
}

int FormWaitCompletion::exec()
{
    // A notification handled before the window was shown must not leave it waiting for another.
    if (m_outcome != Waiting)
        return m_outcome;
    return QDialog::exec();
}

void FormWaitCompletion::workComplete()
{
    if (m_outcome == Waiting)
        finish(WorkCompleted);
}

void FormWaitCompletion::terminateNow()
{
    if (m_outcome == Waiting)
        finish(TerminatedByUser);
}

void FormWaitCompletion::reject()
{
    if (m_outcome != Waiting)
        QDialog::reject();
}

void FormWaitCompletion::closeEvent(QCloseEvent* event)
{
    if (m_outcome == Waiting)
        event->ignore();
    else
        QDialog::closeEvent(event);
}

void FormWaitCompletion::finish(Outcome outcome)
{
    m_outcome = outcome;
    done(outcome);
}

}  // namespace peltra::shell
