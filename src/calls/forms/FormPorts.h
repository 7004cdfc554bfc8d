// The dialog that chooses which of the present ports serve as lines.
#pragma once

#include "calls/PortSettings.h"
#include "config/ConfigStore.h"
#include "line/Form1.h"
#include "platform/sync/Event.h"

#include <QDialog>
#include <QIcon>
#include <QPointer>

#include <map>
#include <string>
#include <vector>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace peltra::calls {

class FormComProperty;

// Two lists, "Имя" and "Состояние": lv_1 the present ports that are not lines, lv_2 the lines.
// Ports move between them with cb_AddSel / cb_DelSel or by dragging; cb_AddSip makes the next
// SIP channel a line (SIP<n>, no device: its trunk carries it); cb_PropCom opens the selected
// port's settings. OK and Apply rewrite the configured ports (their parameter sub-keys
// stay as they are) and signal linesChanged; Cancel changes nothing. Lives on the UI thread.
class FormPorts : public QDialog {
    Q_OBJECT

public:
    // presentPorts: the probe's list of the ports on this machine. Which of them are lines is read
    // from the store; a configured port the probe did not find is listed among the lines as
    // missing, so that it is dropped only when the user removes it. A configured SIP channel is
    // never missing.
    FormPorts(config::ConfigStore& store, platform::Event& linesChanged, std::vector<line::ComString> presentPorts,
              QWidget* parent = nullptr);

    // Every listed port, each marked as a line as last applied.
    const std::vector<line::ComString>& ports() const { return m_ports; }

    static const char* const kAvailable;
    static const char* const kSaveFailed;
    static const char* const kSipChannel;

public slots:
    void accept() override;
    // Writes the lines and signals the change; false, with a message shown and nothing signalled,
    // when the store cannot be written.
    bool apply();
    void addSelected();
    void removeSelected();
    // Makes the lowest SIP<n> that is not a line one, and selects it.
    void addSipChannel();
    // Opens (or brings forward) the settings dialog of the selected port.
    void openProperties();

private:
    QTreeWidgetItem* addRow(QTreeWidget& list, std::size_t index);
    void moveSelected(QTreeWidget& from, QTreeWidget& to);
    // The port selected in either list, or an empty name.
    std::string selectedPort() const;
    void updateButtons();

    config::ConfigStore& m_store;
    PortSettings m_settings;
    platform::Event& m_linesChanged;
    std::vector<line::ComString> m_ports;
    QIcon m_availableIcon;
    QIcon m_unavailableIcon;

    QTreeWidget* m_free;
    QTreeWidget* m_lines;
    QPushButton* m_add;
    QPushButton* m_remove;
    QPushButton* m_addSip;
    QPushButton* m_properties;
    std::map<std::string, QPointer<FormComProperty>> m_propertyForms;
};

}  // namespace peltra::calls
