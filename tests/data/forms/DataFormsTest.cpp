// The data windows: the binding dialog, new tables, the query checker, the error box and the
// SQL browser's source and result windows, over a temporary store and generated tables.
#include "DbfTestData.h"
#include "HandDbf.h"
#include "data/Connection.h"
#include "data/DbfTable.h"
#include "data/TableChecks.h"
#include "data/forms/FormChoiceSource.h"
#include "data/forms/FormNewTable.h"
#include "data/forms/FormTask.h"
#include "data/forms/FormViewDbf.h"
#include "data/forms/FormViewSource.h"
#include "data/forms/OdbcErrorMessageBox.h"
#include "support/ConfigTestStore.h"
#include "support/ModalCatcher.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <memory>
#include <string>

namespace fs = std::filesystem;
using peltra::data::FormChoiceSource;
using peltra::data::FormNewTable;
using peltra::data::FormTask;
using peltra::data::FormViewDbf;
using peltra::data::FormViewSource;
using peltra::data::OdbcError;
using peltra::test::ModalCatcher;
using peltra::test::child;
using peltra::test::click;
using peltra::test::left;

namespace {

QString q(const fs::path& path) { return QString::fromStdString(path.string()); }

// A file dialog that answers path.
peltra::data::FileDialog answering(const fs::path& path)
{
    return [path](QWidget*, const QString&, const QString&) { return q(path); };
}

// abon.dbf of three subscribers: 2001 Иванов tried 0 times, 2002 Петров 3, 2003 Сидоров 1.
void makeAbon(const fs::path& path)
{
    using peltra::data::DbfValue;
    std::string error;
    if (!peltra::data::DbfTable::create(path, {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"FIO", 'C', 20, 0}}, 866,
                                        true, &error))
        qFatal("cannot create %s", error.c_str());
    auto dbf = peltra::data::DbfTable::open(path, {true, std::nullopt});
    const char* names[] = {"Иванов", "Петров", "Сидоров"};
    const double tries[] = {0, 3, 1};
    for (int i = 0; i < 3; ++i)
        dbf->append({{0, DbfValue::ofText(std::to_string(2001 + i))}, {1, DbfValue::ofNumber(tries[i])},
                     {2, DbfValue::ofText(names[i])}});
}

const std::vector<peltra::test::HandField> kSourceFields = {
    {"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"OTBOJ", 'N', 3, 0},
    {"DATA", 'D', 8, 0},   {"CLOCK", 'C', 8, 0}, {"FIO", 'C', 30, 0}};

// The folders a creation may leave its temporary table in.
std::ptrdiff_t temporaryFolders()
{
    std::error_code ec;
    return std::count_if(fs::directory_iterator(fs::temp_directory_path(), ec), fs::directory_iterator(),
                         [](const auto& e) { return e.path().filename().string().starts_with("peltra-newtable-"); });
}

const QString kCaption = QStringLiteral("Проверка логического условия фильтрации");

// Replaces the text of the named line edit as the user would.
void type(QWidget& form, const char* name, const QString& text)
{
    auto* edit = child<QLineEdit>(form, name);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    peltra::test::typeText(edit, text);
}

}  // namespace

// The data windows, each test on a fresh store and folder; the views over one folder of tables.
class DataFormsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::ConfigTestStore> m_station;
    QString m_good;
    QString m_other;
    QString m_partial;

    QString table(const std::string& name, const std::vector<peltra::test::HandField>& fields)
    {
        peltra::test::writeFileBytes((m_station->dir / name).string(), peltra::test::handTable({}, fields, {}));
        return q(m_station->dir / name);
    }

    // A binding with one task of each validity state given.
    void bindingWithValidTask(const std::string& binding, const QString& file, const std::string& task)
    {
        QCOMPARE(m_station->tasks.addBinding(binding, file.toStdString(), "notes"), peltra::config::AddResult::Added);
        QCOMPARE(m_station->tasks.binding(binding)->operators().add(task), peltra::config::AddResult::Added);
        QVERIFY(m_station->tasks.task(binding, task)->setValid(true));
    }

