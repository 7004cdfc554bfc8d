// The preferences dialog: how the main window minimises, and start at logon.
#pragma once

#include "config/AppSettings.h"
#include "shell/dialogs/Properties.h"

#include <QDialog>

#include <filesystem>

class QCheckBox;
class QPushButton;

namespace peltra::shell {

// Created once and shown again on demand; every show reads the preferences afresh from the store.
// "OK" and "Применить" write them (with the autostart entry); "Отмена" discards the changes.
// User interface thread only.
class FormPreference : public QDialog {
    Q_OBJECT
public:
    // `program` and `home` are the station program's path and its home, written into the autostart entry.
    FormPreference(config::AppSettings& settings, std::filesystem::path program, std::filesystem::path home,
                   QWidget* parent = nullptr);

    // Reads the preferences from the store into the boxes; the dialog is then unmodified.
    void reload();
    bool isModified() const { return m_modified; }
    const Properties& properties() const { return m_properties; }

public slots:
    void accept() override;
    // Writes the boxes to the store; a failure is shown to the operator. false when it failed.
    bool apply();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void markModified();

    config::AppSettings& m_settings;
    std::filesystem::path m_program;
    std::filesystem::path m_home;
    Properties m_properties;
    bool m_modified = false;
    QCheckBox* m_minimizeLaunch = nullptr;
    QCheckBox* m_minimizeIcon = nullptr;
    QCheckBox* m_autoRun = nullptr;
    QPushButton* m_apply = nullptr;
};

}  // namespace peltra::shell
