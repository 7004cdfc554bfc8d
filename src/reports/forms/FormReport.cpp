// The dialog "  Просмотр результатов": choice of binding, task, rows and totals, the reading on a
// worker thread, the pages on screen and their printing.
#include "reports/forms/FormReport.h"

#include "config/TaskStore.h"
#include "data/forms/OdbcErrorMessageBox.h"
#include "reports/ReportFilter.h"
#include "reports/forms/ReportRenderer.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <set>

namespace peltra::reports {

namespace {

const QString kErrorTitle = QStringLiteral("Ошибка");
const QString kShowText = QStringLiteral("Вывести");
const QString kStopText = QStringLiteral("Остановить");
const QString kDateMask = QStringLiteral("99/99/9999;_");
const QString kDateFormat = QStringLiteral("dd/MM/yyyy");
// How often the worker reports its progress, at most.
constexpr std::chrono::milliseconds kProgressInterval(100);

QString qs(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

// What the worker hands back: the report over the table and, when the task keeps one, over its
// archive.
struct FormReport::Outcome {
    ReportData table;
    ReadResult tableResult;
    std::optional<ReportData> archive;
    ReadResult archiveResult;
};

FormReport::FormReport(config::ConfigStore& store, QWidget* parent)
    : QDialog(parent), m_store(store), m_report(std::make_unique<ReportData>())
{
    setObjectName("FormReport");
    setWindowTitle(QStringLiteral("  Просмотр результатов"));
    setWindowFlag(Qt::WindowMaximizeButtonHint, true);
    m_choosePdfPath = [](QWidget* owner, const QString& suggested) {
        return QFileDialog::getSaveFileName(owner, QStringLiteral("Принтер не найден: сохранить отчёт в PDF"),
                                            suggested, QStringLiteral("PDF (*.pdf)"));
    };

    auto* bindingLabel = new QLabel(QStringLiteral("Выберите базу данных:"), this);
    bindingLabel->setObjectName("label_binding");
    m_binding = new QComboBox(this);
    m_binding->setObjectName("combo_binding");
    bindingLabel->setBuddy(m_binding);

    auto* taskLabel = new QLabel(QStringLiteral("Выберите задание:"), this);
    taskLabel->setObjectName("label_task");
    m_task = new QComboBox(this);
    m_task->setObjectName("combo_task");
    taskLabel->setBuddy(m_task);

    m_notes = new QPlainTextEdit(this);
    m_notes->setObjectName("textb_notes");
    m_notes->setReadOnly(true);
    m_notes->setFixedHeight(64);
    m_notes->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    auto* modes = new QGroupBox(this);
    modes->setObjectName("groupb_mode");
    m_modeAll = new QRadioButton(QStringLiteral("Оповещенные и неоповещенные"), modes);
    m_modeAll->setObjectName("optb_all");
    m_modeNotified = new QRadioButton(QStringLiteral("Только оповещенные"), modes);
    m_modeNotified->setObjectName("optb_notified");
    m_modeNotNotified = new QRadioButton(QStringLiteral("Только неоповещенные"), modes);
    m_modeNotNotified->setObjectName("optb_not_notified");
    m_modeAll->setChecked(true);

    m_period = new QCheckBox(QStringLiteral("В период :"), modes);
    m_period->setObjectName("checkbox_period");
    const QString today = QDate::currentDate().toString(kDateFormat);
    auto makeDate = [&](const char* name) {
        auto* field = new QLineEdit(modes);
        field->setObjectName(name);
        field->setInputMask(kDateMask);
        field->setText(today);
        field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("00/00/00000")) + 16);
        return field;
    };
    m_from = makeDate("textb_from");
    m_to = makeDate("textb_to");
    auto* fromLabel = new QLabel(QStringLiteral("с"), modes);
    fromLabel->setObjectName("label_from");
    auto* toLabel = new QLabel(QStringLiteral("по"), modes);
    toLabel->setObjectName("label_to");

