// Defaults shared by every serial port.
#include "platform/serial/SerialPort.h"

namespace peltra::platform {

bool SerialPort::transmitPending(std::size_t& bytes)
{
    bytes = 0;
    return true;
}

int PortOpener::probe(const std::string& name, std::string& reason)
{
    reason.clear();
    int error = 0;
    open(name, error);
    return error;
}

}  // namespace peltra::platform
