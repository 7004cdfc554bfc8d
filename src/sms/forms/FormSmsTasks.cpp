// The SMS task manager window: tasks, their source files and their templates.
#include "sms/forms/FormSmsTasks.h"

#include "platform/registry/RegistryStore.h"
#include "platform/text/CaseFold.h"
#include "sms/SMSMessages.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace peltra::sms {

const char* const FormSmsTasks::kTitle = "Свойства задания SMS";
const char* const FormSmsTasks::kEditingMessage =
    "Вы находитесь в режиме редактирования свойств задания. Завершите редактирование.";
const char* const FormSmsTasks::kDuplicateMessage = "Задание с таким именем уже есть. Введите другое.";
const char* const FormSmsTasks::kCannotOpenSource = "Не могу открыть файл-источник";

namespace {

constexpr int kKeyRole = Qt::UserRole;
constexpr int kFieldRole = Qt::UserRole + 1;
constexpr char kNewTaskName[] = "Новое задание";

QString q(const std::string& text) { return QString::fromStdString(text); }

// Field items read as "[NAME]" in the link colour, so they stand apart from the fixed text
// around them; text items show their blanks at the ends as they will be sent.
class TemplateItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.data(kFieldRole).toBool()) {
            option->text = QStringLiteral("[%1]").arg(option->text);
            option->palette.setColor(QPalette::Text, option->palette.color(QPalette::Link));
            option->font.setBold(true);
        } else {
            option->text = QStringLiteral("«%1»").arg(option->text);
        }
    }
};

// An input dialog that stays open while its text is empty.
class TextInputDialog : public QInputDialog {
public:
    using QInputDialog::QInputDialog;

    void done(int result) override
    {
        if (result == QDialog::Accepted && inputMode() == QInputDialog::TextInput && textValue().isEmpty()) {
            QApplication::beep();
            if (auto* edit = findChild<QLineEdit*>())
                edit->setFocus();
            return;
        }
        QInputDialog::done(result);
    }
};

}  // namespace

