// File and memory storage of dBase tables.
#include "data/DbfStorage.h"

#include "platform/errors/SystemError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace peltra::data {
namespace {

// The byte that writers lock: far past any table, so that it never meets the locks other dBase
// tools place on records.
constexpr off_t kWriterLockOffset = 0x7FFFFFF0;

thread_local std::chrono::milliseconds t_lockWait{10000};

class FileStorage : public DbfStorage {
public:
    explicit FileStorage(int fd) : m_fd(fd) {}
    ~FileStorage() override
    {
        if (m_locked)
            unlockWriters();
        ::close(m_fd);
    }

    bool readAt(std::uint64_t offset, void* data, std::size_t size, std::size_t& got, std::string& error) override
    {
        got = 0;
        auto* out = static_cast<char*>(data);
        while (got < size) {
            const ssize_t n = ::pread(m_fd, out + got, size - got, static_cast<off_t>(offset + got));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                error = "cannot read it: " + platform::systemMessage(errno);
                return false;
            }
            if (n == 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        return true;
    }

    bool writeAt(std::uint64_t offset, const void* data, std::size_t size, std::string& error) override
    {
        const auto* in = static_cast<const char*>(data);
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(m_fd, in + done, size - done, static_cast<off_t>(offset + done));
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                error = "cannot write it: " + platform::systemMessage(errno);
                return false;
            }
            if (n == 0) {
                error = "cannot write it: " + platform::systemMessage(ENOSPC);
                return false;
            }
            done += static_cast<std::size_t>(n);
        }
        return true;
    }

    bool size(std::uint64_t& out, std::string& error) override
    {
        struct stat st {};
        if (::fstat(m_fd, &st) != 0) {
            error = "cannot read it: " + platform::systemMessage(errno);
            return false;
        }
        out = static_cast<std::uint64_t>(st.st_size);
        return true;
    }

    bool truncate(std::uint64_t size, std::string& error) override
    {
        if (::ftruncate(m_fd, static_cast<off_t>(size)) != 0) {
            error = "cannot write it: " + platform::systemMessage(errno);
            return false;
        }
        return true;
    }

    bool sync(std::string& error) override
    {
        if (::fdatasync(m_fd) != 0) {
            error = "cannot write it: " + platform::systemMessage(errno);
            return false;
        }
        return true;
    }

    bool lockWriters(std::string& error) override
    {
        struct flock lock {};
        lock.l_type = F_WRLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = kWriterLockOffset;
        lock.l_len = 1;
        // Polled, not waited for: a program that holds the lock for good must not hold us too.
        const auto deadline = std::chrono::steady_clock::now() + t_lockWait;
        while (::fcntl(m_fd, F_OFD_SETLK, &lock) != 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EACCES) {
                error = "cannot lock it: " + platform::systemMessage(errno);
                return false;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                error = kWritersLockBusy;
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        m_locked = true;
        return true;
    }

    void unlockWriters() override
    {
        struct flock lock {};
        lock.l_type = F_UNLCK;
        lock.l_whence = SEEK_SET;
        lock.l_start = kWriterLockOffset;
        lock.l_len = 1;
        ::fcntl(m_fd, F_OFD_SETLK, &lock);
        m_locked = false;
    }

private:
    int m_fd;
    bool m_locked = false;
};

}  // namespace

WriterLockWait::WriterLockWait(std::chrono::milliseconds limit) : m_previous(t_lockWait) { t_lockWait = limit; }

WriterLockWait::~WriterLockWait() { t_lockWait = m_previous; }

std::unique_ptr<DbfStorage> openFileStorage(const std::filesystem::path& path, bool writable, std::string& error)
{
    const int fd = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (fd < 0) {
        error = std::string("cannot open it") + (writable ? " for writing: " : ": ") + platform::systemMessage(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = "it is not a regular file";
        return nullptr;
    }
    return std::make_unique<FileStorage>(fd);
}

bool MemoryStorage::readAt(std::uint64_t offset, void* data, std::size_t size, std::size_t& got, std::string&)
{
    got = 0;
    if (offset >= m_bytes.size())
        return true;
    got = std::min<std::uint64_t>(size, m_bytes.size() - offset);
    std::memcpy(data, m_bytes.data() + offset, got);
    return true;
}

bool MemoryStorage::writeAt(std::uint64_t offset, const void* data, std::size_t size, std::string& error)
{
    std::size_t allowed = size;
    if (m_failing)
        allowed = m_written >= m_failAfter ? 0 : std::min(size, m_failAfter - m_written);
    if (allowed > 0 && offset + allowed > m_bytes.size())
        m_bytes.resize(offset + allowed, '\0');
    if (allowed > 0)
        std::memcpy(m_bytes.data() + offset, data, allowed);
    m_written += allowed;
    if (allowed < size) {
        m_failing = false;
        error = "cannot write it: " + platform::systemMessage(ENOSPC);
        return false;
    }
    return true;
}

bool MemoryStorage::size(std::uint64_t& out, std::string&)
{
    out = m_bytes.size();
    return true;
}

bool MemoryStorage::truncate(std::uint64_t size, std::string&)
{
    m_bytes.resize(size, '\0');
    return true;
}

}  // namespace peltra::data
