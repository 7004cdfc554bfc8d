// Tests of the preferences, their autostart entry and their dialog: Применить's enabling and what
// OK, Применить and Отмена keep.
#include "shell/dialogs/Properties.h"

#include "shell/dialogs/FormPreference.h"

#include "config/AppSettings.h"
#include "config/ConfigStore.h"
#include "platform/registry/RegistryStore.h"
#include "support/ReadOnlyFile.h"
#include "support/RunProgram.h"

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using peltra::shell::FormPreference;
using peltra::shell::Properties;
using peltra::test::readFile;

namespace {

// The value of one key of the [Desktop Entry] group, or "<missing>".
std::string entryValue(const std::string& text, const std::string& key)
{
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind(key + "=", 0) == 0)
            return line.substr(key.size() + 1);
    return "<missing>";
}

const std::filesystem::path kHome = "/var/lib/peltra";

// The command line a launcher runs for an Exec value, by the desktop entry format's own rules: the
// string escapes first, then the splitting at blanks outside double quotes, where a backslash
// quotes the next character, and "%%" is a lone '%'.
std::vector<std::string> execArguments(const std::string& value)
{
    std::string text;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char next = value[++i];
            text += next == 'n' ? '\n' : next == 't' ? '\t' : next == 'r' ? '\r' : next == 's' ? ' ' : next;
        } else {
            text += value[i];
        }
    }
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"')
                quoted = false;
            else if (c == '\\' && i + 1 < text.size())
                current += text[++i];
            else if (c == '%' && i + 1 < text.size() && text[i + 1] == '%')
                current += text[++i];
            else
                current += c;
        } else if (c == ' ') {
            if (inArgument)
                arguments.push_back(current);
            current.clear();
            inArgument = false;
        } else {
            inArgument = true;
            if (c == '"')
                quoted = true;
            else if (c == '%' && i + 1 < text.size() && text[i + 1] == '%')
                current += text[++i];
            else
                current += c;
        }
    }
    if (inArgument)
        arguments.push_back(current);
    return arguments;
}

}  // namespace

class PropertiesTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void autoRunWritesEntryWithFullPathAndSwitchingOffDeletesIt();
    void relativeProgramPathIsMadeAbsolute();
    void execLineQuotesWhatTheLauncherWouldSplit_data();
    void execLineQuotesWhatTheLauncherWouldSplit();
    void entryFollowsHomeWithoutXdgConfigHome();
    void readOnlyFolderLeavesEntryAsItWas();
    void dialogShowsTheStoreAndAnyChangeEnablesApply();
    void dialogApplyOkAndCancel();
    void dialogReportsAFailedAutostartButKeepsTheValues();

private:
    std::filesystem::path autostartEntry() const { return m_config / "autostart" / "peltra.desktop"; }
    static QCheckBox* box(FormPreference& form, const char* name) { return form.findChild<QCheckBox*>(name); }
    static void click(FormPreference& form, const char* name)
    {
        QWidget* widget = form.findChild<QCheckBox*>(name);
        if (!widget)
            widget = form.findChild<QPushButton*>(name);
        QTest::mouseClick(widget, Qt::LeftButton);
    }
    static bool applyEnabled(FormPreference& form) { return form.findChild<QPushButton*>("cb_apply")->isEnabled(); }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::filesystem::path m_config;
    std::unique_ptr<peltra::platform::RegistryStore> m_registry;
    std::unique_ptr<peltra::config::ConfigStore> m_store;
    std::unique_ptr<peltra::config::AppSettings> m_settings;
};

void PropertiesTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    const std::filesystem::path root = m_dir->path().toStdString();
    m_config = root / "config";
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(m_config.string()));
    m_registry = std::make_unique<peltra::platform::RegistryStore>(root / "registry.db");
    QVERIFY(m_registry->isOpen());
    m_store = std::make_unique<peltra::config::ConfigStore>(*m_registry);
    m_settings = std::make_unique<peltra::config::AppSettings>(*m_store);
}

void PropertiesTest::cleanup()
{
    m_settings.reset();
    m_store.reset();
    m_registry.reset();
    m_dir.reset();
}

