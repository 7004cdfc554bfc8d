// The line commands of peltra-line: the port probe, a test call and sending a stream file, on a
// real port or on a simulated line.
#pragma once

#include "ToolOutput.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace peltra::tools {

class LineConsole {
public:
    LineConsole(const ToolOutput& output, std::optional<std::string> home)
        : m_output(output), m_home(std::move(home))
    {
    }

    // The command's arguments after its name; each returns the exit code.
    int probe(const std::vector<std::string>& args);
    int call(const std::vector<std::string>& args);
    int play(const std::vector<std::string>& args);

private:
    const ToolOutput& m_output;
    std::optional<std::string> m_home;
};

// The word the main window shows for a call result.
const char* resultWord(std::uint32_t result);

}  // namespace peltra::tools
