// The SQL browser's source window: the columns and SELECT of a chosen table, saving and loading
// the text (a Windows file included), the connection failure message, and the result window.
#include "data/forms/FormChoiceSource.h"

#include "HandDbf.h"
#include "ModalCatcher.h"
#include "data/forms/FormViewSource.h"
#include "support/TempDir.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include <filesystem>
#include <memory>
#include <string>

using peltra::data::FormChoiceSource;
using peltra::data::FormViewSource;
using peltra::test::child;
using peltra::test::click;
using peltra::test::ModalCatcher;
namespace fs = std::filesystem;

namespace {

QString q(const fs::path& path)
{
    return QString::fromStdString(path.string());
}

std::string pad(std::string text, std::size_t width)
{
    text.resize(width, ' ');
    return text;
}

// The file dialog calls a test saw, and the answer it gives.
struct DialogLog {
    explicit DialogLog(QString a) : answer(std::move(a)) {}

    QString answer;
    QStringList captions;
    QStringList filters;

    peltra::data::FileDialog dialog()
    {
        return [this](QWidget*, const QString& caption, const QString& filter) {
            captions << caption;
            filters << filter;
            return answer;
        };
    }
};

}  // namespace

class FormChoiceSourceTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::TempDir> m_dir;
    std::unique_ptr<peltra::test::TempDir> m_emptyDir;
    QString m_location;

    static QStringList rows(QWidget& form, const char* grid)
    {
        return peltra::test::modelRows(*child<QTableWidget>(form, grid)->model());
    }

    static QStringList headers(QWidget& form, const char* grid)
    {
        return peltra::test::modelHeaders(*child<QTableWidget>(form, grid)->model());
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

private slots:
    void initTestCase()
    {
        m_dir = std::make_unique<peltra::test::TempDir>();
        m_emptyDir = std::make_unique<peltra::test::TempDir>();
        m_location = QDir::toNativeSeparators(q(m_dir->path()));
        using peltra::test::HandField;
        peltra::test::writeFileBytes(
            (*m_dir / "abon.dbf").string(),
            peltra::test::handTable({}, {{"TELEF", 'C', 12, 0}, {"FIO", 'C', 10, 0}, {"SUM-1", 'N', 5, 0}},
                                    {pad("2001", 12) + pad("IVANOV", 10) + "   10",
                                     pad("2002", 12) + pad("PETROV", 10) + "   20"}));
        peltra::test::writeFileBytes((*m_dir / "calls.dbf").string(),
                                     peltra::test::handTable({}, {{"TELEF", 'C', 12, 0}}, {pad("3001", 12)}));
        // A table without columns and a file that is no table are not offered.
        peltra::test::writeFileBytes((*m_dir / "empty.dbf").string(), peltra::test::handTable({}, {}, {}));
        peltra::test::writeFileBytes((*m_dir / "broken.dbf").string(), "not a table at all");
        peltra::test::writeFileBytes((*m_dir / "notes.txt").string(), "SELECT 1");
    }

    void cleanupTestCase()
    {
        m_dir.reset();
        m_emptyDir.reset();
    }

    void aSelectedTableListsItsColumnsAndTheSelect()
    {
        ModalCatcher boxes;
        FormChoiceSource form(nullptr, q(m_dir->path()));
        QVERIFY(open(form));
        selectTable(form, "abon.dbf");
        QCOMPARE(headers(form, "lv_fields"), QStringList({"Имя поля", "Тип"}));
        QCOMPARE(rows(form, "lv_fields"), QStringList({"TELEF|CHAR", "FIO|CHAR", "SUM-1|NUMERIC"}));
        QVERIFY(child<QCheckBox>(form, "checkbox_allfields")->isChecked());
        QCOMPARE(sqlText(form), QStringLiteral("SELECT TELEF, FIO, \"SUM-1\" FROM abon"));
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
        QTest::newRow("2 missing table file") << "peltra" << "/no/such/folder/abon.dbf";
        QTest::newRow("3 unknown data source") << "dbase" << QString();
    }

    void aBadDatabaseOrSourceCannotConnect()
    {
        QFETCH(QString, source);
        QFETCH(QString, database);
        ModalCatcher boxes;
        FormChoiceSource form(nullptr, q(m_dir->path()));
        QVERIFY(open(form));
        selectTable(form, "abon.dbf");
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
        QCOMPARE(boxes.boxes().front().title, QStringLiteral("Ошибка"));
        QCOMPARE(boxes.texts().front(), QStringLiteral("Невозможно выполнить соединение с источником данных."));
        QCOMPARE(rows(form, "lv_tables"), QStringList());
        QCOMPARE(rows(form, "lv_fields"), QStringList());
        QCOMPARE(sqlText(form), QString());
        QVERIFY(child<QLabel>(form, "label_tables")->text() != QStringLiteral("В источнике данных доступны таблицы:"));
        QVERIFY(!child<QPushButton>(form, "cb_view")->isEnabled());

        // Leaving the box again without a change does not ask again.
        QTest::keyClick(edited, Qt::Key_Return);
        QCOMPARE(connected.count(), 1);
    }

    void saveAndLoadRoundTrip()
    {
        ModalCatcher boxes;
        FormChoiceSource form(nullptr, q(m_dir->path()));
        DialogLog saves{q(*m_dir / "query")};
        DialogLog loads{q(*m_dir / "query.sql")};
        form.setSaveDialog(saves.dialog());
        form.setLoadDialog(loads.dialog());
        QVERIFY(open(form));
        selectTable(form, "abon.dbf");
        const QString composed = sqlText(form);

        child<QPushButton>(form, "cb_save")->click();
        QCOMPARE(saves.captions, QStringList({"Сохранение SQL запроса"}));
        QCOMPARE(saves.filters,
                 QStringList({"SQL-файлы (*.sql);;Текстовые файлы (*.txt);;Все файлы (*.*)"}));
        // A name without an extension gets ".sql".
        QCOMPARE(QString::fromStdString(peltra::test::readFileBytes((*m_dir / "query.sql").string())), composed);
        QCOMPARE(boxes.texts(), QStringList({"Текст SQL-запроса сохранен в файле\n" +
                                             QDir::toNativeSeparators(q(*m_dir / "query.sql"))}));

        child<QTableWidget>(form, "lv_tables")->clearSelection();
        QCOMPARE(sqlText(form), QString());
        child<QPushButton>(form, "cb_load")->click();
        QCOMPARE(loads.captions, QStringList({"Загрузка SQL запроса"}));
        QCOMPARE(loads.filters, saves.filters);
        QCOMPARE(sqlText(form), composed);
        // The loaded text is kept as it is: manual SQL is on.
        QVERIFY(child<QCheckBox>(form, "checkbox_manualsql")->isChecked());
        QVERIFY(!child<QPlainTextEdit>(form, "textb_sql")->isReadOnly());
        QCOMPARE(boxes.boxes().size(), 1);
    }

    void aWindowsTextFileIsReadAsCyrillic()
    {
        ModalCatcher boxes;
        FormChoiceSource form(nullptr, q(m_dir->path()));
        // "SELECT * FROM abon WHERE FIO = 'Иван'" in code page 1251.
        peltra::test::writeFileBytes((*m_dir / "old.txt").string(),
                                     "SELECT * FROM abon WHERE FIO = '\xC8\xE2\xE0\xED'");
        DialogLog loads{q(*m_dir / "old.txt")};
        form.setLoadDialog(loads.dialog());
        QVERIFY(open(form));
        child<QPushButton>(form, "cb_load")->click();
        QCOMPARE(sqlText(form), QStringLiteral("SELECT * FROM abon WHERE FIO = 'Иван'"));
    }

    void viewRunsTheStatement()
    {
        ModalCatcher boxes;
        FormChoiceSource form(nullptr, q(m_dir->path()));
        QVERIFY(open(form));
        selectTable(form, "abon.dbf");
        QSignalSpy opened(&form, &FormChoiceSource::viewOpened);
        child<QPushButton>(form, "cb_view")->click();
        QCOMPARE(opened.count(), 1);
        auto* view = opened.front().front().value<FormViewSource*>();
        QVERIFY(view != nullptr);
        QVERIFY(view->isWindow());
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

};

QTEST_MAIN(FormChoiceSourceTest)
#include "FormChoiceSourceTest.moc"
