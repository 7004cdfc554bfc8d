// The database binding dialog.
#include "data/forms/FormTask.h"

#include "data/TableChecks.h"

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace peltra::data {

const char* const FormTask::kEmptyName = "Не заполнено поле 'Задание' !";
const char* const FormTask::kEmptyPath = "Не установлен путь!";
const char* const FormTask::kNameTaken = "Задание с таким именем уже есть!\r\nУкажите другое задание.";
const char* const FormTask::kPathChanged =
    "Вы изменили имя файла базы данных.\r\n"
    "Все задания, связанные с этим файлом исключаются из планирования.\r\n"
    "Вам необходимо проверить и привести в соответствие параметры заданий,\r\n"
    "а затем выбрать в меню команду \"Включить в планирование\"";

namespace {

QString text(const std::string& s)
{
    return QString::fromStdString(s);
}

}  // namespace

FormTask::FormTask(config::TaskStore& store, std::optional<std::string> editedBinding, QWidget* parent)
    : QDialog(parent), m_store(store), m_edited(std::move(editedBinding))
{
    setObjectName("FormTask");
    setWindowTitle(m_edited ? QStringLiteral("База данных: ") + text(*m_edited)
                            : QStringLiteral("Новая база данных"));
    setModal(true);

    m_name = new QLineEdit(this);
    m_name->setObjectName("textb_name");
    m_path = new QLineEdit(this);
    m_path->setObjectName("textb_path");
    m_comment = new QPlainTextEdit(this);
    m_comment->setObjectName("textb_comment");
    m_comment->setTabChangesFocus(true);

    auto* browseButton = new QPushButton(QStringLiteral("..."), this);
    browseButton->setObjectName("cb_browse");
    browseButton->setToolTip(QStringLiteral("Выбрать файл таблицы"));
    browseButton->setAutoDefault(false);
    browseButton->setFixedWidth(browseButton->sizeHint().height() + 8);
    auto* newTableButton = new QPushButton(QStringLiteral("Новая таблица..."), this);
    newTableButton->setObjectName("cb_newtable");
    newTableButton->setAutoDefault(false);

    auto* grid = new QGridLayout;
    auto addLabel = [&](int row, const QString& caption, const char* name, QWidget* buddy) {
        auto* label = new QLabel(caption, this);
        label->setObjectName(QString::fromLatin1(name));
        label->setBuddy(buddy);
        grid->addWidget(label, row, 0, Qt::AlignLeft | Qt::AlignTop);
    };
    addLabel(0, QStringLiteral("&Задание:"), "label_name", m_name);
    grid->addWidget(m_name, 0, 1, 1, 2);
    addLabel(1, QStringLiteral("&Файл:"), "label_path", m_path);
    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(m_path, 1);
    pathRow->addWidget(browseButton);
    grid->addLayout(pathRow, 1, 1, 1, 2);
    grid->addWidget(newTableButton, 2, 2, Qt::AlignRight);
    addLabel(3, QStringLiteral("За&метки:"), "label_comment", m_comment);
    grid->addWidget(m_comment, 3, 1, 1, 2);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(3, 1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("cb_ok");
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("cb_cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &FormTask::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FormTask::reject);
    connect(browseButton, &QPushButton::clicked, this, &FormTask::browse);
    connect(newTableButton, &QPushButton::clicked, this, &FormTask::newTable);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid, 1);
    layout->addWidget(buttons);

    if (m_edited) {
        m_name->setText(text(*m_edited));
        m_name->setReadOnly(true);
        if (std::optional<config::Task> binding = m_store.binding(*m_edited)) {
            m_path->setText(text(binding->file()));
            m_comment->setPlainText(text(binding->comment()));
        }
        m_path->setFocus();
    } else {
        m_name->setFocus();
    }
    resize(480, 240);
}

bool FormTask::refuse(const QString& message, QWidget* focus)
{
    QMessageBox::information(this, windowTitle(), message);
    focus->setFocus();
    return false;
}

void FormTask::accept()
{
    const std::string name = m_name->text().trimmed().toStdString();
    const std::string path = m_path->text().trimmed().toStdString();
    const std::string comment = m_comment->toPlainText().toStdString();
    if (name.empty()) {
        refuse(QString::fromUtf8(kEmptyName), m_name);
        return;
    }
    if (path.empty()) {
        refuse(QString::fromUtf8(kEmptyPath), m_path);
        return;
    }
    const CheckOutcome check = SourceCheck(path);
    if (!check.ok) {
        refuse(text(check.message), m_path);
        return;
    }
    if (m_edited ? storeEdited(path, comment) : storeNew(name, path, comment))
        QDialog::accept();
}

bool FormTask::storeNew(const std::string& name, const std::string& path, const std::string& comment)
{
    switch (m_store.addBinding(name, path, comment)) {
    case config::AddResult::Added:
        emit stored(text(name));
        return true;
    case config::AddResult::Exists:
        return refuse(QString::fromUtf8(kNameTaken), m_name);
    case config::AddResult::BadName:
        return refuse(QStringLiteral("Имя задания не может содержать символ '\\'."), m_name);
    case config::AddResult::Failed:
        break;
    }
    return refuse(QStringLiteral("Не удалось сохранить базу данных."), m_name);
}

bool FormTask::storeEdited(const std::string& path, const std::string& comment)
{
    std::optional<config::Task> binding = m_store.binding(*m_edited);
    if (!binding) {
        QMessageBox::information(this, windowTitle(),
                                 QStringLiteral("База данных '") + text(*m_edited) + QStringLiteral("' не найдена."));
        QDialog::reject();
        return false;
    }
    const config::Change change = binding->setFile(path);
    // The path is read back: a store that could not be written keeps the old one.
    if (change == config::Change::NotFound || binding->file() != path || !binding->setComment(comment))
        return refuse(QStringLiteral("Не удалось сохранить базу данных."), m_path);
    emit stored(text(*m_edited));
    if (change == config::Change::Changed)
        QMessageBox::information(this, windowTitle(), QString::fromUtf8(kPathChanged));
    return true;
}

void FormTask::browse()
{
    const QString caption = QStringLiteral("Выберите необходимый DBF-файл.");
    const QString filter = QStringLiteral("DBF-файлы (*.dbf)");
    const QString chosen = m_browseDialog ? m_browseDialog(this, caption, filter)
                                          : QFileDialog::getOpenFileName(this, caption, m_path->text(), filter);
    if (!chosen.isEmpty())
        m_path->setText(chosen);
    m_path->setFocus();
}

void FormTask::newTable()
{
    FormNewTable form(this);
    if (m_saveDialog)
        form.setSaveDialog(m_saveDialog);
    connect(&form, &FormNewTable::created, m_path, &QLineEdit::setText);
    form.exec();
    m_path->setFocus();
}

}  // namespace peltra::data
