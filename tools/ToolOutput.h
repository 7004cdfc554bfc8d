// What the command-line tools share: exit codes and the form of their messages.
#pragma once

#include <optional>
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

    // Whether a file the tool was given to read is one: a regular file that opens for reading.
    // When it is not (no such file, a folder, a device, no permission), prints
    // "<program>: <path>: <why>" and returns false.
    bool inputFile(const std::string& path) const;
    // The whole of such a file; nothing, after the same message, when it cannot be read.
    std::optional<std::string> readInputFile(const std::string& path) const;
    // Whether a file the tool is to write may be made there: not a folder, in a folder that
    // exists. When it may not, prints "<program>: <path>: <why>" and returns false.
    bool outputFile(const std::string& path) const;

private:
    const char* m_program;
    const char* m_usage;
};

}  // namespace peltra::tools
