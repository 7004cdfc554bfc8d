// The range dialog: bounds stored through the task (swapped when given the wrong way round, the
// task withdrawn), entries that cannot be read with the value taken or the focus returned, and
// failed writes.
#include "config/forms/FormRange.h"

#include "support/ConfigFormTools.h"
#include "support/ConfigTestStore.h"

#include <QLineEdit>
#include <QListWidget>

#include <memory>
#include <tuple>

using peltra::config::FormRange;
using peltra::test::BoxAnswer;
using peltra::test::click;
using peltra::test::control;
using Ranges = QList<QPair<quint32, quint32>>;

namespace {

QString bad(const char* which, unsigned taken)
{
    return QStringLiteral("Ошибка при вводе %1 значения.\r\nЧисло должно быть не менее 0 и не более "
                          "4294967295.\r\nБудет принято значение: %2")
        .arg(QString::fromUtf8(which))
        .arg(taken);
}

}  // namespace

class FormRangeTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<peltra::test::ConfigTestStore> m_config;

    std::unique_ptr<FormRange> form(std::optional<std::string> range = std::nullopt)
    {
        auto f = std::make_unique<FormRange>(m_config->store, m_config->kBinding, m_config->kTask, range);
        f->show();
        return f;
    }

    // Fills both boxes as typed; letters beyond Latin-1 are put in as an input method would.
    static void type(QWidget& form, const QString& minimum, const QString& maximum)
    {
        const std::pair<const char*, QString> boxes[] = {{"textb_min", minimum}, {"textb_max", maximum}};
        for (const auto& [box, text] : boxes) {
            auto* edit = control<QLineEdit>(form, box);
            edit->clear();
            edit->insert(text);
        }
    }

    Ranges storedRanges()
    {
        Ranges ranges;
        for (const auto& range : m_config->task().ranges())
            ranges.append({range.minValue, range.maxValue});
        return ranges;
    }

