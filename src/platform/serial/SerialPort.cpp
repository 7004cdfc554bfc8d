// Defaults shared by every serial port.
#include "platform/serial/SerialPort.h"

namespace peltra::platform {

bool SerialPort::transmitPending(std::size_t& bytes)
{
    bytes = 0;
    return true;
}

}  // namespace peltra::platform
