// The query checker: the log, the grid and the status of a good condition, and the messages and
// error boxes of a bad one; the window's result tells which.
#include "data/forms/FormViewDbf.h"

#include "ModalCatcher.h"
#include "data/DbfTable.h"
#include "support/TempDir.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <memory>
#include <string>

using peltra::data::FormViewDbf;
using peltra::test::child;
using peltra::test::click;
using peltra::test::ModalCatcher;
namespace fs = std::filesystem;

namespace {

const QString kCaption = QStringLiteral("Проверка логического условия фильтрации");

}  // namespace

class FormViewDbfTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::TempDir> m_dir;
    fs::path m_table;

    static QStringList gridRows(QWidget& form)
    {
        return peltra::test::modelRows(*child<QTableWidget>(form, "lv_rows")->model());
    }

    static QStringList headers(QWidget& form)
    {
        return peltra::test::modelHeaders(*child<QTableWidget>(form, "lv_rows")->model());
    }

    // Runs the window modally until its boxes are answered, then closes it.
    static int run(FormViewDbf& form)
    {
        QObject::connect(&form, &FormViewDbf::finished, &form, [&form] {
            QTimer::singleShot(0, &form, [&form] { child<QPushButton>(form, "cb_close")->click(); });
        });
        return form.exec();
    }

private slots:
    void initTestCase()
    {
        m_dir = std::make_unique<peltra::test::TempDir>();
        m_table = *m_dir / "abon.dbf";
        std::string error;
        QVERIFY(peltra::data::DbfTable::create(m_table,
                                               {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"FIO", 'C', 20, 0}},
                                               866, true, &error));
        auto dbf = peltra::data::DbfTable::open(m_table, {true, std::nullopt});
        QVERIFY(dbf);
        const struct {
            const char* telef;
            double proba;
            const char* fio;
        } rows[] = {{"2001", 0, "Иванов"}, {"2002", 3, "Петров"}, {"2003", 1, "Сидоров"}};
        for (const auto& r : rows) {
            QVERIFY(dbf->append({{0, peltra::data::DbfValue::ofText(r.telef)},
                                 {1, peltra::data::DbfValue::ofNumber(r.proba)},
                                 {2, peltra::data::DbfValue::ofText(r.fio)}}));
        }
    }

    void cleanupTestCase() { m_dir.reset(); }

    void aGoodConditionShowsItsRows()
    {
        FormViewDbf form(kCaption, m_table, "PROBA < 3", "TELEF", false);
        QCOMPARE(form.windowTitle(), kCaption);
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
        QCOMPARE(headers(form), QStringList({"№", "TELEF", "PROBA", "FIO"}));
        QCOMPARE(gridRows(form), QStringList({"1|2003|1|Сидоров", "2|2001|0|Иванов"}));
        QCOMPARE(child<QLabel>(form, "label_status")->text(), QStringLiteral("Выбрано 2 строк."));
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes().front().title, QStringLiteral("Проверка SQL запроса"));
        QCOMPARE(boxes.texts().front(), QStringLiteral("Ошибок не обнаружено. Выбрано 2 строк."));
    }

    void aBadConditionShowsTheError()
    {
        FormViewDbf form(kCaption, m_table, "NOSUCH = 1", "", true);
        QSignalSpy finished(&form, &FormViewDbf::finished);
        ModalCatcher boxes;
        QCOMPARE(run(form), int(QDialog::Rejected));
        QVERIFY(!finished.front().front().toBool());
        QVERIFY(!form.succeeded());
        QCOMPARE(child<QLabel>(form, "label_status")->text(), QStringLiteral("Ошибка SQL запроса"));
        QCOMPARE(gridRows(form), QStringList());
        QVERIFY(boxes.boxes().size() >= 2);
        QCOMPARE(boxes.boxes().front().title, QStringLiteral("Проверка SQL запроса"));
        QCOMPARE(boxes.texts().front(), QStringLiteral("Ошибка выполнения SQL запроса."));
        const ModalCatcher::Box& error = boxes.boxes().at(1);
        QVERIFY(error.errorBox);
        QVERIFY(error.text.startsWith(QStringLiteral("Функция ")));
        QVERIFY(error.text.contains(QStringLiteral(" вернула SQL_ERROR\n\nState ")));
        QVERIFY(error.text.contains(QStringLiteral("NOSUCH")));
    }

    void closingWhileTheQueryRunsIsSafe()
    {
        auto form = std::make_unique<FormViewDbf>(kCaption, m_table, "", "", true);
        form->show();
        form.reset();  // waits for the worker; its result is dropped with the window
        QTest::qWait(20);
    }

};

QTEST_MAIN(FormViewDbfTest)
#include "FormViewDbfTest.moc"
