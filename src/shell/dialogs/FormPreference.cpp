// The preferences dialog: three boxes over Properties, with OK, Отмена and Применить.
#include "shell/dialogs/FormPreference.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <string>

namespace peltra::shell {

FormPreference::FormPreference(config::AppSettings& settings, std::filesystem::path program,
                               std::filesystem::path home, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_program(std::move(program)), m_home(std::move(home))
{
    setObjectName("FormPreference");
    setWindowTitle(QStringLiteral("Параметры"));

    auto* group = new QGroupBox(QStringLiteral("Главное окно"), this);
    group->setObjectName("groupb_main_window");
    m_minimizeLaunch = new QCheckBox(QStringLiteral("Минимизировать при запуске"), group);
    m_minimizeLaunch->setObjectName("checkbox_minimize_launch");
    m_minimizeIcon = new QCheckBox(QStringLiteral("При минимизации сворачивать в системную область"), group);
    m_minimizeIcon->setObjectName("checkbox_minimize_icon");
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(m_minimizeLaunch);
    groupLayout->addWidget(m_minimizeIcon);

    m_autoRun = new QCheckBox(QStringLiteral("Автоматически запускать при запуске Windows"), this);
    m_autoRun->setObjectName("checkbox_autorun");

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName("cb_ok");
    ok->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("Отмена"), this);
    cancel->setObjectName("cb_cancel");
    m_apply = new QPushButton(QStringLiteral("Применить"), this);
    m_apply->setObjectName("cb_apply");
    m_apply->setEnabled(false);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    buttons->addWidget(m_apply);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(group);
    layout->addWidget(m_autoRun);
    layout->addStretch();
    layout->addLayout(buttons);

    for (QCheckBox* box : {m_minimizeLaunch, m_minimizeIcon, m_autoRun})
        connect(box, &QCheckBox::toggled, this, &FormPreference::markModified);
    connect(ok, &QPushButton::clicked, this, &FormPreference::accept);
    connect(cancel, &QPushButton::clicked, this, &FormPreference::reject);
    connect(m_apply, &QPushButton::clicked, this, &FormPreference::apply);

    reload();
}

void FormPreference::reload()
{
    m_properties.load(m_settings);
    for (QCheckBox* box : {m_minimizeLaunch, m_minimizeIcon, m_autoRun})
        box->blockSignals(true);
    m_minimizeLaunch->setChecked(m_properties.minimizeLaunch());
    m_minimizeIcon->setChecked(m_properties.minimizeIcon());
    m_autoRun->setChecked(m_properties.autoRun());
    for (QCheckBox* box : {m_minimizeLaunch, m_minimizeIcon, m_autoRun})
        box->blockSignals(false);
    m_modified = false;
    m_apply->setEnabled(false);
}

void FormPreference::accept()
{
    apply();
    QDialog::accept();
}

bool FormPreference::apply()
{
    m_properties.setMinimizeLaunch(m_minimizeLaunch->isChecked());
    m_properties.setMinimizeIcon(m_minimizeIcon->isChecked());
    m_properties.setAutoRun(m_autoRun->isChecked());
    std::string error;
    const bool saved = m_properties.save(m_settings, m_program, m_home, &error);
    m_modified = false;
    m_apply->setEnabled(false);
    if (!saved)
        QMessageBox::warning(this, QStringLiteral("PELTRA"), QString::fromStdString(error));
    return saved;
}

void FormPreference::showEvent(QShowEvent* event)
{
    // A dialog opened again shows what the store holds now, not what was left in the boxes.
    if (!event->spontaneous())
        reload();
    QDialog::showEvent(event);
}

void FormPreference::markModified()
{
    m_modified = true;
    m_apply->setEnabled(true);
}

}  // namespace peltra::shell