FormSmsTasks::FormSmsTasks(config::ConfigStore& store, QWidget* parent)
    : QDialog(parent), m_store(store), m_tasks(store)
{
    setObjectName(QStringLiteral("FormSmsTasks"));
    setWindowTitle(QString::fromUtf8(kTitle));

    m_taskList = new QTreeWidget(this);
    m_taskList->setObjectName(QStringLiteral("lv_Tasks"));
    m_taskList->setColumnCount(1);
    m_taskList->setHeaderLabels({QStringLiteral("Задание")});
    m_taskList->setRootIsDecorated(false);
    m_taskList->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed);
    m_taskList->setMinimumWidth(180);
    m_new = new QPushButton(QStringLiteral("Новое"), this);
    m_new->setObjectName(QStringLiteral("cb_New"));
    m_delete = new QPushButton(QStringLiteral("Удалить"), this);
    m_delete->setObjectName(QStringLiteral("cb_Delete"));

    auto* fileLabel = new QLabel(QStringLiteral("Исходный файл"), this);
    fileLabel->setObjectName(QStringLiteral("label_File"));
    m_file = new QLineEdit(this);
    m_file->setObjectName(QStringLiteral("textb_File"));
    m_file->setReadOnly(true);
    m_browse = new QPushButton(QStringLiteral("Обзор..."), this);
    m_browse->setObjectName(QStringLiteral("cb_Browse"));

    auto* templateGroup = new QGroupBox(QStringLiteral("Шаблон текстового сообщения"), this);
    templateGroup->setObjectName(QStringLiteral("groupb_Template"));
    m_template = new QListWidget(templateGroup);
    m_template->setObjectName(QStringLiteral("lv_Template"));
    m_template->setItemDelegate(new TemplateItemDelegate(m_template));
    m_edit = new QCheckBox(QStringLiteral("Разрешить изменения"), templateGroup);
    m_edit->setObjectName(QStringLiteral("checkbox_Edit"));
    auto button = [&](const char* text, const char* name) {
        auto* b = new QPushButton(QString::fromUtf8(text), templateGroup);
        b->setObjectName(QString::fromUtf8(name));
        return b;
    };
    m_addText = button("Добавить текст", "cb_AddText");
    m_addField = button("Добавить поле", "cb_AddField");
    m_up = button("Вверх", "cb_Up");
    m_down = button("Вниз", "cb_Down");
    m_deleteItem = button("Удалить элемент", "cb_DelItem");
    m_apply = button("Применить", "cb_Apply");
    m_cancel = button("Отменить", "cb_Cancel");
    m_saveAs = button("Сохранить шаблон как...", "cb_SaveAs");
    m_load = button("Загрузить шаблон", "cb_Load");
    m_preview = new QLabel(templateGroup);
    m_preview->setObjectName(QStringLiteral("label_Preview"));
    m_preview->setWordWrap(true);
    m_preview->setTextFormat(Qt::PlainText);

    auto* editButtons = new QVBoxLayout;
    for (QPushButton* b : {m_addText, m_addField, m_up, m_down, m_deleteItem})
        editButtons->addWidget(b);
    editButtons->addStretch();
    editButtons->addWidget(m_apply);
    editButtons->addWidget(m_cancel);
    auto* templateLayout = new QGridLayout(templateGroup);
    templateLayout->addWidget(m_edit, 0, 0, 1, 2);
    templateLayout->addWidget(m_template, 1, 0);
    templateLayout->addLayout(editButtons, 1, 1);
    templateLayout->addWidget(m_preview, 2, 0, 1, 2);
    auto* storedButtons = new QHBoxLayout;
    storedButtons->addWidget(m_saveAs);
    storedButtons->addWidget(m_load);
    storedButtons->addStretch();
    templateLayout->addLayout(storedButtons, 3, 0, 1, 2);

    // Nothing in this station sends the messages, so there is no sending time to set; the group
    // says so rather than offer settings that nothing would obey.
    auto* scheduleGroup = new QGroupBox(QStringLiteral("Расписание"), this);
    scheduleGroup->setObjectName(QStringLiteral("groupb_Schedule"));
    auto* scheduleText = new QLabel(QStringLiteral("Станция хранит задания SMS и их шаблоны, но сама сообщения не "
                                                   "отправляет, поэтому время отправки здесь не задаётся."),
                                    scheduleGroup);
    scheduleText->setObjectName(QStringLiteral("label_Schedule"));
    scheduleText->setWordWrap(true);
    auto* scheduleLayout = new QVBoxLayout(scheduleGroup);
    scheduleLayout->addWidget(scheduleText);

    auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
    close->setObjectName(QStringLiteral("cb_Close"));
    close->setAutoDefault(false);

    auto* left = new QVBoxLayout;
    left->addWidget(m_taskList);
    auto* taskButtons = new QHBoxLayout;
    taskButtons->addWidget(m_new);
    taskButtons->addWidget(m_delete);
    left->addLayout(taskButtons);

    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(fileLabel);
    fileRow->addWidget(m_file, 1);
    fileRow->addWidget(m_browse);
    auto* right = new QVBoxLayout;
    right->addLayout(fileRow);
    right->addWidget(templateGroup, 1);
    right->addWidget(scheduleGroup);
    auto* closeRow = new QHBoxLayout;
    closeRow->addStretch();
    closeRow->addWidget(close);
    right->addLayout(closeRow);

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 2);
    layout->addLayout(right, 5);
    resize(720, 480);

    for (QPushButton* b : {m_new, m_delete, m_browse, m_addText, m_addField, m_up, m_down, m_deleteItem, m_apply,
                           m_cancel, m_saveAs, m_load})
        b->setAutoDefault(false);

    m_chooseFile = [this](const QString& start) {
        return QFileDialog::getOpenFileName(this, QStringLiteral("Исходный файл"), start,
                                            QStringLiteral("Таблицы dBase (*.dbf *.DBF);;Все файлы (*)"));
    };

    connect(m_taskList, &QTreeWidget::currentItemChanged, this, &FormSmsTasks::onCurrentTaskChanged);
    connect(m_taskList, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item) { onTaskRenamed(item); });
    connect(m_template, &QListWidget::currentRowChanged, this, [this] { updateButtons(); });
    connect(m_edit, &QCheckBox::toggled, this, &FormSmsTasks::onEditToggled);
    connect(m_new, &QPushButton::clicked, this, &FormSmsTasks::newTask);
    connect(m_delete, &QPushButton::clicked, this, &FormSmsTasks::deleteTask);
    connect(m_browse, &QPushButton::clicked, this, &FormSmsTasks::browse);
    connect(m_addText, &QPushButton::clicked, this, &FormSmsTasks::addText);
    connect(m_addField, &QPushButton::clicked, this, &FormSmsTasks::addField);
    connect(m_up, &QPushButton::clicked, this, &FormSmsTasks::moveUp);
    connect(m_down, &QPushButton::clicked, this, &FormSmsTasks::moveDown);
    connect(m_deleteItem, &QPushButton::clicked, this, &FormSmsTasks::deleteItem);
    connect(m_apply, &QPushButton::clicked, this, &FormSmsTasks::apply);
    connect(m_cancel, &QPushButton::clicked, this, &FormSmsTasks::cancel);
    connect(m_saveAs, &QPushButton::clicked, this, &FormSmsTasks::saveTemplateAs);
    connect(m_load, &QPushButton::clicked, this, &FormSmsTasks::loadTemplate);
    connect(close, &QPushButton::clicked, this, &FormSmsTasks::reject);

    m_tasks.load();
    fillTasks("");
}

