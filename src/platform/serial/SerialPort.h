// A serial port with the signals the passive line adapter uses: DTR and RTS out, carrier detect in,
// and the transmit pin that carries the modulated speech.
#pragma once

#include "platform/sync/Event.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace peltra::platform {

// How the last write of a port ended.
struct WriteOutcome {
    std::size_t written = 0;  // bytes the port accepted for sending
    int error = 0;            // 0, ECANCELED after cancelWrite(), or the errno of the failure
};

// One open port. Operations that can fail return false and leave the error number in errno of the
// calling thread, so a caller can report the system's text for it.
//
// Threads: the line device drives the modem-control outputs from its session thread and its pulse
// timer, reads carrier detect on its monitor thread, and writes from its writer thread, all at
// once; every member may be called from any thread. One write is pending at a time.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // The name the port was opened by ("COM3", "SIM1").
    virtual const std::string& name() const = 0;

    // Raises (true) or drops the DTR / RTS output.
    virtual bool setDtr(bool raised) = 0;
    virtual bool setRts(bool raised) = 0;

    // The carrier-detect input: on while the adapter sees line voltage of normal polarity.
    virtual bool readCarrier(bool& on) = 0;
    // Auto-reset; set after carrier detect changes. Several changes may merge into one signal, so
    // the waiter reads the input again; no change goes unsignalled.
    virtual Event& carrierChanged() = 0;

    // Begins sending data and returns at once, like an overlapped write. The bytes must stay valid
    // until writeDone() is set. False when the write cannot start (writeDone() is then not set).
    virtual bool startWrite(std::span<const std::uint8_t> data) = 0;
    // Manual-reset; reset by startWrite and set when the write started last has ended: every byte
    // accepted by the port's transmit queue, a failure, or cancelWrite().
    virtual Event& writeDone() = 0;
    // How the last write ended; meaningful once writeDone() is set.
    virtual WriteOutcome writeOutcome() = 0;
    // Abandons the pending write, if any; writeDone() is set before this returns.
    virtual void cancelWrite() = 0;

    // Drops what the transmit queue still holds, so the line falls silent at once.
    virtual bool purgeTransmit() = 0;

    // Bytes accepted by writes but not yet sent down the line. A write ends when its bytes are
    // queued, not sent, so a writer that must not cut off the end of a message waits for this to
    // reach 0 before it purges. A port that cannot tell reports 0.
    virtual bool transmitPending(std::size_t& bytes);
};

// Opens ports by name. The station's lines and the port probe go through one of these, so a line
// never knows whether a real adapter or the simulator is behind its name.
class PortOpener {
public:
    virtual ~PortOpener() = default;

    // Opens the named port for exclusive use. Nothing on failure, with error set to the errno value
    // (ENOENT when no device has that name, EBUSY or EACCES when it is held or forbidden).
    virtual std::unique_ptr<SerialPort> open(const std::string& name, int& error) = 0;

    // Every name this opener could serve, in probing order ("COM1" ... "COM256", "SIM1" ...).
    virtual std::vector<std::string> candidateNames() = 0;

    // Whether the named port could be opened now, found out without setting it up: its line
    // settings stay as they are. 0 when it could; else the errno value open would give, and
    // reason says why when that value's own text would not (a port another program holds).
    // By default the port is opened and let go again.
    virtual int probe(const std::string& name, std::string& reason);
};

}  // namespace peltra::platform
