// Test helper: a file or folder that cannot be written, even by root, while the helper lives.
#pragma once

#include <sys/types.h>

#include <filesystem>

namespace peltra::test {

// Root ignores permission bits, so the path is also marked immutable where the process may
// (FS_IOC_SETFLAGS); without that right only its write bits are taken away. Both are undone on
// destruction.
class ReadOnlyFile {
public:
    explicit ReadOnlyFile(std::filesystem::path path);
    ~ReadOnlyFile();
    ReadOnlyFile(const ReadOnlyFile&) = delete;
    ReadOnlyFile& operator=(const ReadOnlyFile&) = delete;

    // Whether writing is refused now; a test that needs it skips when it is not.
    bool isReadOnly() const { return m_readOnly; }

private:
    std::filesystem::path m_path;
    int m_fd = -1;
    mode_t m_mode = 0;
    bool m_immutable = false;
    bool m_readOnly = false;
};

}  // namespace peltra::test