FormSmsTasks::~FormSmsTasks()
{
    // A window torn down while editing (the program ends) leaves no stale copy behind.
    if (m_editing)
        m_tasks.cancelEditing();
}

void FormSmsTasks::setFileChooser(std::function<QString(const QString&)> chooser)
{
    m_chooseFile = std::move(chooser);
}

std::string FormSmsTasks::currentTask() const
{
    const QTreeWidgetItem* item = m_taskList->currentItem();
    return item ? item->data(0, kKeyRole).toString().toStdString() : std::string();
}

void FormSmsTasks::fillTasks(const std::string& select)
{
    m_filling = true;
    m_taskList->clear();
    QTreeWidgetItem* selected = nullptr;
    for (const std::string& name : m_tasks.names()) {
        auto* item = new QTreeWidgetItem(m_taskList, {q(name)});
        item->setData(0, kKeyRole, q(name));
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        if (selected == nullptr || platform::equalsIgnoreCase(name, select))
            selected = item;
    }
    m_taskList->setCurrentItem(selected);
    m_filling = false;
    showTask();
}

void FormSmsTasks::showTask()
{
    const std::string task = currentTask();
    const auto found = m_tasks.find(task);
    m_file->setText(found ? q(found->file()) : QString());
    m_file->setCursorPosition(0);
    fillTemplate();
    updateButtons();
}

std::optional<SMSPatterns> FormSmsTasks::shownPatterns()
{
    if (m_editing)
        return m_tasks.workingCopy();
    const auto found = m_tasks.find(currentTask());
    if (!found)
        return std::nullopt;
    return found->patterns();
}

void FormSmsTasks::fillTemplate(const std::string& select)
{
    m_template->clear();
    QString preview;
    if (auto patterns = shownPatterns()) {
        std::vector<SMSPatternItem> items;
        std::string error;
        if (!patterns->items(items, &error))
            showStoreError(error);
        for (const SMSPatternItem& entry : items) {
            auto* item = new QListWidgetItem(q(entry.value), m_template);
            item->setData(kKeyRole, q(entry.key));
            item->setData(kFieldRole, entry.type == ItemType::Field);
            item->setToolTip(entry.type == ItemType::Field ? QStringLiteral("Поле %1 исходного файла").arg(q(entry.value))
                                                           : QStringLiteral("Текст"));
            if (entry.key == select)
                m_template->setCurrentItem(item);
            preview += entry.type == ItemType::Field ? QStringLiteral("[%1]").arg(q(entry.value)) : q(entry.value);
        }
    }
    m_preview->setText(QStringLiteral("Сообщение: ") + preview);
    updateButtons();
}

