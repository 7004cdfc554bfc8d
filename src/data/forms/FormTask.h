// The database binding dialog: a named database bound to its .dbf table, with notes.
#pragma once

#include "config/TaskStore.h"
#include "data/forms/FormNewTable.h"

#include <QDialog>

#include <optional>
#include <string>

class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace peltra::data {

// Modal. Adds a new binding, or edits the path and notes of an existing one (its name is then
// fixed). OK checks the name, the path and the table (SourceCheck) in that order; a refusal is a
// message box and the focus goes back to the field. What is accepted goes to the store at once
// and stored() is emitted. cb_browse picks the table file, cb_newtable opens FormNewTable, whose
// created table's path comes back into the path box. UI thread only.
class FormTask : public QDialog {
    Q_OBJECT

public:
    // editedBinding: the binding to edit, or nothing to add a new one.
    FormTask(config::TaskStore& store, std::optional<std::string> editedBinding, QWidget* parent = nullptr);

    // Replace the file dialogs: the browse dialog and the new table's "Сохранить как".
    void setBrowseDialog(FileDialog dialog) { m_browseDialog = std::move(dialog); }
    void setSaveDialog(FileDialog dialog) { m_saveDialog = std::move(dialog); }

    bool isEditing() const { return m_edited.has_value(); }

    static const char* const kEmptyName;
    static const char* const kEmptyPath;
    static const char* const kNameTaken;
    static const char* const kPathChanged;

signals:
    // A binding was added or changed in the store; name is the binding's.
    void stored(const QString& name);

public slots:
    void accept() override;
    void browse();
    // Opens FormNewTable; the table it creates becomes the path.
    void newTable();

private:
    bool refuse(const QString& message, QWidget* focus);
    bool storeNew(const std::string& name, const std::string& path, const std::string& comment);
    bool storeEdited(const std::string& path, const std::string& comment);

    config::TaskStore& m_store;
    std::optional<std::string> m_edited;
    FileDialog m_browseDialog;
    FileDialog m_saveDialog;

    QLineEdit* m_name;
    QLineEdit* m_path;
    QPlainTextEdit* m_comment;
};

}  // namespace peltra::data
