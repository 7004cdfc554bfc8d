// The line pool: lines follow the configured ports, states drive the line list, and call
// results come back through the outcome entry.
#include "calls/ListLine.h"

#include "platform/text/CaseFold.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace peltra::calls {

namespace {

// How long Shutdown waits for the pool thread.
constexpr std::uint32_t kJoinTimeoutMs = 20000;
// How long a session that has already reported may take to return. It only has to leave the
// outcome entry, so this is a bound against a wrong caller, not a wait anyone should see.
constexpr auto kReportedSessionLimit = std::chrono::milliseconds(2000);

bool isIdle(int state)
{
    return state == kLineFree || state == kLineOutOfOrder;
}

bool holdsResult(int state)
{
    return state >= kLineDelivered && state <= kLineError;
}

}  // namespace

std::optional<std::string> lineStateText(int state)
{
    switch (state) {
    case kLineFree:
        return "Бездействует";
    case kLineOutOfOrder:
        return "Недоступен";
    case kLineBusy:
    case kLineDelivered:
    case kLineNoAnswer:
    case kLineHungUp:
    case kLineError:
        return "Работает";
    default:
        return std::nullopt;
    }
}

std::optional<LineIcon> lineStateIcon(int state)
{
    if (state == kLineFree)
        return LineIcon::Free;
    if (state == kLineOutOfOrder)
        return LineIcon::OutOfOrder;
    if (state == kLineBusy || holdsResult(state))
        return LineIcon::Working;
    return std::nullopt;
}

int lineStateForResult(std::uint32_t result)
{
    switch (result) {
    case line::kCallDelivered:
        return kLineDelivered;
    case line::kCallNoAnswer:
        return kLineNoAnswer;
    case line::kCallHungUp:
        return kLineHungUp;
    default:
        return kLineError;
    }
}

std::string answerWord(std::uint32_t result)
{
    switch (result) {
    case line::kCallDelivered:
        return "Нормально";
    case line::kCallNoAnswer:
        return "Нет ответа";
    case line::kCallHungUp:
        return "Положили трубку";
    default:
        return "Ошибка";
    }
}

Line::Line(unsigned lineNumber, std::string port, std::unique_ptr<line::LineDevice> lineDevice,
           std::unique_ptr<line::LineView> lineView)
    : number(lineNumber),
      portName(std::move(port)),
      view(std::move(lineView)),
      device(std::move(lineDevice))
{
    device->setView(view.get());
}

ListLine::ListLine(const line::LineEnvironment& environment, platform::Event& linesChanged,
                   ConfiguredPorts configuredPorts, LineViewFactory viewFactory,
                   LineListView* listView, LineDeviceFactory deviceFactory)
    : m_environment(environment),
      m_linesChanged(linesChanged),
      m_configuredPorts(std::move(configuredPorts)),
      m_viewFactory(std::move(viewFactory)),
      m_listView(listView),
      m_deviceFactory(std::move(deviceFactory))
{
    // Without its thread the pool never creates a line; the station then has no lines to use.
    m_thread.start([this] { return poolThread(); });
}

ListLine::~ListLine()
{
    Shutdown();
    m_thread.join();
    std::vector<LineHandle> left;
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        left.swap(m_lines);
    }
    stopLines(std::move(left));
}

void ListLine::setLineEvents(LineEvents* events)
{
    std::lock_guard lock(m_eventsMutex);
    m_events = events;
}

std::optional<unsigned> ListLine::Add(const std::string& port)
{
    std::optional<unsigned> number;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return std::nullopt;
        number = addLocked(port);
    }
    deliverNotes();
    return number;
}

bool ListLine::SetState(unsigned lineNumber, int state)
{
    if (state < kLineNotInService || state > kLineLastState)
        return false;
    {
        std::lock_guard lock(m_mutex);
        Line* line = find(lineNumber);
        if (line == nullptr)
            return false;
        if (state == kLineBusy && holdsResult(line->state))
            return false;
        applyState(*line, state);
    }
    deliverNotes();
    return true;
}

