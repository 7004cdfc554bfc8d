// Test helper: another program holding a table's writer lock (the byte every writer of the
// station locks), in a python process of its own, until released.
#pragma once

#include <cstdio>
#include <filesystem>

namespace peltra::test {

class HeldTableLock {
public:
    // Returns once the lock is held (held() tells) or a few seconds have passed.
    HeldTableLock(const std::filesystem::path& table, const std::filesystem::path& workDir);
    ~HeldTableLock();
    HeldTableLock(const HeldTableLock&) = delete;
    HeldTableLock& operator=(const HeldTableLock&) = delete;

    bool held() const { return m_held; }
    // Ends the process; the lock goes with it.
    void release();

private:
    std::FILE* m_process = nullptr;
    bool m_held = false;
};

}  // namespace peltra::test
