// What the line pool, the console and the windows ask of one line, whatever carries it: a
// serial port with its adapter, or a channel of a SIP trunk.
#pragma once

#include "line/LineInterfaces.h"

#include <string>
#include <vector>

namespace peltra::line {

// One line. Open, StartCall, Stop and the destructor are called by the line's owner, one at a
// time; the view and the owner are set before Open and stay alive until Stop. A call ends with
// exactly one result to the owner, unless the line or the station closes first.
class LineDevice {
public:
    virtual ~LineDevice() = default;

    virtual void setView(LineView* view) = 0;
    virtual void setOwner(CallResultSink* owner) = 0;

    // Makes the line ready for calls; false, with the reason shown on the view, when it cannot be.
    virtual bool Open(unsigned lineNumber, const std::string& portName) = 0;
    // Ends a call in progress without a result and releases the line. Once only.
    virtual void Stop() = 0;

    // The phrase codes of the next call, filled by the caller before StartCall. Not to be touched
    // while a call runs.
    virtual std::vector<std::string>& GetPhraseList() = 0;
    // Starts a call of number with the port's settings read now. False when the line is not
    // open, is stopped, or a call is still running.
    virtual bool StartCall(const std::string& number) = 0;
    virtual bool callRunning() const = 0;
};

}  // namespace peltra::line
