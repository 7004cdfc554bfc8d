// The SMS task manager window "Свойства задания SMS": tasks, their source files and templates.
#pragma once

#include "config/ConfigStore.h"
#include "sms/SMSTasks.h"

#include <QDialog>

#include <functional>
#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace peltra::sms {

// lv_Tasks lists the tasks (column "Задание"; a name is edited in place, as "Новое" opens the new
// one's); textb_File with cb_Browse the source file, written at once; lv_Template the template
// (field items in brackets and another colour). Ticking checkbox_Edit copies the template into the
// editing copy "Temp", which cb_AddText, cb_AddField, cb_Up, cb_Down and cb_DelItem change;
// cb_Apply writes it back into the task, cb_Cancel drops it. While editing, every other command
// (another task, "Новое", "Удалить", "Обзор", a rename, closing) is refused with the editing
// message. cb_SaveAs stores the shown template under a name; cb_Load fetches one into the
// editing copy. Lives on the UI thread.
class FormSmsTasks : public QDialog {
    Q_OBJECT

public:
    FormSmsTasks(config::ConfigStore& store, QWidget* parent = nullptr);
    ~FormSmsTasks() override;

    static const char* const kTitle;
    static const char* const kEditingMessage;
    static const char* const kDuplicateMessage;
    static const char* const kCannotOpenSource;

    // What "Обзор" asks for a file with, given the folder to start in; an empty result cancels.
    // A file dialog by default; tests put their own.
    void setFileChooser(std::function<QString(const QString& startFolder)> chooser);

    bool isEditing() const { return m_editing; }
    // The task shown, or "".
    std::string currentTask() const;

public slots:
    void reject() override;
    void newTask();
    void deleteTask();
    void browse();
    void addText();
    void addField();
    void moveUp();
    void moveDown();
    void deleteItem();
    void apply();
    void cancel();
    void saveTemplateAs();
    void loadTemplate();

private:
    void fillTasks(const std::string& select);
    void showTask();
    void fillTemplate(const std::string& select = "");
    void setEditing(bool on);
    void onEditToggled(bool on);
    void onCurrentTaskChanged(QTreeWidgetItem* current, QTreeWidgetItem* previous);
    void onTaskRenamed(QTreeWidgetItem* item);
    void updateButtons();
    // Shows the editing message when editing; true when the command may go on.
    bool notEditing();
    // The patterns shown: the editing copy's while editing, else the task's.
    std::optional<SMSPatterns> shownPatterns();
    std::string selectedItem() const;
    void moveSelected(bool up);
    void showStoreError(const std::string& what);

    config::ConfigStore& m_store;
    SMSTasks m_tasks;
    bool m_editing = false;
    bool m_filling = false;
    std::function<QString(const QString&)> m_chooseFile;

    QTreeWidget* m_taskList;
    QLineEdit* m_file;
    QPushButton* m_browse;
    QListWidget* m_template;
    QCheckBox* m_edit;
    QPushButton* m_addText;
    QPushButton* m_addField;
    QPushButton* m_up;
    QPushButton* m_down;
    QPushButton* m_deleteItem;
    QPushButton* m_apply;
    QPushButton* m_cancel;
    QPushButton* m_saveAs;
    QPushButton* m_load;
    QPushButton* m_new;
    QPushButton* m_delete;
    QLabel* m_preview;
};

}  // namespace peltra::sms
