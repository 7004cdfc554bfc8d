// The task dialog driven as a user would: every refusal with its text and where the focus goes,
// the field lists of a real table, and what OK stores for a new and for an existing task.
#include "editors/forms/FormOperator.h"

#include "config/ConfigStore.h"
#include "config/TaskStore.h"
#include "data/Connection.h"
#include "data/DbfTable.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using peltra::config::TaskProperty;
using peltra::editors::FormOperator;
namespace fs = std::filesystem;

namespace {

const std::string kBinding = "Абоненты";
const std::string kPlainBinding = "Без счётчика";

// The columns a source needs, then the table's own.
const std::vector<peltra::data::DbfFieldSpec> kRequired = {
    {"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"OTBOJ", 'N', 3, 0}, {"DATA", 'D', 8, 0}, {"CLOCK", 'C', 8, 0}};

std::vector<peltra::data::DbfFieldSpec> withFields(std::vector<peltra::data::DbfFieldSpec> more)
{
    std::vector<peltra::data::DbfFieldSpec> fields = kRequired;
    fields.insert(fields.end(), more.begin(), more.end());
    return fields;
}

// Answers every message box the dialog opens while it lives: keeps its title and text and
// presses its button. Its timer dies with it.
class MessageCatcher : public QObject {
public:
    MessageCatcher()
    {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                titles.push_back(box->windowTitle());
                texts.push_back(box->text());
                box->accept();
            }
        });
        timer->start(5);
    }
    QStringList titles;
    QStringList texts;
};

}  // namespace

class FormOperatorTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::TempDir> m_dir;
    std::unique_ptr<peltra::platform::RegistryStore> m_registry;
    std::unique_ptr<peltra::config::ConfigStore> m_store;
    std::unique_ptr<peltra::config::TaskStore> m_tasks;
    fs::path m_table;

    template <typename T>
    static T* control(QWidget& form, const char* name)
    {
        T* widget = form.findChild<T*>(QString::fromLatin1(name));
        if (widget == nullptr)
            qFatal("control %s is missing", name);
        return widget;
    }

    static void makeTable(const fs::path& path, const std::vector<peltra::data::DbfFieldSpec>& fields)
    {
        std::string error;
        if (!peltra::data::DbfTable::create(path, fields, 866, true, &error))
            qFatal("table %s: %s", path.c_str(), error.c_str());
    }

    std::optional<peltra::config::Operator> task(const std::string& name, const std::string& binding = kBinding)
    {
        return m_tasks->task(binding, name);
    }

    // Presses OK with the focus on it, as a user does.
    static void pressOk(FormOperator& form)
    {
        auto* ok = control<QPushButton>(form, "cb_OK");
        ok->setFocus();
        QTest::mouseClick(ok, Qt::LeftButton);
    }

    static void setName(FormOperator& form, const QString& name)
    {
        auto* box = control<QLineEdit>(form, "textb_name");
        box->clear();
        box->insert(name);  // typed; key clicks carry Latin letters only
    }

    static void pickSortField(FormOperator& form, const QString& name)
    {
        auto* list = control<QTreeWidget>(form, "lv_sort");
        const auto found = list->findItems(name, Qt::MatchExactly, 0);
        if (found.isEmpty())
            qFatal("no sort field %s", qPrintable(name));
        list->scrollToItem(found.front());
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.front()).center());
    }

    static QStringList comboItems(QComboBox* combo)
    {
        QStringList items;
        for (int i = 0; i < combo->count(); ++i)
            items << combo->itemText(i);
        return items;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<peltra::test::TempDir>();
        m_registry = std::make_unique<peltra::platform::RegistryStore>(*m_dir / "registry.db");
        m_store = std::make_unique<peltra::config::ConfigStore>(*m_registry);
        m_tasks = std::make_unique<peltra::config::TaskStore>(*m_store);
        m_table = *m_dir / "abon.dbf";
        makeTable(m_table, withFields({{"FIO", 'C', 20, 0}, {"SUMMA", 'N', 10, 2}, {"KOLVO", 'N', 3, 0},
                                       {"PAID", 'L', 1, 0}}));
        makeTable(*m_dir / "plain.dbf", withFields({{"FIO", 'C', 20, 0}, {"SUMMA", 'N', 10, 2}}));
        QCOMPARE(m_tasks->addBinding(kBinding, m_table.string(), ""), peltra::config::AddResult::Added);
        QCOMPARE(m_tasks->addBinding(kPlainBinding, (*m_dir / "plain.dbf").string(), ""),
                 peltra::config::AddResult::Added);
    }

    void cleanup()
    {
        m_tasks.reset();
        m_store.reset();
        m_registry.reset();
        m_dir.reset();
    }

    void newTaskListsTheTablesFields()
    {
        FormOperator form(*m_tasks, kBinding);
        QCOMPARE(form.windowTitle(), QStringLiteral("Абоненты - Новое задание"));
        QVERIFY(form.isModal());
        auto* list = control<QTreeWidget>(form, "lv_sort");
        QCOMPARE(list->columnCount(), 3);
        QCOMPARE(list->headerItem()->text(0), QStringLiteral("Имя"));
        QCOMPARE(list->headerItem()->text(1), QStringLiteral("Тип"));
        QCOMPARE(list->headerItem()->text(2), QStringLiteral("Длина"));
        const QStringList expected = {"TELEF|Char|12", "PROBA|Num|3.0", "OTBOJ|Num|3.0", "DATA|Date|8",
                                      "CLOCK|Char|8",  "FIO|Char|20",   "SUMMA|Num|10.2", "KOLVO|Num|3.0",
                                      "PAID|Log|1"};
        QStringList rows;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = list->topLevelItem(i);
            rows << item->text(0) + "|" + item->text(1) + "|" + item->text(2);
        }
        QCOMPARE(rows, expected);
        QVERIFY(list->selectedItems().isEmpty());

        // Ranges compare whole numbers with a numeric field; the count of notifications cannot go
        // into the station's own attempt columns nor into a field with decimals.
        QCOMPARE(comboItems(control<QComboBox>(form, "combo_range_field")),
                 (QStringList{"PROBA", "OTBOJ", "SUMMA", "KOLVO"}));
        QCOMPARE(comboItems(control<QComboBox>(form, "combo_repeat_field")), (QStringList{"", "KOLVO"}));
        QCOMPARE(comboItems(control<QComboBox>(form, "combo_repeat_unit")), (QStringList{"дней", "минут"}));

        QVERIFY(control<QRadioButton>(form, "optb_ascend")->isChecked());
        QVERIFY(control<QRadioButton>(form, "optb_filter_none")->isChecked());
        QVERIFY(!control<QComboBox>(form, "combo_range_field")->isEnabled());
        QVERIFY(control<QRadioButton>(form, "optb_continue")->isChecked());
        QVERIFY(!control<QCheckBox>(form, "checkbox_repeat")->isChecked());
        QVERIFY(!control<QSpinBox>(form, "updown_interval")->isEnabled());
        QVERIFY(!control<QLineEdit>(form, "textb_arhive")->isEnabled());
        QVERIFY(!control<QWidget>(form, "label_table_error")->isVisibleTo(&form));
    }

    void typeWords_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("word");
        QTest::addColumn<QString>("size");
        QTest::newRow("1 numeric") << "N" << 12 << 0 << "Num" << "12.0";
        QTest::newRow("2 numeric with scale") << "N" << 8 << 3 << "Num" << "8.3";
        QTest::newRow("3 float") << "F" << 10 << 4 << "Num" << "10.4";
        QTest::newRow("4 character") << "C" << 40 << 0 << "Char" << "40";
        QTest::newRow("5 date") << "D" << 8 << 0 << "Date" << "8";
        QTest::newRow("6 logical") << "L" << 1 << 0 << "Log" << "1";
        QTest::newRow("7 memo as its letter") << "M" << 10 << 0 << "M" << "10";
    }

    void typeWords()
    {
        QFETCH(QString, type);
        QFETCH(int, length);
        QFETCH(int, decimals);
        QFETCH(QString, word);
        QFETCH(QString, size);
        peltra::data::ColumnInfo column;
        column.dbfType = type.at(0).toLatin1();
        column.length = length;
        column.decimals = decimals;
        QCOMPARE(FormOperator::typeWord(column.dbfType), word);
        QCOMPARE(FormOperator::sizeText(column), size);
    }

    void anEmptyNameIsRefused()
    {
        for (const QString& typed : {QString(), QStringLiteral("   ")}) {
            FormOperator form(*m_tasks, kBinding);
            form.show();
            setName(form, typed);
            MessageCatcher messages;
            pressOk(form);
            QCOMPARE(messages.texts, QStringList{"Не заполнено поле 'Название' !"});
            QVERIFY(form.isVisible());
            QCOMPARE(form.result(), int(QDialog::Rejected));
            QCOMPARE(form.focusWidget(), control<QWidget>(form, "textb_name"));
            QVERIFY(!form.created());
        }
        QVERIFY(m_tasks->binding(kBinding)->operators().names().empty());
    }

    void aNameTakenInTheBindingIsRefusedButAllowedInAnother()
    {
        QCOMPARE(peltra::config::Operators(*m_store, kBinding).add("Долг"), peltra::config::AddResult::Added);
        QVERIFY(task("Долг")->setValid(true));
        for (const QString& typed : {QStringLiteral("Долг"), QStringLiteral("ДОЛГ")}) {
            FormOperator form(*m_tasks, kBinding);
            form.show();
            setName(form, typed);
            MessageCatcher messages;
            pressOk(form);
            QCOMPARE(messages.texts, QStringList{"Данное название уже есть!\r\nУкажите другое название."});
            QVERIFY(form.isVisible());
            QCOMPARE(form.focusWidget(), control<QWidget>(form, "textb_name"));
            QVERIFY(!form.created());
        }
        QVERIFY2(task("Долг")->valid(), "the existing task is left alone");

        FormOperator other(*m_tasks, kPlainBinding);
        other.show();
        setName(other, QStringLiteral("Долг"));
        MessageCatcher messages;
        pressOk(other);
        QVERIFY(messages.texts.isEmpty());
        QCOMPARE(other.result(), int(QDialog::Accepted));
        QVERIFY(other.created());
        QCOMPARE(other.taskName(), std::string("Долг"));
        QVERIFY(task("Долг", kPlainBinding));
        QVERIFY(!task("Долг", kPlainBinding)->valid());
    }

    void aNameThatCannotBeAKeyIsRefused()
    {
        FormOperator form(*m_tasks, kBinding);
        form.show();
        setName(form, QStringLiteral("Долг\\2024"));
        MessageCatcher messages;
        pressOk(form);
        QCOMPARE(messages.texts, QStringList{FormOperator::kNameBad});
        QCOMPARE(form.focusWidget(), control<QWidget>(form, "textb_name"));
        QVERIFY(m_tasks->binding(kBinding)->operators().names().empty());
    }

    void repeatWithoutAFieldIsRefused()
    {
        FormOperator form(*m_tasks, kBinding);
        form.show();
        setName(form, QStringLiteral("Повтор"));
        MessageCatcher messages;
        QTest::mouseClick(control<QCheckBox>(form, "checkbox_repeat"), Qt::LeftButton);
        QVERIFY(control<QCheckBox>(form, "checkbox_repeat")->isChecked());
        QVERIFY(control<QComboBox>(form, "combo_repeat_field")->isEnabled());
        pressOk(form);
        QCOMPARE(messages.texts,
                 QStringList{"Включен режим повторного оповещения, но не задано поле для запоминания количества "
                             "оповещений!"});
        QVERIFY(form.isVisible());
        QCOMPARE(form.focusWidget(), control<QWidget>(form, "combo_repeat_field"));
        QVERIFY2(!task("Повтор"), "nothing is made while the input is refused");
    }

    void aTableWithoutACountFieldClearsTheRepeatBox()
    {
        FormOperator form(*m_tasks, kPlainBinding);
        form.show();
        auto* repeat = control<QCheckBox>(form, "checkbox_repeat");
        MessageCatcher messages;
        QTest::mouseClick(repeat, Qt::LeftButton);
        QCOMPARE(messages.texts,
                 QStringList{"Возможность повторного оповещения предусматривает запоминание количества успешных "
                             "оповещений в специальном числовом поле. Структура базы данных не содержит "
                             "подходящих полей."});
        QVERIFY(!repeat->isChecked());
        QVERIFY(!control<QComboBox>(form, "combo_repeat_field")->isEnabled());
    }

    void browseTakesOnlyDbfFiles()
    {
        FormOperator form(*m_tasks, kBinding);
        QStringList asked;
        QString answer = QStringLiteral("/var/tmp/archive.txt");
        form.setFileChooser([&](QWidget* parent, const QString& title, const QString& folder) {
            asked << title;
            if (parent != &form || folder.isEmpty())
                asked << "bad call";
            return answer;
        });
        form.show();
        QTest::mouseClick(control<QCheckBox>(form, "checkbox_arhive"), Qt::LeftButton);
        auto* path = control<QLineEdit>(form, "textb_arhive");
        QVERIFY(path->isEnabled());
        MessageCatcher messages;
        QTest::mouseClick(control<QPushButton>(form, "cb_browse"), Qt::LeftButton);
        QCOMPARE(asked, QStringList{"Выберите файл для сохранения данных"});
        QCOMPARE(messages.texts, QStringList{"Файл должен иметь расширение \".DBF\""});
        QCOMPARE(messages.titles, QStringList{"Ошибка"});
        QCOMPARE(path->text(), QString());
        QCOMPARE(form.focusWidget(), path);

        answer = QStringLiteral("/var/tmp/ARCHIVE.DBF");
        QTest::mouseClick(control<QPushButton>(form, "cb_browse"), Qt::LeftButton);
        QCOMPARE(messages.texts.size(), 1);
        QCOMPARE(path->text(), answer);

        answer.clear();  // cancelled
        QTest::mouseClick(control<QPushButton>(form, "cb_browse"), Qt::LeftButton);
        QCOMPARE(path->text(), QStringLiteral("/var/tmp/ARCHIVE.DBF"));
    }

    void aTypedArchivePathMustBeADbfToo()
    {
        FormOperator form(*m_tasks, kBinding);
        form.show();
        setName(form, QStringLiteral("Архив"));
        QTest::mouseClick(control<QCheckBox>(form, "checkbox_arhive"), Qt::LeftButton);
        MessageCatcher messages;
        pressOk(form);  // empty path
        control<QLineEdit>(form, "textb_arhive")->insert(QString::fromStdString((*m_dir / "arch").string()));
        pressOk(form);
        QCOMPARE(messages.texts, (QStringList{FormOperator::kArchiveExtension, FormOperator::kArchiveExtension}));
        QCOMPARE(messages.titles, (QStringList{"Ошибка", "Ошибка"}));
        QCOMPARE(form.focusWidget(), control<QWidget>(form, "textb_arhive"));
        QVERIFY(!task("Архив"));
        QVERIFY(!fs::exists(*m_dir / "arch"));
    }

    void anArchiveLackingAFieldKeepsTheDialogOpen()
    {
        const fs::path archive = *m_dir / "short.dbf";
        makeTable(archive, withFields({{"FIO", 'C', 10, 0}, {"SUMMA", 'C', 10, 0}, {"PAID", 'L', 1, 0}}));
        FormOperator form(*m_tasks, kBinding);
        form.show();
        setName(form, QStringLiteral("Архив"));
        QTest::mouseClick(control<QCheckBox>(form, "checkbox_arhive"), Qt::LeftButton);
        control<QLineEdit>(form, "textb_arhive")->insert(QString::fromStdString(archive.string()));
        MessageCatcher messages;
        pressOk(form);
        QCOMPARE(messages.titles, QStringList{"Ошибка"});
        QCOMPARE(messages.texts.size(), 1);
        const QString text = messages.texts.front();
        QVERIFY2(text.startsWith("Структура выбранного для архивации файла не соответствует файлу базы данных:\r\n"),
                 qPrintable(text));
        QVERIFY2(text.contains("\r\n Отсутствует поле: KOLVO"), qPrintable(text));
        QVERIFY2(text.contains("Несовпадение размерности -FIO"), qPrintable(text));
        QVERIFY2(text.contains("Несовпадение типов полей -SUMMA"), qPrintable(text));
        QVERIFY(form.isVisible());
        QCOMPARE(form.focusWidget(), control<QWidget>(form, "textb_arhive"));
        QVERIFY(!task("Архив"));

        // An archive with every field of the source, and one more, is accepted.
        makeTable(archive, withFields({{"FIO", 'C', 30, 0}, {"SUMMA", 'N', 12, 2}, {"KOLVO", 'N', 3, 0},
                                       {"PAID", 'L', 1, 0}, {"EXTRA", 'C', 5, 0}}));
        pressOk(form);
        QCOMPARE(messages.texts.size(), 1);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(task("Архив")->flag(TaskProperty::Arhive));
        QCOMPARE(task("Архив")->text(TaskProperty::ArhiveFile), archive.string());
    }

    void theArchiveCannotBeTheSourceItself()
    {
        FormOperator form(*m_tasks, kBinding);
        form.show();
        setName(form, QStringLiteral("Архив"));
        QTest::mouseClick(control<QCheckBox>(form, "checkbox_arhive"), Qt::LeftButton);
        control<QLineEdit>(form, "textb_arhive")->insert(QString::fromStdString(m_table.string()));
        MessageCatcher messages;
        pressOk(form);
        QCOMPARE(messages.texts, QStringList{FormOperator::kArchiveIsSource});
        QCOMPARE(form.focusWidget(), control<QWidget>(form, "textb_arhive"));
        QVERIFY(!task("Архив"));
    }

    void okStoresEveryValueOfANewTask()
    {
        const fs::path archive = *m_dir / "archive" / "done.dbf";
        fs::create_directories(archive.parent_path());
        FormOperator form(*m_tasks, kBinding);
        form.show();
        setName(form, QStringLiteral("  Долг  "));
        pickSortField(form, "SUMMA");
        QTest::mouseClick(control<QRadioButton>(form, "optb_descend"), Qt::LeftButton);
        QTest::mouseClick(control<QRadioButton>(form, "optb_filter_ranges"), Qt::LeftButton);
        auto* rangeField = control<QComboBox>(form, "combo_range_field");
        QVERIFY(rangeField->isEnabled());
        rangeField->setCurrentText("KOLVO");
        QTest::mouseClick(control<QRadioButton>(form, "optb_restart"), Qt::LeftButton);
        QTest::mouseClick(control<QCheckBox>(form, "checkbox_repeat"), Qt::LeftButton);
        control<QComboBox>(form, "combo_repeat_unit")->setCurrentIndex(1);
        auto* interval = control<QSpinBox>(form, "updown_interval");
        QCOMPARE(interval->value(), 15);  // minutes shown in place of days
        interval->setValue(30);
        control<QSpinBox>(form, "updown_times")->setValue(4);
        control<QComboBox>(form, "combo_repeat_field")->setCurrentText("KOLVO");
        QTest::mouseClick(control<QCheckBox>(form, "checkbox_arhive"), Qt::LeftButton);
        control<QLineEdit>(form, "textb_arhive")->insert(QString::fromStdString(archive.string()));
        MessageCatcher messages;
        pressOk(form);
        QVERIFY2(messages.texts.isEmpty(), qPrintable(messages.texts.join("; ")));
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(form.created());
        QCOMPARE(form.taskName(), std::string("Долг"));

        auto stored = task("Долг");
        QVERIFY(stored);
        QCOMPARE(stored->text(TaskProperty::FieldSort), std::string("SUMMA"));
        QCOMPARE(stored->text(TaskProperty::FieldSortType), std::string("N"));
        QVERIFY(!stored->flag(TaskProperty::Ascend));
        QCOMPARE(stored->text(TaskProperty::Phonelast), std::string("999999999999"));
        QCOMPARE(stored->number(TaskProperty::Typefilter), peltra::config::kFilterRanges);
        QCOMPARE(stored->rangeField(), std::string("KOLVO"));
        QCOMPARE(stored->rangeType(), std::string("N"));
        QCOMPARE(stored->number(TaskProperty::Behaviour), peltra::config::kStartFromBeginning);
        QVERIFY(stored->flag(TaskProperty::Repeat));
        QCOMPARE(stored->number(TaskProperty::RepeatType), 1u);
        QCOMPARE(stored->number(TaskProperty::RepeatMinute), 30u);
        QCOMPARE(stored->number(TaskProperty::RepeatDay), 1u);
        QCOMPARE(stored->number(TaskProperty::RepeatTimes), 4u);
        QCOMPARE(stored->text(TaskProperty::RepeatField), std::string("KOLVO"));
        QVERIFY(stored->flag(TaskProperty::Arhive));
        QCOMPARE(stored->text(TaskProperty::ArhiveFile), archive.string());
        QVERIFY(!stored->valid());

        // The missing archive was made: empty, with the source's fields.
        std::string error;
        auto table = peltra::data::DbfTable::open(archive, {}, &error);
        QVERIFY2(table, error.c_str());
        QCOMPARE(table->recordCount(), 0u);
        peltra::data::Connection connection;
        QVERIFY(connection.bind("peltra") && connection.connect());
        QVERIFY(connection.setConnectOption(peltra::data::kCurrentQualifierOption, archive.parent_path().string()));
        const auto columns = connection.columns("done.dbf");
        QVERIFY(columns);
        QCOMPARE(columns->size(), 9u);
    }

    void aNewTaskWithoutChoicesKeepsTheDefaults()
    {
        FormOperator form(*m_tasks, kBinding);
        form.show();
        setName(form, QStringLiteral("Просто"));
        pressOk(form);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        auto stored = task("Просто");
        QVERIFY(stored);
        QCOMPARE(stored->text(TaskProperty::FieldSort), std::string());
        QVERIFY(stored->flag(TaskProperty::Ascend));
        QCOMPARE(stored->number(TaskProperty::Typefilter), peltra::config::kFilterNone);
        QCOMPARE(stored->rangeField(), std::string());
        QCOMPARE(stored->number(TaskProperty::Behaviour), peltra::config::kContinueFromLast);
        QVERIFY(!stored->flag(TaskProperty::Repeat));
        QCOMPARE(stored->number(TaskProperty::RepeatType), 0u);
        QCOMPARE(stored->number(TaskProperty::RepeatDay), 1u);
        QCOMPARE(stored->number(TaskProperty::RepeatMinute), 15u);
        QCOMPARE(stored->number(TaskProperty::RepeatTimes), 2u);
        QCOMPARE(stored->number(TaskProperty::RetryMinute), 0u);
        QCOMPARE(stored->number(TaskProperty::MaxAttempts), 0u);
        QVERIFY(!stored->flag(TaskProperty::Arhive));
    }

    void anExistingTaskIsShownAndEdited()
    {
        QCOMPARE(peltra::config::Operators(*m_store, kBinding).add("Долг"), peltra::config::AddResult::Added);
        auto stored = task("Долг");
        QCOMPARE(stored->setSort("FIO", "C", false), peltra::config::Change::Changed);
        QVERIFY(stored->setNumber(TaskProperty::Typefilter, peltra::config::kFilterCondition));
        QCOMPARE(stored->setRangeField("SUMMA", "N"), peltra::config::Change::Changed);
        QVERIFY(stored->setNumber(TaskProperty::Behaviour, peltra::config::kStartFromBeginning));
        QVERIFY(stored->setNumber(TaskProperty::Repeat, 1));
        QVERIFY(stored->setNumber(TaskProperty::RepeatDay, 3));
        QVERIFY(stored->setNumber(TaskProperty::RepeatMinute, 45));
        QVERIFY(stored->setNumber(TaskProperty::RepeatTimes, 5));
        QVERIFY(stored->setText(TaskProperty::RepeatField, "KOLVO"));
        QVERIFY(stored->setText(TaskProperty::ArhiveFile, "/somewhere/old.dbf"));
        QVERIFY(stored->setNumber(TaskProperty::RetryMinute, 20));
        QVERIFY(stored->setNumber(TaskProperty::MaxAttempts, 4));
        QVERIFY(stored->setValid(true));

        {
            // Shown as stored; OK with only the pace of redialing changed keeps the task included.
            FormOperator form(*m_tasks, kBinding, "Долг");
            QCOMPARE(form.windowTitle(), QStringLiteral("Абоненты - Долг"));
            auto* name = control<QLineEdit>(form, "textb_name");
            QCOMPARE(name->text(), QStringLiteral("Долг"));
            QVERIFY(name->isReadOnly());
            const auto selected = control<QTreeWidget>(form, "lv_sort")->selectedItems();
            QCOMPARE(selected.size(), 1);
            QCOMPARE(selected.front()->text(0), QStringLiteral("FIO"));
            QVERIFY(control<QRadioButton>(form, "optb_descend")->isChecked());
            QVERIFY(control<QRadioButton>(form, "optb_filter_condition")->isChecked());
            QCOMPARE(control<QComboBox>(form, "combo_range_field")->currentText(), QStringLiteral("SUMMA"));
            QVERIFY(control<QRadioButton>(form, "optb_restart")->isChecked());
            QVERIFY(control<QCheckBox>(form, "checkbox_repeat")->isChecked());
            QCOMPARE(control<QComboBox>(form, "combo_repeat_unit")->currentIndex(), 0);
            QCOMPARE(control<QSpinBox>(form, "updown_interval")->value(), 3);
            QCOMPARE(control<QSpinBox>(form, "updown_times")->value(), 5);
            QCOMPARE(control<QComboBox>(form, "combo_repeat_field")->currentText(), QStringLiteral("KOLVO"));
            QVERIFY(!control<QCheckBox>(form, "checkbox_arhive")->isChecked());
            QCOMPARE(control<QLineEdit>(form, "textb_arhive")->text(), QStringLiteral("/somewhere/old.dbf"));
            auto* retry = control<QSpinBox>(form, "updown_retry_minute");
            auto* attempts = control<QSpinBox>(form, "updown_max_attempts");
            QCOMPARE(retry->value(), 20);
            QCOMPARE(attempts->value(), 4);
            retry->setValue(0);
            attempts->setValue(6);
            form.show();
            pressOk(form);
            QCOMPARE(form.result(), int(QDialog::Accepted));
            QVERIFY(!form.created());
            QVERIFY(task("Долг")->valid());
            QCOMPARE(task("Долг")->number(TaskProperty::RetryMinute), 0u);
            QCOMPARE(task("Долг")->number(TaskProperty::MaxAttempts), 6u);
            QCOMPARE(task("Долг")->text(TaskProperty::ArhiveFile), std::string("/somewhere/old.dbf"));
        }

        // The unit switch keeps both intervals; a changed key property withdraws the task.
        FormOperator form(*m_tasks, kBinding, "Долг");
        form.show();
        auto* unit = control<QComboBox>(form, "combo_repeat_unit");
        auto* interval = control<QSpinBox>(form, "updown_interval");
        unit->setCurrentIndex(1);
        QCOMPARE(interval->value(), 45);
        interval->setValue(50);
        unit->setCurrentIndex(0);
        QCOMPARE(interval->value(), 3);
        unit->setCurrentIndex(1);
        QCOMPARE(interval->value(), 50);
        pickSortField(form, "SUMMA");
        QTest::mouseClick(control<QRadioButton>(form, "optb_ascend"), Qt::LeftButton);
        pressOk(form);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        stored.emplace(*task("Долг"));
        QCOMPARE(stored->text(TaskProperty::FieldSort), std::string("SUMMA"));
        QVERIFY(stored->flag(TaskProperty::Ascend));
        QCOMPARE(stored->number(TaskProperty::RepeatType), 1u);
        QCOMPARE(stored->number(TaskProperty::RepeatMinute), 50u);
        QCOMPARE(stored->number(TaskProperty::RepeatDay), 3u);
        QCOMPARE(stored->number(TaskProperty::Typefilter), peltra::config::kFilterCondition);
        QCOMPARE(stored->rangeField(), std::string("SUMMA"));  // kept while the ranges are not the filter
        QVERIFY(!stored->valid());
    }

    void fieldsTheTableNoLongerHoldsAreKept()
    {
        QCOMPARE(peltra::config::Operators(*m_store, kBinding).add("Старое"), peltra::config::AddResult::Added);
        auto stored = task("Старое");
        QCOMPARE(stored->setSort("OLDSORT", "N", true), peltra::config::Change::Changed);
        QVERIFY(stored->setNumber(TaskProperty::Typefilter, peltra::config::kFilterRanges));
        QCOMPARE(stored->setRangeField("OLDRANGE", "N"), peltra::config::Change::Changed);
        QVERIFY(stored->setValid(true));
        FormOperator form(*m_tasks, kBinding, "Старое");
        form.show();
        pressOk(form);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(task("Старое")->text(TaskProperty::FieldSort), std::string("OLDSORT"));
        QCOMPARE(task("Старое")->rangeField(), std::string("OLDRANGE"));
        QVERIFY(task("Старое")->valid());
    }

    void anUnreadableTableIsShown()
    {
        fs::remove(m_table);
        FormOperator form(*m_tasks, kBinding);
        form.show();
        auto* error = control<QLabel>(form, "label_table_error");
        QVERIFY(error->isVisible());
        QVERIFY(error->text().contains(QString::fromStdString(m_table.string())));
        QCOMPARE(control<QTreeWidget>(form, "lv_sort")->topLevelItemCount(), 0);
    }

    void screenshot()
    {
        QCOMPARE(peltra::config::Operators(*m_store, kBinding).add("Долг"), peltra::config::AddResult::Added);
        auto stored = task("Долг");
        QCOMPARE(stored->setSort("SUMMA", "N", true), peltra::config::Change::Changed);
        QVERIFY(stored->setNumber(TaskProperty::Typefilter, peltra::config::kFilterRanges));
        QCOMPARE(stored->setRangeField("SUMMA", "N"), peltra::config::Change::Changed);
        QVERIFY(stored->setNumber(TaskProperty::Repeat, 1));
        QVERIFY(stored->setText(TaskProperty::RepeatField, "KOLVO"));
        QVERIFY(stored->setNumber(TaskProperty::Arhive, 1));
        QVERIFY(stored->setText(TaskProperty::ArhiveFile, "/srv/peltra/archive/dolg.dbf"));
        QVERIFY(stored->setNumber(TaskProperty::RetryMinute, 30));
        FormOperator form(*m_tasks, kBinding, "Долг");
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QVERIFY(form.grab().save("FormOperator.png"));
    }
};

QTEST_MAIN(FormOperatorTest)
#include "FormOperatorTest.moc"