std::string FormSmsTasks::selectedItem() const
{
    const QListWidgetItem* item = m_template->currentItem();
    return item ? item->data(kKeyRole).toString().toStdString() : std::string();
}

void FormSmsTasks::updateButtons()
{
    const bool hasTask = !currentTask().empty();
    const int row = m_template->currentRow();
    const bool hasItem = row >= 0;
    m_edit->setEnabled(hasTask);
    m_addText->setEnabled(m_editing);
    m_addField->setEnabled(m_editing);
    m_up->setEnabled(m_editing && hasItem && row > 0);
    m_down->setEnabled(m_editing && hasItem && row + 1 < m_template->count());
    m_deleteItem->setEnabled(m_editing && hasItem);
    m_apply->setEnabled(m_editing);
    m_cancel->setEnabled(m_editing);
    m_load->setEnabled(m_editing);
    m_saveAs->setEnabled(hasTask);
    m_browse->setEnabled(hasTask);
    m_delete->setEnabled(hasTask);
}

bool FormSmsTasks::notEditing()
{
    if (!m_editing)
        return true;
    QMessageBox::information(this, QString::fromUtf8(kTitle), QString::fromUtf8(kEditingMessage));
    m_template->setFocus();
    return false;
}

void FormSmsTasks::showStoreError(const std::string& what)
{
    QMessageBox::critical(this, QStringLiteral("Ошибка"),
                          QStringLiteral("Не удалось записать изменения.\n") + q(what));
}

void FormSmsTasks::setEditing(bool on)
{
    m_editing = on;
    {
        const QSignalBlocker blocker(m_edit);
        m_edit->setChecked(on);
    }
    fillTemplate(selectedItem());
}

void FormSmsTasks::onEditToggled(bool on)
{
    if (on == m_editing)
        return;
    if (!on) {
        // Leaving goes through "Применить" or "Отменить", so nothing is kept or lost unasked.
        {
            const QSignalBlocker blocker(m_edit);
            m_edit->setChecked(true);
        }
        notEditing();
        return;
    }
    std::string error;
    if (!m_tasks.beginEditing(currentTask(), &error)) {
        {
            const QSignalBlocker blocker(m_edit);
            m_edit->setChecked(false);
        }
        showStoreError(error);
        return;
    }
    setEditing(true);
}

void FormSmsTasks::onCurrentTaskChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous)
{
    if (m_filling)
        return;
    if (m_editing && current != previous && previous != nullptr) {
        // Back to the task being edited once this change has finished.
        QTimer::singleShot(0, this, [this, previous] {
            const QSignalBlocker blocker(m_taskList);
            m_taskList->setCurrentItem(previous);
        });
        notEditing();
        return;
    }
    showTask();
}

void FormSmsTasks::onTaskRenamed(QTreeWidgetItem* item)
{
    if (m_filling || item == nullptr)
        return;
    const std::string old = item->data(0, kKeyRole).toString().toStdString();
    const std::string wanted = item->text(0).trimmed().toStdString();
    if (wanted == old)
        return;
    const auto restore = [this, item, old] {
        m_filling = true;
        item->setText(0, q(old));
        m_filling = false;
    };
    if (m_editing) {
        restore();
        notEditing();
        return;
    }
    const AddTaskResult result = m_tasks.renameTask(old, wanted);
    if (result == AddTaskResult::Added) {
        m_filling = true;
        item->setText(0, q(wanted));
        item->setData(0, kKeyRole, q(wanted));
        m_filling = false;
        showTask();
        return;
    }
    restore();
    if (result == AddTaskResult::StoreError) {
        showStoreError(platform::RegistryStore::lastError());
        return;
    }
    QMessageBox::critical(this, QStringLiteral("Ошибка"),
                          result == AddTaskResult::Duplicate || platform::equalsIgnoreCase(wanted, kWorkingCopyName)
                              ? QString::fromUtf8(kDuplicateMessage)
                              : QStringLiteral("Имя задания не может быть пустым и не может содержать знак \"\\\"."));
    // Back into the name, as a refused entry does.
    m_taskList->setCurrentItem(item);
    m_taskList->editItem(item, 0);
}

