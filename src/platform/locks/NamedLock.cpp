// Named locks: a lock file per name in a private runtime folder, held with flock().
#include "platform/locks/NamedLock.h"

#include "platform/errors/SystemError.h"
#include "platform/sync/Event.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace peltra::platform {

namespace {

// Longest lock file name kept readable before a hash replaces the rest (NAME_MAX is 255).
constexpr std::size_t maxPlainFileName = 255;
constexpr std::size_t hashedPrefixLength = 200;
constexpr std::string_view lockSuffix = ".lock";
// Polling interval bounds while acquire() waits for a busy lock.
constexpr std::chrono::milliseconds firstPoll{1};
constexpr std::chrono::milliseconds longestPoll{10};

std::string quoted(const std::filesystem::path& path)
{
    return "\"" + path.string() + "\"";
}

void setFailure(LockFailure* failure, LockFailure::Kind kind, std::string message)
{
    if (failure) {
        failure->kind = kind;
        failure->message = std::move(message);
    }
}

bool isPlainByte(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

void appendEncoded(std::string& out, unsigned char c)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    if (isPlainByte(c)) {
        out += static_cast<char>(c);
    } else {
        out += '%';
        out += hex[c >> 4];
        out += hex[c & 0x0F];
    }
}

// FNV-1a, 128-bit: enough to keep distinct long names apart.
std::string hashHex(std::string_view bytes)
{
    using u128 = unsigned __int128;
    const u128 prime = (u128(1) << 88) + 0x13B;
    u128 hash = (u128(0x6C62272E07BB0142ull) << 64) | 0x62B821756295C58Dull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= prime;
    }
    static constexpr char hex[] = "0123456789abcdef";
    std::string out(32, '0');
    for (int i = 31; i >= 0; --i) {
        out[i] = hex[static_cast<unsigned>(hash & 0x0F)];
        hash >>= 4;
    }
    return out;
}

std::filesystem::path folderPath()
{
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && runtime[0] == '/')
        return std::filesystem::path(runtime) / "peltra";
    return "/tmp/peltra-" + std::to_string(geteuid());
}

// Opens the lock folder, creating it when missing, and checks that it is ours. Returns the folder's
// descriptor, or -1 with the reason in *error.
int openFolder(std::filesystem::path& path, std::string* error)
{
    path = folderPath();
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        const int code = errno;
        if (error)
            *error = "Cannot create the lock folder " + quoted(path) + ": " + systemMessage(code);
        return -1;
    }
    // O_NOFOLLOW: a symbolic link planted in place of the folder is refused, not followed.
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int code = errno;
        if (error)
            *error = "Cannot open the lock folder " + quoted(path) + ": " + systemMessage(code);
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        const int code = errno;
        close(fd);
        if (error)
            *error = "Cannot examine the lock folder " + quoted(path) + ": " + systemMessage(code);
        return -1;
    }
    if (info.st_uid != geteuid()) {
        close(fd);
        if (error)
            *error = "The lock folder " + quoted(path) + " belongs to another user; it is not used";
        return -1;
    }
    // Our own folder with wider rights (an old umask, a hand-made folder) is made private again.
    if ((info.st_mode & 07777) != 0700 && fchmod(fd, 0700) != 0) {
        const int code = errno;
        close(fd);
        if (error)
            *error = "Cannot make the lock folder " + quoted(path) + " private: " + systemMessage(code);
        return -1;
    }
    return fd;
}

enum class TryResult { Locked, Busy, Failed };

TryResult tryLock(int fd, const std::filesystem::path& path, LockFailure* failure)
{
    while (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR)
            continue;
        const int code = errno;
        if (code == EWOULDBLOCK)
            return TryResult::Busy;
        setFailure(failure, LockFailure::Kind::System,
                   "Cannot lock the file " + quoted(path) + ": " + systemMessage(code));
        return TryResult::Failed;
    }
    return TryResult::Locked;
}

