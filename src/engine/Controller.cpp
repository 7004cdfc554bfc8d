// The controller thread: distribution of rows over lines, outcomes, the scheduler tick, and the
// operator's commands.
#include "engine/Controller.h"

#include "line/DialString.h"
#include "platform/text/Trim.h"

#include <array>

namespace peltra::engine {

namespace {

// The outcome a waiting line state stands for.
OutcomeKind outcomeOf(int state)
{
    switch (state) {
    case calls::kLineDelivered:
        return OutcomeKind::Notified;
    case calls::kLineNoAnswer:
        return OutcomeKind::NoAnswer;
    case calls::kLineHungUp:
        return OutcomeKind::HungUp;
    default:
        return OutcomeKind::Error;
    }
}

// The call result a waiting line state holds.
std::uint32_t resultOf(int state)
{
    switch (state) {
    case calls::kLineDelivered:
        return line::kCallDelivered;
    case calls::kLineNoAnswer:
        return line::kCallNoAnswer;
    case calls::kLineHungUp:
        return line::kCallHungUp;
    default:
        return line::kCallError;
    }
}

}  // namespace

std::string schedulerStateText(bool paused) { return paused ? kSchedulerPaused : kSchedulerRunning; }

std::string localPhoneStateText(bool on, const std::string& number)
{
    if (on && !line::isDialableNumber(number))
        return "Внимание: режим \"Местный телефон\" с номером \"" + number +
               "\", который набрать нельзя: звонки не производятся.";
    return on ? kLocalPhoneStatus + number : kRealCalls;
}

std::string schedulerNotice(bool paused)
{
    return paused ? "Планирование заданий приостановлено.\r\nЗадания будут сняты по завершению текущих звонков.\r\n"
                  : "Планирование заданий продолжено.\r\n";
}

std::string localPhoneNotice(bool on, const std::string& number)
{
    return on ? "Включен режим \"Местный телефон\".\r\nВсе звонки будут направлены на телефон: " + number
              : "Режим \"Местный телефон\" выключен .\r\nВсе звонки будут направлены на реальные телефоны.";
}

std::string localPhoneRefusal(const std::string& number)
{
    return "Номер \"" + number + "\" набрать нельзя: режим \"Местный телефон\" не включен.\r\n"
           "Укажите номер из цифр (допустимы также *, #, паузы P и W).";
}

Controller::Controller(ListActiveTasks& tasks, calls::ListLine& lines, StationFlags& flags,
                       config::AppSettings& settings, platform::Event& shutdown, platform::Event& wake)
    : m_tasks(tasks), m_lines(lines), m_flags(flags), m_settings(settings), m_shutdown(shutdown), m_wake(wake)
{
}

Controller::~Controller()
{
    // The thread only ends on ShutdownEvent, which the station sets before it lets go of us.
    m_thread.join();
}

void Controller::start()
{
    m_thread.start([this] { return run(); });
}

bool Controller::join(std::uint32_t timeoutMs) { return m_thread.join(timeoutMs); }

void Controller::post(Message message)
{
    {
        std::lock_guard lock(m_queueMutex);
        m_queue.push_back(message);
    }
    m_posted.set();
}

void Controller::postLineEvent(unsigned lineNumber) { post({Kind::Line, lineNumber}); }

void Controller::postOfferAll() { post({Kind::OfferAll, 0}); }

std::uint32_t Controller::run()
{
    using Clock = std::chrono::steady_clock;
    auto nextTick = Clock::now() + m_tickInterval;
    const std::array<platform::Event*, 3> events = {&m_shutdown, &m_wake, &m_posted};
    for (;;) {
        for (;;) {
            Message message{};
            {
                std::lock_guard lock(m_queueMutex);
                if (m_queue.empty())
                    break;
                message = m_queue.front();
                m_queue.pop_front();
            }
            if (m_shutdown.isSet())
                return 0;
            handle(message);
        }
        const auto now = Clock::now();
        if (now >= nextTick) {
            // The scheduler timer: a wake-up every period.
            nextTick = now + m_tickInterval;
            m_wake.set();
        }
        const auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(nextTick - now).count();
        const int which = platform::waitAny(events, static_cast<std::uint32_t>(std::max<long long>(wait, 0)));
        if (which == 0)
            return 0;
        if (which == 1)
            post({Kind::OfferAll, 0});
    }
}

void Controller::handle(const Message& message)
{
    if (message.kind == Kind::Line) {
        lineEvent(message.line);
        return;
    }
    // Configuration is never cached: what another program changed in the store counts from this
    // pass on. Then a pass at every wake-up, so tasks start and stop even when no line is free.
    followStore();
    if (m_portCheck)
        m_portCheck();
    m_tasks.schedulerPass();
    for (auto line = m_lines.FirstFree(); line; line = m_lines.NextFree(*line))
        offer(*line);
}

void Controller::lineEvent(unsigned line)
{
    const int state = m_lines.GetState(line);
    if (state == calls::kLineFree) {
        offer(line);
        return;
    }
    if (state < calls::kLineDelivered || state > calls::kLineError)
        return;
    if (const auto link = m_lines.GetTaskInfo(line)) {
        const std::string reason = state == calls::kLineError ? m_lines.GetCallError(line) : std::string();
        if (m_outcomes)
            m_outcomes->callEnded(line, m_lines.GetPortName(line), resultOf(state), *link, reason);
        // The task shows why its last call failed.
        if (!reason.empty())
            m_tasks.noteCallError(link->taskId, reason);
        const bool writeResults = !m_flags.localPhone() || m_flags.localPhoneUpdate();
        m_tasks.result(link->taskId, link->row, writeResults ? outcomeOf(state) : OutcomeKind::LocalPhone);
    }
    m_lines.SetState(line, calls::kLineFree);
    postLineEvent(line);
}

void Controller::offer(unsigned line)
{
    const std::string port = m_lines.GetPortName(line);
    if (port.empty())
        return;
    // A local phone that cannot be dialled takes no row: neither a wrong number nor a real
    // person is called, and no row's attempts are counted.
    if (m_flags.localPhone() && !line::isDialableNumber(m_flags.localPhoneString()))
        return;
    std::optional<Work> work = m_tasks.getWork(port);
    if (!work)
        return;
    m_lines.SetTaskInfo(line, {work->taskId, work->handOut.row, work->handOut.definitionPath});
    const std::string number = m_flags.localPhone() ? m_flags.localPhoneString() : work->handOut.phone;
    if (m_lines.SetPhraseList(line, std::move(work->handOut.phrases)) && m_lines.StartCall(line, number))
        return;
    // The call did not start: the row goes back at once, and the line is out of order.
    m_tasks.result(work->taskId, work->handOut.row, OutcomeKind::Error);
    m_lines.SetState(line, calls::kLineOutOfOrder);
}

void Controller::followStore()
{
    const FlagChanges changes = m_flags.follow(m_settings);
    if (!changes.any() || !m_view)
        return;
    const auto number = [](bool on) { return std::string(on ? "1" : "0"); };
    if (changes.paused) {
        const bool paused = m_flags.paused();
        m_view->noteChange("Frozen = " + number(paused) + ": " + platform::oneLine(schedulerNotice(paused)));
        m_view->showSchedulerState(schedulerStateText(paused), paused);
    }
    if (changes.localPhone) {
        const bool on = m_flags.localPhone();
        const std::string phone = m_flags.localPhoneString();
        m_view->noteChange("LocalPhone = " + number(on) + ", LocalPhoneString = \"" + phone +
                           "\": " + platform::oneLine(localPhoneNotice(on, phone)));
        m_view->showLocalPhoneState(localPhoneStateText(on, phone), on);
    }
    if (changes.localPhoneUpdate) {
        const bool on = m_flags.localPhoneUpdate();
        m_view->noteChange("LocalPhoneUpdate = " + number(on) +
                           ": \"Заносить результаты оповещения в базу данных\" is " + (on ? "on" : "off"));
    }
    if (changes.linkTaskPortManual) {
        const bool on = m_flags.linkTaskPortManual();
        m_view->noteChange("LinkTaskPortManual = " + number(on) +
                           ": \"Установить связь заданий с портами вручную\" is " + (on ? "on" : "off"));
    }
}

void Controller::pause()
{
    // The store first: the controller takes a stored value that differs from its flag as a
    // change made elsewhere.
    m_settings.setFrozen(true);
    m_flags.setPaused(true);
    m_wake.set();
    if (m_view) {
        m_view->showSchedulerState(kSchedulerPaused, true);
        m_view->showNotice(kStationCaption, schedulerNotice(true));
    }
}

void Controller::resume()
{
    m_settings.setFrozen(false);
    m_flags.setPaused(false);
    m_wake.set();
    if (m_view) {
        m_view->showSchedulerState(kSchedulerRunning, false);
        m_view->showNotice(kStationCaption, schedulerNotice(false));
    }
}

bool Controller::setLocalPhone(bool on, const std::string& number, bool update)
{
    if (on && !line::isDialableNumber(number)) {
        if (m_view)
            m_view->showNotice(kStationCaption, localPhoneRefusal(number));
        return false;
    }
    if (on) {
        m_settings.setLocalPhoneString(number);
        m_settings.setLocalPhoneUpdate(update);
    }
    m_settings.setLocalPhone(on);
    m_flags.setLocalPhone(on, number, update);
    if (!m_view)
        return true;
    m_view->showLocalPhoneState(localPhoneStateText(on, number), on);
    m_view->showNotice(kStationCaption, localPhoneNotice(on, number));
    return true;
}

}  // namespace peltra::engine
