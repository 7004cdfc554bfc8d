#include "ToolOutput.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

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

namespace {

// The reason a path is no file to read, or nothing when it is one. On success fd is open.
std::optional<std::string> openInput(const std::string& path, int& fd)
{
    fd = -1;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return errno == ENOENT ? std::string("no such file") : std::string(std::strerror(errno));
    if (S_ISDIR(info.st_mode))
        return std::string("is a folder, not a file");
    if (!S_ISREG(info.st_mode))
        return std::string("is not a regular file");
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "cannot be read: " + std::string(std::strerror(errno));
    return std::nullopt;
}

}  // namespace

bool ToolOutput::inputFile(const std::string& path) const
{
    int fd = -1;
    if (const auto why = openInput(path, fd)) {
        fail(path + ": " + *why);
        return false;
    }
    ::close(fd);
    return true;
}

bool ToolOutput::outputFile(const std::string& path) const
{
    std::error_code ec;
    if (std::filesystem::is_directory(path, ec)) {
        fail(path + ": is a folder, not a file");
        return false;
    }
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty() && !std::filesystem::is_directory(folder, ec)) {
        fail(path + ": there is no folder " + folder.string());
        return false;
    }
    return true;
}

std::optional<std::string> ToolOutput::readInputFile(const std::string& path) const
{
    int fd = -1;
    if (const auto why = openInput(path, fd)) {
        fail(path + ": " + *why);
        return std::nullopt;
    }
    std::string bytes;
    std::array<char, 65536> buffer;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n > 0) {
            bytes.append(buffer.data(), static_cast<std::size_t>(n));
        } else if (n == 0) {
            ::close(fd);
            return bytes;
        } else if (errno != EINTR) {
            const int error = errno;
            ::close(fd);
            fail(path + ": cannot be read: " + std::strerror(error));
            return std::nullopt;
        }
    }
}

}  // namespace peltra::tools
