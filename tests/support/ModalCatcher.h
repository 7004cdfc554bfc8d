// Test helper: answers the modal windows a window under test opens and remembers the boxes.
#pragma once

#include <QAbstractItemModel>
#include <QWidget>
#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>

#include <deque>
#include <functional>

class QDialog;

namespace peltra::test {

// Polls for the active modal window every few milliseconds while the test waits in a modal loop.
// A message box or an error box is recorded and closed: with the next queued answer when the box
// has that button, else with its default button. Any other modal dialog is handed once to the
// dialog handler, from a timer of its own, so the handler may open further modal loops. Lives on
// the UI thread; its timers die with it.
class ModalCatcher : public QObject {
public:
    struct Box {
        QString title;
        QString text;
        bool errorBox = false;  // an OdbcErrorMessageBox rather than a message box
    };

    explicit ModalCatcher(QObject* parent = nullptr);

    void answerNext(QMessageBox::StandardButton button) { m_answers.push_back(button); }
    void onDialog(std::function<void(QDialog*)> handler) { m_dialogHandler = std::move(handler); }

    const QList<Box>& boxes() const { return m_boxes; }
    QStringList texts() const;
    void clear() { m_boxes.clear(); }

private:
    void poll();

    QList<Box> m_boxes;
    std::deque<QMessageBox::StandardButton> m_answers;
    std::function<void(QDialog*)> m_dialogHandler;
    QList<QPointer<QDialog>> m_handled;
};

// Types text into a widget key by key, Cyrillic included (QTest::keyClicks takes Latin-1 only).
void typeText(QWidget* widget, const QString& text);

// The named child of a window under test; the test program stops when it is missing.
template <typename T = QWidget>
T* child(const QObject& form, const char* name)
{
    auto* widget = form.findChild<T*>(QString::fromLatin1(name));
    if (widget == nullptr)
        qFatal("%s is missing", name);
    return widget;
}

// A model's rows as "cell|cell|...", and its column headers.
QStringList modelRows(const QAbstractItemModel& model);
QStringList modelHeaders(const QAbstractItemModel& model);

// Clicks the named button, which must be enabled.
void click(QWidget& form, const char* name);

}  // namespace peltra::test
