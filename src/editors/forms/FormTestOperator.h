// The task test window: runs the self-test of one task on a worker thread and shows its report
// line by line.
#pragma once

#include "config/TaskStore.h"
#include "editors/TaskTest.h"

#include <QDialog>

#include <functional>
#include <string>
#include <thread>

class QCloseEvent;
class QListWidget;
class QPushButton;
class QShowEvent;

namespace peltra::editors {

// "Peltra - тестирование задания". The test starts when the window is first shown (one test per
// window) and cannot be interrupted: OK and Cancel stay disabled and the window cannot be closed
// until it ends. Then Cancel is enabled, and in mode 1 OK is enabled when no critical error was
// found; a query that failed opens the query checker with its statement and error record before
// testFinished. Closing with OK in mode 1 means the user confirms; the caller then includes the task
// with includeTestedTask(tasks, report()), which refuses a task changed since the test.
// Lives on the UI thread; the worker only queues lines to it.
class FormTestOperator : public QDialog {
    Q_OBJECT

public:
    enum Mode { TestOnly = 0, BeforeInclude = 1 };

    // What the worker runs; tests replace it to pace the report.
    using Runner = std::function<TaskTestReport(config::TaskStore& tasks, const std::string& binding,
                                                const std::string& task,
                                                const std::function<void(const std::string&)>& onLine)>;

    FormTestOperator(config::TaskStore& tasks, std::string binding, std::string task, int mode,
                     QWidget* parent = nullptr);
    ~FormTestOperator() override;

    // Replaces the test the worker runs; only before the window is shown.
    void setRunner(Runner runner) { m_runner = std::move(runner); }

    int mode() const { return m_mode; }
    bool isRunning() const { return m_running; }
    bool isFinished() const { return m_finished; }
    // The whole report, once the test has finished.
    const TaskTestReport& report() const { return m_report; }

signals:
    void testFinished();

public slots:
    void reject() override;
    void accept() override;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void start();
    void addLine(const QString& text);
    void finish(TaskTestReport report);

    config::TaskStore& m_tasks;
    const std::string m_binding;
    const std::string m_task;
    const int m_mode;
    Runner m_runner;
    std::thread m_worker;
    bool m_started = false;
    bool m_running = false;
    bool m_finished = false;
    TaskTestReport m_report;

    QListWidget* m_lines;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};

}  // namespace peltra::editors
