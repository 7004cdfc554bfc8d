#include "ToolOutput.h"

#include <cstdio>

namespace peltra::tools {

int ToolOutput::fail(const std::string& message) const
{
    std::fprintf(stderr, "%s: %s\n", m_program, message.c_str());
    return kExitFailure;
}

int ToolOutput::usageError(const std::string& message) const
{
    std::fprintf(stderr, "%s: %s\n\n%s", m_program, message.c_str(), m_usage);
    return kExitUsage;
}

int ToolOutput::help() const
{
    std::fputs(m_usage, stdout);
    return std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

}  // namespace peltra::tools