// Opens the name's lock file, -1 with *failure filled when that is impossible.
int openLockFile(std::string_view name, std::filesystem::path& path, LockFailure* failure)
{
    if (name.empty()) {
        setFailure(failure, LockFailure::Kind::BadName, "A lock needs a name");
        return -1;
    }
    std::filesystem::path folder;
    std::string error;
    const int folderFd = openFolder(folder, &error);
    if (folderFd < 0) {
        setFailure(failure, LockFailure::Kind::System, error);
        return -1;
    }
    const std::string fileName = lockFileName(name);
    path = folder / fileName;
    const int fd = openat(folderFd, fileName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    const int code = errno;
    close(folderFd);
    if (fd < 0)
        setFailure(failure, LockFailure::Kind::System,
                   "Cannot open the lock file " + quoted(path) + ": " + systemMessage(code));
    return fd;
}

}  // namespace

std::optional<NamedLock> NamedLock::tryAcquire(std::string_view name, LockFailure* failure)
{
    return acquire(name, 0, failure);
}

std::optional<NamedLock> NamedLock::acquire(std::string_view name, std::uint32_t timeoutMs,
                                            LockFailure* failure)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::filesystem::path path;
    const int fd = openLockFile(name, path, failure);
    if (fd < 0)
        return std::nullopt;

    // flock() has no time-out of its own, so a busy lock is polled with a growing interval.
    auto interval = firstPoll;
    for (;;) {
        switch (tryLock(fd, path, failure)) {
        case TryResult::Locked:
            return NamedLock(std::string(name), path, fd);
        case TryResult::Failed:
            close(fd);
            return std::nullopt;
        case TryResult::Busy:
            break;
        }
        const auto now = std::chrono::steady_clock::now();
        if (timeoutMs != infiniteTimeout && now >= deadline) {
            close(fd);
            if (timeoutMs == 0)
                setFailure(failure, LockFailure::Kind::Busy,
                           "The lock \"" + std::string(name) + "\" (" + quoted(path) + ") is held elsewhere");
            else
                setFailure(failure, LockFailure::Kind::TimedOut,
                           "The lock \"" + std::string(name) + "\" (" + quoted(path) + ") stayed held for " +
                               std::to_string(timeoutMs) + " ms");
            return std::nullopt;
        }
        auto pause = std::chrono::duration_cast<std::chrono::steady_clock::duration>(interval);
        if (timeoutMs != infiniteTimeout)
            pause = std::min(pause, deadline - now);
        std::this_thread::sleep_for(pause);
        interval = std::min(interval * 2, longestPoll);
    }
}

NamedLock::NamedLock(std::string name, std::filesystem::path path, int fd)
    : m_name(std::move(name)), m_path(std::move(path)), m_fd(fd)
{
}

NamedLock::NamedLock(NamedLock&& other) noexcept
    : m_name(std::move(other.m_name)), m_path(std::move(other.m_path)), m_fd(other.m_fd)
{
    other.m_fd = -1;
}

NamedLock& NamedLock::operator=(NamedLock&& other) noexcept
{
    if (this != &other) {
        release();
        m_name = std::move(other.m_name);
        m_path = std::move(other.m_path);
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

NamedLock::~NamedLock()
{
    release();
}

void NamedLock::release()
{
    // Closing the only descriptor of this open file description drops the flock.
    if (m_fd >= 0) {
        close(m_fd);
        m_fd = -1;
    }
}

std::optional<std::filesystem::path> lockFolder(std::string* error)
{
    std::filesystem::path path;
    const int fd = openFolder(path, error);
    if (fd < 0)
        return std::nullopt;
    close(fd);
    return path;
}

std::string lockFileName(std::string_view name)
{
    std::string plain;
    for (unsigned char c : name)
        appendEncoded(plain, c);
    if (plain.size() + lockSuffix.size() <= maxPlainFileName)
        return plain + std::string(lockSuffix);

    // '~' is always encoded in plain names, so a hashed name never equals a plain one.
    std::string prefix;
    for (unsigned char c : name) {
        std::string next;
        appendEncoded(next, c);
        if (prefix.size() + next.size() > hashedPrefixLength)
            break;
        prefix += next;
    }
    return prefix + "~" + hashHex(name) + std::string(lockSuffix);
}

}  // namespace peltra::platform
