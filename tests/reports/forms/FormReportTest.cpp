// The results dialog driven as a user would: its controls and defaults, the refusals, the reading
// with "Вывести" and its stop, the totals ticked after reading, the archive report and the PDF
// offered when there is no printer.
#include "reports/forms/FormReport.h"

#include "config/ConfigStore.h"
#include "config/TaskStore.h"
#include "data/HandDbf.h"
#include "data/forms/ModalCatcher.h"
#include "platform/registry/RegistryStore.h"
#include "reports/forms/ReportRenderer.h"
#include "support/TempDir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

using peltra::reports::FormReport;
using peltra::reports::ReportData;
using peltra::test::HandField;
namespace fs = std::filesystem;

namespace {

const std::string kBinding = "Абоненты";
const std::string kBig = "Большая";
const std::string kMissing = "Пропавшая";
const std::string kArchiveTask = "Должники";
const std::string kPlainTask = "Все";

const std::vector<HandField> kFields = {{"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"OTBOJ", 'N', 3, 0},
                                        {"DATA", 'D', 8, 0},   {"CLOCK", 'C', 8, 0}, {"FIO", 'C', 20, 0},
                                        {"SUMMA", 'N', 10, 2}};

std::string padRight(std::string text, std::size_t width)
{
    text.resize(width, ' ');
    return text;
}

std::string padLeft(const std::string& text, std::size_t width)
{
    return std::string(width - text.size(), ' ') + text;
}

// One subscriber's record; notified ones carry DATA and CLOCK.
std::string record(std::size_t i, bool notified)
{
    char money[16];
    std::snprintf(money, sizeof money, "%.2f", 10.0 + static_cast<double>(i % 100) * 1.25);
    return padRight(std::to_string(4950000000 + i), 12) + padLeft(std::to_string(i % 3), 3) + padLeft("0", 3) +
           (notified ? std::string("20261201") : std::string(8, ' ')) + padRight(notified ? "10:15:00" : "", 8) +
           padRight("Abonent " + std::to_string(i), 20) + padLeft(money, 10);
}

void writeTable(const fs::path& path, std::size_t rows, std::size_t notifiedEvery)
{
    std::vector<std::string> records;
    records.reserve(rows);
    for (std::size_t i = 0; i < rows; ++i)
        records.push_back(record(i, notifiedEvery != 0 && i % notifiedEvery == 0));
    peltra::test::writeFileBytes(path.string(), peltra::test::handTable({}, kFields, records));
}

}  // namespace

class FormReportTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::TempDir> m_dir;
    std::unique_ptr<peltra::platform::RegistryStore> m_registry;
    std::unique_ptr<peltra::config::ConfigStore> m_store;
    std::unique_ptr<peltra::config::TaskStore> m_tasks;

    template <typename T>
    static T* control(QWidget& form, const char* name)
    {
        T* widget = form.findChild<T*>(QString::fromLatin1(name));
        if (widget == nullptr)
            qFatal("control %s is missing", name);
        return widget;
    }

    static QStringList items(QComboBox* combo)
    {
        QStringList list;
        for (int i = 0; i < combo->count(); ++i)
            list << combo->itemText(i);
        return list;
    }

    static void pick(QComboBox* combo, const std::string& text)
    {
        const int index = combo->findText(QString::fromStdString(text));
        if (index < 0)
            qFatal("no entry %s", text.c_str());
        combo->setCurrentIndex(index);
    }

    static void tick(QListWidget* list, const QString& field, bool on)
    {
        const auto found = list->findItems(field, Qt::MatchExactly);
        if (found.isEmpty())
            qFatal("no field %s", qPrintable(field));
        found.front()->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }

    // Presses "Вывести" and waits for the read to end.
    static bool readAll(FormReport& form)
    {
        QTest::mouseClick(control<QPushButton>(form, "cb_show"), Qt::LeftButton);
        return QTest::qWaitFor([&] { return !form.isReading(); }, 20000);
    }

    static std::size_t column(const ReportData& data, const std::string& field)
    {
        for (std::size_t c = 0; c < data.columns.size(); ++c)
            if (data.columns[c].field == field)
                return c;
        qFatal("no column %s", field.c_str());
    }

