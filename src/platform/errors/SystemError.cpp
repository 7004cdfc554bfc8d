// The system's own text for an error number.
#include "platform/errors/SystemError.h"

#include <cstring>

namespace peltra::platform {

std::string systemMessage(int errorCode)
{
    char buffer[256];
    // The GNU strerror_r may return a static string instead of filling the buffer.
    const char* text = strerror_r(errorCode, buffer, sizeof buffer);
    std::string message;
    for (const char* p = text; *p; ++p) {
        if (*p != '\r' && *p != '\n')
            message += *p;
    }
    const auto first = message.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    const auto last = message.find_last_not_of(" \t");
    return message.substr(first, last - first + 1);
}

std::string systemErrorReport(int errorCode)
{
    // The code goes on a line of its own: the system's message ends without a stop or line break.
    std::string report = systemMessage(errorCode);
    if (!report.empty())
        report += "\r\n";
    return report + "Код ошибки = " + std::to_string(errorCode) + "\r\n";
}

}  // namespace peltra::platform
