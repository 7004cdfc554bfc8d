// The SQL browser's result window: runs a statement on a worker thread and shows its rows in a
// grid that can be printed, in a font of the user's choice; the statement can be edited, run
// again and saved.
#pragma once

#include "data/OdbcError.h"
#include "data/forms/FormNewTable.h"

#include <QAbstractTableModel>
#include <QFont>
#include <QStringList>
#include <QWidget>

#include <atomic>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class QLabel;
class QPlainTextEdit;
class QPrinter;
class QPushButton;
class QTableView;

namespace peltra::data {

// What one run of a statement gave.
struct SqlRunResult {
    bool ok = false;
    QStringList columns;              // the result's column names
    std::vector<QStringList> rows;    // the values as text, NULL as empty
    std::vector<OdbcError> errors;    // the connection's records when not ok
    bool stopped = false;             // the stop flag ended the reading: the rows are incomplete
};

// Runs the statement on a connection of its own to the data source, with the folder (when not
// empty) as the current qualifier, reading every row. A set stop flag ends the reading early
// (the rows read so far are kept). Any thread.
SqlRunResult runSql(const std::string& dataSource, const std::filesystem::path& folder, const std::string& sql,
                    const std::atomic<bool>* stop = nullptr);

// The grid's rows: a leading "№" column with the row number, then the result's columns. A new
// result replaces the old one in one reset, so the view only ever paints the rows it shows.
class SqlResultModel : public QAbstractTableModel {
    Q_OBJECT

public:
    using QAbstractTableModel::QAbstractTableModel;

    void setResult(QStringList columns, std::vector<QStringList> rows);
    void clear();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // The text of a cell, the row number included (column 0).
    QString text(int row, int column) const;

private:
    QStringList m_columns;
    std::vector<QStringList> m_rows;
};

// A window of its own (deleted on close when the opener sets Qt::WA_DeleteOnClose). The statement
// runs when the window is first shown and again on cb_run; while it runs label_status reads
// "Выполнение SQL запроса" and the window stays responsive. A failure shows "Невозможно выполнить
// SQL запрос." (caption "Ошибка") followed by the error boxes of the connection's records; a result
// without rows shows "Результат SQL запроса не содержит строк.". Closing after the statement was
// changed here asks whether to save it: Yes saves through the save dialog and closes once saved
// (a cancelled or failed save keeps the window open), No closes, Cancel keeps the window open.
// UI thread only; the destructor stops and waits for a statement still running.
class FormViewSource : public QWidget {
    Q_OBJECT

public:
    // Returns true when the printer was set up and printing should go on.
    using PrintDialog = std::function<bool(QWidget* parent, QPrinter& printer)>;
    // Returns the chosen font, nothing when cancelled.
    using FontDialog = std::function<std::optional<QFont>(QWidget* parent, const QFont& current)>;

    FormViewSource(const QString& sql, const QString& dataSource, const QString& folder, QWidget* parent = nullptr);
    ~FormViewSource() override;

    // Replace the system dialogs (tests set their own).
    void setSaveDialog(FileDialog dialog) { m_saveDialog = std::move(dialog); }
    void setPrintDialog(PrintDialog dialog) { m_printDialog = std::move(dialog); }
    void setFontDialog(FontDialog dialog) { m_fontDialog = std::move(dialog); }

    bool isRunning() const { return m_running; }
    QString sql() const;
    // The statement differs from the one the window was opened with or last saved.
    bool isSqlChanged() const;
    const SqlResultModel& model() const { return m_model; }

    // Paints the grid's rows (in the grid's font, shrunk to the page width when the columns are
    // wider) page after page, each with "Стр. N" at its foot. Returns the number of pages, 0 when
    // there was nothing to print or the printer could not be started.
    int printTo(QPrinter& printer) const;

    static const char* const kRunning;
    static const char* const kFailed;
    static const char* const kEmpty;
    static const char* const kAskSave;

public slots:
    void run();
    void print();
    void chooseFont();
    // Saves the statement through the save dialog; true once saved.
    bool save();

signals:
    // Emitted on the UI thread once a run's result is shown and its message boxes are closed.
    void finished(bool ok);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void present(SqlRunResult result);
    void stopWorker();
    void updateButtons();

    QString m_dataSource;
    QString m_folder;
    QString m_savedSql;
    FileDialog m_saveDialog;
    PrintDialog m_printDialog;
    FontDialog m_fontDialog;
    std::thread m_worker;
    std::atomic<bool> m_stop{false};
    bool m_running = false;
    bool m_started = false;
    SqlResultModel m_model;

    QPlainTextEdit* m_sql;
    QTableView* m_grid;
    QLabel* m_status;
    QPushButton* m_run;
    QPushButton* m_print;
    QPushButton* m_font;
    QPushButton* m_save;
};

}  // namespace peltra::data