private slots:
    void init()
    {
        m_station = std::make_unique<peltra::test::ConfigTestStore>();
        m_good = table("abon.dbf", kSourceFields);
        m_other = table("abon2.dbf", kSourceFields);
        m_partial = table("partial.dbf", {{"TELEF", 'C', 12, 0}, {"OTBOJ", 'N', 3, 0}, {"DATA", 'D', 8, 0}});
        m_startFolder = fs::current_path();
        // The working folder must not receive a new table's temporary table either.
        fs::current_path(m_station->dir.path());
        // A temporary folder of this test's own, so tests running beside it do not change the count.
        m_savedTmpDir = qgetenv("TMPDIR");
        m_tmp = std::make_unique<peltra::test::TempDir>();
        qputenv("TMPDIR", QByteArray::fromStdString(m_tmp->path().string()));
    }

    void cleanup()
    {
        if (m_savedTmpDir.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_savedTmpDir);
        fs::current_path(m_startFolder);
        m_tmp.reset();
        m_station.reset();
    }

    void refusalsComeInOrderAndReturnTheFocus()
    {
        FormTask form(m_station->tasks, std::nullopt);
        QSignalSpy stored(&form, &FormTask::stored);
        form.show();
        ModalCatcher boxes;
        // Each step: the box typed into (none at first) and what, the refusal, the box given the focus.
        const struct { const char* box; QString text; QString refusal; const char* focus; } steps[] = {
            {nullptr, {}, "Не заполнено поле 'Задание' !", "textb_name"},
            {"textb_name", "Абоненты", "Не установлен путь!", "textb_path"},
            {"textb_path", q(m_station->dir / "none.dbf"), "Данная таблица не обнаружена. Возможно задан неверный путь.", "textb_path"},
            {"textb_path", m_partial, "В данной таблице отсутствуют следующие необходимые поля:\r\n\r\nPROBA\tNum (3,0)\r\n"
                                      "CLOCK\tChar (8)\r\n\r\nТаблица не может быть источником задания.", "textb_path"},
        };
        for (const auto& step : steps) {
            if (step.box != nullptr)
                type(form, step.box, step.text);
            click(form, "cb_ok");
            QCOMPARE(boxes.texts().back(), step.refusal);
            QCOMPARE(form.focusWidget(), child<QLineEdit>(form, step.focus));
        }
        QVERIFY(form.isVisible());
        QVERIFY(m_station->tasks.bindingNames().empty());
        QCOMPARE(stored.count(), 0);

        type(form, "textb_path", m_good);
        peltra::test::typeText(child<QPlainTextEdit>(form, "textb_comment"), QStringLiteral("Должники за май"));
        click(form, "cb_ok");
        QCOMPARE(boxes.boxes().size(), 4);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(!form.isVisible());
        QCOMPARE(stored.count(), 1);
        QCOMPARE(stored.front().front().toString(), QStringLiteral("Абоненты"));
        auto binding = m_station->tasks.binding("Абоненты");
        QVERIFY(binding);
        QCOMPARE(q(binding->file()), m_good);
        QCOMPARE(q(binding->comment()), QStringLiteral("Должники за май"));
    }

    void changingThePathWithdrawsTheBindingsTasks()
    {
        bindingWithValidTask("Абоненты", m_good, "Оповещение");
        bindingWithValidTask("Другие", m_good, "Чужое");
        FormTask form(m_station->tasks, std::string("Абоненты"));
        QSignalSpy stored(&form, &FormTask::stored);
        form.show();
        auto* name = child<QLineEdit>(form, "textb_name");
        QCOMPARE(name->text(), QStringLiteral("Абоненты"));
        QVERIFY(name->isReadOnly());
        QCOMPARE(child<QLineEdit>(form, "textb_path")->text(), m_good);
        QCOMPARE(child<QPlainTextEdit>(form, "textb_comment")->toPlainText(), QStringLiteral("notes"));

        ModalCatcher boxes;
        type(form, "textb_path", m_other);
        click(form, "cb_ok");
        QCOMPARE(boxes.texts(),
                 QStringList{QStringLiteral(
                     "Вы изменили имя файла базы данных.\r\n"
                     "Все задания, связанные с этим файлом исключаются из планирования.\r\n"
                     "Вам необходимо проверить и привести в соответствие параметры заданий,\r\n"
                     "а затем выбрать в меню команду \"Включить в планирование\"")});
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(stored.count(), 1);
        QCOMPARE(q(m_station->tasks.binding("Абоненты")->file()), m_other);
        QVERIFY(!m_station->tasks.task("Абоненты", "Оповещение")->valid());
        QVERIFY(m_station->tasks.task("Другие", "Чужое")->valid());
    }