    // A binding of 40 subscribers (every fourth notified) with notes, a task that keeps an
    // archive of 6 rows, and a task without one.
    void makeStation()
    {
        writeTable(*m_dir / "abon.dbf", 40, 4);
        writeTable(*m_dir / "arhiv.dbf", 6, 1);
        QCOMPARE(m_tasks->addBinding(kBinding, (*m_dir / "abon.dbf").string(), "Должники за ноябрь\r\nвторая строка"),
                 peltra::config::AddResult::Added);
        auto binding = m_tasks->binding(kBinding);
        QCOMPARE(binding->operators().add(kArchiveTask), peltra::config::AddResult::Added);
        QCOMPARE(binding->operators().add(kPlainTask), peltra::config::AddResult::Added);
        auto task = m_tasks->task(kBinding, kArchiveTask);
        QVERIFY(task->setNumber(peltra::config::TaskProperty::Arhive, 1));
        QVERIFY(task->setText(peltra::config::TaskProperty::ArhiveFile, (*m_dir / "arhiv.dbf").string()));
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<peltra::test::TempDir>();
        m_registry = std::make_unique<peltra::platform::RegistryStore>(*m_dir / "registry.db");
        m_store = std::make_unique<peltra::config::ConfigStore>(*m_registry);
        m_tasks = std::make_unique<peltra::config::TaskStore>(*m_store);
    }

    void cleanup()
    {
        m_tasks.reset();
        m_store.reset();
        m_registry.reset();
        m_dir.reset();
    }

    void controlsAndDefaults()
    {
        makeStation();
        writeTable(*m_dir / "other.dbf", 1, 0);
        QCOMPARE(m_tasks->addBinding("Второй", (*m_dir / "other.dbf").string(), ""), peltra::config::AddResult::Added);
        FormReport form(*m_store);
        QCOMPARE(form.windowTitle(), QStringLiteral("  Просмотр результатов"));
        QCOMPARE(control<QLabel>(form, "label_binding")->text(), QStringLiteral("Выберите базу данных:"));
        QCOMPARE(control<QLabel>(form, "label_task")->text(), QStringLiteral("Выберите задание:"));
        QCOMPARE(control<QLabel>(form, "label_sum")->text(), QStringLiteral("Суммировать по:"));
        auto* bindings = control<QComboBox>(form, "combo_binding");
        QCOMPARE(items(bindings), (QStringList{"Абоненты", "Второй"}));
        QCOMPARE(bindings->currentIndex(), 0);
        auto* tasks = control<QComboBox>(form, "combo_task");
        QStringList expectedTasks{"Весь файл"};
        for (const std::string& name : m_tasks->binding(kBinding)->operators().names())
            expectedTasks << QString::fromStdString(name);
        QCOMPARE(expectedTasks.size(), 3);
        QCOMPARE(items(tasks), expectedTasks);
        QCOMPARE(tasks->currentIndex(), 0);
        QCOMPARE(control<QPlainTextEdit>(form, "textb_notes")->toPlainText(),
                 QString::fromStdString("Файл: " + (*m_dir / "abon.dbf").string() +
                                        "\nКомментарии: Должники за ноябрь\nвторая строка"));
        QCOMPARE(control<QRadioButton>(form, "optb_all")->text(), QStringLiteral("Оповещенные и неоповещенные"));
        QCOMPARE(control<QRadioButton>(form, "optb_notified")->text(), QStringLiteral("Только оповещенные"));
        QCOMPARE(control<QRadioButton>(form, "optb_not_notified")->text(), QStringLiteral("Только неоповещенные"));
        QVERIFY(control<QRadioButton>(form, "optb_all")->isChecked());
        auto* period = control<QCheckBox>(form, "checkbox_period");
        QCOMPARE(period->text(), QStringLiteral("В период :"));
        QVERIFY(!period->isChecked());
        QVERIFY(!period->isEnabled());
        const QString today = QDate::currentDate().toString(QStringLiteral("dd/MM/yyyy"));
        for (const char* name : {"textb_from", "textb_to"}) {
            auto* field = control<QLineEdit>(form, name);
            QCOMPARE(field->text(), today);
            QCOMPARE(field->inputMask(), QStringLiteral("99/99/9999;_"));
            QVERIFY(!field->isEnabled());
        }
        QCOMPARE(control<QLabel>(form, "label_from")->text(), QStringLiteral("с"));
        QCOMPARE(control<QLabel>(form, "label_to")->text(), QStringLiteral("по"));
        // The period belongs to the notified rows only.
        control<QRadioButton>(form, "optb_notified")->setChecked(true);
        QVERIFY(period->isEnabled());
        QVERIFY(!control<QLineEdit>(form, "textb_from")->isEnabled());
        period->setChecked(true);
        QVERIFY(control<QLineEdit>(form, "textb_from")->isEnabled());
        control<QRadioButton>(form, "optb_not_notified")->setChecked(true);
        QVERIFY(!period->isEnabled());
        QVERIFY(!control<QLineEdit>(form, "textb_to")->isEnabled());

        // The numeric fields, none ticked.
        auto* sums = control<QListWidget>(form, "lv_sum");
        QStringList fields;
        for (int i = 0; i < sums->count(); ++i) {
            fields << sums->item(i)->text();
            QCOMPARE(sums->item(i)->checkState(), Qt::Unchecked);
        }
        QCOMPARE(fields, (QStringList{"PROBA", "OTBOJ", "SUMMA"}));
        QCOMPARE(control<QPushButton>(form, "cb_show")->text(), QStringLiteral("Вывести"));
        QCOMPARE(control<QPushButton>(form, "cb_print")->text(), QStringLiteral("Печать"));
        QVERIFY(!control<QPushButton>(form, "cb_print")->isEnabled());
        QCOMPARE(control<QPushButton>(form, "cb_close")->text(), QStringLiteral("Закрыть"));

        // Another binding: its own tasks (none), and notes without comments.
        pick(bindings, "Второй");
        QCOMPARE(items(tasks), (QStringList{"Весь файл"}));
        QCOMPARE(control<QPlainTextEdit>(form, "textb_notes")->toPlainText(),
                 QString::fromStdString("Файл: " + (*m_dir / "other.dbf").string()));
    }