void FormSmsTasks::newTask()
{
    if (!notEditing())
        return;
    // "Новое задание", else the first free "Новое задание N"; the store decides what is taken,
    // since another window may have added tasks this one has not listed.
    std::string name = kNewTaskName;
    AddTaskResult result = m_tasks.addTask(name);
    for (unsigned n = 2; result == AddTaskResult::Duplicate && n < 10000; ++n) {
        name = std::string(kNewTaskName) + " " + std::to_string(n);
        result = m_tasks.addTask(name);
    }
    if (result != AddTaskResult::Added) {
        showStoreError(platform::RegistryStore::lastError());
        return;
    }
    fillTasks(name);
    if (QTreeWidgetItem* item = m_taskList->currentItem()) {
        m_taskList->setFocus();
        m_taskList->editItem(item, 0);
    }
}

void FormSmsTasks::deleteTask()
{
    if (!notEditing())
        return;
    const std::string task = currentTask();
    if (task.empty())
        return;
    const auto answer = QMessageBox::question(this, QStringLiteral("Удаление задания SMS"),
                                              QStringLiteral("Удалить задание \"%1\"?").arg(q(task)),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    if (!m_tasks.removeTask(task)) {
        showStoreError(platform::RegistryStore::lastError());
        return;
    }
    fillTasks("");
}

void FormSmsTasks::browse()
{
    if (!notEditing())
        return;
    const auto found = m_tasks.find(currentTask());
    if (!found)
        return;
    // The folder of the present file, else the user's home folder (there is no drive C: here).
    QString start = QDir::homePath();
    const QFileInfo present(q(found->file()));
    if (!found->file().empty() && present.absoluteDir().exists())
        start = present.absolutePath();
    const QString chosen = m_chooseFile ? m_chooseFile(start) : QString();
    if (chosen.isEmpty())
        return;
    if (!found->setFile(QFileInfo(chosen).absoluteFilePath().toStdString())) {
        showStoreError(platform::RegistryStore::lastError());
        return;
    }
    showTask();
}

void FormSmsTasks::addText()
{
    if (!m_editing)
        return;
    TextInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("FormSmsText"));
    dialog.setWindowTitle(QStringLiteral("Текст SMS сообщения"));
    dialog.setLabelText(QStringLiteral("Введите текст:"));
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.resize(360, dialog.sizeHint().height());
    if (dialog.exec() != QDialog::Accepted)
        return;
    SMSPatterns copy = m_tasks.workingCopy();
    const std::string after = selectedItem();
    std::string error;
    const auto key = after.empty() ? copy.append(ItemType::Text, dialog.textValue().toStdString(), &error)
                                   : copy.addAfter(after, ItemType::Text, dialog.textValue().toStdString(), &error);
    if (!key)
        showStoreError(error);
    fillTemplate(key.value_or(""));
}

void FormSmsTasks::addField()
{
    if (!m_editing)
        return;
    const auto found = m_tasks.find(currentTask());
    std::optional<std::vector<data::ColumnInfo>> fields;
    if (found && !found->file().empty())
        fields = tableFields(found->file());
    if (!fields) {
        QMessageBox::critical(this, QStringLiteral("Ошибка"), QString::fromUtf8(kCannotOpenSource));
        return;
    }
    QStringList names;
    for (const data::ColumnInfo& column : *fields)
        names << q(column.name);
    QInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("FormSmsField"));
    dialog.setWindowTitle(QStringLiteral("Подстановка в SMS сообщение"));
    dialog.setLabelText(QStringLiteral("Выберите поле:"));
    dialog.setComboBoxItems(names);
    dialog.setComboBoxEditable(false);
    if (dialog.exec() != QDialog::Accepted || dialog.textValue().isEmpty())
        return;
    SMSPatterns copy = m_tasks.workingCopy();
    const std::string after = selectedItem();
    std::string error;
    const auto key = after.empty() ? copy.append(ItemType::Field, dialog.textValue().toStdString(), &error)
                                   : copy.addAfter(after, ItemType::Field, dialog.textValue().toStdString(), &error);
    if (!key)
        showStoreError(error);
    fillTemplate(key.value_or(""));
}