int ListLine::GetState(unsigned lineNumber) const
{
    std::lock_guard lock(m_mutex);
    const Line* line = find(lineNumber);
    return line != nullptr ? line->state : kLineNotInService;
}

bool ListLine::SetTaskInfo(unsigned lineNumber, const TaskLink& link)
{
    std::lock_guard lock(m_mutex);
    Line* line = find(lineNumber);
    if (line == nullptr)
        return false;
    line->task = link;
    return true;
}

std::optional<TaskLink> ListLine::GetTaskInfo(unsigned lineNumber) const
{
    std::lock_guard lock(m_mutex);
    const Line* line = find(lineNumber);
    if (line == nullptr)
        return std::nullopt;
    return line->task;
}

bool ListLine::SetPhraseList(unsigned lineNumber, std::vector<std::string> phrases)
{
    std::lock_guard lock(m_mutex);
    Line* line = find(lineNumber);
    if (line == nullptr || !sessionEnded(*line))
        return false;
    line->device->GetPhraseList() = std::move(phrases);
    return true;
}

std::optional<std::vector<std::string>> ListLine::GetPhraseList(unsigned lineNumber) const
{
    std::lock_guard lock(m_mutex);
    const Line* line = find(lineNumber);
    if (line == nullptr || !sessionEnded(*line))
        return std::nullopt;
    return line->device->GetPhraseList();
}

bool ListLine::StartCall(unsigned lineNumber, const std::string& number)
{
    bool started = false;
    {
        std::lock_guard lock(m_mutex);
        Line* line = find(lineNumber);
        if (line == nullptr || line->state != kLineFree || line->toBeRemoved)
            return false;
        // Under the lock, so the result of a call that ends at once cannot come before state 2.
        started = sessionEnded(*line) && line->device->StartCall(number);
        if (started)
            line->remark = "Номер " + number;
        applyState(*line, started ? kLineBusy : kLineOutOfOrder);
    }
    deliverNotes();
    return started;
}

std::string ListLine::GetPortName(unsigned lineNumber) const
{
    std::lock_guard lock(m_mutex);
    const Line* line = find(lineNumber);
    return line != nullptr ? line->portName : std::string();
}

std::string ListLine::GetCallError(unsigned lineNumber) const
{
    std::lock_guard lock(m_mutex);
    const Line* line = find(lineNumber);
    return line != nullptr ? line->callError : std::string();
}

std::optional<unsigned> ListLine::FirstFree() const
{
    std::lock_guard lock(m_mutex);
    return freeFrom(0);
}

std::optional<unsigned> ListLine::NextFree(unsigned lineNumber) const
{
    std::lock_guard lock(m_mutex);
    for (std::size_t i = 0; i < m_lines.size(); ++i) {
        if (m_lines[i]->number == lineNumber)
            return freeFrom(i + 1);
    }
    return std::nullopt;
}

bool ListLine::FindByPortName(const std::string& port) const
{
    std::lock_guard lock(m_mutex);
    return std::any_of(m_lines.begin(), m_lines.end(), [&](const LineHandle& line) {
        return platform::equalsIgnoreCase(line->portName, port);
    });
}

std::vector<std::string> ListLine::portNames() const
{
    std::lock_guard lock(m_mutex);
    std::vector<std::string> names;
    for (const LineHandle& line : m_lines)
        names.push_back(line->portName);
    return names;
}

void ListLine::Shutdown()
{
    if (m_stopped.exchange(true))
        return;
    m_stop.set();
    // A thread still stopping lines after the limit is waited for by the destructor.
    m_thread.join(kJoinTimeoutMs);
}

std::uint64_t ListLine::synchronisations() const
{
    std::lock_guard lock(m_mutex);
    return m_synchronisations;
}

