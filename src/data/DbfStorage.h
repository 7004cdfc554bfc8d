// Where a table's bytes live: a file (positional reads and writes, never truncated by readers'
// neighbours) or a block of memory (for fuzzing and for tests that inject write failures).
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

namespace peltra::data {

// What a writer says when another program held the writers' lock for longer than it may wait.
inline constexpr char kWritersLockBusy[] = "it is locked by another program";

// How long a writer on the calling thread waits for the writers' lock before it gives up with
// kWritersLockBusy; ten seconds unless a scope says otherwise (the station's controller thread
// must never wait long, so it keeps its own writes short).
class WriterLockWait {
public:
    explicit WriterLockWait(std::chrono::milliseconds limit);
    ~WriterLockWait();
    WriterLockWait(const WriterLockWait&) = delete;
    WriterLockWait& operator=(const WriterLockWait&) = delete;

private:
    std::chrono::milliseconds m_previous;
};

class DbfStorage {
public:
    virtual ~DbfStorage() = default;

    // Reads up to size bytes at offset; got is less than size only at the end of the data.
    virtual bool readAt(std::uint64_t offset, void* data, std::size_t size, std::size_t& got,
                        std::string& error) = 0;
    // Writes all bytes at offset or fails (some of them may have been written).
    virtual bool writeAt(std::uint64_t offset, const void* data, std::size_t size, std::string& error) = 0;
    virtual bool size(std::uint64_t& out, std::string& error) = 0;
    // Cuts the data back to size; used only to undo an append that did not complete.
    virtual bool truncate(std::uint64_t size, std::string& error) = 0;
    // Makes written bytes durable.
    virtual bool sync(std::string& error) = 0;
    // Serialises writers among the station's processes (an advisory lock that readers never take),
    // waiting for it no longer than the calling thread's WriterLockWait allows.
    virtual bool lockWriters(std::string& error) = 0;
    virtual void unlockWriters() = 0;
};

// A file opened for reading, or for reading and writing. Nothing (and error) when it cannot be opened.
std::unique_ptr<DbfStorage> openFileStorage(const std::filesystem::path& path, bool writable, std::string& error);

// Bytes held in memory. After failWritesAfter(n), the write that crosses n more bytes stores only
// the bytes before the limit and fails, as on a full disk; later writes succeed again, so that the
// undoing of a failed operation can be checked.
class MemoryStorage : public DbfStorage {
public:
    explicit MemoryStorage(std::string bytes) : m_bytes(std::move(bytes)) {}

    const std::string& bytes() const { return m_bytes; }
    void failWritesAfter(std::size_t bytes) { m_failAfter = m_written + bytes; m_failing = true; }

    bool readAt(std::uint64_t offset, void* data, std::size_t size, std::size_t& got, std::string& error) override;
    bool writeAt(std::uint64_t offset, const void* data, std::size_t size, std::string& error) override;
    bool size(std::uint64_t& out, std::string& error) override;
    bool truncate(std::uint64_t size, std::string& error) override;
    bool sync(std::string&) override { return true; }
    bool lockWriters(std::string&) override { return true; }
    void unlockWriters() override {}

private:
    std::string m_bytes;
    std::size_t m_written = 0;
    std::size_t m_failAfter = 0;
    bool m_failing = false;
};

}  // namespace peltra::data