private:
    fs::path m_startFolder;
    QByteArray m_savedTmpDir;
    std::unique_ptr<peltra::test::TempDir> m_tmp;

    // Adds a column as the user would; kind is Num, Char, Date or Log.
    static void add(QWidget& form, const QString& name, const QString& kind, const QString& width = {},
                    const QString& decimals = {})
    {
        child<QComboBox>(form, "combo_type")->setCurrentText(kind);
        if (!width.isEmpty())
            type(form, "textb_width", width);
        if (!decimals.isEmpty())
            type(form, "textb_decimals", decimals);
        type(form, "textb_name", name);
        click(form, "cb_add");
    }

    static QStringList rows(QWidget& form) { return peltra::test::modelRows(*child<QTreeWidget>(form, "lv_fields")->model()); }

    static void select(QWidget& form, int row)
    {
        auto* grid = child<QTreeWidget>(form, "lv_fields");
        grid->setCurrentItem(grid->topLevelItem(row));
    }

private slots:
    void theRequiredColumnsAreInPlaceAndStay()
    {
        FormNewTable form;
        form.show();
        const QStringList required{"TELEF|Char|12", "PROBA|Num|3,0", "OTBOJ|Num|3,0", "DATA|Date|8", "CLOCK|Char|8"};
        QCOMPARE(rows(form), required);
        for (int row = 0; row < 5; ++row) {
            select(form, row);
            QVERIFY(!child<QPushButton>(form, "cb_remove")->isEnabled());
            form.removeSelected();
        }
        QCOMPARE(rows(form), required);

        add(form, "FIO", "Char", "30");
        select(form, 5);
        QVERIFY(child<QPushButton>(form, "cb_remove")->isEnabled());
        click(form, "cb_remove");
        QCOMPARE(rows(form), required);
    }

    void addFieldChecksComeInOrder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::newRow("lower case") << "fio" << "Имя поля содержит недопустимые символы.";
        QTest::newRow("Cyrillic") << "ФИО" << "Имя поля содержит недопустимые символы.";
        QTest::newRow("blank inside") << "A B" << "Имя поля содержит недопустимые символы.";
        // Both checks fail: the characters are judged first.
        QTest::newRow("digit then lower case") << "1st" << "Имя поля содержит недопустимые символы.";
        QTest::newRow("digit first") << "1ST" << "Имя поля должно начинаться с буквы.";
        QTest::newRow("underscore first") << "_A" << "Имя поля должно начинаться с буквы.";
        QTest::newRow("empty") << "" << "Имя поля должно начинаться с буквы.";
        QTest::newRow("required column") << "TELEF" << "Поле с таким названием уже существует.";
        QTest::newRow("added column") << "SUMMA" << "Поле с таким названием уже существует.";
    }

    void addFieldChecksComeInOrder()
    {
        QFETCH(QString, name);
        QFETCH(QString, message);
        FormNewTable form;
        form.show();
        add(form, "SUMMA", "Num", "10", "2");
        ModalCatcher boxes;
        add(form, name, "Char", "5");
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.texts().front(), message);
        QCOMPARE(form.focusWidget(), child<QLineEdit>(form, "textb_name"));
        QCOMPARE(form.fields().size(), std::size_t(6));
    }

    void typedSizesAreHeldToTheirLimits()
    {
        FormNewTable form;
        form.show();
        auto* width = child<QLineEdit>(form, "textb_width");
        auto* decimals = child<QLineEdit>(form, "textb_decimals");
        child<QComboBox>(form, "combo_type")->setCurrentText("Num");
        type(form, "textb_width", "25");
        QCOMPARE(width->text(), QStringLiteral("19"));
        QCOMPARE(width->selectedText(), QStringLiteral("19"));
        type(form, "textb_width", "2");
        QVERIFY(!decimals->isEnabled());
        type(form, "textb_width", "3");
        QVERIFY(decimals->isEnabled());
        type(form, "textb_decimals", "5");
        QCOMPARE(decimals->text(), QStringLiteral("1"));
        // A narrower width takes the decimals down with it, leaving room for the point and a digit.
        type(form, "textb_width", "10");
        type(form, "textb_decimals", "8");
        width->selectAll();
        peltra::test::typeText(width, QStringLiteral("9"));
        QCOMPARE(decimals->text(), QStringLiteral("7"));

        child<QComboBox>(form, "combo_type")->setCurrentText("Char");
        QVERIFY(!decimals->isEnabled());
        type(form, "textb_width", "2000");
        QCOMPARE(width->text(), QStringLiteral("1024"));
        QCOMPARE(width->selectedText(), QStringLiteral("1024"));
        type(form, "textb_width", "1000");
        QCOMPARE(width->text(), QStringLiteral("1000"));

        child<QComboBox>(form, "combo_type")->setCurrentText("Date");
        QCOMPARE(width->text(), QStringLiteral("8"));
        QVERIFY(!width->isEnabled());
        child<QComboBox>(form, "combo_type")->setCurrentText("Log");
        QCOMPARE(width->text(), QStringLiteral("1"));

        // A width left empty is refused at the width box.
        child<QComboBox>(form, "combo_type")->setCurrentText("Num");
        type(form, "textb_width", "");
        ModalCatcher boxes;
        type(form, "textb_name", "SUMMA");
        click(form, "cb_add");
        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Не указана длина поля.")});
        QCOMPARE(form.focusWidget(), width);
        QCOMPARE(form.fields().size(), std::size_t(5));
    }

    // Over an existing file: No keeps it, Yes replaces it with the new table; no temporary table is left.
    void aCreatedTableIsASource()
    {
        FormNewTable form;
        form.show();
        add(form, "SUM2", "Num", "10", "2");
        add(form, "SUM0", "Num", "10", "0");
        add(form, "FIO", "Char", "30");
        add(form, "DR", "Date");
        add(form, "FLAG", "Log");
        const fs::path file = m_station->dir / "new" / "abon.dbf";
        fs::create_directories(file.parent_path());
        peltra::test::writeFileBytes(file.string(), "the operator's data");
        form.setSaveDialog(answering(m_station->dir / "new" / "abon"));
        QSignalSpy created(&form, &FormNewTable::created);
        ModalCatcher boxes;
        boxes.answerNext(QMessageBox::No);
        const auto before = temporaryFolders();
        QVERIFY(!form.createTable());
        QCOMPARE(boxes.texts(), QStringList{"Файл '" + q(file) + "' уже существует.\r\nВ случае его замены все данные "
                                            "будут утеряны.\r\nВы желаете его заменить?"});
        QCOMPARE(peltra::test::readFileBytes(file.string()), std::string("the operator's data"));
        QVERIFY(form.isVisible() && form.createdPath().isEmpty());
        QCOMPARE(temporaryFolders(), before);

        boxes.answerNext(QMessageBox::Yes);
        QVERIFY(form.createTable());
        QCOMPARE(created.count(), 1);
        QCOMPARE(created.front().front().toString(), q(file));
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(peltra::data::SourceCheck(file).ok);
        const auto table = peltra::data::DbfTable::open(file, {});
        QVERIFY(table);
        QStringList shapes;
        for (const auto& field : table->fields())
            shapes << q(field.name) + " " + QChar(field.type) + QString::number(field.length) + "." +
                          QString::number(field.decimals);
        QCOMPARE(shapes, QStringList({"TELEF C12.0", "PROBA N3.0", "OTBOJ N3.0", "DATA D8.0", "CLOCK C8.0",
                                      "SUM2 N10.2", "SUM0 N10.0", "FIO C30.0", "DR D8.0", "FLAG L1.0"}));
        QCOMPARE(temporaryFolders(), before);
        QVERIFY(!fs::exists(m_station->dir.path() / "__tmp__.dbf"));
    }

