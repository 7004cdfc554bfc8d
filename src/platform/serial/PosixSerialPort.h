// A real serial port on Linux: termios for the line settings, modem-control ioctls for DTR, RTS and
// carrier detect, and writes on an I/O thread so they can be started, awaited and cancelled.
#pragma once

#include "platform/serial/SerialPort.h"
#include "platform/sync/Event.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

namespace peltra::platform {

// Polls an input on its own thread and signals an event whenever the value differs from the last
// one seen. The first reading is taken before start() returns, so a change made after that is never
// missed. When a reading fails the event is signalled once, so the waiter reads again and meets
// the failure itself, and polling stops for good. A change undone within one interval may go
// unseen; the line device's 200 ms debounce would ignore such a flicker anyway.
class CarrierWatcher {
public:
    // Reads the input; false on failure with errno set.
    using Reader = std::function<bool(bool& on)>;

    // Starts watching read every interval. Nothing, with error set, when no thread could be made.
    static std::unique_ptr<CarrierWatcher> start(Reader read, Event& changed,
                                                 std::chrono::milliseconds interval, int& error);
    // Stops polling within one interval and joins the thread.
    ~CarrierWatcher();
    CarrierWatcher(const CarrierWatcher&) = delete;
    CarrierWatcher& operator=(const CarrierWatcher&) = delete;

private:
    CarrierWatcher(Reader read, Event& changed, std::chrono::milliseconds interval);
    void run(bool last);

    const Reader m_read;
    Event& m_changed;
    const std::chrono::milliseconds m_interval;
    std::mutex m_mutex;
    std::condition_variable m_stop;
    bool m_stopping = false;  // guarded by m_mutex
    std::thread m_thread;
};

// One open port device (/dev/ttyS0, /dev/ttyUSB0, a pseudo-terminal...), held for exclusive use
// and set to raw 115200 8N1 without flow control. Every member may be called from any thread.
//
// Writes: startWrite hands the bytes to the port's I/O thread, which feeds them to the kernel's
// transmit queue as room appears:
//   caller --startWrite--> I/O thread --write(2)--> transmit queue --115200 baud--> TXD
// writeDone() is set when the queue has taken every byte, on a failure, or by cancelWrite(). It is
// set while no write is pending, from the moment the port opens.
class PosixSerialPort : public SerialPort {
public:
    // How often carrier detect is read for changes.
    static constexpr std::chrono::milliseconds carrierPollInterval{2};

    // Opens devicePath and configures it; the port reports name as its name(). Nothing on failure,
    // with error set to the errno value: ENOENT when the path does not exist or no hardware is
    // behind the device node, ENOTTY when it is not a terminal, EBUSY when another open holds it,
    // EACCES when it is forbidden, or whatever the configuration calls failed with.
    static std::unique_ptr<PosixSerialPort> open(const std::string& devicePath, const std::string& name,
                                                 int& error);

    // Whether open would succeed, without changing the device's settings or modem lines: 0, or
    // the errno value open would give.
    static int probe(const std::string& devicePath);

    // Abandons a pending write, stops both threads and closes the device. The modem-control lines
    // are left as they are: the line device has put the line on-hook before it lets the port go.
    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    const std::string& name() const override { return m_name; }

    // Fail with the device's errno (ENOTTY or EINVAL on a device without modem lines).
    bool setDtr(bool raised) override;
    bool setRts(bool raised) override;
    bool readCarrier(bool& on) override;
    Event& carrierChanged() override { return m_carrierChanged; }

    // Fails with EBUSY while a write is pending.
    bool startWrite(std::span<const std::uint8_t> data) override;
    Event& writeDone() override { return m_writeDone; }
    WriteOutcome writeOutcome() override;
    void cancelWrite() override;

    bool purgeTransmit() override;
    // The kernel's count of bytes still in its transmit buffer (the UART's own FIFO, at most a
    // few milliseconds of sound, is not counted).
    bool transmitPending(std::size_t& bytes) override;

private:
    PosixSerialPort(int fd, std::string name);
    // Line settings, modem lines, threads; 0 or an errno value.
    int configure();
    int startThreads();
    bool changeLines(int lines, bool raised);
    void ioLoop();
    // Feeds data to the device until all is taken, it fails or a cancel arrives; I/O thread only.
    WriteOutcome send(std::span<const std::uint8_t> data);

    const int m_fd;
    const std::string m_name;
    bool m_exclusive = false;  // TIOCEXCL was taken and must be given back
    // Readable while a pending write is to be abandoned; wakes the I/O thread out of poll().
    int m_cancelFd = -1;

    Event m_carrierChanged{false, false};
    Event m_writeDone{true, true};

    std::mutex m_mutex;
    std::condition_variable m_requested;  // to the I/O thread: a write or the stop is waiting
    std::condition_variable m_ended;      // from the I/O thread: the pending write has ended
    // Guarded by m_mutex.
    std::span<const std::uint8_t> m_data;
    bool m_pending = false;
    bool m_stopping = false;
    WriteOutcome m_outcome;

    std::thread m_ioThread;
    std::unique_ptr<CarrierWatcher> m_watcher;
};

}  // namespace peltra::platform
