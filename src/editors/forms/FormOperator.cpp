// The task dialog: a new task of a binding, or the properties of an existing one.
#include "editors/forms/FormOperator.h"

#include "data/TableChecks.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <filesystem>

namespace peltra::editors {

namespace fs = std::filesystem;
using config::TaskProperty;

const char* const FormOperator::kNameMissing = "Не заполнено поле 'Название' !";
const char* const FormOperator::kNameTaken = "Данное название уже есть!\r\nУкажите другое название.";
const char* const FormOperator::kNameBad = "Название не может содержать символ '\\'.";
const char* const FormOperator::kRepeatFieldMissing =
    "Включен режим повторного оповещения, но не задано поле для запоминания количества оповещений!";
const char* const FormOperator::kNoRepeatField =
    "Возможность повторного оповещения предусматривает запоминание количества успешных оповещений в "
    "специальном числовом поле. Структура базы данных не содержит подходящих полей.";
const char* const FormOperator::kArchiveExtension = "Файл должен иметь расширение \".DBF\"";
const char* const FormOperator::kArchiveIsSource =
    "Файл архива не может совпадать с файлом базы данных.\r\nУкажите другой файл.";
const char* const FormOperator::kWriteFailed = "Ошибка записи задания!";
const char* const FormOperator::kErrorTitle = "Ошибка";
const char* const FormOperator::kBrowseTitle = "Выберите файл для сохранения данных";
const char* const FormOperator::kTableUnreadable = "Не удалось прочитать структуру таблицы: ";

namespace {

constexpr int kTypeRole = Qt::UserRole;
constexpr int kUnitDays = 0;
constexpr int kUnitMinutes = 1;

// The station writes its own attempt counts into these; a repeat count kept there would be
// overwritten on every call.
bool isStationColumn(const std::string& name) { return name == "PROBA" || name == "OTBOJ"; }

// A field that can count the successful notifications of a row.
bool countsRepeats(const data::ColumnInfo& column)
{
    return column.dbfType == 'N' && column.decimals == 0 && !isStationColumn(column.name);
}

QString fromStd(const std::string& text) { return QString::fromStdString(text); }

std::string typeLetter(char dbfType) { return std::string(1, dbfType); }

char firstLetter(const std::string& type) { return type.empty() ? ' ' : type.front(); }

// Selects the entry of a field in a combo box; a stored field the table does not hold (any
// more) is added, so that OK keeps it rather than silently choosing another.
void selectField(QComboBox* combo, const std::string& field, const std::string& type)
{
    const QString name = fromStd(field);
    int index = combo->findText(name, Qt::MatchExactly);
    if (index < 0) {
        combo->addItem(name, fromStd(type));
        index = combo->count() - 1;
    }
    combo->setCurrentIndex(index);
}

// The spin box holds every stored value, including one above the range the arrows offer.
void showNumber(QSpinBox* box, std::uint32_t value)
{
    const int shown = static_cast<int>(std::min<std::uint32_t>(value, 0x7fffffff));
    if (shown > box->maximum())
        box->setMaximum(shown);
    box->setValue(shown);
}

bool endsWithDbf(const QString& path) { return path.endsWith(QStringLiteral(".dbf"), Qt::CaseInsensitive); }

QString defaultChooser(QWidget* parent, const QString& title, const QString& folder)
{
    QFileDialog dialog(parent, title, folder, QStringLiteral("dbf (*.dbf)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("Выбрать"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().front();
}

}  // namespace

QString FormOperator::typeWord(char dbfType)
{
    switch (dbfType) {
    case 'N':
    case 'F':
        return QStringLiteral("Num");
    case 'C':
        return QStringLiteral("Char");
    case 'D':
        return QStringLiteral("Date");
    case 'L':
        return QStringLiteral("Log");
    default:
        return QString(QChar::fromLatin1(dbfType));
    }
}

QString FormOperator::sizeText(const data::ColumnInfo& column)
{
    if (column.dbfType == 'N' || column.dbfType == 'F')
        return QString::asprintf("%d.%d", column.length, column.decimals);
    return QString::number(column.length);
}

FormOperator::FormOperator(config::TaskStore& tasks, std::string binding, std::string task, QWidget* parent)
    : QDialog(parent), m_tasks(tasks), m_binding(std::move(binding)), m_task(std::move(task)),
      m_chooseFile(defaultChooser)
{
    setObjectName("FormOperator");
    setModal(true);
    const bool isNew = m_task.empty();
    setWindowTitle(fromStd(m_binding) + (isNew ? QStringLiteral(" - Новое задание") : " - " + fromStd(m_task)));

    readColumns();

    auto* nameRow = new QHBoxLayout;
    auto* nameLabel = new QLabel(QStringLiteral("Название:"), this);
    nameLabel->setObjectName("label_name");
    m_name = new QLineEdit(this);
    m_name->setObjectName("textb_name");
    // The name is the task's identity in the store: an existing task keeps it.
    m_name->setReadOnly(!isNew);
    nameLabel->setBuddy(m_name);
    nameRow->addWidget(nameLabel);
    nameRow->addWidget(m_name, 1);

    m_tableError = new QLabel(this);
    m_tableError->setObjectName("label_table_error");
    m_tableError->setWordWrap(true);
    m_tableError->setStyleSheet(QStringLiteral("color: #b00000"));
    m_tableError->setVisible(m_columnsError.has_value());
    if (m_columnsError)
        m_tableError->setText(fromStd(*m_columnsError));

    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(buildSortGroup(), 1);
    auto* right = new QVBoxLayout;
    right->addWidget(buildFilterGroup());
    right->addWidget(buildBehaviourGroup());
    right->addStretch(1);
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);

    auto* buttons = new QDialogButtonBox(this);
    QPushButton* ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("cb_OK");
    ok->setDefault(true);
    QPushButton* cancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("cb_Cancel");
    connect(buttons, &QDialogButtonBox::accepted, this, &FormOperator::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FormOperator::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(nameRow);
    layout->addWidget(m_tableError);
    layout->addLayout(columns, 1);
    layout->addWidget(buildMoreGroup());
    layout->addWidget(buttons);

    if (isNew)
        fillNew();
    else
        fill();
    enableControls();
    m_name->setFocus();
}

QWidget* FormOperator::buildSortGroup()
{
    auto* group = new QGroupBox(QStringLiteral("Сортировка"), this);
    group->setObjectName("groupb_sort");
    m_sortFields = new QTreeWidget(group);
    m_sortFields->setObjectName("lv_sort");
    m_sortFields->setHeaderLabels({QStringLiteral("Имя"), QStringLiteral("Тип"), QStringLiteral("Длина")});
    m_sortFields->setRootIsDecorated(false);
    m_sortFields->setSelectionMode(QAbstractItemView::SingleSelection);
    m_sortFields->setAllColumnsShowFocus(true);
    for (const data::ColumnInfo& column : m_columns) {
        auto* item = new QTreeWidgetItem(m_sortFields, {fromStd(column.name), typeWord(column.dbfType), sizeText(column)});
        item->setData(0, kTypeRole, fromStd(typeLetter(column.dbfType)));
        item->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    }
    m_sortFields->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_sortFields->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_sortFields->header()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
    m_sortFields->header()->setStretchLastSection(false);
    m_sortFields->setMinimumHeight(160);

    m_ascending = new QRadioButton(QStringLiteral("по возрастанию"), group);
    m_ascending->setObjectName("optb_ascend");
    m_descending = new QRadioButton(QStringLiteral("по убыванию"), group);
    m_descending->setObjectName("optb_descend");
    auto* order = new QHBoxLayout;
    order->addWidget(m_ascending);
    order->addWidget(m_descending);
    order->addStretch(1);

    auto* layout = new QVBoxLayout(group);
    layout->addWidget(m_sortFields, 1);
    layout->addLayout(order);
    return group;
}

QWidget* FormOperator::buildFilterGroup()
{
    auto* group = new QGroupBox(QStringLiteral("Фильтр"), this);
    group->setObjectName("groupb_filter");
    m_filterNone = new QRadioButton(QStringLiteral("не накладывать фильтр"), group);
    m_filterNone->setObjectName("optb_filter_none");
    m_filterRanges = new QRadioButton(QStringLiteral("диапазоны по полю:"), group);
    m_filterRanges->setObjectName("optb_filter_ranges");
    m_filterCondition = new QRadioButton(QStringLiteral("фильтр по условию"), group);
    m_filterCondition->setObjectName("optb_filter_condition");
    m_rangeField = new QComboBox(group);
    m_rangeField->setObjectName("combo_range_field");
    // Range bounds are whole numbers compared with a numeric field.
    for (const data::ColumnInfo& column : m_columns)
        if (column.dbfType == 'N')
            m_rangeField->addItem(fromStd(column.name), fromStd(typeLetter(column.dbfType)));
    m_rangeField->setMinimumContentsLength(10);
    connect(m_filterRanges, &QRadioButton::toggled, this, &FormOperator::enableControls);

    auto* layout = new QGridLayout(group);
    layout->addWidget(m_filterNone, 0, 0, 1, 2);
    layout->addWidget(m_filterRanges, 1, 0);
    layout->addWidget(m_rangeField, 1, 1);
    layout->addWidget(m_filterCondition, 2, 0, 1, 2);
    layout->setColumnStretch(1, 1);
    return group;
}

QWidget* FormOperator::buildBehaviourGroup()
{
    auto* group = new QGroupBox(QStringLiteral("Поведение при каждом перезапуске задания"), this);
    group->setObjectName("groupb_behaviour");
    m_continue = new QRadioButton(QStringLiteral("Продолжать с точки останова"), group);
    m_continue->setObjectName("optb_continue");
    m_restart = new QRadioButton(QStringLiteral("Начинать с начала списка"), group);
    m_restart->setObjectName("optb_restart");
    auto* layout = new QVBoxLayout(group);
    layout->addWidget(m_continue);
    layout->addWidget(m_restart);
    return group;
}

QWidget* FormOperator::buildMoreGroup()
{
    auto* group = new QGroupBox(QStringLiteral("Дополнительно"), this);
    group->setObjectName("groupb_more");

    m_repeat = new QCheckBox(QStringLiteral("Оповещать повторно"), group);
    m_repeat->setObjectName("checkbox_repeat");
    m_interval = new QSpinBox(group);
    m_interval->setObjectName("updown_interval");
    m_interval->setRange(1, 9999);
    m_unit = new QComboBox(group);
    m_unit->setObjectName("combo_repeat_unit");
    m_unit->addItems({QStringLiteral("дней"), QStringLiteral("минут")});
    m_times = new QSpinBox(group);
    m_times->setObjectName("updown_times");
    m_times->setRange(1, 999);
    m_repeatField = new QComboBox(group);
    m_repeatField->setObjectName("combo_repeat_field");
    m_repeatField->addItem(QString(), QString());
    for (const data::ColumnInfo& column : m_columns)
        if (countsRepeats(column))
            m_repeatField->addItem(fromStd(column.name), fromStd(typeLetter(column.dbfType)));
    m_repeatField->setMinimumContentsLength(10);
    connect(m_repeat, &QCheckBox::clicked, this, &FormOperator::repeatClicked);
    connect(m_repeat, &QCheckBox::toggled, this, &FormOperator::enableControls);
    connect(m_unit, &QComboBox::currentIndexChanged, this, &FormOperator::switchRepeatUnit);

    auto* repeatRow = new QHBoxLayout;
    repeatRow->addWidget(m_repeat);
    repeatRow->addSpacing(12);
    repeatRow->addWidget(new QLabel(QStringLiteral("Не ранее, чем через:"), group));
    repeatRow->addWidget(m_interval);
    repeatRow->addWidget(m_unit);
    repeatRow->addSpacing(12);
    repeatRow->addWidget(new QLabel(QStringLiteral("до"), group));
    repeatRow->addWidget(m_times);
    repeatRow->addWidget(new QLabel(QStringLiteral("раз"), group));
    repeatRow->addStretch(1);

    auto* fieldRow = new QHBoxLayout;
    auto* fieldLabel = new QLabel(QStringLiteral("запоминать кол-во оповещений в поле:"), group);
    fieldLabel->setBuddy(m_repeatField);
    fieldRow->addSpacing(24);
    fieldRow->addWidget(fieldLabel);
    fieldRow->addWidget(m_repeatField);
    fieldRow->addStretch(1);

    // The pace of redialing a row that was not reached; 0 in either box: as the station always did.
    m_retryMinute = new QSpinBox(group);
    m_retryMinute->setObjectName("updown_retry_minute");
    m_retryMinute->setRange(0, 9999);
    m_retryMinute->setSpecialValueText(QStringLiteral("сразу"));
    m_maxAttempts = new QSpinBox(group);
    m_maxAttempts->setObjectName("updown_max_attempts");
    m_maxAttempts->setRange(0, 999);
    m_maxAttempts->setSpecialValueText(QStringLiteral("без ограничения"));
    auto* retryRow = new QHBoxLayout;
    auto* retryLabel = new QLabel(QStringLiteral("Повторный звонок после неудачной попытки не ранее, чем через:"), group);
    retryLabel->setBuddy(m_retryMinute);
    retryRow->addWidget(retryLabel);
    retryRow->addWidget(m_retryMinute);
    retryRow->addWidget(new QLabel(QStringLiteral("мин."), group));
    retryRow->addStretch(1);
    auto* attemptsRow = new QHBoxLayout;
    auto* attemptsLabel = new QLabel(QStringLiteral("Попыток дозвона по строке не более:"), group);
    attemptsLabel->setBuddy(m_maxAttempts);
    attemptsRow->addWidget(attemptsLabel);
    attemptsRow->addWidget(m_maxAttempts);
    attemptsRow->addStretch(1);

    m_archive = new QCheckBox(QStringLiteral("Запоминать оповещенных в отдельном файле"), group);
    m_archive->setObjectName("checkbox_arhive");
    m_archivePath = new QLineEdit(group);
    m_archivePath->setObjectName("textb_arhive");
    m_browse = new QPushButton(QStringLiteral("Обзор"), group);
    m_browse->setObjectName("cb_browse");
    connect(m_archive, &QCheckBox::toggled, this, &FormOperator::enableControls);
    connect(m_browse, &QPushButton::clicked, this, &FormOperator::browseArchive);
    auto* pathRow = new QHBoxLayout;
    pathRow->addSpacing(24);
    pathRow->addWidget(m_archivePath, 1);
    pathRow->addWidget(m_browse);

    auto* layout = new QVBoxLayout(group);
    layout->addLayout(repeatRow);
    layout->addLayout(fieldRow);
    layout->addSpacing(6);
    layout->addLayout(retryRow);
    layout->addLayout(attemptsRow);
    layout->addSpacing(6);
    layout->addWidget(m_archive);
    layout->addLayout(pathRow);
    return group;
}

std::string FormOperator::sourceFile()
{
    auto binding = m_tasks.binding(m_binding);
    return binding ? binding->file() : std::string();
}

void FormOperator::readColumns()
{
    const fs::path file = sourceFile();
    std::error_code ec;
    if (file.empty() || !fs::is_regular_file(file, ec)) {
        m_columnsError = kTableUnreadable + file.string();
        return;
    }
    data::Connection connection;
    std::optional<std::vector<data::ColumnInfo>> columns;
    if (connection.bind("peltra") && connection.connect() &&
        connection.setConnectOption(data::kCurrentQualifierOption, fs::absolute(file).parent_path().string()))
        columns = connection.columns(file.filename().string());
    if (!columns) {
        std::string detail;
        for (const data::OdbcError& error : connection.takeErrors())
            detail += "\n" + error.message;
        m_columnsError = kTableUnreadable + file.string() + detail;
        return;
    }
    m_columns = std::move(*columns);
}

const data::ColumnInfo* FormOperator::column(const std::string& name) const
{
    const auto found =
        std::find_if(m_columns.begin(), m_columns.end(), [&](const data::ColumnInfo& c) { return c.name == name; });
    return found == m_columns.end() ? nullptr : &*found;
}

void FormOperator::fillNew()
{
    m_ascending->setChecked(true);
    m_filterNone->setChecked(true);
    m_continue->setChecked(true);
    m_unit->setCurrentIndex(kUnitDays);
    showNumber(m_interval, m_repeatDay);
    showNumber(m_times, 2);
}

void FormOperator::fill()
{
    auto task = m_tasks.task(m_binding, m_task);
    if (!task) {
        fillNew();
        return;
    }
    m_name->setText(fromStd(m_task));

    const std::string sortField = task->text(TaskProperty::FieldSort);
    if (!sortField.empty()) {
        const auto found = m_sortFields->findItems(fromStd(sortField), Qt::MatchExactly, 0);
        QTreeWidgetItem* item = found.isEmpty() ? nullptr : found.front();
        if (item == nullptr) {
            const std::string type = task->text(TaskProperty::FieldSortType);
            item = new QTreeWidgetItem(m_sortFields, {fromStd(sortField), typeWord(firstLetter(type)), QString()});
            item->setData(0, kTypeRole, fromStd(type));
        }
        m_sortFields->setCurrentItem(item);
        item->setSelected(true);
    }
    (task->flag(TaskProperty::Ascend) ? m_ascending : m_descending)->setChecked(true);

    const std::uint32_t filter = task->number(TaskProperty::Typefilter);
    (filter == config::kFilterRanges ? m_filterRanges
     : filter == config::kFilterCondition ? m_filterCondition
                                          : m_filterNone)
        ->setChecked(true);
    const std::string rangeField = task->rangeField();
    if (!rangeField.empty())
        selectField(m_rangeField, rangeField, task->rangeType());

    (task->number(TaskProperty::Behaviour) == config::kStartFromBeginning ? m_restart : m_continue)->setChecked(true);

    m_repeat->setChecked(task->flag(TaskProperty::Repeat));
    m_repeatDay = task->number(TaskProperty::RepeatDay);
    m_repeatMinute = task->number(TaskProperty::RepeatMinute);
    const int unit = task->number(TaskProperty::RepeatType) == 1 ? kUnitMinutes : kUnitDays;
    {
        const QSignalBlocker block(m_unit);
        m_unit->setCurrentIndex(unit);
    }
    m_shownUnit = unit;
    showNumber(m_interval, unit == kUnitMinutes ? m_repeatMinute : m_repeatDay);
    showNumber(m_times, task->number(TaskProperty::RepeatTimes));
    const std::string repeatField = task->text(TaskProperty::RepeatField);
    if (!repeatField.empty())
        selectField(m_repeatField, repeatField, "N");

    showNumber(m_retryMinute, task->number(TaskProperty::RetryMinute));
    showNumber(m_maxAttempts, task->number(TaskProperty::MaxAttempts));

    m_archive->setChecked(task->flag(TaskProperty::Arhive));
    m_archivePath->setText(fromStd(task->text(TaskProperty::ArhiveFile)));
}

void FormOperator::switchRepeatUnit(int unit)
{
    const auto shown = static_cast<std::uint32_t>(m_interval->value());
    (m_shownUnit == kUnitMinutes ? m_repeatMinute : m_repeatDay) = shown;
    m_shownUnit = unit;
    showNumber(m_interval, unit == kUnitMinutes ? m_repeatMinute : m_repeatDay);
}

void FormOperator::repeatClicked(bool checked)
{
    // Only the fields of the table can hold the count: there is nothing to tick without one.
    if (checked && m_repeatField->count() <= 1) {
        m_repeat->setChecked(false);
        refuse(m_repeat, QString::fromUtf8(kNoRepeatField));
    }
}

void FormOperator::enableControls()
{
    m_rangeField->setEnabled(m_filterRanges->isChecked());
    const bool repeat = m_repeat->isChecked();
    m_interval->setEnabled(repeat);
    m_unit->setEnabled(repeat);
    m_times->setEnabled(repeat);
    m_repeatField->setEnabled(repeat);
    const bool archive = m_archive->isChecked();
    m_archivePath->setEnabled(archive);
    m_browse->setEnabled(archive);
}

void FormOperator::browseArchive()
{
    QString folder = QCoreApplication::applicationDirPath();
    if (folder.isEmpty())
        folder = QStringLiteral("/");
    const QString chosen = m_chooseFile(this, QString::fromUtf8(kBrowseTitle), folder);
    if (chosen.isEmpty())
        return;
    if (!endsWithDbf(chosen)) {
        refuse(m_archivePath, QString::fromUtf8(kArchiveExtension), QString::fromUtf8(kErrorTitle));
        return;
    }
    m_archivePath->setText(chosen);
}

void FormOperator::refuse(QWidget* field, const QString& text, const QString& title)
{
    QMessageBox box(QMessageBox::Warning, title.isEmpty() ? windowTitle() : title, text, QMessageBox::Ok, this);
    box.exec();
    if (field != nullptr)
        field->setFocus();
}

bool FormOperator::validate(std::string& name, std::string& archivePath)
{
    name = m_name->text().trimmed().toStdString();
    if (name.empty()) {
        refuse(m_name, QString::fromUtf8(kNameMissing));
        return false;
    }
    if (m_task.empty()) {
        if (!config::isKeyName(name)) {
            refuse(m_name, QString::fromUtf8(kNameBad));
            return false;
        }
        if (m_tasks.task(m_binding, name)) {
            refuse(m_name, QString::fromUtf8(kNameTaken));
            return false;
        }
    }
    if (m_repeat->isChecked() && m_repeatField->currentText().isEmpty()) {
        refuse(m_repeatField, QString::fromUtf8(kRepeatFieldMissing));
        return false;
    }
    if (m_archive->isChecked()) {
        const QString typed = m_archivePath->text().trimmed();
        if (!endsWithDbf(typed)) {
            refuse(m_archivePath, QString::fromUtf8(kArchiveExtension), QString::fromUtf8(kErrorTitle));
            return false;
        }
        const fs::path archive = fs::absolute(typed.toStdString());
        const fs::path source = sourceFile();
        std::error_code ec;
        // Rows appended to the table being called would be called again.
        if (fs::equivalent(archive, source, ec)) {
            refuse(m_archivePath, QString::fromUtf8(kArchiveIsSource), QString::fromUtf8(kErrorTitle));
            return false;
        }
        const data::CheckOutcome check = data::ArchiveCheck(source, archive);
        if (!check.ok) {
            QString text = fromStd(check.message);
            for (const data::OdbcError& error : check.errors)
                text += "\r\n" + fromStd(error.message);
            refuse(m_archivePath, text, QString::fromUtf8(kErrorTitle));
            return false;
        }
        archivePath = archive.string();
        m_archivePath->setText(fromStd(archivePath));
    }
    return true;
}

bool FormOperator::store(config::Operator& task, const std::string& archivePath)
{
    bool ok = true;
    const auto check = [&ok](bool written) { ok = ok && written; };

    std::string sortField;
    std::string sortType;
    if (QTreeWidgetItem* item = m_sortFields->currentItem(); item != nullptr && item->isSelected()) {
        sortField = item->text(0).toStdString();
        sortType = item->data(0, kTypeRole).toString().toStdString();
    }
    check(task.setSort(sortField, sortType, m_ascending->isChecked()) != config::Change::NotFound);

    const std::uint32_t filter = m_filterRanges->isChecked()      ? config::kFilterRanges
                                 : m_filterCondition->isChecked() ? config::kFilterCondition
                                                                  : config::kFilterNone;
    check(task.setNumber(TaskProperty::Typefilter, filter));
    if (filter == config::kFilterRanges && m_rangeField->currentIndex() >= 0)
        check(task.setRangeField(m_rangeField->currentText().toStdString(),
                                 m_rangeField->currentData().toString().toStdString()) != config::Change::NotFound);

    check(task.setNumber(TaskProperty::Behaviour,
                         m_restart->isChecked() ? config::kStartFromBeginning : config::kContinueFromLast));

    switchRepeatUnit(m_unit->currentIndex());
    check(task.setNumber(TaskProperty::Repeat, m_repeat->isChecked() ? 1 : 0));
    check(task.setNumber(TaskProperty::RepeatType, m_unit->currentIndex() == kUnitMinutes ? 1 : 0));
    check(task.setNumber(TaskProperty::RepeatDay, m_repeatDay));
    check(task.setNumber(TaskProperty::RepeatMinute, m_repeatMinute));
    check(task.setNumber(TaskProperty::RepeatTimes, static_cast<std::uint32_t>(m_times->value())));
    check(task.setText(TaskProperty::RepeatField, m_repeatField->currentText().toStdString()));

    check(task.setNumber(TaskProperty::RetryMinute, static_cast<std::uint32_t>(m_retryMinute->value())));
    check(task.setNumber(TaskProperty::MaxAttempts, static_cast<std::uint32_t>(m_maxAttempts->value())));

    check(task.setNumber(TaskProperty::Arhive, m_archive->isChecked() ? 1 : 0));
    if (m_archive->isChecked())
        check(task.setText(TaskProperty::ArhiveFile, archivePath));
    return ok;
}

void FormOperator::accept()
{
    std::string name;
    std::string archivePath;
    if (!validate(name, archivePath))
        return;

    if (m_task.empty()) {
        switch (config::Operators(m_tasks.store(), m_binding).add(name)) {
        case config::AddResult::Added:
            break;
        case config::AddResult::Exists:
            refuse(m_name, QString::fromUtf8(kNameTaken));
            return;
        case config::AddResult::BadName:
            refuse(m_name, QString::fromUtf8(kNameBad));
            return;
        case config::AddResult::Failed:
            refuse(nullptr, QString::fromUtf8(kWriteFailed));
            return;
        }
        // From here on the dialog edits the task it made, so a second OK does not make it again.
        m_task = name;
        m_created = true;
        m_name->setReadOnly(true);
    }

    auto task = m_tasks.task(m_binding, m_task);
    if (!task || !store(*task, archivePath)) {
        refuse(nullptr, QString::fromUtf8(kWriteFailed));
        return;
    }
    QDialog::accept();
}

}  // namespace peltra::editors
