// Tests of the preferences dialog: Применить's enabling and what OK, Применить and Отмена keep.
#include "shell/dialogs/FormPreference.h"

#include "config/AppSettings.h"
#include "config/ConfigStore.h"
#include "platform/registry/RegistryStore.h"

#include <QCheckBox>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <filesystem>
#include <fstream>
#include <memory>

using peltra::shell::FormPreference;

class FormPreferenceTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void showsTheStoredValues();
    void anyChangeEnablesApply_data();
    void anyChangeEnablesApply();
    void applySavesAndStaysOpen();
    void okSavesAndCloses();
    void cancelDiscards();
    void reopeningShowsTheStoreAfresh();
    void failedAutostartIsReportedButValuesAreKept();

private:
    QCheckBox* box(FormPreference& form, const char* name) const { return form.findChild<QCheckBox*>(name); }
    QPushButton* button(FormPreference& form, const char* name) const { return form.findChild<QPushButton*>(name); }
    std::filesystem::path autostartEntry() const { return m_config / "autostart" / "peltra.desktop"; }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::filesystem::path m_config;
    std::unique_ptr<peltra::platform::RegistryStore> m_registry;
    std::unique_ptr<peltra::config::ConfigStore> m_store;
    std::unique_ptr<peltra::config::AppSettings> m_settings;
};

void FormPreferenceTest::init()
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

void FormPreferenceTest::cleanup()
{
    m_settings.reset();
    m_store.reset();
    m_registry.reset();
    m_dir.reset();
}

void FormPreferenceTest::showsTheStoredValues()
{
    m_settings->setMinimizeLaunch(false);
    m_settings->setMinimizeIcon(true);
    m_settings->setAutoRun(false);
    FormPreference form(*m_settings, "/usr/bin/peltra", "/var/lib/peltra");
    form.show();
    QVERIFY(!box(form, "checkbox_minimize_launch")->isChecked());
    QVERIFY(box(form, "checkbox_minimize_icon")->isChecked());
    QVERIFY(!box(form, "checkbox_autorun")->isChecked());
    QVERIFY(!button(form, "cb_apply")->isEnabled());
    QVERIFY(!form.isModified());
}

void FormPreferenceTest::anyChangeEnablesApply_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("1 launch") << "checkbox_minimize_launch";
    QTest::newRow("2 icon") << "checkbox_minimize_icon";
    QTest::newRow("3 autorun") << "checkbox_autorun";
}

void FormPreferenceTest::anyChangeEnablesApply()
{
    QFETCH(QString, name);
    FormPreference form(*m_settings, "/usr/bin/peltra", "/var/lib/peltra");
    form.show();
    QTest::mouseClick(box(form, name.toUtf8().constData()), Qt::LeftButton);
    QVERIFY(form.isModified());
    QVERIFY(button(form, "cb_apply")->isEnabled());
    // Unticking again is still a change the operator made.
    QTest::mouseClick(box(form, name.toUtf8().constData()), Qt::LeftButton);
    QVERIFY(button(form, "cb_apply")->isEnabled());
}

void FormPreferenceTest::applySavesAndStaysOpen()
{
    FormPreference form(*m_settings, "/usr/bin/peltra", "/var/lib/peltra");
    form.show();
    QTest::mouseClick(box(form, "checkbox_minimize_icon"), Qt::LeftButton);
    QTest::mouseClick(box(form, "checkbox_autorun"), Qt::LeftButton);
    QVERIFY(!m_settings->minimizeIcon());  // nothing written before Применить
    QTest::mouseClick(button(form, "cb_apply"), Qt::LeftButton);
    QVERIFY(form.isVisible());
    QVERIFY(!form.isModified());
    QVERIFY(!button(form, "cb_apply")->isEnabled());
    QVERIFY(!m_settings->minimizeLaunch());
    QVERIFY(m_settings->minimizeIcon());
    QVERIFY(m_settings->autoRun());
    QVERIFY(std::filesystem::exists(autostartEntry()));
}

void FormPreferenceTest::okSavesAndCloses()
{
    FormPreference form(*m_settings, "/usr/bin/peltra", "/var/lib/peltra");
    QSignalSpy accepted(&form, &QDialog::accepted);
    form.show();
    QTest::mouseClick(box(form, "checkbox_minimize_launch"), Qt::LeftButton);
    QTest::mouseClick(box(form, "checkbox_autorun"), Qt::LeftButton);
    QTest::mouseClick(button(form, "cb_ok"), Qt::LeftButton);
    QCOMPARE(accepted.count(), 1);
    QVERIFY(!form.isVisible());
    QVERIFY(m_settings->minimizeLaunch());
    QVERIFY(!m_settings->minimizeIcon());
    QVERIFY(m_settings->autoRun());
    QVERIFY(std::filesystem::exists(autostartEntry()));
}

void FormPreferenceTest::cancelDiscards()
{
    m_settings->setMinimizeIcon(true);
    FormPreference form(*m_settings, "/usr/bin/peltra", "/var/lib/peltra");
    QSignalSpy rejected(&form, &QDialog::rejected);
    form.show();
    QTest::mouseClick(box(form, "checkbox_minimize_launch"), Qt::LeftButton);
    QTest::mouseClick(box(form, "checkbox_minimize_icon"), Qt::LeftButton);
    QTest::mouseClick(box(form, "checkbox_autorun"), Qt::LeftButton);
    QTest::mouseClick(button(form, "cb_cancel"), Qt::LeftButton);
    QCOMPARE(rejected.count(), 1);
    QVERIFY(!form.isVisible());
    QVERIFY(!m_settings->minimizeLaunch());
    QVERIFY(m_settings->minimizeIcon());
    QVERIFY(!m_settings->autoRun());
    QVERIFY(!std::filesystem::exists(autostartEntry()));
}

void FormPreferenceTest::reopeningShowsTheStoreAfresh()
{
    FormPreference form(*m_settings, "/usr/bin/peltra", "/var/lib/peltra");
    form.show();
    QTest::mouseClick(box(form, "checkbox_minimize_launch"), Qt::LeftButton);
    QTest::mouseClick(button(form, "cb_cancel"), Qt::LeftButton);
    m_settings->setAutoRun(true);  // changed elsewhere meanwhile
    form.show();
    QVERIFY(!box(form, "checkbox_minimize_launch")->isChecked());
    QVERIFY(box(form, "checkbox_autorun")->isChecked());
    QVERIFY(!button(form, "cb_apply")->isEnabled());
    QVERIFY(!form.isModified());
}

void FormPreferenceTest::failedAutostartIsReportedButValuesAreKept()
{
    std::filesystem::create_directories(m_config);
    std::ofstream(m_config / "autostart") << "not a folder";
    FormPreference form(*m_settings, "/usr/bin/peltra", "/var/lib/peltra");
    form.show();
    QTest::mouseClick(box(form, "checkbox_minimize_icon"), Qt::LeftButton);
    QTest::mouseClick(box(form, "checkbox_autorun"), Qt::LeftButton);

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
}

QTEST_MAIN(FormPreferenceTest)
#include "FormPreferenceTest.moc"
