// The dialog "  Просмотр результатов": the operator picks a binding, a task, the rows wanted and
// the totals; the rows are read on a worker thread and shown as pages, which can be printed.
#pragma once

#include "config/ConfigStore.h"
#include "reports/ReportModel.h"
#include "reports/ReportReader.h"

#include <QDialog>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QListWidgetItem;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QShowEvent;
class QCloseEvent;
class QTabWidget;

namespace peltra::reports {

class ReportView;

// Lives on the UI thread. The worker gets a copy of the options and reaches the store through a
// TaskStore of its own (the store may be used from any thread); it only queues progress and its
// result back, never touches a widget and never waits on a dialog.
class FormReport : public QDialog {
    Q_OBJECT

public:
    FormReport(config::ConfigStore& store, QWidget* parent = nullptr);
    ~FormReport() override;

    // Asks where to save a PDF when no printer is available; an empty answer cancels. Tests
    // replace the file dialog with their own answer.
    using PdfPathChooser = std::function<QString(QWidget* parent, const QString& suggested)>;
    void setPdfPathChooser(PdfPathChooser chooser) { m_choosePdfPath = std::move(chooser); }

    // Whether rows are being read now.
    bool isReading() const { return m_reading; }
    // The reports shown: over the binding's table, and over the task's archive (when it keeps one).
    const ReportData& report() const { return *m_report; }
    const ReportData* archiveReport() const { return m_archive.get(); }
    // The options the next "Вывести" reads with, as the controls stand.
    ReportOptions options() const;

signals:
    // Every read ends with one of these (also a stopped one).
    void readingFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    struct Outcome;

    void loadBindings();
    void bindingChosen();
    void taskChosen();
    void modeChanged();
    void fillSumFields(const std::vector<ReportColumn>& columns);
    void sumFieldToggled(QListWidgetItem* item);
    void applyTotalsVisible(ReportData& data) const;
    void showPressed();
    void startReading();
    void stopReading();
    void finishReading(std::uint64_t generation, std::shared_ptr<Outcome> outcome);
    void showProgress(std::uint64_t generation, std::size_t rows);
    void setReadingState(bool reading);
    void showReports();
    void printPressed();
    bool checkDate(QLineEdit* field);
    void joinWorker();

    config::ConfigStore& m_store;
    PdfPathChooser m_choosePdfPath;
    bool m_bindingsChecked = false;

    std::thread m_worker;
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint64_t> m_generation{0};
    std::uint64_t m_workerGeneration = 0;  // the read m_worker runs
    bool m_reading = false;
    bool m_winding = false;  // a stopped worker has not handed back yet
    bool m_taskKeepsArchive = false;

    std::unique_ptr<ReportData> m_report;
    std::unique_ptr<ReportData> m_archive;

    QComboBox* m_binding;
    QComboBox* m_task;
    QPlainTextEdit* m_notes;
    QRadioButton* m_modeAll;
    QRadioButton* m_modeNotified;
    QRadioButton* m_modeNotNotified;
    QCheckBox* m_period;
    QLineEdit* m_from;
    QLineEdit* m_to;
    QListWidget* m_sums;
    QPushButton* m_show;
    QPushButton* m_print;
    QPushButton* m_close;
    QLabel* m_status;
    QTabWidget* m_tabs;
    ReportView* m_view;
    ReportView* m_archiveView;
};

}  // namespace peltra::reports