void ListLine::callFinished(unsigned lineNumber, std::uint32_t result, const std::string& reason)
{
    {
        std::lock_guard lock(m_mutex);
        Line* line = find(lineNumber);
        // A line already taken away was stopped: its session cannot report, and must not.
        if (line == nullptr)
            return;
        const int state = lineStateForResult(result);
        line->callError = state == kLineError ? reason : std::string();
        applyState(*line, state);
        if (m_listView != nullptr) {
            m_notes.push_back([word = answerWord(result)](LineListView& view) { view.showAnswer(word); });
        }
    }
    deliverNotes();
    post(lineNumber);
}

void ListLine::lineReadiness(unsigned lineNumber, bool ready, const std::string& /*why*/)
{
    bool offer = false;
    {
        std::lock_guard lock(m_mutex);
        Line* line = find(lineNumber);
        if (line == nullptr)
            return;
        // A line in a call, or with a result waiting, is left alone: the call reports for itself.
        if (ready && line->state == kLineOutOfOrder) {
            applyState(*line, kLineFree);
            offer = true;
        } else if (!ready && line->state == kLineFree) {
            applyState(*line, kLineOutOfOrder);
        }
    }
    deliverNotes();
    if (offer)
        post(lineNumber);
}

std::uint32_t ListLine::poolThread()
{
    for (;;) {
        const int which = platform::waitAny({&m_environment.shutdown, &m_stop, &m_linesChanged},
                                            platform::infiniteTimeout);
        if (which == 0 || which == 1)
            break;
        if (which == 2)
            synchronise();
    }

    std::vector<LineHandle> all;
    {
        std::lock_guard lock(m_mutex);
        m_closed = true;
        all.swap(m_lines);
        if (m_listView != nullptr) {
            for (const LineHandle& line : all)
                m_notes.push_back([n = line->number](LineListView& view) { view.lineRemoved(n); });
        }
    }
    deliverNotes();
    stopLines(std::move(all));
    return 0;
}

void ListLine::synchronise()
{
    std::vector<std::string> configured;
    for (std::string& port : m_configuredPorts ? m_configuredPorts() : std::vector<std::string>{}) {
        const bool known = std::any_of(configured.begin(), configured.end(), [&](const std::string& p) {
            return platform::equalsIgnoreCase(p, port);
        });
        if (!port.empty() && !known)
            configured.push_back(std::move(port));
    }
    auto isConfigured = [&](const std::string& port) {
        return std::any_of(configured.begin(), configured.end(), [&](const std::string& p) {
            return platform::equalsIgnoreCase(p, port);
        });
    };

    std::vector<LineHandle> removed;
    std::vector<unsigned> freeLines;
    {
        std::lock_guard lock(m_mutex);
        if (m_closed)
            return;
        for (auto it = m_lines.begin(); it != m_lines.end();) {
            Line& line = **it;
            if (isConfigured(line.portName)) {
                line.toBeRemoved = false;
            } else if (isIdle(line.state)) {
                if (m_listView != nullptr)
                    m_notes.push_back([n = line.number](LineListView& view) { view.lineRemoved(n); });
                removed.push_back(std::move(*it));
                it = m_lines.erase(it);
                continue;
            } else {
                // Busy: it goes once it is idle again (SetState signals the next synchronisation).
                line.toBeRemoved = true;
            }
            ++it;
        }
        for (const std::string& port : configured) {
            const bool hasLine = std::any_of(m_lines.begin(), m_lines.end(), [&](const LineHandle& line) {
                return platform::equalsIgnoreCase(line->portName, port);
            });
            if (hasLine)
                continue;
            const unsigned number = addLocked(port);
            if (m_lines.back()->state == kLineFree)
                freeLines.push_back(number);
        }
    }
    deliverNotes();
    for (unsigned number : freeLines)
        post(number);
    stopLines(std::move(removed));

    std::lock_guard lock(m_mutex);
    ++m_synchronisations;
}

