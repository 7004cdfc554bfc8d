// The line chooser: both lists with their states, moving ports between them, and what OK, Apply
// and Cancel leave in the store; one port's settings dialog: filled from the store, OK writes every
// value in its order, Cancel writes nothing, and the arrow buttons keep their ranges; SIP channels:
// added as lines without a device, and their dialog edits the trunk and never shows its password.
#include "calls/forms/FormPorts.h"

#include "calls/PortSettings.h"
#include "calls/forms/FormComProperty.h"
#include "calls/forms/UpDown.h"
#include "line/Form1.h"
#include "platform/errors/SystemError.h"
#include "platform/sync/Event.h"
#include "support/ConfigFormTools.h"
#include "support/ConfigTestStore.h"
#include "support/ReadOnlyFile.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTreeWidget>

#include <algorithm>
#include <cerrno>
#include <map>
#include <memory>

using peltra::calls::FormComProperty;
using peltra::calls::FormPorts;
using peltra::calls::UpDown;
using peltra::line::ComString;
using peltra::platform::RegistryStore;
using peltra::platform::RegistryValue;
using Names = std::vector<std::string>;
using Values = std::map<std::string, std::string>;
using peltra::test::click;
using peltra::test::control;

namespace {

const std::string kPortsKey = "Software\\PELTRA\\Ports";

// What the probe found: three usable ports and one held by another program.
std::vector<ComString> probed()
{
    return {{"COM1", false, 0, {}}, {"COM2", false, 0, {}}, {"COM3", false, EACCES, {}}, {"COM4", false, 0, {}}};
}

const std::string kPort = "COM3";
const std::string kPortKey = "Software\\PELTRA\\Ports\\COM3";

// The eleven values in the order OK writes them.
const std::vector<std::string> kWriteOrder = {"CallMode", "RingOff",    "DelayFirst",     "WaitAnswer",
                                              "DelayW",   "NeedPrefix", "Prefix",         "DelayP",
                                              "NeedPrefixTown", "PrefixTown", "TypeAnswer"};

RegistryValue dword(std::uint32_t n) { return RegistryValue::dword(n); }
RegistryValue text(const char* s) { return RegistryValue::text(s); }

// A trunk value: stored, as its box shows it, typed over, as OK stores it.
struct TrunkValue { const char *name, *box; RegistryValue stored; const char *shown, *typed; RegistryValue written; };
const TrunkValue kTrunkValues[] = {
    {"Proxy", "textb_proxy", text("sip:127.0.0.1:5070"), "sip:127.0.0.1:5070", "sip:127.0.0.1:5080",
     text("sip:127.0.0.1:5080")},
    {"Domain", "textb_domain", text("station.test"), "station.test", "127.0.0.1", text("127.0.0.1")},
    {"User", "textb_user", text("1001"), "1001", "1002", text("1002")},
    {"AuthUser", "textb_authuser", text("auth1"), "auth1", "auth2", text("auth2")},
    {"LocalAddress", "textb_localaddress", text("127.0.0.1"), "127.0.0.1", "127.0.0.2", text("127.0.0.2")},
    {"LocalPort", "textb_localport", dword(5062), "5062", "5064", dword(5064)},
    {"Expires", "textb_expires", dword(600), "600", "1200", dword(1200)},
    {"Codecs", "textb_codecs", text("pcmu"), "PCMU", "PCMU, pcma", text("PCMU,PCMA")},
    {"RtpPortMin", "textb_rtpmin", dword(30000), "30000", "31000", dword(31000)},
    {"RtpPortMax", "textb_rtpmax", dword(30100), "30100", "31100", dword(31100)},
    {"CallerId", "textb_callerid", text("Оповещение"), "Оповещение", "Station", text("Station")},
    {"CaFile", "textb_cafile", text("/etc/peltra/ca.pem"), "/etc/peltra/ca.pem", "/tmp/ca.pem", text("/tmp/ca.pem")},
};
const std::string kSipKey = "Software\\PELTRA\\Sip\\";

}  // namespace

class FormPortsTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::TempDir> m_dir;
    std::unique_ptr<RegistryStore> m_registry;
    std::unique_ptr<peltra::config::ConfigStore> m_store;
    std::unique_ptr<peltra::platform::Event> m_linesChanged;

    static QTreeWidget* list(QWidget& form, const char* name) { return control<QTreeWidget>(form, name); }
    static QPushButton* button(QWidget& form, const char* name) { return control<QPushButton>(form, name); }

    // "name|state" per row (or the names alone), in list order.
    static QStringList rows(QTreeWidget* view, bool withState = true)
    {
        QStringList result;
        for (int i = 0; i < view->topLevelItemCount(); ++i)
            result << view->topLevelItem(i)->text(0) + (withState ? "|" + view->topLevelItem(i)->text(1) : QString());
        return result;
    }
    static QStringList names(QTreeWidget* view) { return rows(view, false); }

    static void select(QTreeWidget* view, const QStringList& portNames)
    {
        view->clearSelection();
        for (int i = 0; i < view->topLevelItemCount(); ++i) {
            QTreeWidgetItem* item = view->topLevelItem(i);
            if (portNames.contains(item->text(0)))
                view->setCurrentItem(item, 0, QItemSelectionModel::Select);
        }
    }

    // The Ports values, name → data.
    Values portValues()
    {
        Values values;
        for (const auto& value : m_registry->values(kPortsKey))
            values.emplace(value.name, value.value.asText());
        return values;
    }

    static Names marked(const FormPorts& form)
    {
        Names names;
        for (const ComString& port : form.ports())
            if (port.usedAsLine)
                names.push_back(port.name);
        return names;
    }

    static QString state(int error)
    {
        return error == 0 ? QString::fromUtf8(FormPorts::kAvailable)
                          : QString::fromStdString(peltra::platform::systemMessage(error));
    }

    static bool checked(QWidget& form, const char* name) { return control<QAbstractButton>(form, name)->isChecked(); }
    static bool shown(QWidget& form, const char* name) { return !control<QWidget>(form, name)->isHidden(); }
    static QString boxText(QWidget& form, const char* name) { return control<QLineEdit>(form, name)->text(); }

    std::map<std::string, RegistryValue> stored()
    {
        std::map<std::string, RegistryValue> values;
        for (const auto& value : m_registry->values(kPortKey))
            values.emplace(value.name, value.value);
        return values;
    }

    // SIP1 on the trunk "carrier", which holds kTrunkValues, TLS, registration and a password.
    void storeCarrier()
    {
        QVERIFY(m_registry->setValue(kPortsKey + "\\SIP1", "Trunk", text("carrier")));
        for (const TrunkValue& value : kTrunkValues)
            QVERIFY(m_registry->setValue(kSipKey + "carrier", value.name, value.stored));
        for (const auto& [name, value] : std::map<std::string, RegistryValue>{
                 {"Transport", text("tls")}, {"Register", dword(1)}, {"Password", text("s3cret")}})
            QVERIFY(m_registry->setValue(kSipKey + "carrier", name, value));
    }

    static QString messageShown(QWidget& form)
    {
        const auto boxes = form.findChildren<QMessageBox*>();
        return boxes.isEmpty() ? QString() : boxes.back()->text();
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<peltra::test::TempDir>();
        m_registry = std::make_unique<RegistryStore>(*m_dir / "registry.db");
        m_store = std::make_unique<peltra::config::ConfigStore>(*m_registry);
        m_linesChanged = std::make_unique<peltra::platform::Event>(false, false);
        peltra::calls::PortSettings settings(*m_store);
        // COM2 is a line with settings of its own; com4 was written in another case.
        QVERIFY(settings.setConfiguredPorts({"COM2", "com4"}));
        QVERIFY(settings.setRingOffMs("COM2", 2500));
        QVERIFY(settings.setPrefix("COM2", "812"));
    }

    void cleanup()
    {
        m_store.reset();
        m_registry.reset();
        m_linesChanged.reset();
        m_dir.reset();
    }

    void listsShowPortsWithTheirStates()
    {
        FormPorts form(*m_store, *m_linesChanged, probed());
        QTreeWidget* free = list(form, "lv_1");
        QTreeWidget* lines = list(form, "lv_2");
        QCOMPARE(rows(free), QStringList({"COM1|" + state(0), "COM3|" + state(EACCES)}));
        QCOMPARE(rows(lines), QStringList({"COM2|" + state(0), "COM4|" + state(0)}));
        QVERIFY(marked(form) == Names({"COM2", "COM4"}));
    }

    void aConfiguredPortThatIsMissingStaysListed()
    {
        QVERIFY(peltra::calls::PortSettings(*m_store).setConfiguredPorts({"COM2", "COM9"}));
        FormPorts form(*m_store, *m_linesChanged, probed());
        QCOMPARE(rows(list(form, "lv_2")), QStringList({"COM2|" + state(0), "COM9|" + state(ENOENT)}));
        QCOMPARE(names(list(form, "lv_1")), QStringList({"COM1", "COM3", "COM4"}));
        // Kept as a line until the user takes it away.
        click(form, "cb_Apply");
        QVERIFY((portValues() == Values{{"COM2", "COM2"}, {"COM9", "COM9"}}));
        select(list(form, "lv_2"), {"COM9"});
        click(form, "cb_DelSel");
        click(form, "cb_OK");
        QVERIFY((portValues() == Values{{"COM2", "COM2"}}));
    }

    void buttonsMoveTheSelectedPorts()
    {
        FormPorts form(*m_store, *m_linesChanged, probed());
        QTreeWidget* free = list(form, "lv_1");
        QTreeWidget* lines = list(form, "lv_2");
        const auto enabled = [&] {
            return QList<bool>{button(form, "cb_AddSel")->isEnabled(), button(form, "cb_DelSel")->isEnabled(),
                               button(form, "cb_PropCom")->isEnabled()};
        };
        QCOMPARE(enabled(), (QList<bool>{false, false, false}));
        select(free, {"COM1", "COM3"});
        QCOMPARE(enabled(), (QList<bool>{true, false, true}));
        click(form, "cb_AddSel");
        QCOMPARE(names(free), QStringList());
        QCOMPARE(names(lines), QStringList({"COM1", "COM2", "COM3", "COM4"}));  // the probe's order

        // Selecting in one list clears the other, so only one port set is ever selected.
        select(lines, {"COM2", "COM4"});
        QCOMPARE(lines->selectedItems().size(), 2);
        click(form, "cb_DelSel");
        QCOMPARE(names(free), QStringList({"COM2", "COM4"}));
        QCOMPARE(names(lines), QStringList({"COM1", "COM3"}));
        QCOMPARE(free->selectedItems().size(), 2);  // the moved ports, ready to go back
        QVERIFY(lines->selectedItems().isEmpty());
        click(form, "cb_AddSel");
        QCOMPARE(names(lines), QStringList({"COM1", "COM2", "COM3", "COM4"}));
        QCOMPARE(lines->topLevelItem(2)->text(1), state(EACCES));  // the state moves with the port

        // Nothing is written or signalled before OK or Apply, nor by Cancel.
        QVERIFY((portValues() == Values{{"COM2", "COM2"}, {"com4", "com4"}}));
        click(form, "cb_Cancel");
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QVERIFY((portValues() == Values{{"COM2", "COM2"}, {"com4", "com4"}}));
        QVERIFY(!m_linesChanged->isSet());
    }

    void okRewritesThePortsAndKeepsTheParameters()
    {
        {
            FormPorts form(*m_store, *m_linesChanged, probed());
            select(list(form, "lv_2"), {"COM2"});
            click(form, "cb_DelSel");
            select(list(form, "lv_1"), {"COM1"});
            click(form, "cb_AddSel");
            click(form, "cb_OK");
            QCOMPARE(form.result(), int(QDialog::Accepted));
            QVERIFY((portValues() == Values{{"COM1", "COM1"}, {"COM4", "COM4"}}));
            QVERIFY(m_linesChanged->wait(0));
            QVERIFY(marked(form) == Names({"COM1", "COM4"}));
        }
        // The removed port's parameters stay where they were.
        QCOMPARE(m_registry->getValue(kPortsKey + "\\COM2", "RingOff"), std::optional(RegistryValue::dword(2500)));

        FormPorts form(*m_store, *m_linesChanged, probed());
        QCOMPARE(names(list(form, "lv_1")), QStringList({"COM2", "COM3"}));
        select(list(form, "lv_1"), {"COM2"});
        click(form, "cb_AddSel");
        click(form, "cb_Apply");
        QVERIFY(form.result() != int(QDialog::Accepted));  // Apply leaves the dialog open
        QVERIFY(m_linesChanged->wait(0));
        QVERIFY((portValues() ==
                 Values{{"COM1", "COM1"}, {"COM2", "COM2"}, {"COM4", "COM4"}}));
        peltra::calls::PortSettings settings(*m_store);
        QCOMPARE(settings.ringOffMs("COM2"), 2500u);
        QCOMPARE(settings.prefix("COM2"), std::string("812"));
    }

    void propertiesOpenForTheSelectedPort()
    {
        FormPorts form(*m_store, *m_linesChanged, probed());
        select(list(form, "lv_2"), {"COM2"});
        QVERIFY(button(form, "cb_PropCom")->isEnabled());
        click(form, "cb_PropCom");
        auto forms = form.findChildren<FormComProperty*>();
        QCOMPARE(forms.size(), 1);
        QCOMPARE(forms[0]->windowTitle(), QStringLiteral("Настройка линии COM2"));
        QVERIFY(forms[0]->isVisible());
        QVERIFY(!forms[0]->isModal());
        // A second press brings the same dialog forward instead of opening another.
        click(form, "cb_PropCom");
        QCOMPARE(form.findChildren<FormComProperty*>().size(), 1);
        // Opening settings does not make a port a line.
        QVERIFY((portValues() == Values{{"COM2", "COM2"}, {"com4", "com4"}}));
    }

    void aStoreThatCannotBeWrittenIsReported()
    {
        const auto file = m_registry->file();
        m_store.reset();
        m_registry.reset();
        peltra::test::ReadOnlyFile readOnly(file);
        if (!readOnly.isReadOnly())
            QSKIP("cannot make a file read-only here");
        m_registry = std::make_unique<RegistryStore>(file);
        m_store = std::make_unique<peltra::config::ConfigStore>(*m_registry);
        FormPorts form(*m_store, *m_linesChanged, probed());
        form.show();
        select(list(form, "lv_1"), {"COM1"});
        click(form, "cb_AddSel");
        click(form, "cb_OK");
        QVERIFY(form.isVisible());
        QVERIFY(!m_linesChanged->isSet());
        const auto boxes = form.findChildren<QMessageBox*>();
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0]->text(), QString::fromUtf8(FormPorts::kSaveFailed));
        QVERIFY((portValues() == Values{{"COM2", "COM2"}, {"com4", "com4"}}));
    }

    void sipChannelsAreAddedAsLines()
    {
        QVERIFY(peltra::calls::PortSettings(*m_store).setConfiguredPorts({"COM2", "SIP2"}));
        FormPorts form(*m_store, *m_linesChanged, probed());
        QTreeWidget* free = list(form, "lv_1");
        QTreeWidget* lines = list(form, "lv_2");
        const QString sip = QString::fromUtf8(FormPorts::kSipChannel);
        QCOMPARE(rows(lines), QStringList({"COM2|" + state(0), "SIP2|" + sip}));  // not missing
        QCOMPARE(form.ports().back().openError, 0);
        click(form, "cb_AddSip");  // the lowest that is no line
        click(form, "cb_AddSip");
        QCOMPARE(names(lines), QStringList({"COM2", "SIP2", "SIP1", "SIP3"}));
        QCOMPARE(names(free), QStringList({"COM1", "COM3", "COM4"}));
        select(lines, {"SIP1"});
        click(form, "cb_DelSel");
        QCOMPARE(rows(free).last(), "SIP1|" + sip);
        click(form, "cb_AddSip");  // comes back, listed once
        QCOMPARE(names(free), QStringList({"COM1", "COM3", "COM4"}));
        click(form, "cb_OK");
        QVERIFY((portValues() == Values{{"COM2", "COM2"}, {"SIP1", "SIP1"}, {"SIP2", "SIP2"}, {"SIP3", "SIP3"}}));
    }

    void sipDialogShowsTheTrunkButNotThePassword()
    {
        storeCarrier();
        QVERIFY(m_registry->setValue(kSipKey + "other", "Proxy", text("sip:127.0.0.2")));
        FormComProperty form(*m_store, "SIP1");
        QCOMPARE(control<QComboBox>(form, "combo_trunk")->currentText(), QStringLiteral("carrier"));
        for (const TrunkValue& value : kTrunkValues)
            QCOMPARE(boxText(form, value.box), QString::fromUtf8(value.shown));
        QCOMPARE(control<QComboBox>(form, "combo_transport")->currentText(), QStringLiteral("TLS"));
        QVERIFY(checked(form, "checkbox_register"));
        auto* password = control<QLineEdit>(form, "textb_password");
        QVERIFY(password->text().isEmpty() && password->echoMode() == QLineEdit::Password);
        QCOMPARE(password->placeholderText(), QString::fromUtf8(FormComProperty::kPasswordKept));
        QVERIFY(shown(form, "groupb_sip") && shown(form, "textb_answer") && shown(form, "textb_prefix"));
        for (const char* serialOnly : {"groupb_dial", "groupb_answer", "textb_w", "textb_p", "updown_3"})
            QVERIFY2(!shown(form, serialOnly), serialOnly);
        // Naming another stored trunk shows that one.
        control<QComboBox>(form, "combo_trunk")->setCurrentText("other");
        QCOMPARE(boxText(form, "textb_proxy"), QStringLiteral("sip:127.0.0.2"));
    }

    void sipDialogWritesTheTrunk_data()
    {
        QTest::addColumn<QString>("trunk");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("stored");
        QTest::newRow("1 password left empty") << "carrier" << "" << "s3cret";
        QTest::newRow("2 password typed") << "carrier" << "n3w" << "n3w";
        QTest::newRow("3 new trunk name") << "backup" << "" << "s3cret";
    }

    void sipDialogWritesTheTrunk()
    {
        QFETCH(QString, trunk);
        QFETCH(QString, password);
        QFETCH(QString, stored);
        storeCarrier();
        FormComProperty form(*m_store, "SIP1");
        const auto type = [&](QWidget* box, const QString& keys) {
            QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
            QTest::keyClick(box, Qt::Key_Delete);
            QTest::keyClicks(box, keys);
        };
        type(control<QComboBox>(form, "combo_trunk"), trunk);
        for (const TrunkValue& value : kTrunkValues)
            type(control<QLineEdit>(form, value.box), value.typed);
        type(control<QLineEdit>(form, "textb_password"), password);
        control<QComboBox>(form, "combo_transport")->setCurrentText("TCP");
        QTest::mouseClick(control<QCheckBox>(form, "checkbox_register"), Qt::LeftButton);
        click(form, "cb_OK");
        QCOMPARE(form.result(), int(QDialog::Accepted));

        const std::string key = kSipKey + trunk.toStdString();
        for (const TrunkValue& value : kTrunkValues)
            QVERIFY2(m_registry->getValue(key, value.name) == value.written, value.name);
        QCOMPARE(m_registry->getValue(key, "Transport"), std::optional(text("tcp")));
        QCOMPARE(m_registry->getValue(key, "Register"), std::optional(dword(0)));
        QCOMPARE(m_registry->getValue(key, "Password"), std::optional(RegistryValue::text(stored.toStdString())));
        QCOMPARE(m_registry->getValue(kSipKey + "carrier", "Password"),
                 std::optional(text(trunk == "carrier" ? qPrintable(stored) : "s3cret")));
        // The port keeps only what a SIP channel uses, and its trunk's name.
        Names portValueNames;
        for (const auto& value : m_registry->values(kPortsKey + "\\SIP1"))
            portValueNames.push_back(value.name);
        std::sort(portValueNames.begin(), portValueNames.end());
        QVERIFY((portValueNames == Names{"DelayFirst", "NeedPrefix", "NeedPrefixTown", "Prefix", "PrefixTown",
                                          "RingOff", "Trunk", "WaitAnswer"}));
        QCOMPARE(m_registry->getValue(kPortsKey + "\\SIP1", "Trunk"),
                 std::optional(RegistryValue::text(trunk.toStdString())));
    }

    void freshPortShowsAndStoresTheDefaults()
    {
        FormComProperty form(*m_store, kPort);
        QCOMPARE(form.windowTitle(), QStringLiteral("Настройка линии COM3"));
        QVERIFY(!form.isModal());
        QVERIFY(checked(form, "optb_pulse") && !checked(form, "optb_tone"));
        QCOMPARE(QStringList({boxText(form, "textb_duration_otboj"), boxText(form, "textb_delayfirst"),
                              boxText(form, "textb_answer"), boxText(form, "textb_w"), boxText(form, "textb_p"),
                              boxText(form, "textb_prefix"), boxText(form, "textb_town")}),
                 QStringList({"1000", "1000", "30", "1000", "1000", "", ""}));
        QVERIFY(!checked(form, "checkbox_prefix") && !checked(form, "checkbox_town"));
        QVERIFY(checked(form, "optb_PerepDlin") && !checked(form, "optb_PerepPulse"));
        QVERIFY(shown(form, "pictb_OscPerepDlin") && !shown(form, "pictb_OscPerepPulse"));
        QCOMPARE(stored().size(), kWriteOrder.size());
    }

    void storedValuesAreShownWhole()
    {
        const std::tuple<const char*, const char*, quint32> numbers[] = {
            {"RingOff", "textb_duration_otboj", 500},  // below the arrows' range
            {"DelayFirst", "textb_delayfirst", 3000},
            {"WaitAnswer", "textb_answer", 4294967295u},  // longer than its box
            {"DelayW", "textb_w", 10000},                 // five digits
            {"DelayP", "textb_p", 800},
        };
        for (const auto& [valueName, box, number] : numbers)
            QVERIFY(m_registry->setValue(kPortKey, valueName, dword(number)));
        // NeedPrefix 5: any non-zero is on.
        for (const auto& [name, value] : std::map<std::string, RegistryValue>{
                 {"CallMode", dword(0)}, {"NeedPrefix", dword(5)}, {"Prefix", text("812")},
                 {"NeedPrefixTown", dword(1)}, {"PrefixTown", text("9")}, {"TypeAnswer", dword(1)}})
            QVERIFY(m_registry->setValue(kPortKey, name, value));
        FormComProperty form(*m_store, kPort);
        for (const auto& [valueName, box, number] : numbers)
            QCOMPARE(boxText(form, box), QString::number(number));
        QVERIFY(checked(form, "optb_tone") && !checked(form, "optb_pulse"));
        QVERIFY(checked(form, "checkbox_prefix") && checked(form, "checkbox_town"));
        QCOMPARE(boxText(form, "textb_prefix") + "|" + boxText(form, "textb_town"), QStringLiteral("812|9"));
        QVERIFY(checked(form, "optb_PerepPulse"));
        QVERIFY(!shown(form, "pictb_OscPerepDlin") && shown(form, "pictb_OscPerepPulse"));
        QTest::mouseClick(control<QRadioButton>(form, "optb_PerepDlin"), Qt::LeftButton);
        QVERIFY(shown(form, "pictb_OscPerepDlin") && !shown(form, "pictb_OscPerepPulse"));
        QCOMPARE(m_registry->getValue(kPortKey, "TypeAnswer"), std::optional(dword(1)));  // switching writes nothing
        // OK keeps a value the user did not touch, whatever its range.
        click(form, "cb_OK");
        QCOMPARE(form.result(), int(QDialog::Accepted));
        for (const auto& [valueName, box, number] : numbers)
            QCOMPARE(m_registry->getValue(kPortKey, valueName), std::optional(dword(number)));
    }

    void okWritesEveryValueInOrder()
    {
        FormComProperty form(*m_store, kPort);
        const auto before = stored();  // the defaults, written by filling
        const std::map<std::string, RegistryValue> after = {
            {"CallMode", dword(0)},    {"RingOff", dword(2000)},  {"DelayFirst", dword(900)},
            {"WaitAnswer", dword(45)}, {"DelayW", dword(5000)},   {"NeedPrefix", dword(1)},
            {"Prefix", text("812")},   {"DelayP", dword(1500)},   {"NeedPrefixTown", dword(0)},
            {"PrefixTown", text("9")}, {"TypeAnswer", dword(1)},
        };
        QTest::mouseClick(control<QRadioButton>(form, "optb_tone"), Qt::LeftButton);
        QTest::mouseClick(control<QCheckBox>(form, "checkbox_prefix"), Qt::LeftButton);
        // The town prefix is typed while its flag is off, and kept.
        const std::pair<const char*, const char*> typed[] = {
            {"textb_duration_otboj", "2000"}, {"textb_delayfirst", "900"}, {"textb_answer", "45"}, {"textb_w", "5000"},
            {"textb_prefix", "812"},          {"textb_p", "1500"},         {"textb_town", "9"}};
        for (const auto& [box, keys] : typed) {
            control<QLineEdit>(form, box)->clear();
            QTest::keyClicks(control<QLineEdit>(form, box), keys);
        }
        QTest::mouseClick(control<QRadioButton>(form, "optb_PerepPulse"), Qt::LeftButton);
        QVERIFY(stored() == before);

        // At each write the values before it hold their new data and those after it the old.
        std::vector<std::string> order;
        QStringList misplaced;
        form.setWriteObserver([&](const char* name) {
            order.push_back(name);
            const auto now = stored();
            for (std::size_t i = 0; i < kWriteOrder.size(); ++i) {
                const std::string& value = kWriteOrder[i];
                const bool written = i < order.size();
                if (now.at(value) != (written ? after.at(value) : before.at(value)))
                    misplaced << QString::fromStdString(value + " after " + name);
            }
        });
        click(form, "cb_OK");
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(order == kWriteOrder);
        QVERIFY2(misplaced.isEmpty(), qPrintable(misplaced.join(", ")));
        QVERIFY(stored() == after);
        QVERIFY(messageShown(form).isEmpty());
    }

    void anEmptyNumberKeepsTheDialogOpenAndCancelWritesNothing()
    {
        FormComProperty form(*m_store, kPort);
        form.show();
        const auto before = stored();
        QTest::mouseClick(control<QRadioButton>(form, "optb_tone"), Qt::LeftButton);
        QTest::mouseClick(control<QCheckBox>(form, "checkbox_town"), Qt::LeftButton);
        control<QLineEdit>(form, "textb_answer")->clear();
        click(form, "cb_OK");
        QVERIFY(form.isVisible());
        QCOMPARE(messageShown(form), QString::fromUtf8(FormComProperty::kNumberMissing));
        QVERIFY(stored() == before);
        bool wrote = false;
        form.setWriteObserver([&](const char*) { wrote = true; });
        click(form, "cb_Cancel");
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QVERIFY(!wrote);
        QVERIFY(stored() == before);
    }

    void arrowRanges()
    {
        const std::tuple<const char*, const char*, uint, uint, uint> cases[] = {
            {"updown_1", "textb_duration_otboj", 800, 3000, 100}, {"updown_2", "textb_delayfirst", 800, 3000, 100},
            {"updown_3", "textb_w", 800, 10000, 100},             {"updown_4", "textb_answer", 5, 120, 5},
            {"updown_5", "textb_p", 800, 10000, 100},
        };
        FormComProperty form(*m_store, kPort);
        for (const auto& [upDown, box, minimum, maximum, step] : cases) {
            auto* arrows = control<UpDown>(form, upDown);
            QCOMPARE(&arrows->buddy(), control<QLineEdit>(form, box));
            QCOMPARE(arrows->minimum(), minimum);
            QCOMPARE(arrows->maximum(), maximum);
            QCOMPARE(arrows->singleStep(), step);

            QLineEdit& edit = arrows->buddy();
            auto stepped = [&](const QString& from, int steps) {
                edit.setText(from);
                arrows->stepBy(steps);
                return edit.text().toUInt();
            };
            QCOMPARE(stepped(QString::number(minimum), 1), minimum + step);
            QCOMPARE(stepped(QString::number(maximum), 1), maximum);
            QCOMPARE(stepped(QString::number(maximum), -1000), minimum);
            QCOMPARE(stepped(QString::number(minimum), 1000), maximum);
            QCOMPARE(stepped(QString(), 1), minimum + step);                 // no number: from the bottom
            QCOMPARE(stepped(QStringLiteral("4294967295"), 1), maximum);     // far above: to the top
        }
    }
};

QTEST_MAIN(FormPortsTest)
#include "FormPortsTest.moc"
