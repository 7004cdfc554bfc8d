// A real serial port on Linux: termios, modem-control ioctls, and an I/O thread for overlapped writes.
#include "platform/serial/PosixSerialPort.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace peltra::platform {

namespace {

// An open(2) failure as the port's user should see it: a node with no device behind it (ENXIO,
// ENODEV) is no port at all, as COMn without hardware is not on Windows.
int openError(int code)
{
    return code == ENXIO || code == ENODEV ? ENOENT : code;
}

// A ttyS node whose UART was never found opens, but every use of it fails with EIO. Only that
// combination counts: some USB drivers (cdc-acm) report an unknown type for a working port.
bool hasNoHardware(int fd)
{
    serial_struct info{};
    int lines = 0;
    return ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type == PORT_UNKNOWN &&
           ::ioctl(fd, TIOCMGET, &lines) != 0 && errno == EIO;
}

}  // namespace

// CarrierWatcher --------------------------------------------------------------------------------

std::unique_ptr<CarrierWatcher> CarrierWatcher::start(Reader read, Event& changed,
                                                      std::chrono::milliseconds interval, int& error)
{
    error = 0;
    std::unique_ptr<CarrierWatcher> watcher(new CarrierWatcher(std::move(read), changed, interval));
    bool on = false;
    if (!watcher->m_read(on)) {
        changed.set();
        return watcher;
    }
    try {
        watcher->m_thread = std::thread(&CarrierWatcher::run, watcher.get(), on);
    } catch (const std::system_error& failure) {
        error = failure.code().value();
        return nullptr;
    }
    return watcher;
}

CarrierWatcher::CarrierWatcher(Reader read, Event& changed, std::chrono::milliseconds interval)
    : m_read(std::move(read)), m_changed(changed), m_interval(interval)
{
}

CarrierWatcher::~CarrierWatcher()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_stop.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

// Polling, because TIOCMIWAIT sleeps in the driver until a line changes and nothing but a signal
// wakes it for shutdown; many USB adapters do not offer it at all.
void CarrierWatcher::run(bool last)
{
    std::unique_lock lock(m_mutex);
    while (!m_stop.wait_for(lock, m_interval, [this] { return m_stopping; })) {
        lock.unlock();
        bool on = false;
        const bool read = m_read(on);
        lock.lock();
        if (!read) {
            m_changed.set();
            return;
        }
        if (on != last) {
            last = on;
            m_changed.set();
        }
    }
}

// PosixSerialPort -------------------------------------------------------------------------------

std::unique_ptr<PosixSerialPort> PosixSerialPort::open(const std::string& devicePath, const std::string& name,
                                                       int& error)
{
    error = 0;
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = openError(errno);
        return nullptr;
    }
    // From here the port object owns fd, and its destructor undoes whatever had been done.
    std::unique_ptr<PosixSerialPort> port(new PosixSerialPort(fd, name));
    if (!::isatty(fd)) {
        error = ENOTTY;
        return nullptr;
    }
    if (hasNoHardware(fd)) {
        error = ENOENT;
        return nullptr;
    }
    // flock keeps out every other opener that asks the same way, root included; TIOCEXCL also
    // keeps out programs that never lock (refused with EBUSY by open(2) itself).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? EBUSY : errno;
        return nullptr;
    }
    if (::ioctl(fd, TIOCEXCL) == 0) {
        port->m_exclusive = true;
    } else if (errno != ENOTTY) {
        error = errno;
        return nullptr;
    }
    error = port->configure();
    if (error == 0)
        error = port->startThreads();
    return error == 0 ? std::move(port) : nullptr;
}

int PosixSerialPort::probe(const std::string& devicePath)
{
    const int fd = ::open(devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return openError(errno);
    int error = 0;
    if (!::isatty(fd))
        error = ENOTTY;
    else if (hasNoHardware(fd))
        error = ENOENT;
    else if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        error = errno == EWOULDBLOCK ? EBUSY : errno;
    ::close(fd);
    return error;
}

PosixSerialPort::PosixSerialPort(int fd, std::string name) : m_fd(fd), m_name(std::move(name)) {}

PosixSerialPort::~PosixSerialPort()
{
    bool abandoned = false;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        abandoned = m_pending;
        if (m_pending) {
            const std::uint64_t one = 1;
            [[maybe_unused]] const auto ignored = ::write(m_cancelFd, &one, sizeof one);
        }
    }
    m_requested.notify_all();
    if (m_ioThread.joinable())
        m_ioThread.join();
    m_watcher.reset();
    // What an abandoned write left queued would otherwise hold close(2) until it has been sent.
    if (abandoned)
        ::tcflush(m_fd, TCOFLUSH);
    // A pseudo-terminal keeps the flag after our close while its master stays open.
    if (m_exclusive)
        ::ioctl(m_fd, TIOCNXCL);
    if (m_cancelFd >= 0)
        ::close(m_cancelFd);
    ::close(m_fd);
}

