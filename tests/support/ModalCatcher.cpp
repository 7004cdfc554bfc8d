// The modal window answerer of the data window tests.
#include "support/ModalCatcher.h"

#include "data/forms/OdbcErrorMessageBox.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QPushButton>
#include <QTest>
#include <QTimer>

namespace peltra::test {

ModalCatcher::ModalCatcher(QObject* parent) : QObject(parent)
{
    auto* timer = new QTimer(this);
    timer->setInterval(5);
    connect(timer, &QTimer::timeout, this, &ModalCatcher::poll);
    timer->start();
}

QStringList ModalCatcher::texts() const
{
    QStringList result;
    for (const Box& box : m_boxes)
        result << box.text;
    return result;
}

void ModalCatcher::poll()
{
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr || !modal->isVisible())
        return;
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        m_boxes.push_back({box->windowTitle(), box->text(), false});
        QAbstractButton* button = nullptr;
        if (!m_answers.empty()) {
            button = box->button(m_answers.front());
            m_answers.pop_front();
        }
        if (button == nullptr)
            button = box->defaultButton();
        if (button == nullptr && !box->buttons().isEmpty())
            button = box->buttons().first();
        if (button != nullptr)
            button->click();
        return;
    }
    if (auto* errorBox = qobject_cast<data::OdbcErrorMessageBox*>(modal)) {
        m_boxes.push_back({errorBox->windowTitle(), errorBox->text(), true});
        errorBox->accept();
        return;
    }
    auto* dialog = qobject_cast<QDialog*>(modal);
    if (dialog == nullptr || !m_dialogHandler)
        return;
    for (const QPointer<QDialog>& handled : m_handled) {
        if (handled == dialog)
            return;
    }
    m_handled.push_back(dialog);
    QPointer<QDialog> guarded(dialog);
    QTimer::singleShot(0, this, [this, guarded] {
        if (guarded)
            m_dialogHandler(guarded);
    });
}

void typeText(QWidget* widget, const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(widget, c.toLatin1());
        } else {
            QTest::sendKeyEvent(QTest::Press, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
            QTest::sendKeyEvent(QTest::Release, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
        }
    }
}

QStringList modelRows(const QAbstractItemModel& model)
{
    QStringList rows;
    for (int r = 0; r < model.rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < model.columnCount(); ++c)
            cells << model.index(r, c).data().toString();
        rows << cells.join('|');
    }
    return rows;
}

QStringList modelHeaders(const QAbstractItemModel& model)
{
    QStringList result;
    for (int c = 0; c < model.columnCount(); ++c)
        result << model.headerData(c, Qt::Horizontal).toString();
    return result;
}

void click(QWidget& form, const char* name)
{
    auto* button = child<QAbstractButton>(form, name);
    QVERIFY2(button->isEnabled(), name);
    QTest::mouseClick(button, Qt::LeftButton);
}

}  // namespace peltra::test
