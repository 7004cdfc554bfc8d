// Named locks shared between processes and threads: flock() on lock files in the runtime folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace peltra::platform {

// Why a lock was not taken.
struct LockFailure {
    enum class Kind {
        Busy,       // held by another process or thread (tryAcquire)
        TimedOut,   // still held when the time-out ran out (acquire)
        BadName,    // the empty name
        System,     // the runtime folder or the lock file could not be used
    };
    Kind kind = Kind::System;
    // One line naming the lock file and, for System, the system's text of the error.
    std::string message;
};

// An exclusive lock named by any UTF-8 text, held until the object is destroyed or released, or
// the holding process ends. Two acquisitions exclude each other whether they are made by different
// processes of the user or by different threads of one process, since each acquisition opens the
// lock file anew. Names are compared byte for byte, as Windows compares mutex names. Lock files
// are left in place: removing one could let two holders lock different files of the same name.
// A child made by fork() without exec shares its parent's hold.
class NamedLock {
public:
    // Takes the lock only when it is free at once.
    static std::optional<NamedLock> tryAcquire(std::string_view name, LockFailure* failure = nullptr);
    // Waits up to timeoutMs for the lock (infiniteTimeout of sync/Event.h: no limit).
    static std::optional<NamedLock> acquire(std::string_view name, std::uint32_t timeoutMs,
                                            LockFailure* failure = nullptr);

    NamedLock(NamedLock&& other) noexcept;
    NamedLock& operator=(NamedLock&& other) noexcept;
    NamedLock(const NamedLock&) = delete;
    NamedLock& operator=(const NamedLock&) = delete;
    ~NamedLock();

    // Gives the lock up now; later calls do nothing.
    void release();

    const std::string& name() const { return m_name; }
    const std::filesystem::path& path() const { return m_path; }

private:
    NamedLock(std::string name, std::filesystem::path path, int fd);

    std::string m_name;
    std::filesystem::path m_path;
    int m_fd = -1;
};

// The folder of the station's lock files: $XDG_RUNTIME_DIR/peltra when XDG_RUNTIME_DIR is an
// absolute path, else /tmp/peltra-<uid>. Created with mode 0700 when missing; refused (nothing,
// with the reason in *error) when it is not a real folder owned by the user.
std::optional<std::filesystem::path> lockFolder(std::string* error = nullptr);

// The lock file name of a lock name: bytes outside [A-Za-z0-9._-] percent-encoded, ".lock"
// appended; a name whose file name would be too long keeps a readable prefix and ends in a 128-bit
// hash of the whole name.
std::string lockFileName(std::string_view name);

}  // namespace peltra::platform
