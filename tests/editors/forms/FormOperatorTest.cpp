// The task dialog driven as a user would over tables python3-dbf writes: refusals, field lists, what OK stores.
#include "editors/forms/FormOperator.h"

#include "FormsTest.h"

#include "support/PythonDbf.h"

#include <QSpinBox>

using peltra::config::TaskProperty;
using peltra::editors::FormOperator;
using peltra::test::click;
using peltra::test::child;
namespace fs = std::filesystem;

namespace {

const std::string kBinding = "Абоненты";
const std::string kPlainBinding = "Без счётчика";
const std::string kRequired = "TELEF C(12); PROBA N(3,0); OTBOJ N(3,0); DATA D; CLOCK C(8); ";

struct Home {
    peltra::test::TempDir dir;
    peltra::platform::RegistryStore registry{dir / "registry.db"};
    peltra::config::ConfigStore store{registry};
    peltra::config::TaskStore tasks{store};
};

void pressOk(FormOperator& form) { child(form, "cb_OK")->setFocus(), click(form, "cb_OK"); }  // as a user does

void type(FormOperator& form, const char* name, const QString& text)  // key clicks carry Latin letters only
{
    auto* box = child<QLineEdit>(form, name);
    box->clear(), box->insert(text);
}

void pickSortField(FormOperator& form, const QString& name)
{
    auto* list = child<QTreeWidget>(form, "lv_sort");
    const auto found = list->findItems(name, Qt::MatchExactly, 0);
    QVERIFY(!found.isEmpty());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.front()).center());
}

// Everything OK stores of a task, in one line.
QString stored(peltra::config::Operator task)
{
    const auto n = [&](TaskProperty p) { return std::to_string(task.number(p)); };
    return QString::fromStdString(
        "sort=" + task.text(TaskProperty::FieldSort) + " " + task.text(TaskProperty::FieldSortType) +
           (task.flag(TaskProperty::Ascend) ? " asc" : " desc") + "; filter=" + n(TaskProperty::Typefilter) + " " +
           task.rangeField() + " " + task.rangeType() + "; behaviour=" + n(TaskProperty::Behaviour) +
           "; repeat=" + n(TaskProperty::Repeat) + " type=" + n(TaskProperty::RepeatType) +
           " day=" + n(TaskProperty::RepeatDay) + " min=" + n(TaskProperty::RepeatMinute) +
           " times=" + n(TaskProperty::RepeatTimes) + " field=" + task.text(TaskProperty::RepeatField) +
           "; retry=" + n(TaskProperty::RetryMinute) + " attempts=" + n(TaskProperty::MaxAttempts) +
           "; archive=" + n(TaskProperty::Arhive) + " " + task.text(TaskProperty::ArhiveFile) +
           "; valid=" + (task.valid() ? "1" : "0"));
}

}  // namespace

class FormOperatorTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<Home> m_home;

    std::optional<peltra::config::Operator> task(const std::string& name, const std::string& binding = kBinding)
    {
        return m_home->tasks.task(binding, name);
    }
    void addTask(const std::string& name)
    {
        QCOMPARE(peltra::config::Operators(m_home->store, kBinding).add(name), peltra::config::AddResult::Added);
    }

