// The speech template of one task: its items in spoken order beside the lexeme catalogue, with
// items added from the catalogue, removed and moved.
#pragma once

#include "config/ConfigStore.h"
#include "speech/Patterns.h"

#include <QDialog>

#include <functional>
#include <string>
#include <vector>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace peltra::editors {

// Every change goes to the store at once, under the template's lock; the window only shows.
// A function or dictionary item speaks a field of the table: its field is chosen from fieldNames.
class FormTemplate : public QDialog {
    Q_OBJECT
public:
    // Asks which field a function or dictionary item speaks; nothing to cancel.
    using FieldChooser = std::function<std::optional<std::string>(const std::vector<std::string>& fields,
                                                                  const std::string& leafText)>;

    FormTemplate(config::ConfigStore& store, std::string binding, std::string task,
                 std::vector<std::string> fieldNames, QWidget* parent = nullptr);

    void setFieldChooser(FieldChooser chooser) { m_chooseField = std::move(chooser); }

    QTreeWidget* catalogueTree() const { return m_catalogue; }
    QTreeWidget* itemList() const { return m_items; }
    // The items as shown, in spoken order.
    const std::vector<speech::PatternItem>& items() const { return m_loaded; }

public slots:
    // Adds the catalogue leaf selected on the left after the selected item, or at the end.
    void addSelected();
    void removeSelected();
    void moveSelectedUp();
    void moveSelectedDown();
    void reload();

signals:
    void templateChanged();

private:
    void fillCatalogue(QTreeWidgetItem* parent, const std::string& path);
    std::string selectedItem() const;
    void select(const std::string& keyName);
    void report(const std::string& error);

    config::ConfigStore& m_store;
    std::string m_binding;
    std::string m_task;
    std::vector<std::string> m_fields;
    speech::Patterns m_patterns;
    std::vector<speech::PatternItem> m_loaded;
    FieldChooser m_chooseField;
    QTreeWidget* m_catalogue;
    QTreeWidget* m_items;
    QLabel* m_spoken;
};

}  // namespace peltra::editors