    auto* modeLayout = new QVBoxLayout(modes);
    modeLayout->addWidget(m_modeAll);
    modeLayout->addWidget(m_modeNotified);
    modeLayout->addWidget(m_modeNotNotified);
    modeLayout->addWidget(m_period);
    auto* periodRow = new QHBoxLayout;
    periodRow->addSpacing(18);
    periodRow->addWidget(fromLabel);
    periodRow->addWidget(m_from);
    periodRow->addSpacing(6);
    periodRow->addWidget(toLabel);
    periodRow->addWidget(m_to);
    periodRow->addStretch(1);
    modeLayout->addLayout(periodRow);

    auto* sumLabel = new QLabel(QStringLiteral("Суммировать по:"), this);
    sumLabel->setObjectName("label_sum");
    m_sums = new QListWidget(this);
    m_sums->setObjectName("lv_sum");
    sumLabel->setBuddy(m_sums);

    m_show = new QPushButton(kShowText, this);
    m_show->setObjectName("cb_show");
    m_show->setDefault(true);
    m_print = new QPushButton(QStringLiteral("Печать"), this);
    m_print->setObjectName("cb_print");
    m_print->setEnabled(false);
    m_close = new QPushButton(QStringLiteral("Закрыть"), this);
    m_close->setObjectName("cb_close");
    m_status = new QLabel(this);
    m_status->setObjectName("label_status");
    m_status->setWordWrap(true);

    auto* left = new QVBoxLayout;
    left->addWidget(bindingLabel);
    left->addWidget(m_binding);
    left->addWidget(taskLabel);
    left->addWidget(m_task);
    left->addWidget(m_notes);
    left->addWidget(modes);
    left->addWidget(sumLabel);
    m_sums->setMaximumHeight(160);
    left->addWidget(m_sums);
    left->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_show);
    buttons->addWidget(m_print);
    buttons->addWidget(m_close);
    left->addLayout(buttons);
    left->addWidget(m_status);
    auto* leftPanel = new QWidget(this);
    leftPanel->setLayout(left);
    leftPanel->setFixedWidth(330);
    left->setContentsMargins(0, 0, 0, 0);

    m_tabs = new QTabWidget(this);
    m_tabs->setObjectName("tab_reports");
    m_view = new ReportView(m_tabs);
    m_archiveView = new ReportView(m_tabs);
    m_archiveView->setObjectName("ReportViewArchive");
    m_tabs->addTab(m_view, QStringLiteral("Результаты"));
    m_tabs->addTab(m_archiveView, QStringLiteral("Архив"));
    m_tabs->setTabVisible(1, false);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(leftPanel);
    layout->addWidget(m_tabs, 1);
    resize(1200, 760);

    connect(m_binding, &QComboBox::currentIndexChanged, this, &FormReport::bindingChosen);
    connect(m_task, &QComboBox::currentIndexChanged, this, &FormReport::taskChosen);
    connect(m_modeAll, &QRadioButton::toggled, this, &FormReport::modeChanged);
    connect(m_modeNotified, &QRadioButton::toggled, this, &FormReport::modeChanged);
    connect(m_modeNotNotified, &QRadioButton::toggled, this, &FormReport::modeChanged);
    connect(m_period, &QCheckBox::toggled, this, &FormReport::modeChanged);
    connect(m_sums, &QListWidget::itemChanged, this, &FormReport::sumFieldToggled);
    connect(m_show, &QPushButton::clicked, this, &FormReport::showPressed);
    connect(m_print, &QPushButton::clicked, this, &FormReport::printPressed);
    connect(m_close, &QPushButton::clicked, this, &FormReport::reject);

    loadBindings();
    modeChanged();
}

FormReport::~FormReport()
{
    m_stop = true;
    // The worker never waits on this window and checks the stop flag every few hundred rows.
    joinWorker();
}

void FormReport::joinWorker()
{
    if (m_worker.joinable())
        m_worker.join();
}

void FormReport::loadBindings()
{
    config::TaskStore tasks(m_store);
    const QSignalBlocker block(m_binding);
    m_binding->clear();
    for (const std::string& name : tasks.bindingNames())
        m_binding->addItem(qs(name));
    m_binding->setCurrentIndex(m_binding->count() > 0 ? 0 : -1);
    bindingChosen();
}