    void noBindingsIsTold()
    {
        peltra::test::ModalCatcher catcher;
        FormReport form(*m_store);
        form.show();
        QTRY_COMPARE(catcher.boxes().size(), 1);
        QCOMPARE(catcher.boxes()[0].title, QStringLiteral("Ошибка"));
        QCOMPARE(catcher.boxes()[0].text, QStringLiteral("Нет доступных заданий"));
        QVERIFY(form.isVisible());
        QCOMPARE(control<QComboBox>(form, "combo_binding")->count(), 0);
        QVERIFY(!control<QPushButton>(form, "cb_show")->isEnabled());
        QVERIFY(control<QPushButton>(form, "cb_close")->isEnabled());
    }

    void readsTheWholeFileByTelephone()
    {
        makeStation();
        peltra::test::ModalCatcher catcher;
        FormReport form(*m_store);
        form.show();
        QVERIFY(readAll(form));
        QCOMPARE(catcher.boxes().size(), 0);
        const ReportData& data = form.report();
        QCOMPARE(data.rows.rowCount(), std::size_t{40});
        QCOMPARE(data.title, std::string("Абоненты : Весь файл"));
        QCOMPARE(data.info.rfind("Оповещенные и неоповещенные.", 0), std::size_t{0});
        const std::size_t telef = column(data, "TELEF");
        QCOMPARE(data.columns[telef].title, std::string("Телефон"));
        for (std::size_t r = 1; r < data.rows.rowCount(); ++r)
            QVERIFY2(data.rows.cell(r - 1, telef) < data.rows.cell(r, telef),
                     (std::string(data.rows.cell(r - 1, telef)) + " / " + std::string(data.rows.cell(r, telef))).c_str());
        QVERIFY(control<QPushButton>(form, "cb_print")->isEnabled());
        QVERIFY(!control<QTabWidget>(form, "tab_reports")->isTabVisible(1));
        QVERIFY(form.archiveReport() == nullptr);
        QCOMPARE(control<QLabel>(form, "label_status")->text(), QStringLiteral("Выбрано строк: 40"));
    }

