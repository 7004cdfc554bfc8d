// The engine's reports queued to the main window.
#include "shell/QueuedViews.h"

#include <QMetaObject>

namespace peltra::shell {

namespace {

// One line's monitor window, reached through the main window on its thread.
class QueuedLineView : public line::LineView {
public:
    QueuedLineView(QPointer<Mainf> window, unsigned number, const std::string& port)
        : m_window(std::move(window)), m_number(number)
    {
        call([port](Mainf& w, unsigned n) { w.addLineMonitor(n, port); });
    }
    ~QueuedLineView() override
    {
        call([](Mainf& w, unsigned n) { w.removeLineMonitor(n); });
    }

    void showPortName(const std::string& port) override
    {
        onMonitor([port](line::LineMonitor& m) { m.showPortName(QString::fromStdString(port)); });
    }
    void showHook(bool offHook) override { onMonitor([offHook](line::LineMonitor& m) { m.showHook(offHook); }); }
    void showCarrier(bool on) override { onMonitor([on](line::LineMonitor& m) { m.showCarrier(on); }); }
    void showPolarity(bool normal) override { onMonitor([normal](line::LineMonitor& m) { m.showPolarity(normal); }); }
    void setDisplayText(const std::string& text) override
    {
        onMonitor([text](line::LineMonitor& m) { m.setDisplayText(QString::fromStdString(text)); });
    }
    void appendDisplayText(const std::string& text) override
    {
        onMonitor([text](line::LineMonitor& m) { m.appendDisplayText(QString::fromStdString(text)); });
    }
    void setDisplayColour(line::DisplayColour colour) override
    {
        onMonitor([colour](line::LineMonitor& m) { m.setDisplayColour(colour); });
    }
    void appendLog(const std::string& text) override
    {
        onMonitor([text](line::LineMonitor& m) { m.appendLog(QString::fromStdString(text)); });
    }
    void replaceLog(const std::string& text) override
    {
        onMonitor([text](line::LineMonitor& m) { m.replaceLog(QString::fromStdString(text)); });
    }
    void appendPhraseLog(const std::string& text) override { appendLog(text); }
    void clearStatus() override { onMonitor([](line::LineMonitor& m) { m.clearStatus(); }); }
    void showMessage(const std::string& caption, const std::string& text) override
    {
        call([caption, text](Mainf& w, unsigned n) { w.showLineMessage(n, caption, text); });
    }

private:
    template <typename Work>
    void call(Work work)
    {
        if (!m_window)
            return;
        const unsigned number = m_number;
        Mainf* window = m_window.data();
        QMetaObject::invokeMethod(
            window, [window, number, work] { work(*window, number); }, Qt::QueuedConnection);
    }
    template <typename Work>
    void onMonitor(Work work)
    {
        call([work](Mainf& w, unsigned n) {
            if (line::LineMonitor* monitor = w.monitor(n))
                work(*monitor);
        });
    }

    QPointer<Mainf> m_window;
    unsigned m_number;
};

}  // namespace

QueuedViews::QueuedViews(Mainf* window) : m_window(window) {}

template <typename Work>
void QueuedViews::queue(Work&& work)
{
    if (!m_window)
        return;
    Mainf* window = m_window.data();
    QMetaObject::invokeMethod(
        window, [window, work = std::forward<Work>(work)] { work(*window); }, Qt::QueuedConnection);
}

engine::StationViews QueuedViews::stationViews()
{
    engine::StationViews views;
    views.tasks = this;
    views.lines = this;
    views.station = this;
    views.lineView = [this](unsigned number, const std::string& port) { return lineView(number, port); };
    return views;
}

std::unique_ptr<line::LineView> QueuedViews::lineView(unsigned number, const std::string& port)
{
    return std::make_unique<QueuedLineView>(m_window, number, port);
}

void QueuedViews::taskAdded(const engine::TaskRow& row)
{
    queue([row](Mainf& w) { w.taskAdded(row); });
}

void QueuedViews::taskChanged(const engine::TaskRow& row)
{
    queue([row](Mainf& w) { w.taskChanged(row); });
}

void QueuedViews::taskRemoved(std::uint32_t id)
{
    queue([id](Mainf& w) { w.taskRemoved(id); });
}

void QueuedViews::workComplete()
{
    queue([](Mainf& w) { w.workComplete(); });
}

void QueuedViews::lineAdded(unsigned number, const std::string& port)
{
    queue([number, port](Mainf& w) { w.lineAdded(number, port); });
}

void QueuedViews::lineRemoved(unsigned number)
{
    queue([number](Mainf& w) { w.lineRemoved(number); });
}

void QueuedViews::lineChanged(unsigned number, const std::string& stateText, const std::string& taskText,
                              calls::LineIcon icon, const std::string& remark)
{
    queue([=](Mainf& w) { w.lineChanged(number, stateText, taskText, icon, remark); });
}

void QueuedViews::showAnswer(const std::string& word)
{
    queue([word](Mainf& w) { w.showAnswer(word); });
}

void QueuedViews::showMessage(const std::string& caption, const std::string& text)
{
    queue([caption, text](Mainf& w) { w.showMessage(caption, text); });
}

void QueuedViews::showSchedulerState(const std::string& text, bool paused)
{
    queue([text, paused](Mainf& w) { w.showSchedulerState(text, paused); });
}

void QueuedViews::showLocalPhoneState(const std::string& text, bool on)
{
    queue([text, on](Mainf& w) { w.showLocalPhoneState(text, on); });
}

void QueuedViews::showNotice(const std::string& caption, const std::string& text)
{
    queue([caption, text](Mainf& w) { w.showNotice(caption, text); });
}

}  // namespace peltra::shell
