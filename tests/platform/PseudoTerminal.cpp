// Test helper: a pseudo-terminal whose slave path stands in for a serial port device.
#include "PseudoTerminal.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace peltra::test {

PseudoTerminal::PseudoTerminal()
{
    m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    std::array<char, PATH_MAX> path{};
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0 ||
        ptsname_r(m_master, path.data(), path.size()) != 0) {
        closeMaster();
        throw std::runtime_error("cannot create a pseudo-terminal");
    }
    m_slavePath = path.data();
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
}

PseudoTerminal::~PseudoTerminal()
{
    closeMaster();
}

void PseudoTerminal::closeMaster()
{
    if (m_master >= 0)
        close(m_master);
    m_master = -1;
}

std::vector<std::uint8_t> PseudoTerminal::read(std::size_t count, std::chrono::milliseconds limit)
{
    std::vector<std::uint8_t> data;
    std::array<std::uint8_t, 65536> chunk{};
    while (data.size() < count) {
        pollfd fd{m_master, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(limit.count())) <= 0)
            break;
        const ssize_t got = ::read(m_master, chunk.data(), std::min(chunk.size(), count - data.size()));
        if (got > 0)
            data.insert(data.end(), chunk.begin(), chunk.begin() + got);
        else if (got == 0 || (errno != EAGAIN && errno != EINTR))
            break;
    }
    return data;
}

}  // namespace peltra::test
