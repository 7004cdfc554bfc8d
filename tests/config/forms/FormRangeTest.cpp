// The range dialog: bounds stored through the task (swapped when given the wrong way round, the
// task withdrawn), entries that cannot be read with the value taken or the focus returned, and
// failed writes.
#include "config/forms/FormRange.h"

#include "config/ConfigStore.h"
#include "config/TaskStore.h"
#include "platform/registry/RegistryStore.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>
#include <optional>
#include <string>

using peltra::config::FormRange;
using peltra::platform::RegistryStore;

namespace {

const std::string kBinding = "Абоненты";
const std::string kTask = "Долг";

// Presses a button of the next modal box that shows up and keeps what it said. Its timers end
// with it.
class BoxAnswer {
public:
    explicit BoxAnswer(QMessageBox::StandardButton button) : m_button(button)
    {
        QTimer::singleShot(0, &m_context, [this] { press(); });
    }
    const QString& text() const { return m_text; }
    int count() const { return m_count; }

private:
    void press()
    {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) {
            QTimer::singleShot(10, &m_context, [this] { press(); });
            return;
        }
        m_text = box->text();
        ++m_count;
        box->button(m_button)->click();
    }
    QObject m_context;
    QMessageBox::StandardButton m_button;
    QString m_text;
    int m_count = 0;
};

QString badMinimum(unsigned taken)
{
    return QStringLiteral("Ошибка при вводе минимального значения.\r\nЧисло должно быть не менее 0 и не более "
                          "4294967295.\r\nБудет принято значение: %1")
        .arg(taken);
}

QString badMaximum(unsigned taken)
{
    return QStringLiteral("Ошибка при вводе максимального значения.\r\nЧисло должно быть не менее 0 и не более "
                          "4294967295.\r\nБудет принято значение: %1")
        .arg(taken);
}

}  // namespace

class FormRangeTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::TempDir> m_dir;
    std::unique_ptr<RegistryStore> m_registry;
    std::unique_ptr<peltra::config::ConfigStore> m_store;
    std::unique_ptr<peltra::config::TaskStore> m_tasks;

    peltra::config::Operator task() { return *m_tasks->task(kBinding, kTask); }

    template <typename T>
    static T* control(QWidget& form, const char* name)
    {
        T* widget = form.findChild<T*>(QString::fromLatin1(name));
        if (widget == nullptr)
            qFatal("control %s is missing", name);
        return widget;
    }

    static void type(QWidget& form, const char* box, const QString& text)
    {
        auto* edit = control<QLineEdit>(form, box);
        edit->clear();
        // Key clicks carry Latin-1 only; other letters are put in as an input method would.
        bool latin = true;
        for (QChar c : text)
            latin = latin && c.unicode() < 0x80;
        if (latin)
            QTest::keyClicks(edit, text);
        else
            edit->insert(text);
    }

    static void clickOk(QWidget& form) { QTest::mouseClick(control<QPushButton>(form, "cb_OK"), Qt::LeftButton); }

    QList<QPair<quint32, quint32>> storedRanges()
    {
        QList<QPair<quint32, quint32>> ranges;
        for (const auto& range : task().ranges())
            ranges.append({range.minValue, range.maxValue});
        return ranges;
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<peltra::test::TempDir>();
        m_registry = std::make_unique<RegistryStore>(*m_dir / "registry.db");
        m_store = std::make_unique<peltra::config::ConfigStore>(*m_registry);
        m_tasks = std::make_unique<peltra::config::TaskStore>(*m_store);
        QVERIFY(m_tasks->addBinding(kBinding, "/data/abon.dbf", "") == peltra::config::AddResult::Added);
        QVERIFY(m_tasks->binding(kBinding)->operators().add(kTask) == peltra::config::AddResult::Added);
        QVERIFY(task().setRangeField("SUMMA", "N") == peltra::config::Change::Changed);
    }

    void cleanup()
    {
        m_tasks.reset();
        m_store.reset();
        m_registry.reset();
        m_dir.reset();
    }

    void readingABound_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("isMaximum");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<quint32>("value");
        QTest::newRow("1 number") << "42" << false << true << 42u;
        QTest::newRow("2 blanks around") << "  42 " << true << true << 42u;
        QTest::newRow("3 leading zeros") << "0000000000007" << false << true << 7u;
        QTest::newRow("4 plus sign") << "+7" << false << true << 7u;
        QTest::newRow("5 zero") << "0" << true << true << 0u;
        QTest::newRow("6 the top") << "4294967295" << true << true << 4294967295u;
        QTest::newRow("7 one over the top: the top") << "4294967296" << false << false << 4294967295u;
        QTest::newRow("8 far over: the top") << "99999999999999999999" << false << false << 4294967295u;
        QTest::newRow("9 negative: zero") << "-5" << true << false << 0u;
        QTest::newRow("10 minus zero is zero") << "-0" << false << true << 0u;
        QTest::newRow("11 empty minimum: 0") << "" << false << false << 0u;
        QTest::newRow("12 empty maximum: the top") << "" << true << false << 4294967295u;
        QTest::newRow("13 letters, minimum") << "abc" << false << false << 0u;
        QTest::newRow("14 letters, maximum") << "abc" << true << false << 4294967295u;
        QTest::newRow("15 fraction") << "1.5" << false << false << 0u;
        QTest::newRow("16 number then letters") << "12ab" << true << false << 4294967295u;
        QTest::newRow("17 blanks only") << "   " << false << false << 0u;
    }

    void readingABound()
    {
        QFETCH(QString, text);
        QFETCH(bool, isMaximum);
        QFETCH(bool, readable);
        QFETCH(quint32, value);
        const FormRange::Reading reading = FormRange::readBound(text, isMaximum);
        QCOMPARE(reading.readable, readable);
        QCOMPARE(reading.value, value);
    }

    void aNewRangeGivenTheWrongWayRoundIsStoredSwapped()
    {
        QVERIFY(task().setValid(true));
        FormRange form(*m_store, kBinding, kTask, std::nullopt);
        form.show();
        QCOMPARE(form.windowTitle(), QStringLiteral("Новый диапазон"));
        QCOMPARE(control<QLabel>(form, "label_ranges")->text(), QStringLiteral("Назначенные диапазоны :"));
        QCOMPARE(control<QLabel>(form, "label_hint")->text(),
                 QStringLiteral("Введите целые числа от 0 до 4294967295:"));
        QCOMPARE(control<QListWidget>(form, "lv_ranges")->count(), 0);
        type(form, "textb_min", "500");
        type(form, "textb_max", "100");
        BoxAnswer none(QMessageBox::Ok);
        clickOk(form);
        QCOMPARE(none.count(), 0);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(form.range(), std::optional<std::string>("0001"));
        QCOMPARE(storedRanges(), (QList<QPair<quint32, quint32>>{{100u, 500u}}));
        QVERIFY(form.withdrawn());
        QVERIFY(!task().valid());
    }

    void anExistingRangeIsShownAndChanged()
    {
        QVERIFY(task().addRange(1, 100));
        QVERIFY(task().addRange(500, 600));
        QVERIFY(task().setValid(true));
        FormRange form(*m_store, kBinding, kTask, std::string("0002"));
        form.resize(380, form.sizeHint().height());
        form.show();
        QCOMPARE(form.windowTitle(), QStringLiteral("Диапазон"));
        auto* list = control<QListWidget>(form, "lv_ranges");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), QStringLiteral("Диапазон 1:  1 <= SUMMA <= 100"));
        QCOMPARE(list->item(1)->text(), QStringLiteral("Диапазон 2:  500 <= SUMMA <= 600"));
        QCOMPARE(control<QLineEdit>(form, "textb_min")->text(), QStringLiteral("500"));
        QCOMPARE(control<QLineEdit>(form, "textb_max")->text(), QStringLiteral("600"));
        QVERIFY(form.grab().save(QStringLiteral("FormRange.png")));

        // Unchanged bounds write nothing and keep the task included.
        clickOk(form);
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(!form.withdrawn());
        QVERIFY(task().valid());

        FormRange again(*m_store, kBinding, kTask, std::string("0002"));
        again.show();
        type(again, "textb_max", "700");
        clickOk(again);
        QCOMPARE(storedRanges(), (QList<QPair<quint32, quint32>>{{1u, 100u}, {500u, 700u}}));
        QVERIFY(again.withdrawn());
    }

    void anUnreadableMinimumAsksAndCancelReturnsToTheField()
    {
        FormRange form(*m_store, kBinding, kTask, std::nullopt);
        form.show();
        type(form, "textb_min", "");
        type(form, "textb_max", "50");
        control<QLineEdit>(form, "textb_max")->setFocus();
        {
            BoxAnswer answer(QMessageBox::Cancel);
            clickOk(form);
            QCOMPARE(answer.text(), badMinimum(0));
        }
        QVERIFY(form.isVisible());
        QCOMPARE(form.result(), int(QDialog::Rejected));
        QCOMPARE(form.focusWidget(), control<QWidget>(form, "textb_min"));
        QVERIFY(storedRanges().isEmpty());

        // OK takes the stated value.
        BoxAnswer answer(QMessageBox::Ok);
        clickOk(form);
        QCOMPARE(answer.text(), badMinimum(0));
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QCOMPARE(control<QLineEdit>(form, "textb_min")->text(), QStringLiteral("0"));
        QCOMPARE(storedRanges(), (QList<QPair<quint32, quint32>>{{0u, 50u}}));
    }

    void unreadableMaximaTakeTheStatedValue_data()
    {
        QTest::addColumn<QString>("minimum");
        QTest::addColumn<QString>("maximum");
        QTest::addColumn<QString>("message");
        QTest::addColumn<quint32>("storedMin");
        QTest::addColumn<quint32>("storedMax");
        QTest::newRow("1 empty maximum: open upwards") << "10" << "" << badMaximum(4294967295u) << 10u << 4294967295u;
        QTest::newRow("2 letters") << "10" << "много" << badMaximum(4294967295u) << 10u << 4294967295u;
        QTest::newRow("3 too large") << "10" << "5000000000" << badMaximum(4294967295u) << 10u << 4294967295u;
        QTest::newRow("4 negative maximum: 0, then swapped") << "10" << "-1" << badMaximum(0) << 0u << 10u;
    }

    void unreadableMaximaTakeTheStatedValue()
    {
        QFETCH(QString, minimum);
        QFETCH(QString, maximum);
        QFETCH(QString, message);
        QFETCH(quint32, storedMin);
        QFETCH(quint32, storedMax);
        FormRange form(*m_store, kBinding, kTask, std::nullopt);
        form.show();
        type(form, "textb_min", minimum);
        type(form, "textb_max", maximum);
        BoxAnswer answer(QMessageBox::Ok);
        clickOk(form);
        QCOMPARE(answer.count(), 1);
        QCOMPARE(answer.text(), message);
        QCOMPARE(storedRanges(), (QList<QPair<quint32, quint32>>{{storedMin, storedMax}}));
    }

    void cancellingTheMaximumStoresNothing()
    {
        FormRange form(*m_store, kBinding, kTask, std::nullopt);
        form.show();
        type(form, "textb_min", "10");
        type(form, "textb_max", "x");
        BoxAnswer answer(QMessageBox::Cancel);
        clickOk(form);
        QCOMPARE(answer.text(), badMaximum(4294967295u));
        QCOMPARE(form.focusWidget(), control<QWidget>(form, "textb_max"));
        QCOMPARE(control<QLineEdit>(form, "textb_max")->selectedText(), QStringLiteral("x"));
        QVERIFY(storedRanges().isEmpty());
    }

    void aFailedWriteIsReported_data()
    {
        QTest::addColumn<bool>("existing");
        QTest::newRow("1 adding to a task removed meanwhile") << false;
        QTest::newRow("2 changing a range removed meanwhile") << true;
    }

    void aFailedWriteIsReported()
    {
        QFETCH(bool, existing);
        QVERIFY(task().addRange(1, 2));
        FormRange form(*m_store, kBinding, kTask, existing ? std::optional<std::string>("0001") : std::nullopt);
        form.show();
        type(form, "textb_min", "5");
        type(form, "textb_max", "6");
        if (existing)
            QVERIFY(task().removeRange("0001"));
        else
            QVERIFY(m_tasks->binding(kBinding)->operators().remove(kTask));
        BoxAnswer answer(QMessageBox::Ok);
        clickOk(form);
        QCOMPARE(answer.text(), QStringLiteral("Ошибка записи диапазона!"));
        QVERIFY(form.isVisible());
        QCOMPARE(form.result(), int(QDialog::Rejected));
        if (existing)
            QVERIFY(storedRanges().isEmpty());  // not brought back
        else
            QVERIFY(!m_tasks->task(kBinding, kTask));
    }
};

QTEST_MAIN(FormRangeTest)
#include "FormRangeTest.moc"
