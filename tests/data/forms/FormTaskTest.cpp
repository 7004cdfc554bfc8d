// The database binding dialog: its refusals in order and where the focus goes, what it stores,
// and the withdrawal of a binding's tasks when its table changes.
#include "data/forms/FormTask.h"

#include "ModalCatcher.h"
#include "config/ConfigStore.h"
#include "config/TaskStore.h"
#include "data/DbfTable.h"
#include "data/TableChecks.h"
#include "data/forms/FormNewTable.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

#include <memory>
#include <string>

using peltra::data::FormNewTable;
using peltra::data::FormTask;
using peltra::test::child;
using peltra::test::click;
using peltra::test::ModalCatcher;

namespace {

const std::vector<peltra::data::DbfFieldSpec> kSourceFields = {
    {"TELEF", 'C', 12, 0}, {"PROBA", 'N', 3, 0}, {"OTBOJ", 'N', 3, 0},
    {"DATA", 'D', 8, 0},   {"CLOCK", 'C', 8, 0}, {"FIO", 'C', 30, 0}};

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

}  // namespace

class FormTaskTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::TempDir> m_dir;
    std::unique_ptr<peltra::platform::RegistryStore> m_registry;
    std::unique_ptr<peltra::config::ConfigStore> m_config;
    std::unique_ptr<peltra::config::TaskStore> m_store;
    QString m_good;
    QString m_other;
    QString m_partial;

    QString table(const std::string& name, const std::vector<peltra::data::DbfFieldSpec>& fields)
    {
        const auto path = *m_dir / name;
        std::string error;
        if (!peltra::data::DbfTable::create(path, fields, 866, true, &error))
            qFatal("cannot create %s: %s", name.c_str(), error.c_str());
        return q(path.string());
    }

    static void type(QWidget& form, const char* name, const QString& text)
    {
        auto* edit = child<QLineEdit>(form, name);
        edit->clear();
        peltra::test::typeText(edit, text);
    }

    // A binding with one task of each validity state given.
    void bindingWithValidTask(const std::string& binding, const QString& file, const std::string& task)
    {
        QCOMPARE(m_store->addBinding(binding, file.toStdString(), "notes"), peltra::config::AddResult::Added);
        auto bound = m_store->binding(binding);
        QVERIFY(bound);
        QCOMPARE(bound->operators().add(task), peltra::config::AddResult::Added);
        QVERIFY(m_store->task(binding, task)->setValid(true));
        QVERIFY(m_store->task(binding, task)->valid());
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<peltra::test::TempDir>();
        m_registry = std::make_unique<peltra::platform::RegistryStore>(*m_dir / "registry.db");
        m_config = std::make_unique<peltra::config::ConfigStore>(*m_registry);
        m_store = std::make_unique<peltra::config::TaskStore>(*m_config);
        m_good = table("abon.dbf", kSourceFields);
        m_other = table("abon2.dbf", kSourceFields);
        m_partial = table("partial.dbf", {{"TELEF", 'C', 12, 0}, {"OTBOJ", 'N', 3, 0}, {"DATA", 'D', 8, 0}});
    }

    void cleanup()
    {
        m_store.reset();
        m_config.reset();
        m_registry.reset();
        m_dir.reset();
    }

    void refusalsComeInOrderAndReturnTheFocus()
    {
        FormTask form(*m_store, std::nullopt);
        QSignalSpy stored(&form, &FormTask::stored);
        form.show();
        ModalCatcher boxes;
        auto* name = child<QLineEdit>(form, "textb_name");
        auto* path = child<QLineEdit>(form, "textb_path");

        click(form, "cb_ok");
        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Не заполнено поле 'Задание' !")});
        QCOMPARE(boxes.boxes().back().title, form.windowTitle());
        QCOMPARE(form.focusWidget(), name);

        // Blanks are no name either.
        type(form, "textb_name", QStringLiteral("   "));
        click(form, "cb_ok");
        QCOMPARE(boxes.texts().back(), QStringLiteral("Не заполнено поле 'Задание' !"));

        type(form, "textb_name", QStringLiteral("Абоненты"));
        click(form, "cb_ok");
        QCOMPARE(boxes.texts().back(), QStringLiteral("Не установлен путь!"));
        QCOMPARE(form.focusWidget(), path);

        type(form, "textb_path", q((*m_dir / "none.dbf").string()));
        click(form, "cb_ok");
        QCOMPARE(boxes.texts().back(), QStringLiteral("Данная таблица не обнаружена. Возможно задан неверный путь."));
        QCOMPARE(form.focusWidget(), path);

        type(form, "textb_path", m_partial);
        click(form, "cb_ok");
        QCOMPARE(boxes.texts().back(),
                 QStringLiteral("В данной таблице отсутствуют следующие необходимые поля:\r\n\r\n"
                                "PROBA\tNum (3,0)\r\nCLOCK\tChar (8)\r\n"
                                "\r\nТаблица не может быть источником задания."));
        QCOMPARE(form.focusWidget(), path);
        QVERIFY(form.isVisible());
        QVERIFY(m_store->bindingNames().empty());
        QCOMPARE(stored.count(), 0);

        type(form, "textb_path", m_good);
        peltra::test::typeText(child<QPlainTextEdit>(form, "textb_comment"), QStringLiteral("Должники за май"));
        click(form, "cb_ok");
        QCOMPARE(boxes.boxes().size(), 5);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(!form.isVisible());
        QCOMPARE(stored.count(), 1);
        QCOMPARE(stored.front().front().toString(), QStringLiteral("Абоненты"));
        auto binding = m_store->binding("Абоненты");
        QVERIFY(binding);
        QCOMPARE(q(binding->file()), m_good);
        QCOMPARE(q(binding->comment()), QStringLiteral("Должники за май"));
    }

    void changingThePathWithdrawsTheBindingsTasks()
    {
        bindingWithValidTask("Абоненты", m_good, "Оповещение");
        bindingWithValidTask("Другие", m_good, "Чужое");
        FormTask form(*m_store, std::string("Абоненты"));
        QSignalSpy stored(&form, &FormTask::stored);
        form.show();
        auto* name = child<QLineEdit>(form, "textb_name");
        QCOMPARE(name->text(), QStringLiteral("Абоненты"));
        QVERIFY(name->isReadOnly());
        QCOMPARE(child<QLineEdit>(form, "textb_path")->text(), m_good);
        QCOMPARE(child<QPlainTextEdit>(form, "textb_comment")->toPlainText(), QStringLiteral("notes"));

        ModalCatcher boxes;
        type(form, "textb_path", m_other);
        click(form, "cb_ok");
        QCOMPARE(boxes.texts(),
                 QStringList{QStringLiteral(
                     "Вы изменили имя файла базы данных.\r\n"
                     "Все задания, связанные с этим файлом исключаются из планирования.\r\n"
                     "Вам необходимо проверить и привести в соответствие параметры заданий,\r\n"
                     "а затем выбрать в меню команду \"Включить в планирование\"")});
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(stored.count(), 1);
        QCOMPARE(q(m_store->binding("Абоненты")->file()), m_other);
        QVERIFY(!m_store->task("Абоненты", "Оповещение")->valid());
        QVERIFY(m_store->task("Другие", "Чужое")->valid());
    }

};

QTEST_MAIN(FormTaskTest)
#include "FormTaskTest.moc"
