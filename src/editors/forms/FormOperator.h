// The task dialog: a new task of a binding, or the properties of an existing one.
#pragma once

#include "config/TaskStore.h"
#include "data/Connection.h"

#include <QDialog>
#include <QString>

#include <functional>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTreeWidget;
class QWidget;

namespace peltra::editors {

// "<binding> - Новое задание" (or "<binding> - <task>" for an existing one). Modal; lives on the
// UI thread. The field lists come from the binding's table, read when the dialog is built. OK
// checks the input, then creates the task (when new) and writes every property through the
// model; a refused input leaves the dialog open with the focus on the field. Whether the task
// left scheduling is for the caller to tell: it compares Valid before and after.
class FormOperator : public QDialog {
    Q_OBJECT

public:
    // Asks for the archive file: parent, title, initial folder; an empty text when cancelled.
    using FileChooser = std::function<QString(QWidget* parent, const QString& title, const QString& folder)>;

    // task empty: a new task of the binding.
    FormOperator(config::TaskStore& tasks, std::string binding, std::string task = {}, QWidget* parent = nullptr);

    const std::string& binding() const { return m_binding; }
    // The task's name: the one being edited, or the one OK created.
    const std::string& taskName() const { return m_task; }
    // OK created a new task (the caller then tells the user how to include it).
    bool created() const { return m_created; }

    // Replaces the file dialog of "Обзор" (tests use it).
    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }

    // Texts shown by the dialog.
    static const char* const kNameMissing;
    static const char* const kNameTaken;
    static const char* const kNameBad;
    static const char* const kRepeatFieldMissing;
    static const char* const kNoRepeatField;
    static const char* const kArchiveExtension;
    static const char* const kArchiveIsSource;
    static const char* const kWriteFailed;
    static const char* const kErrorTitle;
    static const char* const kBrowseTitle;
    static const char* const kTableUnreadable;

    // The type word and the size shown for a field in the lists ("Num", "10.2").
    static QString typeWord(char dbfType);
    static QString sizeText(const data::ColumnInfo& column);

public slots:
    void accept() override;

private:
    QWidget* buildSortGroup();
    QWidget* buildFilterGroup();
    QWidget* buildBehaviourGroup();
    QWidget* buildMoreGroup();
    void readColumns();
    void fill();
    void fillNew();
    // Shows the interval of the chosen unit, keeping the one shown so far.
    void switchRepeatUnit(int unit);
    void repeatClicked(bool checked);
    void browseArchive();
    void enableControls();

    // Checks every input; false (with the message shown and the focus set) on the first refusal.
    bool validate(std::string& name, std::string& archivePath);
    bool store(config::Operator& task, const std::string& archivePath);
    void refuse(QWidget* field, const QString& text, const QString& title = {});
    // The column of a list entry, or nothing when the entry is not one of the table's.
    const data::ColumnInfo* column(const std::string& name) const;
    std::string sourceFile();

    config::TaskStore& m_tasks;
    const std::string m_binding;
    std::string m_task;
    bool m_created = false;
    FileChooser m_chooseFile;
    std::vector<data::ColumnInfo> m_columns;
    std::optional<std::string> m_columnsError;
    std::uint32_t m_repeatDay = 1;
    std::uint32_t m_repeatMinute = 15;
    int m_shownUnit = 0;

    QLabel* m_tableError;
    QLineEdit* m_name;
    QTreeWidget* m_sortFields;
    QRadioButton* m_ascending;
    QRadioButton* m_descending;
    QRadioButton* m_filterNone;
    QRadioButton* m_filterRanges;
    QRadioButton* m_filterCondition;
    QComboBox* m_rangeField;
    QRadioButton* m_continue;
    QRadioButton* m_restart;
    QCheckBox* m_repeat;
    QSpinBox* m_interval;
    QComboBox* m_unit;
    QSpinBox* m_times;
    QComboBox* m_repeatField;
    QSpinBox* m_retryMinute;
    QSpinBox* m_maxAttempts;
    QCheckBox* m_archive;
    QLineEdit* m_archivePath;
    QPushButton* m_browse;
};

}  // namespace peltra::editors
