// The main window "PELTRA": the menu, the answer field, the running tasks and the lines, the
// monitor window of every line, the status bar, the tray icon, and the guarded close.
#pragma once

#include "calls/ListLine.h"
#include "engine/ListActiveTasks.h"
#include "engine/Station.h"
#include "line/forms/LineMonitor.h"

#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTreeWidget>

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <tuple>

class QAction;
class QMessageBox;
class QVBoxLayout;

namespace peltra::data {
class FormChoiceSource;
}  // namespace peltra::data
namespace peltra::editors {
class FormLinking;
class FormTaskManager;
}  // namespace peltra::editors
namespace peltra::reports {
class FormReport;
}  // namespace peltra::reports
namespace peltra::sms {
class FormSmsTasks;
}  // namespace peltra::sms

namespace peltra::shell {

class FormPreference;
class FormWaitCompletion;

// Menu command identifiers.
enum MenuId {
    kMenuExit = 1001,
    kMenuPause = 1003,
    kMenuResume = 1004,
    kMenuTaskEditor = 1006,
    kMenuResults = 1007,
    kMenuSms = 1008,
    kMenuPorts = 1009,
    kMenuLexemeEditor = 1010,
    kMenuLinking = 1011,
    kMenuLocalPhone = 1012,
    kMenuSqlBrowser = 1014,
    kMenuPreferences = 1016,
    kMenuHelp = 1018,
    kMenuAbout = 1020,
};

class Mainf : public QMainWindow {
    Q_OBJECT
public:
    struct Paths {
        std::filesystem::path home;     // the station's home folder
        std::filesystem::path program;  // this program's file, for the autostart entry
        std::filesystem::path help;     // the help page
    };

    explicit Mainf(Paths paths, QWidget* parent = nullptr);
    ~Mainf() override;

    // The create handler's station steps: the flags, the port clean-up, the first pass, the probe,
    // the lines, the controller and the first wake-up. False, with the reason, when it failed.
    bool startStation(engine::Station& station, std::string& error);
    // A failed start told in a box, waited for: at logon nobody reads standard error.
    static void reportStartFailure(const std::string& error);
    engine::Station* station() { return m_station; }

    QAction* action(MenuId id) const;
    QTreeWidget* taskList() const { return m_tasks; }
    QTreeWidget* lineList() const { return m_lines; }
    QString answer() const { return m_answer->text(); }
    QString statusText(int part) const;
    line::LineMonitor* monitor(unsigned number) const;
    QSystemTrayIcon* trayIcon() const { return m_tray; }
    // Asks nothing when closing: the tests' and the shutdown's way out.
    void setQuiet(bool quiet) { m_quiet = quiet; }

    // What the engine shows, queued to this window's thread.
    void taskAdded(const engine::TaskRow& row);
    void taskChanged(const engine::TaskRow& row);
    void taskRemoved(std::uint32_t id);
    void workComplete();
    void lineAdded(unsigned number, const std::string& port);
    void lineRemoved(unsigned number);
    void lineChanged(unsigned number, const std::string& stateText, const std::string& taskText, calls::LineIcon icon,
                     const std::string& remark);
    void showAnswer(const std::string& word);
    void showMessage(const std::string& caption, const std::string& text);
    // A line's report: one box per line and fault at a time; the same report again while its box is
    // open goes to the line's log.
    void showLineMessage(unsigned number, const std::string& caption, const std::string& text);
    // The notice of an operator's command: a box the operator answers, without holding up the
    // engine.
    void showNotice(const std::string& caption, const std::string& text);
    void showSchedulerState(const std::string& text, bool paused);
    void showLocalPhoneState(const std::string& text, bool on);
    void addLineMonitor(unsigned number, const std::string& port);
    void removeLineMonitor(unsigned number);

    void pause();
    void resume();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildMenu();
    void buildWindow();
    void buildTray();
    void command(MenuId id);
    void notAvailable(const QString& what, const QString& instead);
    void fitColumns(QTreeWidget* list);
    QTreeWidgetItem* taskItem(std::uint32_t id) const;
    QTreeWidgetItem* lineItem(unsigned number) const;
    void showNormalAndRaise();
    // The shutdown steps; once only.
    void shutdownStation();

    Paths m_paths;
    engine::Station* m_station = nullptr;
    std::map<int, QAction*> m_actions;
    QLabel* m_answer = nullptr;
    QTreeWidget* m_tasks = nullptr;
    QTreeWidget* m_lines = nullptr;
    QVBoxLayout* m_monitorLayout = nullptr;
    std::map<unsigned, line::LineMonitor*> m_monitors;
    // The open box of each line's report, by line number, caption and text.
    std::map<std::tuple<unsigned, std::string, std::string>, QPointer<QMessageBox>> m_lineBoxes;
    QLabel* m_status[2] = {nullptr, nullptr};
    QSystemTrayIcon* m_tray = nullptr;
    QPointer<FormWaitCompletion> m_wait;
    FormPreference* m_preferences = nullptr;
    editors::FormTaskManager* m_taskManager = nullptr;
    editors::FormLinking* m_linking = nullptr;
    QPointer<reports::FormReport> m_results;
    QPointer<sms::FormSmsTasks> m_smsTasks;
    data::FormChoiceSource* m_sqlBrowser = nullptr;
    bool m_quiet = false;
    bool m_closing = false;
};

}  // namespace peltra::shell