private:
    std::unique_ptr<peltra::test::TempDir> m_views;  // the tables the views read, for all their tests

    static QStringList rows(QWidget& form, const char* grid)
    {
        return peltra::test::modelRows(*child<QTableWidget>(form, grid)->model());
    }

    static QString sqlText(QWidget& form) { return child<QPlainTextEdit>(form, "textb_sql")->toPlainText(); }

    // Shows the window and waits for its first connection.
    static bool open(FormChoiceSource& form)
    {
        QSignalSpy connected(&form, &FormChoiceSource::connectionChanged);
        form.show();
        return connected.wait(5000);
    }

    static void selectTable(FormChoiceSource& form, const QString& name)
    {
        auto* tables = child<QTableWidget>(form, "lv_tables");
        for (int r = 0; r < tables->rowCount(); ++r) {
            if (tables->item(r, 0)->text() == name) {
                tables->selectRow(r);
                return;
            }
        }
        qFatal("table %s is not listed", qPrintable(name));
    }

    fs::path m_table;  // abon.dbf

    // Runs the window modally until its boxes are answered, then closes it.
    static int run(FormViewDbf& form)
    {
        QObject::connect(&form, &FormViewDbf::finished, &form, [&form] {
            QTimer::singleShot(0, &form, [&form] { child<QPushButton>(form, "cb_close")->click(); });
        });
        return form.exec();
    }


    // Shows the window and waits until its statement has run and its boxes are answered.
    static bool runShown(FormViewSource& form, bool* ok = nullptr)
    {
        QSignalSpy finished(&form, &FormViewSource::finished);
        form.show();
        if (!finished.wait(10000))
            return false;
        if (ok != nullptr)
            *ok = finished.front().front().toBool();
        return true;
    }

    std::unique_ptr<FormViewSource> window(const QString& sql)
    {
        return std::make_unique<FormViewSource>(sql, QStringLiteral("peltra"), q(m_views->path()));
    }

