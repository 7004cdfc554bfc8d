// The SQL browser: connects to the data source and a folder of tables, lists the tables and the
// columns of the chosen one, composes a SELECT from the ticked columns (or takes one typed, loaded
// or saved as a file) and opens FormViewSource to run it.
#pragma once

#include "data/forms/FormNewTable.h"
#include "data/forms/FormViewSource.h"

#include <QWidget>

#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;
class QTableWidgetItem;

namespace peltra::data {

class Connection;

// A modeless window of its own. textb_source holds the data source name ("peltra"), textb_database
// a folder of tables or one .dbf file in it (cb_folder, cb_file). The window connects when first
// shown and whenever either box is changed: a failure shows "Невозможно выполнить соединение с
// источником данных." (caption "Ошибка"); otherwise label_tables reads "В источнике данных доступны
// таблицы:" and lv_tables lists the folder's tables ("Таблица", "Местоположение") except those
// whose columns cannot be listed or that have none; a chosen file's table is selected. lv_fields
// lists the selected table's columns ("Имя поля", "Тип") with check boxes; checkbox_allfields ticks
// them all. textb_sql shows "SELECT <ticked columns> FROM <table>" (names that need it in double
// quotes), empty without a table or a ticked column, and is read-only unless checkbox_manualsql is
// set. cb_load and cb_save read and write the text (loading sets manual SQL); cb_view opens
// FormViewSource with it. UI thread only.
class FormChoiceSource : public QWidget {
    Q_OBJECT

public:
    // initialFolder: the folder (or .dbf file) to start with; the current folder when empty.
    explicit FormChoiceSource(QWidget* parent = nullptr, const QString& initialFolder = QString());
    ~FormChoiceSource() override;

    // Replace the system dialogs (tests set their own): the folder browser, the table file
    // dialog, and the load and save dialogs (the save dialog is passed on to FormViewSource).
    void setFolderDialog(FileDialog dialog) { m_folderDialog = std::move(dialog); }
    void setFileDialog(FileDialog dialog) { m_fileDialog = std::move(dialog); }
    void setLoadDialog(FileDialog dialog) { m_loadDialog = std::move(dialog); }
    void setSaveDialog(FileDialog dialog) { m_saveDialog = std::move(dialog); }

    bool isConnected() const { return m_connection != nullptr; }
    QString sql() const;

    static const char* const kConnectFailed;
    static const char* const kTablesLabel;

signals:
    // After every connection attempt, its message box closed.
    void connectionChanged(bool connected);
    // A result window was opened.
    void viewOpened(FormViewSource* view);

public slots:
    // Connects again with the boxes' current contents.
    void reconnect();
    void chooseFolder();
    void chooseFile();
    void load();
    void save();
    void view();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void databaseEdited();
    void listColumns();
    void fieldChanged(QTableWidgetItem* item);
    void allFieldsToggled(bool checked);
    void manualToggled(bool checked);
    void composeSql();
    void updateButtons();
    QString selectedTable() const;

    FileDialog m_folderDialog;
    FileDialog m_fileDialog;
    FileDialog m_loadDialog;
    FileDialog m_saveDialog;
    std::unique_ptr<Connection> m_connection;
    QString m_connectedSource;    // the boxes' contents of the last attempt
    QString m_connectedDatabase;
    QString m_folder;             // the folder of the open connection
    bool m_started = false;
    bool m_syncing = false;       // ticks being set by the window itself

    QLineEdit* m_source;
    QLineEdit* m_database;
    QLabel* m_tablesLabel;
    QTableWidget* m_tables;
    QTableWidget* m_fields;
    QCheckBox* m_allFields;
    QCheckBox* m_manual;
    QPlainTextEdit* m_sql;
    QPushButton* m_view;
};

}  // namespace peltra::data
