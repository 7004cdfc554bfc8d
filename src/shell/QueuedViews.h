// The engine's observer interfaces for the main window: every report, from whatever thread, is
// queued to the window's thread and returns at once, so no worker ever waits on the window.
#pragma once

#include "calls/ListLine.h"
#include "engine/Controller.h"
#include "engine/ListActiveTasks.h"
#include "line/LineInterfaces.h"
#include "shell/Mainf.h"

#include <QPointer>

#include <memory>

namespace peltra::shell {

class QueuedViews : public engine::TaskListView, public calls::LineListView, public engine::StationView {
public:
    explicit QueuedViews(Mainf* window);

    // The views of a station shown in the window.
    engine::StationViews stationViews();
    // The monitor view of a new line: its widget is made, changed and removed on the window's
    // thread.
    std::unique_ptr<line::LineView> lineView(unsigned number, const std::string& port);

    void taskAdded(const engine::TaskRow& row) override;
    void taskChanged(const engine::TaskRow& row) override;
    void taskRemoved(std::uint32_t id) override;
    void workComplete() override;

    void lineAdded(unsigned number, const std::string& port) override;
    void lineRemoved(unsigned number) override;
    void lineChanged(unsigned number, const std::string& stateText, const std::string& taskText,
                     calls::LineIcon icon, const std::string& remark) override;
    void showAnswer(const std::string& word) override;
    void showMessage(const std::string& caption, const std::string& text) override;

    void showSchedulerState(const std::string& text, bool paused) override;
    void showLocalPhoneState(const std::string& text, bool on) override;
    void showNotice(const std::string& caption, const std::string& text) override;

private:
    template <typename Work>
    void queue(Work&& work);

    QPointer<Mainf> m_window;
};

}  // namespace peltra::shell
