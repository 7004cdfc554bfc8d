// The SQL browser's result window: the grid with row numbers, the failure messages, the save
// question on closing, and closing while the statement runs.
#include "data/forms/FormViewSource.h"

#include "HandDbf.h"
#include "ModalCatcher.h"
#include "data/DbfTable.h"
#include "support/TempDir.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>

#include <filesystem>
#include <memory>
#include <string>

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

}  // namespace

class FormViewSourceTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::TempDir> m_dir;

    static QStringList gridRows(const FormViewSource& form) { return peltra::test::modelRows(form.model()); }

    static QStringList headers(const FormViewSource& form) { return peltra::test::modelHeaders(form.model()); }

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
        return std::make_unique<FormViewSource>(sql, QStringLiteral("peltra"), q(m_dir->path()));
    }

private slots:
    void initTestCase()
    {
        m_dir = std::make_unique<peltra::test::TempDir>();
        using peltra::data::DbfTable;
        using peltra::data::DbfValue;
        std::string error;
        QVERIFY(DbfTable::create(*m_dir / "abon.dbf", {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"FIO", 'C', 20, 0}},
                                 866, true, &error));
        auto abon = DbfTable::open(*m_dir / "abon.dbf", {true, std::nullopt});
        QVERIFY(abon);
        const struct {
            const char* telef;
            double proba;
            const char* fio;
        } rows[] = {{"2001", 0, "Иванов"}, {"2002", 3, "Петров"}, {"2003", 1, "Сидоров"}};
        for (const auto& r : rows) {
            QVERIFY(abon->append({{0, DbfValue::ofText(r.telef)}, {1, DbfValue::ofNumber(r.proba)},
                                  {2, DbfValue::ofText(r.fio)}}));
        }
        abon.reset();

        // A longer table for printing and for a large result.
        std::vector<std::string> records;
        for (int i = 0; i < 5000; ++i) {
            std::string number = std::to_string(100000 + i);
            std::string name = "Subscriber " + number;
            records.push_back(number + std::string(12 - number.size(), ' ') + name + std::string(30 - name.size(), ' '));
        }
        peltra::test::writeFileBytes((*m_dir / "many.dbf").string(),
                                     peltra::test::handTable({}, {{"TELEF", 'C', 12, 0}, {"NAME", 'C', 30, 0}}, records));
    }

    void cleanupTestCase() { m_dir.reset(); }

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

        QCOMPARE(headers(*form), QStringList({"№", "TELEF", "FIO", "PROBA"}));
        QCOMPARE(gridRows(*form), QStringList({"1|2001|Иванов|0", "2|2002|Петров|3", "3|2003|Сидоров|1"}));
        QCOMPARE(child<QTableView>(*form, "lv_rows")->model(), &form->model());
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
        QTest::newRow("2 unknown table") << "peltra" << "SELECT * FROM nosuch" << "nosuch";
        QTest::newRow("3 syntax") << "peltra" << "SELEKT 1" << "State 42000";
        QTest::newRow("4 unknown data source") << "dbase" << "SELECT * FROM abon" << "State IM002";
    }

    void aFailedStatementSaysSoAndShowsTheErrors()
    {
        QFETCH(QString, dataSource);
        QFETCH(QString, sql);
        QFETCH(QString, detail);
        ModalCatcher boxes;
        FormViewSource form(sql, dataSource, q(m_dir->path()));
        bool ok = true;
        QVERIFY(runShown(form, &ok));
        QVERIFY(!ok);
        QVERIFY(boxes.boxes().size() >= 2);
        QCOMPARE(boxes.boxes().front().title, QStringLiteral("Ошибка"));
        QCOMPARE(boxes.texts().front(), QStringLiteral("Невозможно выполнить SQL запрос."));
        QVERIFY(boxes.boxes().at(1).errorBox);
        QVERIFY2(boxes.boxes().at(1).text.contains(detail), qPrintable(boxes.boxes().at(1).text));
        QCOMPARE(form.model().rowCount(), 0);
        QCOMPARE(child<QLabel>(form, "label_status")->text(), QStringLiteral("Невозможно выполнить SQL запрос."));
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
        const fs::path target = *m_dir / "changed.sql";
        fs::remove(target);
        ModalCatcher boxes;
        auto form = window("SELECT TELEF FROM abon");
        QStringList saveCaptions;
        form->setSaveDialog([&](QWidget*, const QString& caption, const QString&) {
            saveCaptions << caption;
            return savePath.isEmpty() ? QString() : q(*m_dir / savePath.toStdString());
        });
        QVERIFY(runShown(*form));
        auto* box = child<QPlainTextEdit>(*form, "textb_sql");
        box->moveCursor(QTextCursor::End);
        QTest::keyClicks(box, " WHERE PROBA = 3");

        boxes.answerNext(QMessageBox::StandardButton(answer));
        QCOMPARE(form->close(), closed);
        QCOMPARE(form->isVisible(), !closed);
        QVERIFY(!boxes.boxes().isEmpty());
        QCOMPARE(boxes.boxes().front().title, form->windowTitle());
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
        QPointer<FormViewSource> form = new FormViewSource("SELECT * FROM many a, many b", "peltra", q(m_dir->path()));
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

QTEST_MAIN(FormViewSourceTest)
#include "FormViewSourceTest.moc"
