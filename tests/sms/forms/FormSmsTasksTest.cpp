// The SMS task manager window driven as a user drives it: new and deleted tasks with their
// questions, the editing copy applied and dropped, and the field dialog over a table and its
// refusal.
#include "sms/forms/FormSmsTasks.h"

#include "data/HandDbf.h"
#include "sms/SMSTasks.h"
#include "support/ConfigTestStore.h"
#include "support/ModalCatcher.h"

#include <QCheckBox>
#include <QDir>
#include <QFileInfo>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QTest>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using peltra::sms::FormSmsTasks;
using peltra::sms::ItemType;
using peltra::test::child;
using peltra::test::click;
using peltra::test::ModalCatcher;

namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

class FormSmsTasksTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::ConfigTestStore> m_station;
    QString m_table;

    // The task's template as "TEXT:value" / "FIELD:name", read from the store.
    QStringList stored(const std::string& task)
    {
        peltra::sms::SMSTasks tasks(m_station->store);
        tasks.load();
        QStringList result;
        std::vector<peltra::sms::SMSPatternItem> items;
        peltra::sms::SMSPatterns patterns =
            task == peltra::sms::kWorkingCopyName ? tasks.workingCopy() : tasks.find(task)->patterns();
        if (!patterns.items(items))
            return {QStringLiteral("<unreadable>")};
        for (const auto& item : items)
            result << QStringLiteral("%1:%2").arg(QString::fromLatin1(peltra::sms::itemTypeWord(item.type)), q(item.value));
        return result;
    }

    static QStringList shown(FormSmsTasks& form)
    {
        return peltra::test::modelRows(*child<QListWidget>(form, "lv_Template")->model());
    }

    static QStringList taskNames(FormSmsTasks& form)
    {
        return peltra::test::modelRows(*child<QTreeWidget>(form, "lv_Tasks")->model());
    }

    // A task with a source file (the generated table unless given) and template items, made through the store.
    void makeTask(const std::string& name, const std::vector<std::pair<ItemType, std::string>>& items,
                  const std::string& file = {})
    {
        peltra::sms::SMSTasks tasks(m_station->store);
        tasks.load();
        QCOMPARE(tasks.addTask(name), peltra::sms::AddTaskResult::Added);
        QVERIFY(tasks.setFile(name, file.empty() ? m_table.toStdString() : file));
        for (const auto& [type, value] : items)
            QVERIFY(tasks.find(name)->patterns().append(type, value));
    }

    // Answers the next input dialog with text; a choice dialog must offer the choices given.
    static void answerText(ModalCatcher& boxes, const QString& text, const QStringList& choices = {})
    {
        boxes.onDialog([=](QDialog* dialog) {
            auto* input = qobject_cast<QInputDialog*>(dialog);
            QVERIFY(input);
            if (!choices.isEmpty())
                QCOMPARE(input->comboBoxItems(), choices);
            input->setTextValue(text);
            input->accept();
        });
    }

