// The results dialog driven as a user would: the reading with "Вывести" and its stop while the
// window keeps answering, the totals ticked after reading, and the archive report.
#include "reports/forms/FormReport.h"

#include "data/HandDbf.h"
#include "reports/ReportStation.h"
#include "reports/forms/ReportRenderer.h"
#include "support/ModalCatcher.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using peltra::reports::FormReport;
namespace fs = std::filesystem;

namespace {

const std::string kBinding = "Абоненты";
const std::string kArchiveTask = "Должники";

std::string pad(std::string text, std::size_t width, bool left = false)
{
    const std::string blanks(width - std::min(width, text.size()), ' ');
    return left ? blanks + text : (text + blanks).substr(0, width);
}

// rows subscribers, every notifiedEvery-th notified on 01.12.2026; SUMMA is 10 + (i % 100) * 1.25.
void writeTable(const fs::path& path, std::size_t rows, std::size_t notifiedEvery)
{
    std::vector<std::string> records;
    records.reserve(rows);
    for (std::size_t i = 0; i < rows; ++i) {
        const bool notified = notifiedEvery != 0 && i % notifiedEvery == 0;
        char money[16];
        std::snprintf(money, sizeof money, "%.2f", 10.0 + static_cast<double>(i % 100) * 1.25);
        records.push_back(pad(std::to_string(4950000000 + i), 12) + pad(std::to_string(i % 3), 3, true) +
                          pad("0", 3, true) + (notified ? "20261201" : std::string(8, ' ')) +
                          pad(notified ? "10:15:00" : "", 8) + pad("Abonent " + std::to_string(i), 20) +
                          pad(money, 10, true));
    }
    peltra::test::writeFileBytes(path.string(), peltra::test::handTable({}, {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0},
                                                                             {"OTBOJ", 'N', 3, 0}, {"DATA", 'D', 8, 0},
                                                                             {"CLOCK", 'C', 8, 0}, {"FIO", 'C', 20, 0},
                                                                             {"SUMMA", 'N', 10, 2}},
                                                                         records));
}

}  // namespace

class FormReportTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::ReportStation> m_station;

    static void pick(QWidget& form, const char* combo, const std::string& text)
    {
        auto* box = peltra::test::child<QComboBox>(form, combo);
        box->setCurrentIndex(box->findText(QString::fromStdString(text)));
    }

    static void tick(QWidget& form, const QString& field, bool on)
    {
        peltra::test::child<QListWidget>(form, "lv_sum")->findItems(field, Qt::MatchExactly).front()->setCheckState(
            on ? Qt::Checked : Qt::Unchecked);
    }

    // Presses "Вывести" and waits for the read to end.
    static bool readAll(FormReport& form)
    {
        QTest::mouseClick(peltra::test::child<QPushButton>(form, "cb_show"), Qt::LeftButton);
        return QTest::qWaitFor([&] { return !form.isReading(); }, 20000);
    }

    // A binding of 40 subscribers (every fourth notified) with notes, a task that keeps an
    // archive of 6 rows, and a task "Все" without one.
    void makeStation()
    {
        writeTable(m_station->tablePath("abon.dbf"), 40, 4);
        writeTable(m_station->tablePath("arhiv.dbf"), 6, 1);
        auto& tasks = m_station->tasks();
        QCOMPARE(tasks.addBinding(kBinding, m_station->tablePath("abon.dbf").string(), "Должники за ноябрь\r\nвторая строка"),
                 peltra::config::AddResult::Added);
        auto binding = tasks.binding(kBinding);
        QCOMPARE(binding->operators().add(kArchiveTask), peltra::config::AddResult::Added);
        QCOMPARE(binding->operators().add("Все"), peltra::config::AddResult::Added);
        auto task = tasks.task(kBinding, kArchiveTask);
        QVERIFY(task->setNumber(peltra::config::TaskProperty::Arhive, 1));
        QVERIFY(task->setText(peltra::config::TaskProperty::ArhiveFile, m_station->tablePath("arhiv.dbf").string()));
    }