private slots:
    void init()
    {
        m_home = std::make_unique<Home>();
        for (const auto& [binding, file, fields] :
             {std::tuple{kBinding, m_home->dir / "abon.dbf", "FIO C(20); SUMMA N(10,2); KOLVO N(3,0); PAID L"},
              {kPlainBinding, m_home->dir / "plain.dbf", "FIO C(20); SUMMA N(10,2)"}}) {
            peltra::test::writeTableByPython(file, kRequired + fields, {}, "cp866", false);
            QCOMPARE(m_home->tasks.addBinding(binding, file.string(), ""), peltra::config::AddResult::Added);
        }
    }

    void cleanup() { m_home.reset(); }

    void newTaskListsTheTablesFields()
    {
        FormOperator form(m_home->tasks, kBinding);
        QCOMPARE(form.windowTitle(), QStringLiteral("Абоненты - Новое задание"));
        auto* list = child<QTreeWidget>(form, "lv_sort");
        QStringList rows;
        for (const QTreeWidgetItem* item = list->topLevelItem(0); item != nullptr; item = list->itemBelow(item))
            rows << item->text(0) + "|" + item->text(1) + "|" + item->text(2);
        const auto comboItems = [&](const char* name) {
            QStringList items;
            for (int i = 0; i < child<QComboBox>(form, name)->count(); ++i)
                items << child<QComboBox>(form, name)->itemText(i);
            return items;
        };
        QCOMPARE(rows, (QStringList{"TELEF|Char|12", "PROBA|Num|3.0", "OTBOJ|Num|3.0", "DATA|Date|8", "CLOCK|Char|8",
                                    "FIO|Char|20", "SUMMA|Num|10.2", "KOLVO|Num|3.0", "PAID|Log|1"}));
        // Ranges take numeric fields; the count goes in neither the attempt columns nor a field with decimals.
        QCOMPARE(comboItems("combo_range_field"), (QStringList{"PROBA", "OTBOJ", "SUMMA", "KOLVO"}));
        QCOMPARE(comboItems("combo_repeat_field"), (QStringList{"", "KOLVO"}));
        QCOMPARE(comboItems("combo_repeat_unit"), (QStringList{"дней", "минут"}));
    }

    // Each row: what the user does, the one message it answers with and the focus; nothing is stored.
    void refusals()
    {
        const auto archive = [](const fs::path& path) {
            return [path](FormOperator& f) {
                click(f, "checkbox_arhive");
                type(f, "textb_arhive", QString::fromStdString(path.string()));
            };
        };
        const QString extension = "Файл должен иметь расширение \".DBF\"";
        const fs::path& dir = m_home->dir.path();
        peltra::test::writeTableByPython(dir / "short.dbf", kRequired + "FIO C(10); SUMMA C(10); PAID L", {}, "cp866",
                                         false);
        const struct { QString name; std::function<void(FormOperator&)> act; QString text; const char* focus; } rows[] = {
            {"", {}, "Не заполнено поле 'Название' !", "textb_name"},
            {"   ", {}, "Не заполнено поле 'Название' !", "textb_name"},
            {"Долг", {}, "Данное название уже есть!\r\nУкажите другое название.", "textb_name"},
            {"ДОЛГ", {}, "Данное название уже есть!\r\nУкажите другое название.", "textb_name"},
            {"Долг\\2024", {}, "Название не может содержать символ '\\'.", "textb_name"},
            {"Повтор", [](FormOperator& f) { click(f, "checkbox_repeat"); },
             "Включен режим повторного оповещения, но не задано поле для запоминания количества оповещений!",
             "combo_repeat_field"},
            {"Архив", archive(""), extension, "textb_arhive"},
            {"Архив", archive(dir / "arch"), extension, "textb_arhive"},
            // The table being called, named another way, cannot be its own archive.
            {"Архив", archive(dir / "." / "abon.dbf"),
             "Файл архива не может совпадать с файлом базы данных.\r\nУкажите другой файл.", "textb_arhive"},
            {"Архив", archive(dir / "short.dbf"),
             "Структура выбранного для архивации файла не соответствует файлу базы данных:\r\n"
             "\r\nНесовпадение размерности -FIO; Файл архива: C10 Исх. файл: C20"
             "\r\nНесовпадение типов полей -SUMMA; Файл архива: C10 Исх. файл: N10.2\r\n Отсутствует поле: KOLVO",
             "textb_arhive"},
        };
        addTask("Долг");
        QVERIFY(task("Долг")->setValid(true));
        for (const auto& row : rows) {
            FormOperator form(m_home->tasks, kBinding);
            form.show();
            type(form, "textb_name", row.name);
            if (row.act)
                row.act(form);
            peltra::test::ModalCatcher boxes;
            pressOk(form);
            const bool archive = QString(row.focus) == "textb_arhive";
            QCOMPARE(boxes.texts().join("; ").prepend(boxes.boxes().front().title + ": "),
                     (archive ? QStringLiteral("Ошибка") : form.windowTitle()) + ": " + row.text);
            QVERIFY(form.isVisible() && !form.created());
            QCOMPARE(form.focusWidget(), child(form, row.focus));
            QCOMPARE(m_home->tasks.binding(kBinding)->operators().names(), std::vector<std::string>{"Долг"});
        }
        QVERIFY2(task("Долг")->valid(), "the existing task is left alone");
        QVERIFY(!fs::exists(m_home->dir / "arch"));
    }

    // The chosen file must be a dBase table (in any case of letters); cancelling keeps the path.
    void browseTakesOnlyDbfFiles()
    {
        FormOperator form(m_home->tasks, kBinding);
        QStringList answers{"/var/tmp/archive.txt", "/var/tmp/ARCHIVE.DBF", ""};
        form.setFileChooser([&](QWidget* parent, const QString& title, const QString& folder) {
            const bool right = parent == &form && !folder.isEmpty() && title == "Выберите файл для сохранения данных";
            return right ? answers.takeFirst() : QStringLiteral("bad call");
        });
        form.show();
        click(form, "checkbox_arhive");
        peltra::test::ModalCatcher boxes;
        for (const char* path : {"", "/var/tmp/ARCHIVE.DBF", "/var/tmp/ARCHIVE.DBF"}) {
            click(form, "cb_browse");
            QCOMPARE(child<QLineEdit>(form, "textb_arhive")->text(), path);
        }
        QCOMPARE(boxes.boxes().front().title + ": " + boxes.texts().join("; "),
                 QStringLiteral("Ошибка: Файл должен иметь расширение \".DBF\""));
        QVERIFY(answers.isEmpty());
    }

    // The choices made in a new task's dialog and everything OK stores; a taken name is free in another binding.
    void okStoresEveryValueOfANewTask()
    {
        const fs::path archive = m_home->dir / "archive" / "done.dbf";
        fs::create_directories(archive.parent_path());
        addTask("Долг");
        {
            FormOperator form(m_home->tasks, kPlainBinding);
            form.show();
            type(form, "textb_name", QStringLiteral("Долг"));
            pressOk(form);
            QVERIFY(form.result() == QDialog::Accepted && form.created());
            QCOMPARE(stored(*task("Долг", kPlainBinding)),
                     QString("sort=  asc; filter=0  ; behaviour=1; repeat=0 type=0 day=1 min=15 times=2 field=; "
                                 "retry=0 attempts=0; archive=0 ; valid=0"));
        }
        FormOperator form(m_home->tasks, kBinding);
        form.show();
        type(form, "textb_name", QStringLiteral("  Пеня  "));
        pickSortField(form, "SUMMA");
        click(form, "optb_descend");
        click(form, "optb_filter_ranges");
        child<QComboBox>(form, "combo_range_field")->setCurrentText("KOLVO");
        click(form, "optb_restart");
        click(form, "checkbox_repeat");
        child<QComboBox>(form, "combo_repeat_unit")->setCurrentIndex(1);
        auto* interval = child<QSpinBox>(form, "updown_interval");
        QCOMPARE(interval->value(), 15);  // minutes shown in place of days
        interval->setValue(30);
        child<QSpinBox>(form, "updown_times")->setValue(4);
        child<QComboBox>(form, "combo_repeat_field")->setCurrentText("KOLVO");
        click(form, "checkbox_arhive");
        type(form, "textb_arhive", QString::fromStdString(archive.string()));
        peltra::test::ModalCatcher boxes;
        pressOk(form);
        QVERIFY2(boxes.texts().isEmpty(), qPrintable(boxes.texts().join("; ")));
        QVERIFY(form.result() == QDialog::Accepted && form.taskName() == "Пеня");
        QCOMPARE(stored(*task("Пеня")),
                 QString::fromStdString("sort=SUMMA N desc; filter=1 KOLVO N; behaviour=2; repeat=1 type=1 day=1 min=30 "
                                        "times=4 field=KOLVO; retry=0 attempts=0; archive=1 " + archive.string() +
                                            "; valid=0"));
        QCOMPARE(task("Пеня")->text(TaskProperty::Phonelast), std::string("999999999999"));
        // The missing archive was made, empty, with the source's fields, as python3-dbf reads it.
        const auto read = peltra::test::runPythonDbf(
            "t = dbf.Table(sys.argv[1]); t.open(dbf.READ_ONLY); print(len(t), ' '.join(t.field_names))",
            {archive.string()}, m_home->dir.path());
        QCOMPARE(read.out, std::string("0 telef proba otboj data clock fio summa kolvo paid\n"));
    }

    void anExistingTaskIsShownAndEdited()
    {
        addTask("Долг");
        auto debt = task("Долг");
        QCOMPARE(debt->setSort("FIO", "C", false), peltra::config::Change::Changed);
        QCOMPARE(debt->setRangeField("SUMMA", "N"), peltra::config::Change::Changed);
        for (const auto& [property, value] :
             {std::pair{TaskProperty::Typefilter, peltra::config::kFilterCondition},
              {TaskProperty::Behaviour, peltra::config::kStartFromBeginning}, {TaskProperty::Repeat, 1u},
              {TaskProperty::RepeatDay, 3u}, {TaskProperty::RepeatMinute, 45u}, {TaskProperty::RepeatTimes, 5u},
              {TaskProperty::RetryMinute, 20000u}, {TaskProperty::MaxAttempts, 4u}})
            QVERIFY(debt->setNumber(property, value));
        QVERIFY(debt->setText(TaskProperty::RepeatField, "KOLVO"));
        QVERIFY(debt->setText(TaskProperty::ArhiveFile, "/somewhere/old.dbf"));
        QVERIFY(debt->setValid(true));
        {
            // Shown as stored (even beyond the arrows' range): OK stores the rest as it was, still included.
            FormOperator form(m_home->tasks, kBinding, "Долг");
            QCOMPARE(form.windowTitle(), QStringLiteral("Абоненты - Долг"));
            QVERIFY(child<QLineEdit>(form, "textb_name")->isReadOnly());
            child<QSpinBox>(form, "updown_max_attempts")->setValue(6);
            form.show();
            QVERIFY(QTest::qWaitForWindowExposed(&form));
            QVERIFY(form.grab().save("FormOperator.png"));
            pressOk(form);
            QVERIFY(form.result() == QDialog::Accepted && !form.created());
            QCOMPARE(stored(*task("Долг")), QString("sort=FIO C desc; filter=2 SUMMA N; behaviour=2; repeat=1 type=0 "
                                                        "day=3 min=45 times=5 field=KOLVO; retry=20000 attempts=6; "
                                                        "archive=0 /somewhere/old.dbf; valid=1"));
        }
        // The unit switch keeps both intervals; a changed key property withdraws the task.
        FormOperator form(m_home->tasks, kBinding, "Долг");
        form.show();
        auto* unit = child<QComboBox>(form, "combo_repeat_unit");
        auto* interval = child<QSpinBox>(form, "updown_interval");
        unit->setCurrentIndex(1);
        QCOMPARE(interval->value(), 45);
        interval->setValue(50);
        unit->setCurrentIndex(0);
        QCOMPARE(interval->value(), 3);
        unit->setCurrentIndex(1);
        QCOMPARE(interval->value(), 50);
        pickSortField(form, "SUMMA");
        click(form, "optb_ascend");
        pressOk(form);
        QCOMPARE(stored(*task("Долг")), QString("sort=SUMMA N asc; filter=2 SUMMA N; behaviour=2; repeat=1 type=1 "
                                                    "day=3 min=50 times=5 field=KOLVO; retry=20000 attempts=6; "
                                                    "archive=0 /somewhere/old.dbf; valid=0"));
    }

    // Fields the table no longer holds are kept as stored.
    void theTableChangedUnderTheTask()
    {
        addTask("Старое");
        auto old = task("Старое");
        QCOMPARE(old->setSort("OLDSORT", "N", true), peltra::config::Change::Changed);
        QVERIFY(old->setNumber(TaskProperty::Typefilter, peltra::config::kFilterRanges));
        QCOMPARE(old->setRangeField("OLDRANGE", "N"), peltra::config::Change::Changed);
        QVERIFY(old->setValid(true));
        const QString before = stored(*old);
        FormOperator form(m_home->tasks, kBinding, "Старое");
        form.show();
        pressOk(form);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(stored(*task("Старое")), before);
    }
};

PELTRA_FORMS_TEST(FormOperatorTest)
#include "FormOperatorTest.moc"
