// The port settings dialog: filled from the store, OK writes every value in its order, Cancel
// writes nothing, and the arrow buttons keep their ranges.
#include "calls/forms/FormComProperty.h"

#include "calls/PortSettings.h"
#include "calls/forms/UpDown.h"
#include "config/ConfigStore.h"
#include "platform/registry/RegistryStore.h"
#include "support/ReadOnlyFile.h"
#include "support/TempDir.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using peltra::calls::FormComProperty;
using peltra::calls::UpDown;
using peltra::platform::RegistryStore;
using peltra::platform::RegistryValue;

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
    std::unique_ptr<peltra::test::TempDir> m_dir;
    std::unique_ptr<RegistryStore> m_registry;
    std::unique_ptr<peltra::config::ConfigStore> m_store;

    std::map<std::string, RegistryValue> stored()
    {
        std::map<std::string, RegistryValue> values;
        for (const auto& value : m_registry->values(kPortKey))
            values.emplace(value.name, value.value);
        return values;
    }

    template <typename T>
    static T* control(QWidget& form, const char* name)
    {
        T* widget = form.findChild<T*>(QString::fromLatin1(name));
        if (widget == nullptr)
            qFatal("control %s is missing", name);
        return widget;
    }

    static void click(QWidget& form, const char* button)
    {
        QTest::mouseClick(control<QPushButton>(form, button), Qt::LeftButton);
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
    }

    void cleanup()
    {
        m_store.reset();
        m_registry.reset();
        m_dir.reset();
    }

    void freshPortShowsAndStoresTheDefaults()
    {
        FormComProperty form(*m_store, kPort);
        QCOMPARE(form.windowTitle(), QStringLiteral("Настройка линии COM2"));
        QVERIFY(!form.isModal());
        QVERIFY(control<QRadioButton>(form, "optb_pulse")->isChecked());
        QVERIFY(!control<QRadioButton>(form, "optb_tone")->isChecked());
        QCOMPARE(control<QLineEdit>(form, "textb_duration_otboj")->text(), QStringLiteral("1000"));
        QCOMPARE(control<QLineEdit>(form, "textb_delayfirst")->text(), QStringLiteral("1000"));
        QCOMPARE(control<QLineEdit>(form, "textb_answer")->text(), QStringLiteral("30"));
        QCOMPARE(control<QLineEdit>(form, "textb_w")->text(), QStringLiteral("1000"));
        QCOMPARE(control<QLineEdit>(form, "textb_p")->text(), QStringLiteral("1000"));
        QVERIFY(!control<QCheckBox>(form, "checkbox_prefix")->isChecked());
        QVERIFY(!control<QCheckBox>(form, "checkbox_town")->isChecked());
        QCOMPARE(control<QLineEdit>(form, "textb_prefix")->text(), QString());
        QCOMPARE(control<QLineEdit>(form, "textb_town")->text(), QString());
        QVERIFY(control<QRadioButton>(form, "optb_PerepDlin")->isChecked());
        QVERIFY(!control<QRadioButton>(form, "optb_PerepPulse")->isChecked());
        QVERIFY(!control<QWidget>(form, "pictb_OscPerepDlin")->isHidden());
        QVERIFY(control<QWidget>(form, "pictb_OscPerepPulse")->isHidden());

        const std::map<std::string, RegistryValue> expected = {
            {"CallMode", dword(1)},   {"RingOff", dword(1000)},  {"DelayFirst", dword(1000)},
            {"WaitAnswer", dword(30)}, {"DelayW", dword(1000)},  {"NeedPrefix", dword(0)},
            {"Prefix", text("")},      {"DelayP", dword(1000)},  {"NeedPrefixTown", dword(0)},
            {"PrefixTown", text("")},  {"TypeAnswer", dword(0)},
        };
        QVERIFY(stored() == expected);
    }

    void storedValuesAreShownWhole_data()
    {
        QTest::addColumn<QString>("valueName");
        QTest::addColumn<QString>("control");
        QTest::addColumn<quint32>("number");
        QTest::addColumn<QString>("shown");
        QTest::newRow("1 RingOff in range") << "RingOff" << "textb_duration_otboj" << 2500u << "2500";
        QTest::newRow("2 RingOff below the arrows' range") << "RingOff" << "textb_duration_otboj" << 500u << "500";
        QTest::newRow("3 DelayFirst") << "DelayFirst" << "textb_delayfirst" << 3000u << "3000";
        QTest::newRow("4 WaitAnswer top") << "WaitAnswer" << "textb_answer" << 120u << "120";
        QTest::newRow("5 WaitAnswer longer than its box") << "WaitAnswer" << "textb_answer" << 4294967295u
                                                         << "4294967295";
        QTest::newRow("6 DelayW top of range, five digits") << "DelayW" << "textb_w" << 10000u << "10000";
        QTest::newRow("7 DelayP") << "DelayP" << "textb_p" << 800u << "800";
    }

    void storedValuesAreShownWhole()
    {
        QFETCH(QString, valueName);
        QFETCH(QString, control);
        QFETCH(quint32, number);
        QFETCH(QString, shown);
        QVERIFY(m_registry->setValue(kPortKey, valueName.toStdString(), dword(number)));
        FormComProperty form(*m_store, kPort);
        QCOMPARE(form.findChild<QLineEdit*>(control)->text(), shown);
        // OK keeps a value the user did not touch, whatever its range.
        click(form, "cb_OK");
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(m_registry->getValue(kPortKey, valueName.toStdString()), std::optional(dword(number)));
    }

    void storedOptionsAndTextsAreShown()
    {
        QVERIFY(m_registry->setValue(kPortKey, "CallMode", dword(0)));
        QVERIFY(m_registry->setValue(kPortKey, "NeedPrefix", dword(5)));  // any non-zero is on
        QVERIFY(m_registry->setValue(kPortKey, "Prefix", text("812")));
        QVERIFY(m_registry->setValue(kPortKey, "NeedPrefixTown", dword(1)));
        QVERIFY(m_registry->setValue(kPortKey, "PrefixTown", text("9")));
        QVERIFY(m_registry->setValue(kPortKey, "TypeAnswer", dword(1)));
        FormComProperty form(*m_store, kPort);
        QVERIFY(control<QRadioButton>(form, "optb_tone")->isChecked());
        QVERIFY(!control<QRadioButton>(form, "optb_pulse")->isChecked());
        QVERIFY(control<QCheckBox>(form, "checkbox_prefix")->isChecked());
        QCOMPARE(control<QLineEdit>(form, "textb_prefix")->text(), QStringLiteral("812"));
        QVERIFY(control<QCheckBox>(form, "checkbox_town")->isChecked());
        QCOMPARE(control<QLineEdit>(form, "textb_town")->text(), QStringLiteral("9"));
        QVERIFY(control<QRadioButton>(form, "optb_PerepPulse")->isChecked());
        QVERIFY(control<QWidget>(form, "pictb_OscPerepDlin")->isHidden());
        QVERIFY(!control<QWidget>(form, "pictb_OscPerepPulse")->isHidden());
    }

    void theWaveformFollowsTheOption()
    {
        FormComProperty form(*m_store, kPort);
        QTest::mouseClick(control<QRadioButton>(form, "optb_PerepPulse"), Qt::LeftButton);
        QVERIFY(control<QRadioButton>(form, "optb_PerepPulse")->isChecked());
        QVERIFY(control<QWidget>(form, "pictb_OscPerepDlin")->isHidden());
        QVERIFY(!control<QWidget>(form, "pictb_OscPerepPulse")->isHidden());
        QTest::mouseClick(control<QRadioButton>(form, "optb_PerepDlin"), Qt::LeftButton);
        QVERIFY(!control<QWidget>(form, "pictb_OscPerepDlin")->isHidden());
        QVERIFY(control<QWidget>(form, "pictb_OscPerepPulse")->isHidden());
        // Nothing is written by switching.
        QCOMPARE(m_registry->getValue(kPortKey, "TypeAnswer"), std::optional(dword(0)));
    }

    void okWritesEveryValueInOrder()
    {
        FormComProperty form(*m_store, kPort);
        const auto before = stored();  // the defaults, written by filling
        const std::map<std::string, RegistryValue> after = {
            {"CallMode", dword(0)},    {"RingOff", dword(2000)},  {"DelayFirst", dword(900)},
            {"WaitAnswer", dword(45)}, {"DelayW", dword(5000)},   {"NeedPrefix", dword(1)},
            {"Prefix", text("812")},   {"DelayP", dword(1500)},   {"NeedPrefixTown", dword(1)},
            {"PrefixTown", text("9")}, {"TypeAnswer", dword(1)},
        };
        QTest::mouseClick(control<QRadioButton>(form, "optb_tone"), Qt::LeftButton);
        auto type = [&](const char* box, const char* keys) {
            QLineEdit* edit = control<QLineEdit>(form, box);
            edit->clear();
            QTest::keyClicks(edit, QString::fromUtf8(keys));
        };
        type("textb_duration_otboj", "2000");
        type("textb_delayfirst", "900");
        type("textb_answer", "45");
        type("textb_w", "5000");
        QTest::mouseClick(control<QCheckBox>(form, "checkbox_prefix"), Qt::LeftButton);
        type("textb_prefix", "812");
        type("textb_p", "1500");
        QTest::mouseClick(control<QCheckBox>(form, "checkbox_town"), Qt::LeftButton);
        type("textb_town", "9");
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

    void noAnswerOptionLeavesTypeAnswerAlone()
    {
        // A value other than 0 and 1 shows that nothing was written over it.
        QVERIFY(m_registry->setValue(kPortKey, "TypeAnswer", dword(7)));
        FormComProperty form(*m_store, kPort);
        for (const char* name : {"optb_PerepDlin", "optb_PerepPulse"}) {
            auto* option = control<QRadioButton>(form, name);
            option->setAutoExclusive(false);
            option->setChecked(false);
        }
        std::vector<std::string> order;
        form.setWriteObserver([&](const char* name) { order.push_back(name); });
        click(form, "cb_OK");
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(order == std::vector<std::string>(kWriteOrder.begin(), kWriteOrder.end() - 1));
        QCOMPARE(m_registry->getValue(kPortKey, "TypeAnswer"), std::optional(dword(7)));
    }

    void cancelWritesNothing()
    {
        FormComProperty form(*m_store, kPort);
        const auto before = stored();
        QTest::mouseClick(control<QRadioButton>(form, "optb_tone"), Qt::LeftButton);
        control<QLineEdit>(form, "textb_duration_otboj")->setText("2500");
        QTest::mouseClick(control<QCheckBox>(form, "checkbox_town"), Qt::LeftButton);
        QTest::mouseClick(control<QRadioButton>(form, "optb_PerepPulse"), Qt::LeftButton);
        bool wrote = false;
        form.setWriteObserver([&](const char*) { wrote = true; });
        click(form, "cb_Cancel");
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QVERIFY(!wrote);
        QVERIFY(stored() == before);
    }

    void anEmptyNumberKeepsTheDialogOpenAndWritesNothing()
    {
        FormComProperty form(*m_store, kPort);
        form.show();
        const auto before = stored();
        QTest::mouseClick(control<QRadioButton>(form, "optb_tone"), Qt::LeftButton);
        control<QLineEdit>(form, "textb_answer")->clear();
        click(form, "cb_OK");
        QVERIFY(form.isVisible());
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QCOMPARE(messageShown(form), QString::fromUtf8(FormComProperty::kNumberMissing));
        QVERIFY(stored() == before);
    }

    void typingIsLimitedToDigitsAndLength_data()
    {
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("shown");
        QTest::newRow("1 RingOff, 4 digits") << "textb_duration_otboj" << "123456" << "1234";
        QTest::newRow("2 DelayFirst, 4 digits") << "textb_delayfirst" << "99999" << "9999";
        QTest::newRow("3 WaitAnswer, 3 digits") << "textb_answer" << "1205" << "120";
        QTest::newRow("4 DelayW reaches 10000") << "textb_w" << "100000" << "10000";
        QTest::newRow("5 DelayP reaches 10000") << "textb_p" << "10000" << "10000";
        QTest::newRow("6 letters are refused") << "textb_duration_otboj" << "1a2b" << "12";
        QTest::newRow("7 exit prefix, one digit") << "textb_town" << "98" << "9";
        QTest::newRow("8 long-distance prefix, digits only") << "textb_prefix" << "8-12x" << "812";
    }

    void typingIsLimitedToDigitsAndLength()
    {
        QFETCH(QString, control);
        QFETCH(QString, typed);
        QFETCH(QString, shown);
        FormComProperty form(*m_store, kPort);
        QLineEdit* box = form.findChild<QLineEdit*>(control);
        QVERIFY(box);
        box->clear();
        QTest::keyClicks(box, typed);
        QCOMPARE(box->text(), shown);
    }

    void arrowRanges_data()
    {
        QTest::addColumn<QString>("upDown");
        QTest::addColumn<QString>("box");
        QTest::addColumn<uint>("minimum");
        QTest::addColumn<uint>("maximum");
        QTest::addColumn<uint>("step");
        QTest::newRow("1 RingOff") << "updown_1" << "textb_duration_otboj" << 800u << 3000u << 100u;
        QTest::newRow("2 DelayFirst") << "updown_2" << "textb_delayfirst" << 800u << 3000u << 100u;
        QTest::newRow("3 DelayW") << "updown_3" << "textb_w" << 800u << 10000u << 100u;
        QTest::newRow("4 WaitAnswer") << "updown_4" << "textb_answer" << 5u << 120u << 5u;
        QTest::newRow("5 DelayP") << "updown_5" << "textb_p" << 800u << 10000u << 100u;
    }

    void arrowRanges()
    {
        QFETCH(QString, upDown);
        QFETCH(QString, box);
        QFETCH(uint, minimum);
        QFETCH(uint, maximum);
        QFETCH(uint, step);
        FormComProperty form(*m_store, kPort);
        auto* arrows = form.findChild<UpDown*>(upDown);
        QVERIFY(arrows);
        QCOMPARE(&arrows->buddy(), form.findChild<QLineEdit*>(box));
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

    void aStoreThatCannotBeWrittenIsReported()
    {
        {
            peltra::calls::PortSettings settings(*m_store);
            QVERIFY(settings.setRingOffMs(kPort, 2000));
            QCOMPARE(settings.waitAnswerS(kPort), 30u);  // the rest with their defaults
            FormComProperty filled(*m_store, kPort);
        }
        const auto file = m_registry->file();
        m_store.reset();
        m_registry.reset();
        peltra::test::ReadOnlyFile readOnly(file);
        if (!readOnly.isReadOnly())
            QSKIP("cannot make a file read-only here");
        m_registry = std::make_unique<RegistryStore>(file);
        m_store = std::make_unique<peltra::config::ConfigStore>(*m_registry);
        FormComProperty form(*m_store, kPort);
        form.show();
        QCOMPARE(control<QLineEdit>(form, "textb_duration_otboj")->text(), QStringLiteral("2000"));
        control<QLineEdit>(form, "textb_duration_otboj")->setText("2500");
        click(form, "cb_OK");
        QVERIFY(form.isVisible());
        QVERIFY(messageShown(form).startsWith(QString::fromUtf8(FormComProperty::kWriteFailed)));
        QCOMPARE(m_registry->getValue(kPortKey, "RingOff"), std::optional(dword(2000)));
    }
};

QTEST_MAIN(FormComPropertyTest)
#include "FormComPropertyTest.moc"