int PosixSerialPort::configure()
{
    termios settings{};
    if (::tcgetattr(m_fd, &settings) != 0)
        return errno;
    // HUPCL stays as the driver has it: should the station die, the lines drop together.
    ::cfmakeraw(&settings);
    settings.c_iflag &= ~(IXON | IXOFF | IXANY);
    settings.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    if (::cfsetispeed(&settings, B115200) != 0 || ::cfsetospeed(&settings, B115200) != 0)
        return errno;
    if (::tcsetattr(m_fd, TCSANOW, &settings) != 0)
        return errno;
    // tcsetattr succeeds when any one of the changes took, so check the ones the adapter needs.
    termios now{};
    if (::tcgetattr(m_fd, &now) != 0)
        return errno;
    constexpr tcflag_t frame = CSIZE | PARENB | CSTOPB | CRTSCTS;
    if (::cfgetospeed(&now) != B115200 || ::cfgetispeed(&now) != B115200 || (now.c_cflag & frame) != CS8)
        return EINVAL;

    // Both lines up: the adapter's on-hook state. A device without modem lines (a pseudo-terminal)
    // still serves for data; setDtr and the others report its error when they are used.
    int lines = TIOCM_DTR | TIOCM_RTS;
    if (::ioctl(m_fd, TIOCMBIS, &lines) != 0 && errno != ENOTTY && errno != EINVAL)
        return errno;
    return 0;
}

int PosixSerialPort::startThreads()
{
    m_cancelFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_cancelFd < 0)
        return errno;
    try {
        m_ioThread = std::thread(&PosixSerialPort::ioLoop, this);
    } catch (const std::system_error& failure) {
        return failure.code().value();
    }
    int error = 0;
    m_watcher = CarrierWatcher::start(
        [fd = m_fd](bool& on) {
            int lines = 0;
            if (::ioctl(fd, TIOCMGET, &lines) != 0)
                return false;
            on = (lines & TIOCM_CAR) != 0;
            return true;
        },
        m_carrierChanged, carrierPollInterval, error);
    return error;
}

bool PosixSerialPort::changeLines(int lines, bool raised)
{
    return ::ioctl(m_fd, raised ? TIOCMBIS : TIOCMBIC, &lines) == 0;
}

bool PosixSerialPort::setDtr(bool raised)
{
    return changeLines(TIOCM_DTR, raised);
}

bool PosixSerialPort::setRts(bool raised)
{
    return changeLines(TIOCM_RTS, raised);
}

bool PosixSerialPort::readCarrier(bool& on)
{
    int lines = 0;
    if (::ioctl(m_fd, TIOCMGET, &lines) != 0)
        return false;
    on = (lines & TIOCM_CAR) != 0;
    return true;
}

bool PosixSerialPort::startWrite(std::span<const std::uint8_t> data)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_pending) {
            errno = EBUSY;
            return false;
        }
        m_pending = true;
        m_data = data;
        m_outcome = {};
        m_writeDone.reset();
    }
    m_requested.notify_one();
    return true;
}

WriteOutcome PosixSerialPort::writeOutcome()
{
    std::lock_guard lock(m_mutex);
    return m_outcome;
}

void PosixSerialPort::cancelWrite()
{
    std::unique_lock lock(m_mutex);
    if (!m_pending)
        return;
    // The I/O thread drains this signal under m_mutex as the write ends, so it never reaches the
    // next write.
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto ignored = ::write(m_cancelFd, &one, sizeof one);
    m_ended.wait(lock, [this] { return !m_pending; });
}

bool PosixSerialPort::purgeTransmit()
{
    return ::tcflush(m_fd, TCOFLUSH) == 0;
}

bool PosixSerialPort::transmitPending(std::size_t& bytes)
{
    int queued = 0;
    if (::ioctl(m_fd, TIOCOUTQ, &queued) != 0)
        return false;
    bytes = static_cast<std::size_t>(queued);
    return true;
}

// The I/O thread: takes one write at a time and reports how it ended.
void PosixSerialPort::ioLoop()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_requested.wait(lock, [this] { return m_pending || m_stopping; });
        if (!m_pending)
            return;
        const std::span<const std::uint8_t> data = m_data;
        lock.unlock();
        const WriteOutcome outcome = send(data);
        lock.lock();
        std::uint64_t count = 0;
        [[maybe_unused]] const auto ignored = ::read(m_cancelFd, &count, sizeof count);
        m_outcome = outcome;
        m_data = {};
        m_pending = false;
        m_writeDone.set();
        m_ended.notify_all();
    }
}

WriteOutcome PosixSerialPort::send(std::span<const std::uint8_t> data)
{
    WriteOutcome outcome;
    pollfd fds[2] = {{m_fd, POLLOUT, 0}, {m_cancelFd, POLLIN, 0}};
    while (outcome.written < data.size()) {
        fds[0].revents = fds[1].revents = 0;
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            outcome.error = errno;
            break;
        }
        if (fds[1].revents != 0) {
            outcome.error = ECANCELED;
            break;
        }
        if ((fds[0].revents & POLLNVAL) != 0) {
            outcome.error = EBADF;
            break;
        }
        const ssize_t taken = ::write(m_fd, data.data() + outcome.written, data.size() - outcome.written);
        if (taken > 0) {
            outcome.written += static_cast<std::size_t>(taken);
            continue;
        }
        if (taken < 0 && errno != EAGAIN && errno != EINTR) {
            outcome.error = errno;
            break;
        }
        // Ready yet nothing taken: a device that hung up would keep poll() returning at once.
        if ((fds[0].revents & (POLLERR | POLLHUP)) != 0) {
            outcome.error = EIO;
            break;
        }
    }
    return outcome;
}

}  // namespace peltra::platform