private slots:
    void init()
    {
        m_config = std::make_unique<peltra::test::ConfigTestStore>();
        QVERIFY(m_config->addTask());
        QVERIFY(m_config->task().setRangeField("SUMMA", "N") == peltra::config::Change::Changed);
    }

    void cleanup() { m_config.reset(); }

    void readingABound()
    {
        // text, is the maximum, readable, value taken.
        const std::tuple<const char*, bool, bool, quint32> cases[] = {
            {"  42 ", true, true, 42u},                          {"0000000000007", false, true, 7u},
            {"+7", false, true, 7u},                             {"4294967295", true, true, 4294967295u},
            {"4294967296", false, false, 4294967295u},           {"99999999999999999999", false, false, 4294967295u},
            {"-5", true, false, 0u},                             {"-0", false, true, 0u},
            {"", false, false, 0u},                              {"", true, false, 4294967295u},
            {"1.5", false, false, 0u},                           {"12ab", true, false, 4294967295u},
        };
        for (const auto& [text, isMaximum, readable, value] : cases) {
            const FormRange::Reading reading = FormRange::readBound(QString::fromUtf8(text), isMaximum);
            QCOMPARE(qMakePair(reading.readable, reading.value), qMakePair(readable, value));
        }
    }

    void aNewRangeIsStoredSwappedAndAnExistingOneChanged()
    {
        BoxAnswer none(QMessageBox::Ok);
        QVERIFY(m_config->task().setValid(true));
        auto f = form();
        QCOMPARE(f->windowTitle(), QStringLiteral("Новый диапазон"));
        type(*f, "500", "100");
        click(*f, "cb_OK");
        QCOMPARE(f->result(), int(QDialog::Accepted));
        QCOMPARE(f->range(), std::optional<std::string>("0001"));
        QCOMPARE(storedRanges(), (Ranges{{100u, 500u}}));
        QVERIFY(f->withdrawn());
        QVERIFY(!m_config->task().valid());

        QVERIFY(m_config->task().addRange(4000000000u, 4294967295u));
        QVERIFY(m_config->task().setValid(true));
        auto existing = form(std::string("0002"));
        QCOMPARE(existing->windowTitle(), QStringLiteral("Диапазон"));
        auto* list = control<QListWidget>(*existing, "lv_ranges");
        QCOMPARE(list->count(), 2);
        QCOMPARE(list->item(0)->text(), QStringLiteral("Диапазон 1:  100 <= SUMMA <= 500"));
        QCOMPARE(list->item(1)->text(), QStringLiteral("Диапазон 2:  4000000000 <= SUMMA <= 4294967295"));
        // Unchanged bounds write nothing and keep the task included.
        click(*existing, "cb_OK");
        QCOMPARE(existing->result(), int(QDialog::Accepted));
        QVERIFY(!existing->withdrawn());
        QVERIFY(m_config->task().valid());

        auto again = form(std::string("0002"));
        QCOMPARE(control<QLineEdit>(*again, "textb_min")->text(), QStringLiteral("4000000000"));
        type(*again, "4000000000", "4000000700");
        click(*again, "cb_OK");
        QCOMPARE(storedRanges(), (Ranges{{100u, 500u}, {4000000000u, 4000000700u}}));
        QVERIFY(again->withdrawn());
        QCOMPARE(none.count, 0);
    }

    void anUnreadableMinimumAsksAndCancelReturnsToTheField()
    {
        auto f = form();
        type(*f, "", "50");
        control<QLineEdit>(*f, "textb_max")->setFocus();
        {
            BoxAnswer answer(QMessageBox::Cancel);
            click(*f, "cb_OK");
            QCOMPARE(answer.text, bad("минимального", 0));
        }
        QVERIFY(f->isVisible());
        QCOMPARE(f->focusWidget(), control<QWidget>(*f, "textb_min"));
        QVERIFY(storedRanges().isEmpty());
        // OK takes the stated value.
        BoxAnswer answer(QMessageBox::Ok);
        click(*f, "cb_OK");
        QCOMPARE(answer.count, 1);
        QCOMPARE(f->result(), int(QDialog::Accepted));
        QCOMPARE(control<QLineEdit>(*f, "textb_min")->text(), QStringLiteral("0"));
        QCOMPARE(storedRanges(), (Ranges{{0u, 50u}}));
    }

    void unreadableMaximaTakeTheStatedValue()
    {
        const Ranges top{{10u, 4294967295u}};
        // Empty (open upwards), letters, too large, negative (0, then swapped), cancelled.
        const std::tuple<QString, bool, quint32, Ranges> cases[] = {
            {"", true, 4294967295u, top},         {"много", true, 4294967295u, top},
            {"5000000000", true, 4294967295u, top}, {"-1", true, 0u, Ranges{{0u, 10u}}},
            {"x", false, 4294967295u, Ranges{}},
        };
        for (const auto& [maximum, accept, taken, stored] : cases) {
            init();
            auto f = form();
            type(*f, "10", maximum);
            BoxAnswer answer(accept ? QMessageBox::Ok : QMessageBox::Cancel);
            click(*f, "cb_OK");
            QCOMPARE(answer.count, 1);
            QCOMPARE(answer.text, bad("максимального", taken));
            QCOMPARE(storedRanges(), stored);
            if (!accept) {
                QCOMPARE(f->focusWidget(), control<QWidget>(*f, "textb_max"));
                QCOMPARE(control<QLineEdit>(*f, "textb_max")->selectedText(), maximum);
            }
        }
    }

    void aFailedWriteIsReported()
    {
        for (const bool existing : {false, true}) {
            if (existing)
                QVERIFY(m_config->addTask());
            QVERIFY(m_config->task().addRange(1, 2));
            auto f = form(existing ? std::optional<std::string>("0001") : std::nullopt);
            type(*f, "5", "6");
            // The range, or the whole task, is removed meanwhile.
            if (existing)
                QVERIFY(m_config->task().removeRange("0001"));
            else
                QVERIFY(m_config->tasks.removeBinding(m_config->kBinding));
            BoxAnswer answer(QMessageBox::Ok);
            click(*f, "cb_OK");
            QCOMPARE(answer.text, QStringLiteral("Ошибка записи диапазона!"));
            QVERIFY(f->isVisible());
            QVERIFY(storedRanges().isEmpty());  // not brought back
        }
    }
};

QTEST_MAIN(FormRangeTest)
#include "FormRangeTest.moc"