void FormReport::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_bindingsChecked)
        return;
    m_bindingsChecked = true;
    if (m_binding->count() == 0) {
        // After the window is on screen, so the box has an owner to sit on.
        QTimer::singleShot(0, this, [this] { QMessageBox::critical(this, kErrorTitle, QStringLiteral("Нет доступных заданий")); });
    }
}

void FormReport::bindingChosen()
{
    const bool any = m_binding->count() > 0;
    for (QWidget* control : std::initializer_list<QWidget*>{m_binding, m_task, m_notes, m_modeAll, m_modeNotified,
                                                            m_modeNotNotified, m_sums})
        control->setEnabled(any);
    m_show->setEnabled(any && !m_winding);
    {
        const QSignalBlocker block(m_task);
        m_task->clear();
        m_task->addItem(QString::fromUtf8(kWholeFile));
    }
    m_notes->clear();
    fillSumFields({});
    if (!any) {
        modeChanged();
        taskChosen();
        return;
    }

    config::TaskStore tasks(m_store);
    const std::string name = m_binding->currentText().toStdString();
    if (std::optional<config::Task> binding = tasks.binding(name)) {
        {
            const QSignalBlocker block(m_task);
            for (const std::string& task : binding->operators().names())
                m_task->addItem(qs(task));
        }
        QString notes = QStringLiteral("Файл: ") + qs(binding->file());
        const std::string comment = binding->comment();
        if (!comment.empty())
            notes += QStringLiteral("\r\nКомментарии: ") + qs(comment);
        // The notes keep Windows line ends in the store; the box shows them as line breaks.
        notes.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        m_notes->setPlainText(notes);

        ReportOptions options;
        options.binding = name;
        ReadResult result;
        if (std::optional<std::vector<ReportColumn>> columns = reportColumns(tasks, options, result))
            fillSumFields(*columns);
        else
            m_status->setText(qs(result.message));
    }
    m_task->setCurrentIndex(0);
    taskChosen();
}

void FormReport::taskChosen()
{
    m_taskKeepsArchive = false;
    if (m_task->currentIndex() <= 0)
        return;
    config::TaskStore tasks(m_store);
    if (std::optional<config::Operator> task =
            tasks.task(m_binding->currentText().toStdString(), m_task->currentText().toStdString()))
        m_taskKeepsArchive = task->flag(config::TaskProperty::Arhive);
}

void FormReport::modeChanged()
{
    const bool notified = m_modeNotified->isChecked() && m_binding->count() > 0 && !m_reading;
    m_period->setEnabled(notified);
    m_from->setEnabled(notified && m_period->isChecked());
    m_to->setEnabled(notified && m_period->isChecked());
}

void FormReport::fillSumFields(const std::vector<ReportColumn>& columns)
{
    const QSignalBlocker block(m_sums);
    m_sums->clear();
    for (const ReportColumn& column : columns) {
        if (column.kind != ColumnKind::Decimal)
            continue;
        auto* item = new QListWidgetItem(qs(column.field), m_sums);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }
}

void FormReport::applyTotalsVisible(ReportData& data) const
{
    std::set<std::string> ticked;
    for (int i = 0; i < m_sums->count(); ++i)
        if (m_sums->item(i)->checkState() == Qt::Checked)
            ticked.insert(m_sums->item(i)->text().toStdString());
    data.totalVisible.assign(data.columns.size(), false);
    for (std::size_t c = 0; c < data.columns.size(); ++c)
        data.totalVisible[c] = data.columns[c].kind == ColumnKind::Decimal && ticked.count(data.columns[c].field) > 0;
}

void FormReport::sumFieldToggled(QListWidgetItem*)
{
    // Only what is shown changes; the rows stay as they were read.
    applyTotalsVisible(*m_report);
    m_view->refresh();
    if (m_archive) {
        applyTotalsVisible(*m_archive);
        m_archiveView->refresh();
    }
}

