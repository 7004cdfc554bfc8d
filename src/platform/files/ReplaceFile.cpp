// Whole-file replacement through a temporary file and a rename.
#include "platform/files/ReplaceFile.h"

#include "platform/errors/SystemError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace peltra::platform {

bool writeAll(int fd, const void* data, std::size_t size)
{
    const auto* bytes = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, bytes, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool replaceFile(const std::filesystem::path& path, const std::function<bool(const ByteSink&)>& produce,
                 std::string& error)
{
    const auto sinkFor = [](int fd) -> ByteSink {
        return [fd](const void* data, std::size_t size) { return writeAll(fd, data, size); };
    };
    struct stat old {};
    const bool exists = ::stat(path.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode)) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        if (fd < 0) {
            error = "cannot write it: " + systemMessage(errno);
            return false;
        }
        const bool ok = produce(sinkFor(fd));
        const int code = errno;
        ::close(fd);
        if (!ok)
            error = "cannot write it: " + systemMessage(code);
        return ok;
    }

    const std::filesystem::path folder = path.has_parent_path() ? path.parent_path() : ".";
    std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot create a file in \"" + folder.string() + "\": " + systemMessage(errno);
        return false;
    }
    mode_t mode = old.st_mode & 07777;
    if (!exists) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    // fsync before the rename: after a power cut the name holds either the old or the new file.
    bool ok = ::fchmod(fd, mode) == 0 && produce(sinkFor(fd)) && ::fsync(fd) == 0;
    int code = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        code = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        error = "cannot write it: " + systemMessage(code);
    }
    return ok;
}

bool replaceFile(const std::filesystem::path& path, std::string_view content, std::string& error)
{
    return replaceFile(
        path, [&](const ByteSink& sink) { return sink(content.data(), content.size()); }, error);
}

}  // namespace peltra::platform
