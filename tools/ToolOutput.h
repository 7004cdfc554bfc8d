// What the command-line tools share: exit codes and the form of their messages.
#pragma once

#include <string>

namespace peltra::tools {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

// The tool's standard output and error; the tool's name starts every message.
class ToolOutput {
public:
    ToolOutput(const char* program, const char* usage) : m_program(program), m_usage(usage) {}

    // Prints "<program>: <message>" on standard error; returns kExitFailure.
    int fail(const std::string& message) const;
    // Prints the message and the usage text on standard error; returns kExitUsage.
    int usageError(const std::string& message) const;
    // Prints the usage text on standard output (asked for with --help); returns kExitOk, or
    // kExitFailure when it cannot be written.
    int help() const;

private:
    const char* m_program;
    const char* m_usage;
};

}  // namespace peltra::tools