ReportOptions FormReport::options() const
{
    ReportOptions options;
    options.binding = m_binding->currentText().toStdString();
    if (m_task->currentIndex() > 0)
        options.task = m_task->currentText().toStdString();
    options.mode = m_modeNotified->isChecked()      ? ReportMode::Notified
                   : m_modeNotNotified->isChecked() ? ReportMode::NotNotified
                                                    : ReportMode::All;
    if (options.mode == ReportMode::Notified && m_period->isChecked())
        options.period = ReportPeriod{m_from->text().toStdString(), m_to->text().toStdString()};
    for (int i = 0; i < m_sums->count(); ++i)
        if (m_sums->item(i)->checkState() == Qt::Checked)
            options.sumFields.push_back(m_sums->item(i)->text().toStdString());
    return options;
}

bool FormReport::checkDate(QLineEdit* field)
{
    ReportOptions one;
    one.mode = ReportMode::Notified;
    one.period = ReportPeriod{field->text().toStdString(), field->text().toStdString()};
    const std::optional<std::string> wrong = checkPeriod(one);
    if (!wrong)
        return true;
    QMessageBox::warning(this, kErrorTitle, qs(*wrong));
    field->setFocus();
    field->selectAll();
    return false;
}

void FormReport::showPressed()
{
    if (m_reading) {
        stopReading();
        return;
    }
    if (m_binding->count() == 0)
        return;
    if (m_modeNotified->isChecked() && m_period->isChecked() && (!checkDate(m_from) || !checkDate(m_to)))
        return;
    startReading();
}

void FormReport::startReading()
{
    joinWorker();  // a stopped read that has already handed back; returns at once
    m_stop = false;
    const std::uint64_t generation = ++m_generation;

    m_view->setReport(nullptr);
    m_archiveView->setReport(nullptr);
    m_tabs->setTabVisible(1, false);
    m_report = std::make_unique<ReportData>();
    m_archive.reset();
    setReadingState(true);
    m_status->setText(QStringLiteral("Чтение таблицы..."));

    ReportOptions options = this->options();
    const bool archive = m_taskKeepsArchive && options.task.has_value();
    config::ConfigStore* store = &m_store;
    m_worker = std::thread([this, store, options, archive, generation]() mutable {
        auto outcome = std::make_shared<Outcome>();
        config::TaskStore tasks(*store);
        auto last = std::chrono::steady_clock::now();
        const auto keepGoing = [this, generation, &last](std::size_t rows) {
            if (m_stop.load())
                return false;
            const auto now = std::chrono::steady_clock::now();
            if (now - last >= kProgressInterval) {
                last = now;
                QMetaObject::invokeMethod(
                    this, [this, generation, rows] { showProgress(generation, rows); }, Qt::QueuedConnection);
            }
            return true;
        };
        outcome->tableResult = readReport(tasks, options, outcome->table, keepGoing);
        if (archive && outcome->tableResult.outcome == ReadOutcome::Done) {
            options.variant = ReportVariant::ArchiveFile;
            outcome->archive.emplace();
            outcome->archiveResult = readReport(tasks, options, *outcome->archive, keepGoing);
        }
        QMetaObject::invokeMethod(
            this, [this, generation, outcome] { finishReading(generation, outcome); }, Qt::QueuedConnection);
    });
    m_workerGeneration = generation;
}

void FormReport::stopReading()
{
    // The read ends at the worker's next look at the flag; what it hands back then is dropped,
    // and the report stays empty.
    m_stop = true;
    ++m_generation;
    m_winding = true;
    setReadingState(false);
    m_status->setText(QStringLiteral("Чтение остановлено."));
    emit readingFinished();
}

void FormReport::showProgress(std::uint64_t generation, std::size_t rows)
{
    if (generation == m_generation && m_reading)
        m_status->setText(QStringLiteral("Прочитано строк: %1").arg(static_cast<qulonglong>(rows)));
}

