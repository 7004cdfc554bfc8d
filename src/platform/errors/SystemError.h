// The system's own text for an error number, as the station shows it in its error reports.
#pragma once

#include <string>

namespace peltra::platform {

// The system's message for an errno value, with line breaks removed and blanks trimmed.
std::string systemMessage(int errorCode);

// The body of a system-error report: the system's message, then "Код ошибки = <code>\r\n" on a
// line of its own. The caption is the caller's.
std::string systemErrorReport(int errorCode);

}  // namespace peltra::platform