private slots:
    void init() { m_station = std::make_unique<peltra::test::ReportStation>(); }
    void cleanup() { m_station.reset(); }

    void aTaskWithAnArchiveShowsItToo()
    {
        makeStation();
        peltra::test::ModalCatcher catcher;
        FormReport form(m_station->store());
        form.show();
        pick(form, "combo_task", kArchiveTask);
        tick(form, QStringLiteral("SUMMA"), true);
        QVERIFY(readAll(form));
        QCOMPARE(catcher.boxes().size(), 0);
        QCOMPARE(form.report().title, std::string("Абоненты : Должники"));
        QCOMPARE(form.report().rows.rowCount(), std::size_t{40});
        QVERIFY(form.archiveReport() != nullptr);
        QCOMPARE(form.archiveReport()->rows.rowCount(), std::size_t{6});
        QCOMPARE(form.archiveReport()->columns.back().field, std::string("SUMMA"));
        QVERIFY(form.archiveReport()->totalVisible.back());
        // Ticking a total after the read changes what is shown, not what was read.
        auto* view = form.findChild<peltra::reports::ReportView*>(QStringLiteral("ReportView"));
        QCOMPARE(view->renderer()->footerHeight(), 42.0);
        tick(form, QStringLiteral("SUMMA"), false);
        QCOMPARE(view->renderer()->footerHeight(), 21.0);
        QCOMPARE(form.archiveReport()->rows.rowCount(), std::size_t{6});
        auto* tabs = peltra::test::child<QTabWidget>(form, "tab_reports");
        QVERIFY(tabs->isTabVisible(1));
        QVERIFY(form.grab().save(QStringLiteral("FormReport.png")));

        // A task whose archive is gone is told, and its table still shows.
        QVERIFY(fs::remove(m_station->tablePath("arhiv.dbf")));
        pick(form, "combo_task", kArchiveTask);
        QVERIFY(readAll(form));
        QTRY_COMPARE(catcher.boxes().size(), 1);
        QCOMPARE(form.report().rows.rowCount(), std::size_t{40});
        QVERIFY(form.archiveReport() == nullptr);
        QVERIFY(!tabs->isTabVisible(1));
    }

    // One large table: read whole while the window keeps answering, then read again and stopped.
    void aLargeReadAnswersAndStops()
    {
        writeTable(m_station->tablePath("big.dbf"), 200000, 7);
        QCOMPARE(m_station->tasks().addBinding("Большая", m_station->tablePath("big.dbf").string(), ""),
                 peltra::config::AddResult::Added);
        peltra::test::ModalCatcher catcher;
        FormReport form(m_station->store());
        form.show();
        auto* status = peltra::test::child<QLabel>(form, "label_status");
        auto* show = peltra::test::child<QPushButton>(form, "cb_show");
        QStringList seen;
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(show, Qt::LeftButton);
        qint64 longestGap = 0;
        qint64 last = clock.elapsed();
        while (form.isReading() && clock.elapsed() < 30000) {
            QTest::qWait(10);
            longestGap = std::max(longestGap, clock.elapsed() - last);
            last = clock.elapsed();
            if (seen.isEmpty() || seen.back() != status->text())
                seen << status->text();
        }
        qInfo("200000 rows read in %lld ms; the window answered at least every %lld ms",
              static_cast<long long>(clock.elapsed()), static_cast<long long>(longestGap));
        QVERIFY(!form.isReading());
        QCOMPARE(form.report().rows.rowCount(), std::size_t{200000});
        QVERIFY(longestGap < 500);
        QVERIFY(seen.filter(QStringLiteral("Прочитано строк: ")).size() >= 1);
        auto* view = form.findChild<peltra::reports::ReportView*>(QStringLiteral("ReportView"));

        QTest::mouseClick(show, Qt::LeftButton);
        QVERIFY(form.isReading());
        QCOMPARE(show->text(), QStringLiteral("Остановить"));
        for (const char* name : {"combo_binding", "optb_all", "lv_sum", "cb_close", "cb_print"})
            QVERIFY2(!peltra::test::child(form, name)->isEnabled(), name);
        QTest::qWait(30);
        QVERIFY(form.isReading());
        QTest::mouseClick(show, Qt::LeftButton);
        QVERIFY(!form.isReading());
        QCOMPARE(show->text(), QStringLiteral("Вывести"));
        QVERIFY(QTest::qWaitFor([&] { return show->isEnabled(); }, 20000));
        QTest::qWait(50);
        QCOMPARE(form.report().rows.rowCount(), std::size_t{0});
        QVERIFY(view->report() == nullptr);
        QVERIFY(!peltra::test::child(form, "cb_print")->isEnabled());
        QCOMPARE(catcher.boxes().size(), 0);
    }
};

QTEST_MAIN(FormReportTest)
#include "FormReportTest.moc"