void PropertiesTest::autoRunWritesEntryWithFullPathAndSwitchingOffDeletesIt()
{
    Properties properties;
    properties.setAutoRun(true);
    QVERIFY(!std::filesystem::exists(m_config));
    QVERIFY(properties.save(*m_settings, "/opt/peltra/bin/peltra", kHome));
    const std::string text = readFile(autostartEntry());
    QVERIFY(text.rfind("[Desktop Entry]\n", 0) == 0);
    QCOMPARE(entryValue(text, "Type"), std::string("Application"));
    QCOMPARE(entryValue(text, "Exec"), std::string("/opt/peltra/bin/peltra --home /var/lib/peltra /autorun"));
    QCOMPARE(entryValue(text, "X-GNOME-Autostart-enabled"), std::string("true"));
    // No temporary file of the atomic write is left next to the entry.
    int files = 0;
    for ([[maybe_unused]] const auto& item : std::filesystem::directory_iterator(autostartEntry().parent_path()))
        ++files;
    QCOMPARE(files, 1);

    // Saving again with another program path replaces the command.
    QVERIFY(properties.save(*m_settings, "/usr/local/bin/peltra", kHome));
    QCOMPARE(entryValue(readFile(autostartEntry()), "Exec"), std::string("/usr/local/bin/peltra --home /var/lib/peltra /autorun"));

    properties.setAutoRun(false);
    QVERIFY(properties.save(*m_settings, "/usr/bin/peltra", kHome));
    QVERIFY(!std::filesystem::exists(autostartEntry()));
    QVERIFY(std::filesystem::exists(autostartEntry().parent_path()));  // the folder is the desktop's
    QVERIFY(!m_settings->autoRun());
}

void PropertiesTest::relativeProgramPathIsMadeAbsolute()
{
    Properties properties;
    properties.setAutoRun(true);
    QVERIFY(properties.save(*m_settings, "./bin/../bin/peltra", "./x/../home"));
    const std::string expected = (std::filesystem::current_path() / "bin" / "peltra").string() + " --home " +
                                 (std::filesystem::current_path() / "home").string() + " /autorun";
    QCOMPARE(entryValue(readFile(autostartEntry()), "Exec"), expected);

    std::string error;
    QVERIFY(!properties.save(*m_settings, "", kHome, &error));
    QVERIFY(!error.empty());
    error.clear();
    QVERIFY(!properties.save(*m_settings, "/usr/bin/peltra", "", &error));
    QVERIFY(!error.empty());
}

void PropertiesTest::execLineQuotesWhatTheLauncherWouldSplit_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("home");
    QTest::addColumn<QString>("exec");
    QTest::newRow("1 plain") << "/usr/bin/peltra" << "/var/lib/peltra" << "/usr/bin/peltra --home /var/lib/peltra /autorun";
    QTest::newRow("2 blank") << "/opt/my station/peltra" << "/home/op/my calls"
                             << "\"/opt/my station/peltra\" --home \"/home/op/my calls\" /autorun";
    QTest::newRow("3 percent") << "/opt/100%/peltra" << "/srv/50%" << "/opt/100%%/peltra --home /srv/50%% /autorun";
    QTest::newRow("4 dollar") << "/opt/$x/peltra" << "/srv/p" << "\"/opt/\\\\$x/peltra\" --home /srv/p /autorun";
    QTest::newRow("5 quote") << "/opt/a\"b/peltra" << "/srv/p" << "\"/opt/a\\\\\"b/peltra\" --home /srv/p /autorun";
    QTest::newRow("6 backslash") << "/opt/a\\b/peltra" << "/srv/p" << "\"/opt/a\\\\\\\\b/peltra\" --home /srv/p /autorun";
    QTest::newRow("7 Cyrillic") << "/opt/Пельтра/peltra" << "/srv/Станция" << "/opt/Пельтра/peltra --home /srv/Станция /autorun";
    QTest::newRow("8 newline") << "/opt/a\nb/peltra" << "/srv/p" << "\"/opt/a\\nb/peltra\" --home /srv/p /autorun";
}

void PropertiesTest::execLineQuotesWhatTheLauncherWouldSplit()
{
    QFETCH(QString, program);
    QFETCH(QString, home);
    QFETCH(QString, exec);
    const std::string text = Properties::desktopEntry(program.toStdString(), home.toStdString());
    QCOMPARE(QString::fromStdString(entryValue(text, "Exec")), exec);
    QCOMPARE(int(std::count(text.begin(), text.end(), '\n')), 7);  // one line per key, however odd the path
    // What the launcher runs at logon: this program, on this station's home.
    const std::vector<std::string> expected{program.toStdString(), "--home", home.toStdString(), "/autorun"};
    QCOMPARE(execArguments(entryValue(text, "Exec")), expected);
}

void PropertiesTest::entryFollowsHomeWithoutXdgConfigHome()
{
    const QByteArray oldHome = qgetenv("HOME");
    const std::filesystem::path home = std::filesystem::path(m_dir->path().toStdString()) / "home";
    qunsetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QByteArray::fromStdString(home.string()));
    const auto entry = Properties::autostartFile();
    Properties properties;
    properties.setAutoRun(true);
    const bool saved = properties.save(*m_settings, "/usr/bin/peltra", kHome);
    qputenv("HOME", oldHome);
    QVERIFY(entry.has_value());
    QCOMPARE(entry->string(), (home / ".config" / "autostart" / "peltra.desktop").string());
    QVERIFY(saved);
    QVERIFY(std::filesystem::exists(*entry));
}

