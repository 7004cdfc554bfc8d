// The line simulator: simulated ports SIM1..SIMn, the exchange behind them and its call log.
#pragma once

#include "platform/serial/SerialPort.h"
#include "sim/CallRecord.h"
#include "sim/PartyBehaviour.h"
#include "sim/SimLine.h"
#include "sim/SimOptions.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace peltra::sim {

struct SimulatorCore;

// Stands in for the line adapters and the telephone exchange: a port opener whose ports are
// simulated lines. One exchange thread runs the timed events of every line (answers, hang-ups,
// glitches, digit time-outs, transmit pacing); one recorder thread writes recordings and the call
// log, so no file is written on a line's behalf while it is being timed.
//
// Every member may be called from any thread. Destroying the simulator stops both threads after
// the calls in progress have been logged; a line still open then fails every operation with EIO.
class Simulator : public platform::PortOpener {
public:
    // Lines "SIM1" .. "SIM<lineCount>"; the default party answers after 1000 ms and listens until
    // the caller hangs up.
    explicit Simulator(unsigned lineCount, SimOptions options = {});
    ~Simulator() override;
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    unsigned lineCount() const;
    const SimOptions& options() const;

    // The party for every number not registered, unless a chooser (below) picks another. Its
    // line condition is also the condition of every line while idle and dialing, and applies at
    // once.
    void setDefaultBehaviour(PartyBehaviour behaviour);
    // The party behind exactly this number (digits and DTMF symbols '*', '#', 'A'-'D'). Dialling it
    // completes the number at once. False, and nothing registered, for an empty number or one
    // with another character. Applies to numbers completed afterwards.
    bool setBehaviour(const std::string& number, PartyBehaviour behaviour);
    void clearBehaviours();
    // Chooses the party for a number that completes without being registered (by the digit
    // time-out); empty: the default party. Called with the dialed digits on whichever thread
    // brings the line up to date (the exchange thread or a caller of the line's operations),
    // with that line's lock held: it must not block nor call the simulator or its lines.
    // Applies to numbers completed afterwards.
    void setBehaviourChooser(std::function<PartyBehaviour(const std::string& dialed)> chooser);

    // Finished calls, in order of ending.
    std::vector<CallRecord> calls() const;
    // Waits until at least `count` calls have ended and been logged (their recordings written),
    // at most timeoutMs; true when they have.
    bool waitForCalls(std::size_t count, std::uint32_t timeoutMs) const;

    // Opens "SIM1" .. "SIMn" (any case) for exclusive use. Nothing on failure, with `error` set:
    // ENOENT for any other name, EBUSY while the line is open (until its object is destroyed).
    std::unique_ptr<SimLine> openLine(const std::string& name, int& error);
    std::unique_ptr<platform::SerialPort> open(const std::string& name, int& error) override;
    // "SIM1" .. "SIMn".
    std::vector<std::string> candidateNames() override;

    // The open line of that name (any case), or null. Valid until its owner destroys it.
    SimLine* line(const std::string& name);

private:
    std::shared_ptr<SimulatorCore> m_core;
};

}  // namespace peltra::sim