void FormSmsTasks::moveSelected(bool up)
{
    const int row = m_template->currentRow();
    if (!m_editing || row < 0)
        return;
    const int target = up ? row - 1 : row + 1;
    if (target < 0 || target >= m_template->count())
        return;
    const std::string item = selectedItem();
    // Up: after the item two above (or first); down: after the item below.
    const int afterRow = up ? row - 2 : row + 1;
    const std::string after = afterRow < 0 ? "" : m_template->item(afterRow)->data(kKeyRole).toString().toStdString();
    std::string error;
    if (!m_tasks.workingCopy().moveAfter(item, after, &error))
        showStoreError(error);
    fillTemplate(item);
}

void FormSmsTasks::moveUp() { moveSelected(true); }

void FormSmsTasks::moveDown() { moveSelected(false); }

void FormSmsTasks::deleteItem()
{
    const int row = m_template->currentRow();
    if (!m_editing || row < 0)
        return;
    // The neighbour takes the selection, so several items can be removed one after another.
    const int next = row + 1 < m_template->count() ? row + 1 : row - 1;
    const std::string select = next >= 0 ? m_template->item(next)->data(kKeyRole).toString().toStdString() : "";
    std::string error;
    if (!m_tasks.workingCopy().remove(selectedItem(), &error))
        showStoreError(error);
    fillTemplate(select);
}

void FormSmsTasks::apply()
{
    if (!m_editing)
        return;
    std::string error;
    if (!m_tasks.applyEditing(currentTask(), &error)) {
        showStoreError(error);
        return;
    }
    m_tasks.cancelEditing();
    setEditing(false);
}

void FormSmsTasks::cancel()
{
    if (!m_editing)
        return;
    m_tasks.cancelEditing();
    setEditing(false);
}

void FormSmsTasks::saveTemplateAs()
{
    const std::string task = currentTask();
    if (task.empty())
        return;
    TextInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("FormSmsSaveTemplate"));
    dialog.setWindowTitle(QStringLiteral("Сохранить шаблон как"));
    dialog.setLabelText(QStringLiteral("Имя шаблона:"));
    dialog.setInputMode(QInputDialog::TextInput);
    dialog.resize(360, dialog.sizeHint().height());
    if (dialog.exec() != QDialog::Accepted)
        return;
    const std::string name = dialog.textValue().trimmed().toStdString();
    if (!config::isKeyName(name)) {
        QMessageBox::critical(this, QStringLiteral("Ошибка"),
                              QStringLiteral("Имя шаблона не может быть пустым и не может содержать знак \"\\\"."));
        return;
    }
    std::string error;
    // What the list shows: the editing copy while editing.
    if (!m_tasks.saveTemplate(m_editing ? kWorkingCopyName : task, name, &error))
        showStoreError(error);
}

void FormSmsTasks::loadTemplate()
{
    if (!m_editing)
        return;
    const std::vector<std::string> saved = m_tasks.savedTemplates();
    if (saved.empty()) {
        QMessageBox::information(this, QString::fromUtf8(kTitle), QStringLiteral("Сохранённых шаблонов нет."));
        return;
    }
    QStringList names;
    for (const std::string& name : saved)
        names << q(name);
    QInputDialog dialog(this);
    dialog.setObjectName(QStringLiteral("FormSmsLoadTemplate"));
    dialog.setWindowTitle(QStringLiteral("Загрузить шаблон"));
    dialog.setLabelText(QStringLiteral("Выберите шаблон:"));
    dialog.setComboBoxItems(names);
    dialog.setComboBoxEditable(false);
    if (dialog.exec() != QDialog::Accepted || dialog.textValue().isEmpty())
        return;
    std::string error;
    if (!m_tasks.loadTemplate(dialog.textValue().toStdString(), kWorkingCopyName, &error))
        showStoreError(error);
    fillTemplate();
}

void FormSmsTasks::reject()
{
    if (!notEditing())
        return;
    QDialog::reject();
}

}  // namespace peltra::sms
