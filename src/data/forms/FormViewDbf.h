// The query checker: what a task with a given filter condition and sort would select from its
// table, run on a worker thread and shown as a log, a grid and a status line.
#pragma once

#include "data/TableChecks.h"

#include <QDialog>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>

class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace peltra::data {

// Modal. The query starts when the window is first shown; its result is queued back to the UI
// thread, then the message boxes follow ("Ошибок не обнаружено. ..." or "Ошибка выполнения SQL
// запроса." with the error boxes). Closing the window ends it with Accepted when the query ran
// without errors and Rejected otherwise, so a caller can use exec()'s result. UI thread only;
// the destructor waits for a query still running.
class FormViewDbf : public QDialog {
    Q_OBJECT

public:
    FormViewDbf(const QString& caption, std::filesystem::path table, std::string condition,
                std::string sortColumn, bool ascending, QWidget* parent = nullptr);
    // Shows a check already run elsewhere (the task test's) as the window shows its own: the log
    // with the statement, the rows, the boxes; the query is not run again.
    FormViewDbf(const QString& caption, QueryCheck check, QWidget* parent = nullptr);
    ~FormViewDbf() override;

    bool isFinished() const { return m_result.has_value(); }
    // The check's result once finished.
    const std::optional<QueryCheck>& result() const { return m_result; }
    bool succeeded() const { return m_result && m_result->ok; }
    // The binding's code page of an unmarked table ("866", "1251", "" to judge it), before it is shown.
    void setUnmarkedCodePage(std::string codePage) { m_unmarkedCodePage = std::move(codePage); }

    static const char* const kBoxCaption;

public slots:
    // Any way of closing the window gives the query's result.
    void reject() override;

signals:
    // Emitted on the UI thread after the result is shown and its message boxes are closed.
    void finished(bool ok);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void start();
    void present(QueryCheck check);
    void closeWithResult();

    std::filesystem::path m_table;
    std::string m_condition;
    std::string m_sortColumn;
    bool m_ascending;
    std::string m_unmarkedCodePage;
    std::thread m_worker;
    bool m_started = false;
    std::optional<QueryCheck> m_given;  // the check to show instead of running one
    std::optional<QueryCheck> m_result;

    QPlainTextEdit* m_log;
    QTableWidget* m_grid;
    QLabel* m_status;
    QPushButton* m_close;
};

}  // namespace peltra::data
