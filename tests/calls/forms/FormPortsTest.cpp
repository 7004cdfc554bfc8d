// The line chooser: both lists with their states, moving ports between them, and what OK, Apply
// and Cancel leave in the store.
#include "calls/forms/FormPorts.h"

#include "calls/PortSettings.h"
#include "calls/forms/FormComProperty.h"
#include "line/Form1.h"
#include "platform/errors/SystemError.h"
#include "platform/sync/Event.h"
#include "support/ConfigFormTools.h"
#include "support/ConfigTestStore.h"
#include "support/ReadOnlyFile.h"

#include <QTreeWidget>

#include <cerrno>
#include <map>
#include <memory>

using peltra::calls::FormComProperty;
using peltra::calls::FormPorts;
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
        QVERIFY(state(EACCES) != state(0) && !state(EACCES).isEmpty());

        // One icon for every usable port, another for the others.
        const qint64 usable = free->topLevelItem(0)->icon(1).cacheKey();
        QVERIFY(!free->topLevelItem(0)->icon(1).isNull());
        QCOMPARE(lines->topLevelItem(0)->icon(1).cacheKey(), usable);
        QVERIFY(!free->topLevelItem(1)->icon(1).isNull());
        QVERIFY(free->topLevelItem(1)->icon(1).cacheKey() != usable);

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

        // A port that is not a line has its settings too.
        select(list(form, "lv_1"), {"COM3"});
        click(form, "cb_PropCom");
        forms = form.findChildren<FormComProperty*>();
        QCOMPARE(forms.size(), 2);
        QCOMPARE(forms[1]->windowTitle(), QStringLiteral("Настройка линии COM3"));
        QCOMPARE(forms[1]->port(), std::string("COM3"));
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
};

QTEST_MAIN(FormPortsTest)
#include "FormPortsTest.moc"