void FormReport::finishReading(std::uint64_t generation, std::shared_ptr<Outcome> outcome)
{
    // The worker's last call: it is about to return.
    if (generation == m_workerGeneration) {
        joinWorker();
        m_winding = false;
        m_show->setEnabled(m_binding->count() > 0);
    }
    if (generation != m_generation)
        return;  // stopped meanwhile
    setReadingState(false);

    // The reader fills the header texts; the ticks are the dialog's.
    auto finish = [&](ReportData& data, ReportVariant variant) {
        data.variant = variant;
        applyTotalsVisible(data);
    };

    auto tell = [this](const ReadResult& result, const QString& fallback) {
        if (!result.errors.empty())
            data::showErrors(this, result.errors);
        else
            QMessageBox::warning(this, kErrorTitle, result.message.empty() ? fallback : qs(result.message));
    };

    QString status;
    if (outcome->tableResult.outcome == ReadOutcome::Done) {
        m_report = std::make_unique<ReportData>(std::move(outcome->table));
        finish(*m_report, ReportVariant::BindingTable);
        status = QStringLiteral("Выбрано строк: %1").arg(static_cast<qulonglong>(m_report->rows.rowCount()));
        if (outcome->archive && outcome->archiveResult.outcome == ReadOutcome::Done) {
            m_archive = std::make_unique<ReportData>(std::move(*outcome->archive));
            finish(*m_archive, ReportVariant::ArchiveFile);
            status += QStringLiteral(", в архиве: %1").arg(static_cast<qulonglong>(m_archive->rows.rowCount()));
        }
    } else {
        status = outcome->tableResult.outcome == ReadOutcome::Stopped ? QStringLiteral("Чтение остановлено.")
                                                                       : QStringLiteral("Ошибка чтения таблицы.");
    }
    m_status->setText(status);
    showReports();

    if (outcome->tableResult.outcome == ReadOutcome::Failed)
        tell(outcome->tableResult, QStringLiteral("Не удалось прочитать таблицу."));
    else if (outcome->archive && outcome->archiveResult.outcome == ReadOutcome::Failed)
        tell(outcome->archiveResult, QStringLiteral("Не удалось прочитать архив задания."));
    emit readingFinished();
}

void FormReport::showReports()
{
    const bool shown = !m_report->columns.empty();
    m_view->setReport(shown ? m_report.get() : nullptr);
    m_archiveView->setReport(m_archive.get());
    m_tabs->setTabVisible(1, m_archive != nullptr);
    if (m_archive == nullptr)
        m_tabs->setCurrentIndex(0);
    m_print->setEnabled(shown && !m_reading);
}

void FormReport::setReadingState(bool reading)
{
    m_reading = reading;
    m_show->setText(reading ? kStopText : kShowText);
    const bool any = m_binding->count() > 0;
    for (QWidget* control : std::initializer_list<QWidget*>{m_binding, m_task, m_modeAll, m_modeNotified,
                                                            m_modeNotNotified, m_sums, m_close})
        control->setEnabled(!reading && (any || control == m_close));
    m_print->setEnabled(!reading && !m_report->columns.empty());
    // A stopped worker still winding down holds "Вывести" back until it has handed back.
    m_show->setEnabled(any && (reading || !m_winding));
    modeChanged();
}

void FormReport::printPressed()
{
    const bool archive = m_tabs->currentIndex() == 1 && m_archive != nullptr;
    const ReportData& data = archive ? *m_archive : *m_report;
    if (data.columns.empty())
        return;
    if (QPrinterInfo::availablePrinters().isEmpty()) {
        const QString suggested =
            QDir::home().filePath(archive ? QStringLiteral("archive.pdf") : QStringLiteral("report.pdf"));
        QString path = m_choosePdfPath(this, suggested);
        if (path.isEmpty())
            return;
        if (!path.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive))
            path += QStringLiteral(".pdf");
        QString error;
        if (writeReportPdf(data, path, error))
            m_status->setText(QStringLiteral("Отчёт сохранён: ") + path);
        else
            QMessageBox::warning(this, kErrorTitle, error);
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setDocName(QString::fromStdString(data.title));
    if (!printer.isValid()) {
        QMessageBox::warning(this, kErrorTitle, QStringLiteral("Принтер недоступен."));
        return;
    }
    printReport(data, printer);
    m_status->setText(QStringLiteral("Отчёт отправлен на печать: ") + printer.printerName());
}

void FormReport::reject()
{
    if (m_reading)
        stopReading();
    QDialog::reject();
}

void FormReport::closeEvent(QCloseEvent* event)
{
    if (m_reading)
        stopReading();
    QDialog::closeEvent(event);
}

}  // namespace peltra::reports
