// The port settings dialog: filled from the store, OK writes every value in its order, Cancel
// writes nothing, and the arrow buttons keep their ranges.
#include "calls/forms/FormComProperty.h"

#include "calls/forms/UpDown.h"
#include "support/ConfigFormTools.h"
#include "support/ConfigTestStore.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QToolButton>

#include <map>
#include <memory>

using peltra::calls::FormComProperty;
using peltra::calls::UpDown;
using peltra::platform::RegistryValue;
using peltra::test::click;
using peltra::test::control;

namespace {

const std::string kPort = "COM2";
const std::string kPortKey = "Software\\PELTRA\\Ports\\COM2";

// The eleven values in the order OK writes them.
const std::vector<std::string> kWriteOrder = {"CallMode", "RingOff",    "DelayFirst",     "WaitAnswer",
                                              "DelayW",   "NeedPrefix", "Prefix",         "DelayP",
                                              "NeedPrefixTown", "PrefixTown", "TypeAnswer"};

RegistryValue dword(std::uint32_t n) { return RegistryValue::dword(n); }
RegistryValue text(const char* s) { return RegistryValue::text(s); }

}  // namespace

class FormComPropertyTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::ConfigTestStore> m_config;

    static bool checked(QWidget& form, const char* name) { return control<QAbstractButton>(form, name)->isChecked(); }
    static bool shown(QWidget& form, const char* name) { return !control<QWidget>(form, name)->isHidden(); }
    static QString boxText(QWidget& form, const char* name) { return control<QLineEdit>(form, name)->text(); }

    std::map<std::string, RegistryValue> stored()
    {
        std::map<std::string, RegistryValue> values;
        for (const auto& value : m_config->registry.values(kPortKey))
            values.emplace(value.name, value.value);
        return values;
    }

    static QString messageShown(QWidget& form)
    {
        const auto boxes = form.findChildren<QMessageBox*>();
        return boxes.isEmpty() ? QString() : boxes.back()->text();
    }