Line* ListLine::find(unsigned lineNumber) const
{
    for (const LineHandle& line : m_lines) {
        if (line->number == lineNumber)
            return line.get();
    }
    return nullptr;
}

std::optional<unsigned> ListLine::freeFrom(std::size_t index) const
{
    for (std::size_t i = index; i < m_lines.size(); ++i) {
        const Line& line = *m_lines[i];
        if (line.state == kLineFree && !line.toBeRemoved)
            return line.number;
    }
    return std::nullopt;
}

unsigned ListLine::addLocked(const std::string& port)
{
    const unsigned number = m_nextNumber++;
    std::unique_ptr<line::LineView> view = m_viewFactory ? m_viewFactory(number, port) : nullptr;
    std::unique_ptr<line::LineDevice> device =
        m_deviceFactory ? m_deviceFactory(port) : std::make_unique<line::Form1>(m_environment);
    m_lines.push_back(std::make_unique<Line>(number, port, std::move(device), std::move(view)));
    Line& line = *m_lines.back();
    line.device->setOwner(this);
    if (m_listView != nullptr)
        m_notes.push_back([number, port](LineListView& view) { view.lineAdded(number, port); });

    const bool opened = line.device->Open(number, port);
    applyState(line, opened ? kLineFree : kLineOutOfOrder);
    if (!opened && m_listView != nullptr) {
        m_notes.push_back([text = "Невозможно инициализировать порт " + port](LineListView& view) {
            view.showMessage("Ошибка", text);
        });
    }
    return number;
}

void ListLine::applyState(Line& line, int state)
{
    line.state = state;
    if (std::optional<std::string> text = lineStateText(state))
        line.stateText = *text;
    if (std::optional<LineIcon> icon = lineStateIcon(state))
        line.icon = *icon;
    if (isIdle(state)) {
        line.taskText.clear();
        line.remark.clear();
    } else if (state != kLineNotInService) {
        line.taskText = line.task.text;
    }
    noteRow(line);
    if (line.toBeRemoved && isIdle(state))
        m_linesChanged.set();
}

void ListLine::noteRow(const Line& line)
{
    if (m_listView == nullptr)
        return;
    m_notes.push_back([n = line.number, stateText = line.stateText, taskText = line.taskText,
                       icon = line.icon, remark = line.remark](LineListView& view) {
        view.lineChanged(n, stateText, taskText, icon, remark);
    });
}

bool ListLine::sessionEnded(const Line& line)
{
    if (!line.device->callRunning())
        return true;
    if (line.state == kLineBusy)
        return false;
    // The session has reported (the line left state 2) and is returning from the outcome
    // entry, which no longer needs the lock.
    const auto until = std::chrono::steady_clock::now() + kReportedSessionLimit;
    while (line.device->callRunning() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return !line.device->callRunning();
}

void ListLine::deliverNotes()
{
    {
        std::lock_guard lock(m_mutex);
        // Whoever is already delivering takes these too, in order; a view that calls back into
        // the pool lands here and leaves its notes to the delivery it is part of.
        if (m_delivering || m_notes.empty())
            return;
        m_delivering = true;
    }
    for (;;) {
        std::vector<Note> batch;
        {
            std::lock_guard lock(m_mutex);
            if (m_notes.empty()) {
                m_delivering = false;
                return;
            }
            batch.swap(m_notes);
        }
        for (Note& note : batch)
            note(*m_listView);
    }
}

void ListLine::post(unsigned lineNumber)
{
    std::lock_guard lock(m_eventsMutex);
    if (m_events != nullptr)
        m_events->postLineEvent(lineNumber);
}

void ListLine::stopLines(std::vector<LineHandle> lines)
{
    for (LineHandle& line : lines) {
        line->device->Stop();
        line.reset();
    }
}

}  // namespace peltra::calls