private slots:
    void init()
    {
        m_station = std::make_unique<peltra::test::ConfigTestStore>();
        setenv("XDG_RUNTIME_DIR", m_station->dir.path().c_str(), 1);  // no running station's locks
        m_table = q((m_station->dir / "abon.dbf").string());
        peltra::test::writeFileBytes(m_table.toStdString(),
                                     peltra::test::handTable({}, {{"TELEF", 'C', 12, 0}, {"FIO", 'C', 30, 0}, {"SUMMA", 'N', 10, 2}}, {}));
    }

    void cleanup()
    {
        m_station.reset();
    }

    void newTasksAreNumberedAndDeletedOnlyWhenConfirmed()
    {
        FormSmsTasks form(m_station->store);
        form.show();
        ModalCatcher boxes;
        QVERIFY(!child<QPushButton>(form, "cb_Delete")->isEnabled());
        click(form, "cb_New");
        // Another window took "Новое задание 2" meanwhile: this one goes on to 3.
        makeTask("Новое задание 2", {});
        click(form, "cb_New");
        QCOMPARE(taskNames(form), (QStringList{QStringLiteral("Новое задание"), QStringLiteral("Новое задание 3")}));
        QCOMPARE(q(form.currentTask()), QStringLiteral("Новое задание 3"));
        // The new name is open for typing.
        QVERIFY(child<QTreeWidget>(form, "lv_Tasks")->viewport()->findChild<QLineEdit*>());

        boxes.answerNext(QMessageBox::No);
        click(form, "cb_Delete");
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes().back().text, QStringLiteral("Удалить задание \"Новое задание 3\"?"));
        QCOMPARE(taskNames(form).size(), 2);

        boxes.answerNext(QMessageBox::Yes);
        click(form, "cb_Delete");
        QCOMPARE(taskNames(form), QStringList{QStringLiteral("Новое задание")});
        QVERIFY(!m_station->registry.keyExists("Software\\PELTRA\\SMSTasks\\Новое задание 3"));
        QVERIFY(m_station->registry.keyExists("Software\\PELTRA\\SMSTasks\\Новое задание"));
    }

    void editingHappensInTheWorkingCopy()
    {
        makeTask("Долг", {{ItemType::Text, "Уважаемый "}, {ItemType::Field, "FIO"}});
        FormSmsTasks form(m_station->store);
        form.show();
        ModalCatcher boxes;
        QCOMPARE(shown(form), (QStringList{QStringLiteral("Уважаемый "), QStringLiteral("FIO")}));
        QVERIFY(!child<QPushButton>(form, "cb_AddText")->isEnabled());
        QCOMPARE(child<QLabel>(form, "label_Preview")->text(), QStringLiteral("Сообщение: Уважаемый [FIO]"));

        child<QCheckBox>(form, "checkbox_Edit")->click();
        QVERIFY(form.isEditing());
        QCOMPARE(stored("Temp"), stored("Долг"));

        // A text after the selected field, then a field chosen from the table's fields.
        child<QListWidget>(form, "lv_Template")->setCurrentRow(1);
        answerText(boxes, QStringLiteral(", долг "));
        click(form, "cb_AddText");
        answerText(boxes, QStringLiteral("SUMMA"), {QStringLiteral("TELEF"), QStringLiteral("FIO"), QStringLiteral("SUMMA")});
        click(form, "cb_AddField");
        QCOMPARE(stored("Temp"), (QStringList{QStringLiteral("TEXT:Уважаемый "), QStringLiteral("FIELD:FIO"),
                                               QStringLiteral("TEXT:, долг "), QStringLiteral("FIELD:SUMMA")}));
        QCOMPARE(child<QListWidget>(form, "lv_Template")->currentRow(), 3);
        QVERIFY(!child<QPushButton>(form, "cb_Down")->isEnabled());
        QCOMPARE(stored("Долг").size(), 2);

        // Up twice, down once, and delete the first.
        click(form, "cb_Up");
        click(form, "cb_Up");
        click(form, "cb_Down");
        QCOMPARE(shown(form), (QStringList{QStringLiteral("Уважаемый "), QStringLiteral("FIO"), QStringLiteral("SUMMA"),
                                            QStringLiteral(", долг ")}));
        child<QListWidget>(form, "lv_Template")->setCurrentRow(0);
        QVERIFY(!child<QPushButton>(form, "cb_Up")->isEnabled());
        click(form, "cb_DelItem");
        QCOMPARE(shown(form).size(), 3);

        click(form, "cb_Cancel");
        QVERIFY(!form.isEditing());
        QVERIFY(!child<QCheckBox>(form, "checkbox_Edit")->isChecked());
        QCOMPARE(stored("Долг"), (QStringList{QStringLiteral("TEXT:Уважаемый "), QStringLiteral("FIELD:FIO")}));
        QCOMPARE(shown(form).size(), 2);
        QVERIFY(!m_station->registry.keyExists("Software\\PELTRA\\SMSTasks\\Temp"));

        // Again, and this time applied.
        child<QCheckBox>(form, "checkbox_Edit")->click();
        child<QListWidget>(form, "lv_Template")->setCurrentRow(-1);
        answerText(boxes, QStringLiteral("!"));
        click(form, "cb_AddText");
        click(form, "cb_Apply");
        QVERIFY(!form.isEditing());
        QCOMPARE(stored("Долг"),
                 (QStringList{QStringLiteral("TEXT:Уважаемый "), QStringLiteral("FIELD:FIO"), QStringLiteral("TEXT:!")}));
        QVERIFY(!m_station->registry.keyExists("Software\\PELTRA\\SMSTasks\\Temp"));
        QVERIFY(boxes.boxes().isEmpty());
    }

    void aSourceThatCannotBeOpenedIsReported()
    {
        makeTask("Долг", {}, "/no/such/folder/x.dbf");
        FormSmsTasks form(m_station->store);
        form.show();
        ModalCatcher boxes;
        child<QCheckBox>(form, "checkbox_Edit")->click();
        click(form, "cb_AddField");
        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Не могу открыть файл-источник")});
        QVERIFY(stored("Temp").isEmpty());
        click(form, "cb_Cancel");

        // "Обзор" starts in the home folder when the file's folder is gone, and stores the choice.
        QString startedIn;
        form.setFileChooser([&](const QString& start) {
            startedIn = start;
            return m_table;
        });
        QVERIFY(m_station->registry.setValue("Software\\PELTRA\\SMSTasks\\Долг", "Valid",
                                     peltra::platform::RegistryValue::dword(1)));
        click(form, "cb_Browse");
        QCOMPARE(startedIn, QDir::homePath());
        QCOMPARE(child<QLineEdit>(form, "textb_File")->text(), m_table);
        click(form, "cb_Browse");
        QCOMPARE(startedIn, QFileInfo(m_table).absolutePath());
        const auto valid = m_station->registry.getValue("Software\\PELTRA\\SMSTasks\\Долг", "Valid");
        QVERIFY(valid && valid->asDword() == 0);
    }
};

QTEST_MAIN(FormSmsTasksTest)
#include "FormSmsTasksTest.moc"
