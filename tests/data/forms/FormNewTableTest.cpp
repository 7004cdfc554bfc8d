// The new table dialog: the required columns, the add-field checks and limits, and what creating
// and refusing to replace leave on disk.
#include "data/forms/FormNewTable.h"

#include "ModalCatcher.h"
#include "data/DbfTable.h"
#include "data/TableChecks.h"
#include "support/TempDir.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

using peltra::data::FormNewTable;
using peltra::test::child;
using peltra::test::click;
using peltra::test::ModalCatcher;
namespace fs = std::filesystem;

namespace {

QString q(const std::string& s)
{
    return QString::fromStdString(s);
}

std::string contentOf(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The folders a creation may leave its temporary table in.
std::size_t temporaryFolders()
{
    std::size_t count = 0;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(fs::temp_directory_path(), ec)) {
        if (entry.path().filename().string().rfind("peltra-newtable-", 0) == 0)
            ++count;
    }
    return count;
}

}  // namespace

class FormNewTableTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::TempDir> m_dir;
    fs::path m_startFolder;
    QByteArray m_savedTmpDir;
    std::unique_ptr<peltra::test::TempDir> m_tmp;

    static void type(QWidget& form, const char* name, const QString& text)
    {
        auto* edit = child<QLineEdit>(form, name);
        edit->setFocus();
        edit->selectAll();
        QTest::keyClick(edit, Qt::Key_Delete);
        peltra::test::typeText(edit, text);
    }

    // Adds a column as the user would; type is Num, Char, Date or Log.
    static void add(QWidget& form, const QString& name, const QString& type, const QString& width = {},
                    const QString& decimals = {})
    {
        child<QComboBox>(form, "combo_type")->setCurrentText(type);
        if (!width.isEmpty())
            FormNewTableTest::type(form, "textb_width", width);
        if (!decimals.isEmpty())
            FormNewTableTest::type(form, "textb_decimals", decimals);
        FormNewTableTest::type(form, "textb_name", name);
        click(form, "cb_add");
    }

    static QStringList rows(QWidget& form)
    {
        auto* grid = child<QTreeWidget>(form, "lv_fields");
        QStringList result;
        for (int i = 0; i < grid->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = grid->topLevelItem(i);
            result << item->text(0) + "|" + item->text(1) + "|" + item->text(2);
        }
        return result;
    }

    static void select(QWidget& form, int row)
    {
        auto* grid = child<QTreeWidget>(form, "lv_fields");
        grid->setCurrentItem(grid->topLevelItem(row));
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<peltra::test::TempDir>();
        m_startFolder = fs::current_path();
        // The working folder must not receive a temporary table either.
        fs::current_path(m_dir->path());
        // A temporary folder of this test's own, so tests running beside it do not change the count.
        m_savedTmpDir = qgetenv("TMPDIR");
        m_tmp = std::make_unique<peltra::test::TempDir>();
        qputenv("TMPDIR", QByteArray::fromStdString(m_tmp->path().string()));
    }

    void cleanup()
    {
        if (m_savedTmpDir.isEmpty())
            qunsetenv("TMPDIR");
        else
            qputenv("TMPDIR", m_savedTmpDir);
        fs::current_path(m_startFolder);
        m_tmp.reset();
        m_dir.reset();
    }

    void theRequiredColumnsAreInPlaceAndStay()
    {
        FormNewTable form;
        form.show();
        auto* grid = child<QTreeWidget>(form, "lv_fields");
        QCOMPARE(grid->headerItem()->text(0), QStringLiteral("Имя"));
        QCOMPARE(grid->headerItem()->text(1), QStringLiteral("Тип"));
        QCOMPARE(grid->headerItem()->text(2), QStringLiteral("Длина"));
        QVERIFY(grid->columnWidth(0) >= 100 && grid->columnWidth(1) >= 40 && grid->columnWidth(2) >= 45);
        const QStringList required{"TELEF|Char|12", "PROBA|Num|3,0", "OTBOJ|Num|3,0", "DATA|Date|8", "CLOCK|Char|8"};
        QCOMPARE(rows(form), required);
        for (int row = 0; row < 5; ++row) {
            select(form, row);
            QVERIFY(!child<QPushButton>(form, "cb_remove")->isEnabled());
            form.removeSelected();
        }
        QCOMPARE(rows(form), required);

        add(form, "FIO", "Char", "30");
        select(form, 5);
        QVERIFY(child<QPushButton>(form, "cb_remove")->isEnabled());
        click(form, "cb_remove");
        QCOMPARE(rows(form), required);
    }

    void addFieldChecksComeInOrder_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("message");
        QTest::newRow("lower case") << "fio" << "Имя поля содержит недопустимые символы.";
        QTest::newRow("Cyrillic") << "ФИО" << "Имя поля содержит недопустимые символы.";
        QTest::newRow("blank inside") << "A B" << "Имя поля содержит недопустимые символы.";
        // Both checks fail: the characters are judged first.
        QTest::newRow("digit then lower case") << "1st" << "Имя поля содержит недопустимые символы.";
        QTest::newRow("digit first") << "1ST" << "Имя поля должно начинаться с буквы.";
        QTest::newRow("underscore first") << "_A" << "Имя поля должно начинаться с буквы.";
        QTest::newRow("empty") << "" << "Имя поля должно начинаться с буквы.";
        QTest::newRow("required column") << "TELEF" << "Поле с таким названием уже существует.";
        QTest::newRow("added column") << "SUMMA" << "Поле с таким названием уже существует.";
    }

    void addFieldChecksComeInOrder()
    {
        QFETCH(QString, name);
        QFETCH(QString, message);
        FormNewTable form;
        form.show();
        add(form, "SUMMA", "Num", "10", "2");
        ModalCatcher boxes;
        add(form, name, "Char", "5");
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes().front().title, QStringLiteral("Ошибка"));
        QCOMPARE(boxes.texts().front(), message);
        QCOMPARE(form.focusWidget(), child<QLineEdit>(form, "textb_name"));
        QCOMPARE(form.fields().size(), std::size_t(6));
    }

    void typedSizesAreHeldToTheirLimits()
    {
        FormNewTable form;
        form.show();
        auto* width = child<QLineEdit>(form, "textb_width");
        auto* decimals = child<QLineEdit>(form, "textb_decimals");
        child<QComboBox>(form, "combo_type")->setCurrentText("Num");
        type(form, "textb_width", "25");
        QCOMPARE(width->text(), QStringLiteral("19"));
        QCOMPARE(width->selectedText(), QStringLiteral("19"));
        type(form, "textb_width", "2");
        QVERIFY(!decimals->isEnabled());
        type(form, "textb_width", "3");
        QVERIFY(decimals->isEnabled());
        type(form, "textb_decimals", "5");
        QCOMPARE(decimals->text(), QStringLiteral("1"));
        // A narrower width takes the decimals down with it, leaving room for the point and a digit.
        type(form, "textb_width", "10");
        type(form, "textb_decimals", "8");
        width->selectAll();
        peltra::test::typeText(width, QStringLiteral("9"));
        QCOMPARE(decimals->text(), QStringLiteral("7"));

        child<QComboBox>(form, "combo_type")->setCurrentText("Char");
        QVERIFY(!decimals->isEnabled());
        type(form, "textb_width", "2000");
        QCOMPARE(width->text(), QStringLiteral("1024"));
        QCOMPARE(width->selectedText(), QStringLiteral("1024"));
        type(form, "textb_width", "1000");
        QCOMPARE(width->text(), QStringLiteral("1000"));

        child<QComboBox>(form, "combo_type")->setCurrentText("Date");
        QCOMPARE(width->text(), QStringLiteral("8"));
        QVERIFY(!width->isEnabled());
        child<QComboBox>(form, "combo_type")->setCurrentText("Log");
        QCOMPARE(width->text(), QStringLiteral("1"));

        // A width left empty is refused at the width box.
        child<QComboBox>(form, "combo_type")->setCurrentText("Num");
        type(form, "textb_width", "");
        ModalCatcher boxes;
        type(form, "textb_name", "SUMMA");
        click(form, "cb_add");
        QCOMPARE(boxes.texts(), QStringList{QStringLiteral("Не указана длина поля.")});
        QCOMPARE(form.focusWidget(), width);
        QCOMPARE(form.fields().size(), std::size_t(5));
    }

    void aCreatedTableIsASource()
    {
        FormNewTable form;
        form.show();
        add(form, "SUM2", "Num", "10", "2");
        add(form, "SUM0", "Num", "10", "0");
        add(form, "FIO", "Char", "30");
        add(form, "DR", "Date");
        add(form, "FLAG", "Log");
        QString caption;
        QString filter;
        const fs::path destination = *m_dir / "new" ;
        fs::create_directories(destination);
        form.setSaveDialog([&](QWidget*, const QString& c, const QString& f) {
            caption = c;
            filter = f;
            return q((destination / "abon").string());
        });
        QSignalSpy created(&form, &FormNewTable::created);
        ModalCatcher boxes;
        const std::size_t before = temporaryFolders();
        QVERIFY(form.createTable());
        QVERIFY(boxes.texts().isEmpty());
        QCOMPARE(caption, QStringLiteral("Сохранить как"));
        QCOMPARE(filter, QStringLiteral("DBF-файлы (*.dbf)"));
        const fs::path file = destination / "abon.dbf";
        QCOMPARE(created.count(), 1);
        QCOMPARE(created.front().front().toString(), q(file.string()));
        QCOMPARE(form.createdPath(), q(file.string()));
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(peltra::data::SourceCheck(file).ok);

        const auto table = peltra::data::DbfTable::open(file, {});
        QVERIFY(table);
        QStringList shapes;
        for (const auto& field : table->fields())
            shapes << q(field.name) + " " + QChar(field.type) + QString::number(field.length) + "." +
                          QString::number(field.decimals);
        QCOMPARE(shapes, QStringList({"TELEF C12.0", "PROBA N3.0", "OTBOJ N3.0", "DATA D8.0", "CLOCK C8.0",
                                      "SUM2 N10.2", "SUM0 N10.0", "FIO C30.0", "DR D8.0", "FLAG L1.0"}));
        QCOMPARE(temporaryFolders(), before);
        QVERIFY(!fs::exists(m_dir->path() / "__tmp__.dbf"));
    }

    void noToReplacingKeepsTheFileAndNoTemporaryTable()
    {
        const fs::path existing = *m_dir / "abon.dbf";
        { std::ofstream(existing, std::ios::binary) << "the operator's data"; }
        FormNewTable form;
        form.show();
        form.setSaveDialog([&](QWidget*, const QString&, const QString&) { return q(existing.string()); });
        ModalCatcher boxes;
        boxes.answerNext(QMessageBox::No);
        const std::size_t before = temporaryFolders();
        QVERIFY(!form.createTable());
        QCOMPARE(boxes.boxes().size(), 1);
        QCOMPARE(boxes.boxes().front().title, form.windowTitle());
        QCOMPARE(boxes.texts().front(), QStringLiteral("Файл '") + q(existing.string()) +
                                            QStringLiteral("' уже существует.\r\nВ случае его замены все данные "
                                                           "будут утеряны.\r\nВы желаете его заменить?"));
        QCOMPARE(contentOf(existing), std::string("the operator's data"));
        QCOMPARE(temporaryFolders(), before);
        QVERIFY(!fs::exists(m_dir->path() / "__tmp__.dbf"));
        QVERIFY(form.isVisible());
        QVERIFY(form.createdPath().isEmpty());

        // Yes replaces it.
        boxes.answerNext(QMessageBox::Yes);
        QVERIFY(form.createTable());
        QVERIFY(peltra::data::SourceCheck(existing).ok);
    }

};

QTEST_MAIN(FormNewTableTest)
#include "FormNewTableTest.moc"