    void modesChooseTheRows_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("period");
        QTest::addColumn<QString>("from");
        QTest::addColumn<int>("rows");
        QTest::newRow("1 notified") << "optb_notified" << false << "" << 10;
        QTest::newRow("2 notified in period") << "optb_notified" << true << "01/12/2026" << 10;
        QTest::newRow("3 notified, period after") << "optb_notified" << true << "02/12/2026" << 0;
        QTest::newRow("4 not notified") << "optb_not_notified" << false << "" << 30;
        QTest::newRow("5 not notified ignores the period") << "optb_not_notified" << true << "02/12/2026" << 30;
    }

    void modesChooseTheRows()
    {
        QFETCH(QString, mode);
        QFETCH(bool, period);
        QFETCH(QString, from);
        QFETCH(int, rows);
        makeStation();
        peltra::test::ModalCatcher catcher;
        FormReport form(*m_store);
        form.show();
        if (period) {
            control<QRadioButton>(form, "optb_notified")->setChecked(true);
            control<QCheckBox>(form, "checkbox_period")->setChecked(true);
            control<QLineEdit>(form, "textb_from")->setText(from);
            control<QLineEdit>(form, "textb_to")->setText(QStringLiteral("31/12/2026"));
        }
        control<QRadioButton>(form, qPrintable(mode))->setChecked(true);
        QVERIFY(readAll(form));
        QCOMPARE(catcher.boxes().size(), 0);
        QCOMPARE(form.report().rows.rowCount(), static_cast<std::size_t>(rows));
        QCOMPARE(form.report().columns.empty(), false);
    }

    void aWrongDateIsRefused()
    {
        makeStation();
        peltra::test::ModalCatcher catcher;
        FormReport form(*m_store);
        form.show();
        control<QRadioButton>(form, "optb_notified")->setChecked(true);
        control<QCheckBox>(form, "checkbox_period")->setChecked(true);
        auto* to = control<QLineEdit>(form, "textb_to");
        to->setText(QStringLiteral("31/02/2026"));
        QTest::mouseClick(control<QPushButton>(form, "cb_show"), Qt::LeftButton);
        QTRY_COMPARE(catcher.boxes().size(), 1);
        QCOMPARE(catcher.boxes()[0].title, QStringLiteral("Ошибка"));
        QVERIFY2(catcher.boxes()[0].text.contains(QStringLiteral("31/02/2026")), qPrintable(catcher.boxes()[0].text));
        QVERIFY(!form.isReading());
        QCOMPARE(form.focusWidget(), static_cast<QWidget*>(to));
        QVERIFY(form.report().columns.empty());
    }

    void tickingTotalsChangesOnlyWhatIsShown()
    {
        makeStation();
        FormReport form(*m_store);
        form.show();
        QVERIFY(readAll(form));
        int reads = 0;
        connect(&form, &FormReport::readingFinished, this, [&] { ++reads; });
        const ReportData& data = form.report();
        const std::size_t summa = column(data, "SUMMA");
        QVERIFY(!data.totalVisible[summa]);
        double expected = 0;
        for (std::size_t i = 0; i < 40; ++i)
            expected += 10.0 + static_cast<double>(i % 100) * 1.25;
        QCOMPARE(*data.totals[summa], expected);

        auto* view = form.findChild<peltra::reports::ReportView*>(QStringLiteral("ReportView"));
        QCOMPARE(view->renderer()->footerHeight(), 21.0);
        auto* sums = control<QListWidget>(form, "lv_sum");
        tick(sums, QStringLiteral("SUMMA"), true);
        QVERIFY(data.totalVisible[summa]);
        QVERIFY(!data.totalVisible[column(data, "PROBA")]);
        QCOMPARE(view->renderer()->footerHeight(), 42.0);
        tick(sums, QStringLiteral("SUMMA"), false);
        QVERIFY(!data.totalVisible[summa]);
        QCOMPARE(view->renderer()->footerHeight(), 21.0);
        QCOMPARE(data.rows.rowCount(), std::size_t{40});
        QCOMPARE(reads, 0);
        QVERIFY(!form.isReading());
    }

    void aTaskWithAnArchiveShowsItToo()
    {
        makeStation();
        peltra::test::ModalCatcher catcher;
        FormReport form(*m_store);
        form.show();
        pick(control<QComboBox>(form, "combo_task"), kArchiveTask);
        tick(control<QListWidget>(form, "lv_sum"), QStringLiteral("SUMMA"), true);
        QVERIFY(readAll(form));
        QCOMPARE(catcher.boxes().size(), 0);
        QCOMPARE(form.report().title, std::string("Абоненты : Должники"));
        QCOMPARE(form.report().rows.rowCount(), std::size_t{40});
        QVERIFY(form.archiveReport() != nullptr);
        QCOMPARE(form.archiveReport()->rows.rowCount(), std::size_t{6});
        QCOMPARE(form.archiveReport()->variant, peltra::reports::ReportVariant::ArchiveFile);
        QVERIFY(form.archiveReport()->totalVisible[column(*form.archiveReport(), "SUMMA")]);
        auto* tabs = control<QTabWidget>(form, "tab_reports");
        QVERIFY(tabs->isTabVisible(1));

        // A task without an archive hides the tab again.
        pick(control<QComboBox>(form, "combo_task"), kPlainTask);
        QVERIFY(readAll(form));
        QVERIFY(form.archiveReport() == nullptr);
        QVERIFY(!tabs->isTabVisible(1));
    }

    void aFailedReadIsTold()
    {
        QCOMPARE(m_tasks->addBinding(kMissing, (*m_dir / "gone.dbf").string(), ""), peltra::config::AddResult::Added);
        peltra::test::ModalCatcher catcher;
        FormReport form(*m_store);
        form.show();
        QVERIFY(readAll(form));
        QTRY_COMPARE(catcher.boxes().size(), 1);
        QVERIFY(!catcher.boxes()[0].text.isEmpty());
        QVERIFY(form.report().columns.empty());
        QVERIFY(!control<QPushButton>(form, "cb_print")->isEnabled());
        QCOMPARE(control<QPushButton>(form, "cb_show")->text(), QStringLiteral("Вывести"));
        QVERIFY(control<QPushButton>(form, "cb_show")->isEnabled());
    }

    void aMissingArchiveIsToldButTheTableShows()
    {
        makeStation();
        QVERIFY(std::filesystem::remove(*m_dir / "arhiv.dbf"));
        peltra::test::ModalCatcher catcher;
        FormReport form(*m_store);
        form.show();
        pick(control<QComboBox>(form, "combo_task"), kArchiveTask);
        QVERIFY(readAll(form));
        QTRY_COMPARE(catcher.boxes().size(), 1);
        QVERIFY(!catcher.boxes()[0].text.isEmpty());
        QCOMPARE(form.report().rows.rowCount(), std::size_t{40});
        QVERIFY(form.archiveReport() == nullptr);
        QVERIFY(!control<QTabWidget>(form, "tab_reports")->isTabVisible(1));
        QVERIFY(control<QPushButton>(form, "cb_print")->isEnabled());
    }

    void stopLeavesTheReportEmpty()
    {
        QElapsedTimer clock;
        clock.start();
        writeTable(*m_dir / "big.dbf", 200000, 7);
        QCOMPARE(m_tasks->addBinding(kBig, (*m_dir / "big.dbf").string(), ""), peltra::config::AddResult::Added);
        qInfo("200000-row table written in %lld ms", static_cast<long long>(clock.elapsed()));
        peltra::test::ModalCatcher catcher;
        FormReport form(*m_store);
        form.show();
        auto* show = control<QPushButton>(form, "cb_show");
        QTest::mouseClick(show, Qt::LeftButton);
        QVERIFY(form.isReading());
        QCOMPARE(show->text(), QStringLiteral("Остановить"));
        QVERIFY(show->isEnabled());
        for (const char* name : {"combo_binding", "combo_task", "optb_all", "optb_notified", "optb_not_notified",
                                 "lv_sum", "cb_close", "cb_print"})
            QVERIFY2(!control<QWidget>(form, name)->isEnabled(), name);
        // The window keeps answering while the rows are read.
        QTest::qWait(30);
        QVERIFY(form.isReading());

        clock.restart();
        QTest::mouseClick(show, Qt::LeftButton);
        QVERIFY(!form.isReading());
        QCOMPARE(show->text(), QStringLiteral("Вывести"));
        QVERIFY(control<QWidget>(form, "combo_binding")->isEnabled());
        QVERIFY(control<QWidget>(form, "cb_close")->isEnabled());
        QVERIFY(QTest::qWaitFor([&] { return show->isEnabled(); }, 20000));
        qInfo("worker handed back %lld ms after the stop", static_cast<long long>(clock.elapsed()));
        QTest::qWait(50);
        QCOMPARE(form.report().rows.rowCount(), std::size_t{0});
        QVERIFY(form.findChild<peltra::reports::ReportView*>(QStringLiteral("ReportView"))->report() == nullptr);
        QVERIFY(!control<QPushButton>(form, "cb_print")->isEnabled());
        QCOMPARE(catcher.boxes().size(), 0);
    }

    void aLargeReadKeepsTheWindowAnswering()
    {
        writeTable(*m_dir / "big.dbf", 200000, 7);
        QCOMPARE(m_tasks->addBinding(kBig, (*m_dir / "big.dbf").string(), ""), peltra::config::AddResult::Added);
        FormReport form(*m_store);
        form.show();
        auto* status = control<QLabel>(form, "label_status");
        QStringList seen;
        QElapsedTimer clock;
        clock.start();
        QTest::mouseClick(control<QPushButton>(form, "cb_show"), Qt::LeftButton);
        qint64 longestGap = 0;
        qint64 last = clock.elapsed();
        while (form.isReading() && clock.elapsed() < 30000) {
            QTest::qWait(10);
            longestGap = std::max(longestGap, clock.elapsed() - last);
            last = clock.elapsed();
            if (seen.isEmpty() || seen.back() != status->text())
                seen << status->text();
        }
        qInfo("200000 rows read in %lld ms; the window answered at least every %lld ms; %lld progress lines",
              static_cast<long long>(clock.elapsed()), static_cast<long long>(longestGap),
              static_cast<long long>(seen.size()));
        QVERIFY(!form.isReading());
        QCOMPARE(form.report().rows.rowCount(), std::size_t{200000});
        QVERIFY(longestGap < 500);
        QVERIFY(seen.filter(QStringLiteral("Прочитано строк: ")).size() >= 1);
        QCOMPARE(status->text(), QStringLiteral("Выбрано строк: 200000"));
        auto* view = form.findChild<peltra::reports::ReportView*>(QStringLiteral("ReportView"));
        QVERIFY(view->pageCount() > 200000 / 50);
    }

    void printWithoutPrinterOffersAPdf()
    {
        if (!QPrinterInfo::availablePrinters().isEmpty())
            QSKIP("a printer is installed here");
        makeStation();
        FormReport form(*m_store);
        const QString pdf = QString::fromStdString((*m_dir / "out").string());
        int asked = 0;
        form.setPdfPathChooser([&](QWidget*, const QString& suggested) {
            ++asked;
            return suggested.endsWith(QStringLiteral(".pdf")) ? pdf : QString();
        });
        form.show();
        QVERIFY(readAll(form));
        QTest::mouseClick(control<QPushButton>(form, "cb_print"), Qt::LeftButton);
        QCOMPARE(asked, 1);
        QVERIFY(QFile::exists(pdf + ".pdf"));
        QVERIFY(QFile(pdf + ".pdf").size() > 1000);
        QVERIFY(control<QLabel>(form, "label_status")->text().contains(pdf));
    }

    void screenshot()
    {
        makeStation();
        FormReport form(*m_store);
        form.show();
        pick(control<QComboBox>(form, "combo_task"), kArchiveTask);
        tick(control<QListWidget>(form, "lv_sum"), QStringLiteral("SUMMA"), true);
        control<QRadioButton>(form, "optb_notified")->setChecked(true);
        control<QCheckBox>(form, "checkbox_period")->setChecked(true);
        control<QLineEdit>(form, "textb_from")->setText(QStringLiteral("01/11/2026"));
        QVERIFY(readAll(form));
        QVERIFY(form.grab().save(QStringLiteral("FormReport.png")));
        QVERIFY(QFile::exists(QStringLiteral("FormReport.png")));
    }
};

QTEST_MAIN(FormReportTest)
#include "FormReportTest.moc"