private slots:
    void init() { m_config = std::make_unique<peltra::test::ConfigTestStore>(); }
    void cleanup() { m_config.reset(); }

    void freshPortShowsAndStoresTheDefaults()
    {
        FormComProperty form(m_config->store, kPort);
        QCOMPARE(form.windowTitle(), QStringLiteral("Настройка линии COM2"));
        QVERIFY(!form.isModal());
        QVERIFY(checked(form, "optb_pulse") && !checked(form, "optb_tone"));
        QCOMPARE(QStringList({boxText(form, "textb_duration_otboj"), boxText(form, "textb_delayfirst"),
                              boxText(form, "textb_answer"), boxText(form, "textb_w"), boxText(form, "textb_p"),
                              boxText(form, "textb_prefix"), boxText(form, "textb_town")}),
                 QStringList({"1000", "1000", "30", "1000", "1000", "", ""}));
        QVERIFY(!checked(form, "checkbox_prefix") && !checked(form, "checkbox_town"));
        QVERIFY(checked(form, "optb_PerepDlin") && !checked(form, "optb_PerepPulse"));
        QVERIFY(shown(form, "pictb_OscPerepDlin") && !shown(form, "pictb_OscPerepPulse"));

        const std::map<std::string, RegistryValue> expected = {
            {"CallMode", dword(1)},   {"RingOff", dword(1000)},  {"DelayFirst", dword(1000)},
            {"WaitAnswer", dword(30)}, {"DelayW", dword(1000)},  {"NeedPrefix", dword(0)},
            {"Prefix", text("")},      {"DelayP", dword(1000)},  {"NeedPrefixTown", dword(0)},
            {"PrefixTown", text("")},  {"TypeAnswer", dword(0)},
        };
        QVERIFY(stored() == expected);
    }

    void storedValuesAreShownWhole()
    {
        const std::tuple<const char*, const char*, quint32> cases[] = {
            {"RingOff", "textb_duration_otboj", 500},  // below the arrows' range
            {"DelayFirst", "textb_delayfirst", 3000},
            {"WaitAnswer", "textb_answer", 4294967295u},  // longer than its box
            {"DelayW", "textb_w", 10000},                 // five digits
            {"DelayP", "textb_p", 800},
        };
        for (const auto& [valueName, box, number] : cases)
            QVERIFY(m_config->registry.setValue(kPortKey, valueName, dword(number)));
        FormComProperty form(m_config->store, kPort);
        for (const auto& [valueName, box, number] : cases)
            QCOMPARE(boxText(form, box), QString::number(number));
        // OK keeps a value the user did not touch, whatever its range.
        click(form, "cb_OK");
        QCOMPARE(form.result(), int(QDialog::Accepted));
        for (const auto& [valueName, box, number] : cases)
            QCOMPARE(m_config->registry.getValue(kPortKey, valueName), std::optional(dword(number)));
    }

    void storedOptionsAndTextsAreShownAndTheWaveformFollowsTheOption()
    {
        // NeedPrefix 5: any non-zero is on.
        for (const auto& [name, value] : std::map<std::string, RegistryValue>{
                 {"CallMode", dword(0)}, {"NeedPrefix", dword(5)}, {"Prefix", text("812")},
                 {"NeedPrefixTown", dword(1)}, {"PrefixTown", text("9")}, {"TypeAnswer", dword(1)}})
            QVERIFY(m_config->registry.setValue(kPortKey, name, value));
        FormComProperty form(m_config->store, kPort);
        QVERIFY(checked(form, "optb_tone") && !checked(form, "optb_pulse"));
        QVERIFY(checked(form, "checkbox_prefix") && checked(form, "checkbox_town"));
        QCOMPARE(boxText(form, "textb_prefix"), QStringLiteral("812"));
        QCOMPARE(boxText(form, "textb_town"), QStringLiteral("9"));
        QVERIFY(checked(form, "optb_PerepPulse"));
        QVERIFY(!shown(form, "pictb_OscPerepDlin") && shown(form, "pictb_OscPerepPulse"));
        QTest::mouseClick(control<QRadioButton>(form, "optb_PerepDlin"), Qt::LeftButton);
        QVERIFY(shown(form, "pictb_OscPerepDlin") && !shown(form, "pictb_OscPerepPulse"));
        QCOMPARE(m_config->registry.getValue(kPortKey, "TypeAnswer"), std::optional(dword(1)));  // switching writes nothing
    }

    void okWritesEveryValueInOrder()
    {
        FormComProperty form(m_config->store, kPort);
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
        FormComProperty form(m_config->store, kPort);
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

    void typingIsLimitedToDigitsAndLength()
    {
        const std::tuple<const char*, const char*, const char*> cases[] = {
            {"textb_duration_otboj", "123456", "1234"}, {"textb_delayfirst", "99999", "9999"},
            {"textb_answer", "1205", "120"},            {"textb_w", "100000", "10000"},
            {"textb_p", "10000", "10000"},              {"textb_duration_otboj", "1a2b", "12"},  // letters refused
            {"textb_town", "98", "9"},                  {"textb_prefix", "8-12x", "812"},
        };
        FormComProperty form(m_config->store, kPort);
        for (const auto& [name, typed, shown] : cases) {
            QLineEdit* box = control<QLineEdit>(form, name);
            box->clear();
            QTest::keyClicks(box, typed);
            QCOMPARE(box->text(), QString::fromLatin1(shown));
        }
    }

    void arrowRanges()
    {
        const std::tuple<const char*, const char*, uint, uint, uint> cases[] = {
            {"updown_1", "textb_duration_otboj", 800, 3000, 100}, {"updown_2", "textb_delayfirst", 800, 3000, 100},
            {"updown_3", "textb_w", 800, 10000, 100},             {"updown_4", "textb_answer", 5, 120, 5},
            {"updown_5", "textb_p", 800, 10000, 100},
        };
        FormComProperty form(m_config->store, kPort);
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
            QCOMPARE(stepped(QString::number(minimum), -1), minimum);
            QCOMPARE(stepped(QString::number(maximum), 1), maximum);
            QCOMPARE(stepped(QString::number(maximum), -1), maximum - step);
            QCOMPARE(stepped(QString::number(maximum), -1000), minimum);
            QCOMPARE(stepped(QString::number(minimum), 1000), maximum);
            QCOMPARE(stepped(QString(), 1), minimum + step);                 // no number: from the bottom
            QCOMPARE(stepped(QStringLiteral("4294967295"), 1), maximum);     // far above: to the top
            QCOMPARE(stepped(QStringLiteral("1"), -1), minimum);             // below: to the bottom

            // The arrow buttons themselves step the box.
            edit.setText(QString::number(minimum));
            const auto buttons = arrows->findChildren<QToolButton*>();
            QCOMPARE(buttons.size(), 2);
            for (QToolButton* button : buttons) {
                if (button->arrowType() == Qt::UpArrow)
                    QTest::mouseClick(button, Qt::LeftButton);
            }
            QCOMPARE(edit.text().toUInt(), minimum + step);
        }
    }
};

QTEST_MAIN(FormComPropertyTest)
#include "FormComPropertyTest.moc"
