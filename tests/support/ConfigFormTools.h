// Test helper for the configuration and port windows: controls by name and answers to modal boxes.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <deque>
#include <functional>

namespace peltra::test {

template <typename T = QWidget>
T* control(const QWidget& form, const QString& name)
{
    T* widget = form.findChild<T*>(name);
    if (widget == nullptr)
        qFatal("control %s is missing", qPrintable(name));
    return widget;
}

inline void click(const QWidget& form, const char* button)
{
    QTest::mouseClick(control<QPushButton>(form, button), Qt::LeftButton);
}

// Answers the modal windows that open while a test runs, one step per window, in order. A step
// runs from a fresh timer turn, so a window it opens in turn is answered too.
class ModalScript : public QObject {
public:
    ModalScript()
    {
        connect(&m_poll, &QTimer::timeout, this, &ModalScript::poll);
        m_poll.start(10);
    }
    void then(std::function<void(QWidget*)> step) { m_steps.push_back(std::move(step)); }
    bool done() const { return m_steps.empty(); }

private:
    void poll()
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == m_last || m_steps.empty())
            return;
        m_last = modal;
        auto step = std::move(m_steps.front());
        m_steps.pop_front();
        QPointer<QWidget> target(modal);
        QTimer::singleShot(0, this, [target, step] {
            if (target)
                step(target);
        });
    }

    QTimer m_poll;
    QPointer<QWidget> m_last;
    std::deque<std::function<void(QWidget*)>> m_steps;
};

// Presses a button of every message box that shows up while it lives, and keeps what the last
// one said.
class BoxAnswer : public ModalScript {
public:
    explicit BoxAnswer(QMessageBox::StandardButton button)
    {
        for (int i = 0; i < 4; ++i)
            then([this, button](QWidget* modal) {
                if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                    ++count;
                    text = box->text();
                    title = box->windowTitle();
                    box->button(button)->click();
                }
            });
    }
    int count = 0;
    QString text, title;
};

}  // namespace peltra::test
