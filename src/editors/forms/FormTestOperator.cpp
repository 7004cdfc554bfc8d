// The task test window: runs the self-test of one task on a worker thread and shows its report
// line by line.
#include "editors/forms/FormTestOperator.h"

#include "config/forms/FormCondition.h"
#include "data/forms/FormViewDbf.h"

#include <QCloseEvent>
#include <QColor>
#include <QDialogButtonBox>
#include <QListWidget>
#include <QMetaObject>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

namespace peltra::editors {

FormTestOperator::FormTestOperator(config::TaskStore& tasks, std::string binding, std::string task, int mode,
                                   QWidget* parent)
    : QDialog(parent), m_tasks(tasks), m_binding(std::move(binding)), m_task(std::move(task)), m_mode(mode),
      m_runner([](config::TaskStore& store, const std::string& b, const std::string& t,
                  const std::function<void(const std::string&)>& onLine) { return runTaskTest(store, b, t, onLine); })
{
    setObjectName("FormTestOperator");
    setWindowTitle(QStringLiteral("Peltra - тестирование задания"));
    setModal(true);

    m_lines = new QListWidget(this);
    m_lines->setObjectName("lb_report");
    m_lines->setMinimumSize(620, 380);
    m_lines->setSelectionMode(QAbstractItemView::ExtendedSelection);

    auto* buttons = new QDialogButtonBox(this);
    m_ok = buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    m_ok->setObjectName("cb_OK");
    m_cancel = buttons->addButton(QStringLiteral("Отмена"), QDialogButtonBox::RejectRole);
    m_cancel->setObjectName("cb_Cancel");
    m_ok->setVisible(m_mode == BeforeInclude);
    m_ok->setEnabled(false);
    m_cancel->setEnabled(false);
    connect(buttons, &QDialogButtonBox::accepted, this, &FormTestOperator::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &FormTestOperator::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lines, 1);
    layout->addWidget(buttons);
}

FormTestOperator::~FormTestOperator()
{
    // The worker never waits on this window: it only queues to it, so joining cannot deadlock.
    // Its queued calls die with the window.
    if (m_worker.joinable())
        m_worker.join();
}

void FormTestOperator::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_started)
        start();
}

void FormTestOperator::start()
{
    m_started = true;
    m_running = true;
    m_ok->setEnabled(false);
    m_cancel->setEnabled(false);
    m_lines->clear();
    m_worker = std::thread([this, runner = m_runner] {
        TaskTestReport report = runner(m_tasks, m_binding, m_task, [this](const std::string& line) {
            QMetaObject::invokeMethod(
                this, [this, text = QString::fromStdString(line)] { addLine(text); }, Qt::QueuedConnection);
        });
        QMetaObject::invokeMethod(
            this, [this, report = std::move(report)]() mutable { finish(std::move(report)); }, Qt::QueuedConnection);
    });
}

void FormTestOperator::addLine(const QString& text)
{
    auto* item = new QListWidgetItem(text, m_lines);
    // Findings stand out from the description of the task.
    if (text.startsWith(QString::fromUtf8(kCriticalPrefix)))
        item->setForeground(QColor(0xb0, 0x00, 0x00));
    else if (text.startsWith(QString::fromUtf8(kWarningPrefix)))
        item->setForeground(QColor(0xa0, 0x50, 0x00));
    m_lines->scrollToItem(item);
}

void FormTestOperator::finish(TaskTestReport report)
{
    // The last queued call of the worker: it is about to return.
    if (m_worker.joinable())
        m_worker.join();
    m_report = std::move(report);
    m_running = false;
    m_finished = true;
    m_cancel->setEnabled(true);
    m_ok->setEnabled(m_mode == BeforeInclude && m_report.passed());
    if (m_ok->isEnabled())
        m_ok->setDefault(true);
    else
        m_cancel->setDefault(true);
    m_lines->scrollToBottom();
    // A query that failed shows why: the query checker with its statement and the driver's error
    // record, as the condition editor's "Тест" shows them.
    if (m_report.queryRun && !m_report.query.ok) {
        data::FormViewDbf checker(QString::fromUtf8(config::FormCondition::kTestTitle), m_report.query, this);
        checker.exec();
    }
    emit testFinished();
}

void FormTestOperator::accept()
{
    if (m_running || !m_ok->isVisible() || !m_ok->isEnabled())
        return;
    QDialog::accept();
}

void FormTestOperator::reject()
{
    if (m_running)
        return;
    QDialog::reject();
}

void FormTestOperator::closeEvent(QCloseEvent* event)
{
    if (m_running) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

}  // namespace peltra::editors