void PropertiesTest::readOnlyFolderLeavesEntryAsItWas()
{
    Properties properties;
    properties.setAutoRun(true);
    QVERIFY(properties.save(*m_settings, "/usr/bin/peltra", kHome));
    const std::string before = readFile(autostartEntry());

    peltra::test::ReadOnlyFile lock(autostartEntry().parent_path());
    if (!lock.isReadOnly())
        QSKIP("this system lets the folder be written whatever its mode");
    std::string error;
    QVERIFY(!properties.save(*m_settings, "/opt/other/peltra", kHome, &error));  // cannot replace
    QVERIFY(!error.empty());
    QCOMPARE(readFile(autostartEntry()), before);

    properties.setAutoRun(false);
    properties.setMinimizeIcon(true);
    QVERIFY(!properties.save(*m_settings, "/usr/bin/peltra", kHome, &error));  // cannot delete
    QCOMPARE(readFile(autostartEntry()), before);
    QVERIFY(!m_settings->autoRun());
    QVERIFY(m_settings->minimizeIcon());
}

void PropertiesTest::dialogShowsTheStoreAndAnyChangeEnablesApply()
{
    m_settings->setMinimizeIcon(true);
    FormPreference form(*m_settings, "/usr/bin/peltra", kHome);
    form.show();
    QVERIFY(!box(form, "checkbox_minimize_launch")->isChecked());
    QVERIFY(box(form, "checkbox_minimize_icon")->isChecked());
    QVERIFY(!box(form, "checkbox_autorun")->isChecked());
    for (const char* name : {"checkbox_minimize_launch", "checkbox_minimize_icon", "checkbox_autorun"}) {
        QVERIFY(!applyEnabled(form));
        QVERIFY(!form.isModified());
        click(form, name);
        QVERIFY2(form.isModified() && applyEnabled(form), name);
        // Unticking again is still a change the operator made.
        click(form, name);
        QVERIFY2(applyEnabled(form), name);
        click(form, "cb_apply");
    }
}

void PropertiesTest::dialogApplyOkAndCancel()
{
    FormPreference form(*m_settings, "/usr/bin/peltra", kHome);
    QSignalSpy accepted(&form, &QDialog::accepted);
    QSignalSpy rejected(&form, &QDialog::rejected);
    form.show();
    click(form, "checkbox_minimize_icon");
    click(form, "checkbox_autorun");
    QVERIFY(!m_settings->minimizeIcon());  // nothing written before Применить
    click(form, "cb_apply");
    QVERIFY(form.isVisible());
    QVERIFY(!form.isModified() && !applyEnabled(form));
    QVERIFY(!m_settings->minimizeLaunch() && m_settings->minimizeIcon() && m_settings->autoRun());
    QVERIFY(std::filesystem::exists(autostartEntry()));

    // Отмена keeps nothing of what was ticked since.
    click(form, "checkbox_minimize_launch");
    click(form, "checkbox_minimize_icon");
    click(form, "checkbox_autorun");
    click(form, "cb_cancel");
    QCOMPARE(rejected.count(), 1);
    QVERIFY(!form.isVisible());
    QVERIFY(!m_settings->minimizeLaunch() && m_settings->minimizeIcon() && m_settings->autoRun());
    QVERIFY(std::filesystem::exists(autostartEntry()));

    // Opened again, it shows the store as it is now, changed elsewhere meanwhile.
    m_settings->setMinimizeLaunch(true);
    form.show();
    QVERIFY(box(form, "checkbox_minimize_launch")->isChecked());
    QVERIFY(!form.isModified() && !applyEnabled(form));
    click(form, "checkbox_minimize_icon");
    click(form, "checkbox_autorun");
    click(form, "cb_ok");
    QCOMPARE(accepted.count(), 1);
    QVERIFY(!form.isVisible());
    QVERIFY(m_settings->minimizeLaunch() && !m_settings->minimizeIcon() && !m_settings->autoRun());
    QVERIFY(!std::filesystem::exists(autostartEntry()));
}

void PropertiesTest::dialogReportsAFailedAutostartButKeepsTheValues()
{
    // A plain file where the autostart folder should be: no user can create the entry.
    std::filesystem::create_directories(m_config);
    std::ofstream(m_config / "autostart") << "not a folder";
    FormPreference form(*m_settings, "/usr/bin/peltra", kHome);
    form.show();
    click(form, "checkbox_minimize_icon");
    click(form, "checkbox_autorun");
    QString warning;
    QTimer::singleShot(0, this, [&warning] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            warning = box->text();
            box->accept();
        }
    });
    QVERIFY(!form.apply());
    QVERIFY(warning.contains(QStringLiteral("автозапуска")));
    QVERIFY(m_settings->minimizeIcon());
    QVERIFY(m_settings->autoRun());
    QCOMPARE(readFile(m_config / "autostart"), std::string("not a folder"));
}

QTEST_MAIN(PropertiesTest)
#include "PropertiesTest.moc"
