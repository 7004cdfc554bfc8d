// The dialog that creates a new source table: the five bookkeeping columns are already in place,
// the user adds his own, and the table is created and saved where he chooses.
#pragma once

#include "data/OdbcError.h"

#include <QDialog>
#include <QString>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

class QComboBox;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace peltra::data {

// A file dialog: returns the chosen path, or an empty text when cancelled. The windows use the
// system's dialogs unless one is set (tests set their own).
using FileDialog = std::function<QString(QWidget* parent, const QString& caption, const QString& filter)>;

// One column of the table to create.
struct FieldRow {
    std::string name;
    std::string typeWord;    // as the statement declares it: "Char", "numeric", "char", "date", ...
    std::string sizePart;    // "(12)", "(9,2)", or empty
    std::string shownType;   // as the grid shows it: Num, Char, Date, Log
    std::string shownLength; // "12", "10,2", "8", "1"
    bool removable = true;
};

// Modal. The grid (lv_fields: "Имя", "Тип", "Длина") holds TELEF, PROBA, OTBOJ, DATA and CLOCK,
// which cannot be removed; textb_name, combo_type, textb_width and textb_decimals describe a column
// to add (cb_add), cb_remove takes away a selected added column, cb_create creates the table.
// On success the dialog emits created(path) and closes with Accepted. UI thread only.
class FormNewTable : public QDialog {
    Q_OBJECT

public:
    explicit FormNewTable(QWidget* parent = nullptr);

    // Replaces the "Сохранить как" dialog.
    void setSaveDialog(FileDialog dialog) { m_saveDialog = std::move(dialog); }

    const std::vector<FieldRow>& fields() const { return m_fields; }
    // The statement that creates the table under the given name, rows in grid order.
    std::string createStatement(const std::string& tableName) const;
    // The path of the table created, once created.
    const QString& createdPath() const { return m_createdPath; }

    static const char* const kTitle;
    static const char* const kTempTableName;  // "__tmp__.dbf"

signals:
    void created(const QString& path);

public slots:
    // Adds the column the boxes describe, after the checks; false when refused.
    bool addField();
    void removeSelected();
    // Creates the table, asks where to save it and moves it there; false when it stays open.
    bool createTable();

private:
    void appendRow(FieldRow row);
    void onTypeChanged();
    void onWidthEdited();
    void onDecimalsEdited();
    void updateButtons();
    bool refuse(const QString& text, QWidget* focus);
    void reportCreateFailure(const QString& text, const std::vector<OdbcError>& errors);
    QString askDestination();

    std::vector<FieldRow> m_fields;
    FileDialog m_saveDialog;
    QString m_createdPath;

    QTreeWidget* m_grid;
    QLineEdit* m_name;
    QComboBox* m_type;
    QLineEdit* m_width;
    QLineEdit* m_decimals;
    QPushButton* m_add;
    QPushButton* m_remove;
    QPushButton* m_create;
};

}  // namespace peltra::data
