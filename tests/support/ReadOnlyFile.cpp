// Test helper: a file or folder made unwritable, even for root, and given back on destruction.
#include "support/ReadOnlyFile.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace peltra::test {

ReadOnlyFile::ReadOnlyFile(std::filesystem::path path) : m_path(std::move(path))
{
    struct stat info {};
    if (stat(m_path.c_str(), &info) != 0)
        return;
    m_mode = info.st_mode & 07777;
    chmod(m_path.c_str(), m_mode & ~0222);
    m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
    int flags = 0;
    if (m_fd >= 0 && ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags |= FS_IMMUTABLE_FL;
        m_immutable = ioctl(m_fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    m_readOnly = access(m_path.c_str(), W_OK) != 0;
}

ReadOnlyFile::~ReadOnlyFile()
{
    int flags = 0;
    if (m_immutable && ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0) {
        flags &= ~FS_IMMUTABLE_FL;
        ioctl(m_fd, FS_IOC_SETFLAGS, &flags);
    }
    if (m_fd >= 0)
        ::close(m_fd);
    if (m_mode != 0)
        chmod(m_path.c_str(), m_mode);
}

}  // namespace peltra::test