private slots:
    void initTestCase()
    {
        m_views = std::make_unique<peltra::test::TempDir>();
        peltra::test::writeFileBytes(
            (*m_views / "sums.dbf").string(),
            peltra::test::handTable({}, {{"TELEF", 'C', 12, 0}, {"FIO", 'C', 10, 0}, {"SUM-1", 'N', 5, 0}},
                                    {left("2001", 12) + left("IVANOV", 10) + "   10",
                                     left("2002", 12) + left("PETROV", 10) + "   20"}));
        peltra::test::writeFileBytes((*m_views / "calls.dbf").string(),
                                     peltra::test::handTable({}, {{"TELEF", 'C', 12, 0}}, {left("3001", 12)}));
        // A table without columns and a file that is no table are not offered.
        peltra::test::writeFileBytes((*m_views / "empty.dbf").string(), peltra::test::handTable({}, {}, {}));
        peltra::test::writeFileBytes((*m_views / "broken.dbf").string(), "not a table at all");
        peltra::test::writeFileBytes((*m_views / "notes.txt").string(), "SELECT 1");
        m_table = *m_views / "abon.dbf";
        makeAbon(m_table);
        // A longer table for a large result.
        std::vector<std::string> records;
        for (int i = 100000; i < 105000; ++i)
            records.push_back(left(std::to_string(i), 12) + left("Subscriber " + std::to_string(i), 30));
        peltra::test::writeFileBytes((*m_views / "many.dbf").string(),
                                     peltra::test::handTable({}, {{"TELEF", 'C', 12, 0}, {"NAME", 'C', 30, 0}}, records));
    }

    void cleanupTestCase() { m_views.reset(); }

    void aSelectedTableListsItsColumnsAndTheSelect()
    {
        ModalCatcher boxes;
        FormChoiceSource form(nullptr, q(m_views->path()));
        QVERIFY(open(form));
        selectTable(form, "sums.dbf");
        QCOMPARE(rows(form, "lv_fields"), QStringList({"TELEF|CHAR", "FIO|CHAR", "SUM-1|NUMERIC"}));
        QVERIFY(child<QCheckBox>(form, "checkbox_allfields")->isChecked());
        QCOMPARE(sqlText(form), QStringLiteral("SELECT TELEF, FIO, \"SUM-1\" FROM sums"));
        QVERIFY(child<QPlainTextEdit>(form, "textb_sql")->isReadOnly());
        QVERIFY(child<QPushButton>(form, "cb_view")->isEnabled());

        // Another table replaces the columns and the statement; no table empties it.
        selectTable(form, "calls.dbf");
        QCOMPARE(rows(form, "lv_fields"), QStringList({"TELEF|CHAR"}));
        QCOMPARE(sqlText(form), QStringLiteral("SELECT TELEF FROM calls"));
        child<QTableWidget>(form, "lv_tables")->clearSelection();
        QCOMPARE(rows(form, "lv_fields"), QStringList());
        QCOMPARE(sqlText(form), QString());
        QVERIFY(!child<QPushButton>(form, "cb_view")->isEnabled());
    }

    void aBadDatabaseOrSourceCannotConnect_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("database");
        QTest::newRow("1 missing folder") << "peltra" << "/no/such/folder";
        QTest::newRow("3 unknown data source") << "dbase" << QString();
    }

    void aBadDatabaseOrSourceCannotConnect()
    {
        QFETCH(QString, source);
        QFETCH(QString, database);
        ModalCatcher boxes;
        FormChoiceSource form(nullptr, q(m_views->path()));
        QVERIFY(open(form));
        selectTable(form, "sums.dbf");
        QVERIFY(!sqlText(form).isEmpty());

        // Typing into a box and leaving it connects again.
        QSignalSpy connected(&form, &FormChoiceSource::connectionChanged);
        auto* sourceBox = child<QLineEdit>(form, "textb_source");
        auto* databaseBox = child<QLineEdit>(form, "textb_database");
        sourceBox->setText(source);
        if (!database.isEmpty())
            databaseBox->setText(database);
        QLineEdit* edited = database.isEmpty() ? sourceBox : databaseBox;
        edited->setFocus();
        QTest::keyClick(edited, Qt::Key_Return);
        QTRY_COMPARE(connected.count(), 1);
        QVERIFY(!connected.front().front().toBool());
        QVERIFY(!form.isConnected());
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.texts().front(), QStringLiteral("Невозможно выполнить соединение с источником данных."));
        QCOMPARE(rows(form, "lv_tables") + rows(form, "lv_fields") + QStringList{sqlText(form)}, QStringList{QString()});
        QVERIFY(!child<QPushButton>(form, "cb_view")->isEnabled());

        // Leaving the box again without a change does not ask again.
        QTest::keyClick(edited, Qt::Key_Return);
        QCOMPARE(connected.count(), 1);
    }

    void saveAndLoadRoundTrip()
    {
        ModalCatcher boxes;
        FormChoiceSource form(nullptr, q(m_views->path()));
        form.setSaveDialog(answering(*m_views / "query"));
        form.setLoadDialog(answering(*m_views / "query.sql"));
        QVERIFY(open(form));
        selectTable(form, "sums.dbf");
        const QString composed = sqlText(form);

        child<QPushButton>(form, "cb_save")->click();
        // A name without an extension gets ".sql".
        QCOMPARE(QString::fromStdString(peltra::test::readFileBytes((*m_views / "query.sql").string())), composed);
        QCOMPARE(boxes.texts(), QStringList({"Текст SQL-запроса сохранен в файле\n" +
                                             QDir::toNativeSeparators(q(*m_views / "query.sql"))}));

        child<QTableWidget>(form, "lv_tables")->clearSelection();
        QCOMPARE(sqlText(form), QString());
        child<QPushButton>(form, "cb_load")->click();
        QCOMPARE(sqlText(form), composed);
        // The loaded text is kept as it is: manual SQL is on.
        QVERIFY(child<QCheckBox>(form, "checkbox_manualsql")->isChecked());
        QVERIFY(!child<QPlainTextEdit>(form, "textb_sql")->isReadOnly());
        QCOMPARE(boxes.boxes().size(), 1);

        // A Windows text file reads as Cyrillic: "... = 'Иван'" in code page 1251.
        peltra::test::writeFileBytes((*m_views / "old.txt").string(), "SELECT * FROM abon WHERE FIO = '\xC8\xE2\xE0\xED'");
        form.setLoadDialog(answering(*m_views / "old.txt"));
        child<QPushButton>(form, "cb_load")->click();
        QCOMPARE(sqlText(form), QStringLiteral("SELECT * FROM abon WHERE FIO = 'Иван'"));
    }

    void viewRunsTheStatement()
    {
        ModalCatcher boxes;
        FormChoiceSource form(nullptr, q(m_views->path()));
        QVERIFY(open(form));
        selectTable(form, "sums.dbf");
        QSignalSpy opened(&form, &FormChoiceSource::viewOpened);
        child<QPushButton>(form, "cb_view")->click();
        QCOMPARE(opened.count(), 1);
        auto* view = opened.front().front().value<FormViewSource*>();
        QVERIFY(view != nullptr);
        QCOMPARE(view->sql(), sqlText(form));
        QTRY_VERIFY(!view->isRunning());
        QCOMPARE(view->model().rowCount(), 2);
        QCOMPARE(view->model().text(1, 3), QStringLiteral("20"));
        QCOMPARE(boxes.boxes().size(), 0);

        // The window goes away when closed.
        QPointer<FormViewSource> guard(view);
        view->close();
        QTRY_VERIFY(guard.isNull());
    }

    void aGoodConditionShowsItsRows()
    {
        FormViewDbf form(kCaption, m_table, "PROBA < 3", "TELEF", false);
        QSignalSpy finished(&form, &FormViewDbf::finished);
        ModalCatcher boxes;
        QCOMPARE(run(form), int(QDialog::Accepted));
        QCOMPARE(finished.count(), 1);
        QVERIFY(finished.front().front().toBool());
        QVERIFY(form.succeeded());

        QCOMPARE(child<QPlainTextEdit>(form, "textb_log")->toPlainText(),
                 QStringLiteral("Выполнение запроса\nDB=abon.dbf\n"
                                "SQL Statement=SELECT TELEF, PROBA, FIO FROM abon.dbf WHERE PROBA < 3 "
                                "ORDER BY TELEF DESC"));
        const auto* grid = child<QTableWidget>(form, "lv_rows")->model();
        QCOMPARE(peltra::test::modelHeaders(*grid), QStringList({"№", "TELEF", "PROBA", "FIO"}));
        QCOMPARE(peltra::test::modelRows(*grid), QStringList({"1|2003|1|Сидоров", "2|2001|0|Иванов"}));
        QCOMPARE(child<QLabel>(form, "label_status")->text(), QStringLiteral("Выбрано 2 строк."));
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.texts().front(), QStringLiteral("Ошибок не обнаружено. Выбрано 2 строк."));
    }

    // One error box per record worth showing, in order; a connection's records are taken from it.
    void errorBoxesShowTheRecords()
    {
        ModalCatcher boxes;
        peltra::data::showErrors(nullptr, std::vector<OdbcError>{{11, -1, "42S22", 1, "no such column: NOSUCH"},
                                                                 {11, 0, "00000", 0, "nothing to show"},
                                                                 {30, 1000, "01000", 0, "warning"}});
        QCOMPARE(boxes.texts(), QStringList({"Функция SQLExecDirect вернула SQL_ERROR\n\nState 42S22 NativeCode 1\n"
                                             "no such column: NOSUCH",
                                             "Функция  вернула SQL_WCM_WARNING\n\nState 01000 NativeCode 0\nwarning"}));
        QVERIFY(boxes.boxes().front().errorBox);
        peltra::data::Connection connection;
        QVERIFY(!connection.bind("other"));
        boxes.clear();
        peltra::data::showErrors(nullptr, connection);
        peltra::data::showErrors(nullptr, connection);
        QCOMPARE(boxes.boxes().size(), 1);
        QVERIFY(boxes.texts().front().startsWith(QStringLiteral("Функция SQLConnect вернула SQL_ERROR\n\nState IM002")));
    }

    void closingWhileTheQueryRunsIsSafe()
    {
        auto form = std::make_unique<FormViewDbf>(kCaption, m_table, "", "", true);
        form->show();
        form.reset();  // waits for the worker; its result is dropped with the window
        QTest::qWait(20);
    }

    void theGridShowsRowNumbersAndColumns()
    {
        ModalCatcher boxes;
        auto form = window("SELECT TELEF, FIO, PROBA FROM abon ORDER BY TELEF");
        QCOMPARE(child<QLabel>(*form, "label_status")->text(), QString());
        form->show();
        // Until the worker's result is back the window says what it does.
        QVERIFY(form->isRunning());
        QCOMPARE(child<QLabel>(*form, "label_status")->text(), QStringLiteral("Выполнение SQL запроса"));
        QVERIFY(!child<QPushButton>(*form, "cb_run")->isEnabled());
        QSignalSpy finished(form.get(), &FormViewSource::finished);
        QVERIFY(finished.wait(5000));
        QVERIFY(finished.front().front().toBool());
        QVERIFY(!form->isRunning());

        QCOMPARE(peltra::test::modelHeaders(form->model()), QStringList({"№", "TELEF", "FIO", "PROBA"}));
        QCOMPARE(peltra::test::modelRows(form->model()), QStringList({"1|2001|Иванов|0", "2|2002|Петров|3", "3|2003|Сидоров|1"}));
        QCOMPARE(child<QLabel>(*form, "label_status")->text(), QStringLiteral("Строк: 3"));
        QCOMPARE(boxes.boxes().size(), 0);
        QVERIFY(child<QPushButton>(*form, "cb_run")->isEnabled());
        QVERIFY(child<QPushButton>(*form, "cb_print")->isEnabled());
    }

    void aFailedStatementSaysSoAndShowsTheErrors_data()
    {
        QTest::addColumn<QString>("dataSource");
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("detail");
        QTest::newRow("1 unknown column") << "peltra" << "SELECT NOSUCH FROM abon" << "NOSUCH";
        QTest::newRow("3 syntax") << "peltra" << "SELEKT 1" << "State 42000";
        QTest::newRow("4 unknown data source") << "dbase" << "SELECT * FROM abon" << "State IM002";
    }

    void aFailedStatementSaysSoAndShowsTheErrors()
    {
        QFETCH(QString, dataSource);
        QFETCH(QString, sql);
        QFETCH(QString, detail);
        ModalCatcher boxes;
        FormViewSource form(sql, dataSource, q(m_views->path()));
        bool ok = true;
        QVERIFY(runShown(form, &ok));
        QVERIFY(!ok);
        QVERIFY(boxes.boxes().size() >= 2 && boxes.boxes().at(1).errorBox);
        QCOMPARE(boxes.texts().front(), QStringLiteral("Невозможно выполнить SQL запрос."));
        QVERIFY2(boxes.texts().at(1).contains(detail), qPrintable(boxes.texts().at(1)));
        QCOMPARE(form.model().rowCount(), 0);
        QCOMPARE(child<QLabel>(form, "label_status")->text(), boxes.texts().front());
        QVERIFY(!child<QPushButton>(form, "cb_print")->isEnabled());
    }

    void closingChangedAsksToSave_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("savePath");  // what the save dialog answers
        QTest::addColumn<bool>("closed");
        QTest::addColumn<bool>("saved");
        QTest::newRow("1 cancel stays") << int(QMessageBox::Cancel) << QString() << false << false;
        QTest::newRow("2 no closes") << int(QMessageBox::No) << QString() << true << false;
        QTest::newRow("3 yes saves and closes") << int(QMessageBox::Yes) << "changed.sql" << true << true;
        QTest::newRow("4 yes then cancelled save stays") << int(QMessageBox::Yes) << QString() << false << false;
        QTest::newRow("5 yes then failed save stays") << int(QMessageBox::Yes) << "no-folder/x.sql" << false << false;
    }

    void closingChangedAsksToSave()
    {
        QFETCH(int, answer);
        QFETCH(QString, savePath);
        QFETCH(bool, closed);
        QFETCH(bool, saved);
        const fs::path target = *m_views / "changed.sql";
        fs::remove(target);
        ModalCatcher boxes;
        auto form = window("SELECT TELEF FROM abon");
        QStringList saveCaptions;
        form->setSaveDialog([&](QWidget*, const QString& caption, const QString&) {
            saveCaptions << caption;
            return savePath.isEmpty() ? QString() : q(*m_views / savePath.toStdString());
        });
        QVERIFY(runShown(*form));
        auto* box = child<QPlainTextEdit>(*form, "textb_sql");
        box->moveCursor(QTextCursor::End);
        QTest::keyClicks(box, " WHERE PROBA = 3");

        boxes.answerNext(QMessageBox::StandardButton(answer));
        QCOMPARE(form->close(), closed);
        QCOMPARE(form->isVisible(), !closed);
        QVERIFY(!boxes.boxes().isEmpty());
        QCOMPARE(boxes.texts().front(), QStringLiteral("Вы изменили SQL запрос. Хотите сохранить изменения?"));
        QCOMPARE(saveCaptions.size(), answer == QMessageBox::Yes ? 1 : 0);
        QCOMPARE(fs::exists(target), saved);
        if (saved) {
            QCOMPARE(peltra::test::readFileBytes(target.string()), std::string("SELECT TELEF FROM abon WHERE PROBA = 3"));
            QVERIFY(!form->isSqlChanged());
        }
        if (!closed)
            QVERIFY(form->isSqlChanged());
    }

    void closingWhileRunningStopsTheWorker()
    {
        ModalCatcher boxes;
        QPointer<FormViewSource> form = new FormViewSource("SELECT * FROM many a, many b", "peltra", q(m_views->path()));
        form->setAttribute(Qt::WA_DeleteOnClose);
        form->show();
        QVERIFY(form->isRunning());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(form->close());
        QTRY_VERIFY(form.isNull());
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QString::number(timer.elapsed())));
        QCOMPARE(boxes.boxes().size(), 0);
    }
};

QTEST_MAIN(DataFormsTest)
#include "DataFormsTest.moc"
