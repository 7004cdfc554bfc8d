// Reading and appending memo blocks.
#include "data/DbfMemo.h"

#include <algorithm>

namespace peltra::data {
namespace {

// A memo longer than this is taken for a damaged pointer rather than read into memory.
constexpr std::uint32_t kMaxMemo = 16u << 20;
constexpr std::uint32_t kFoxHeader = 512;

std::uint32_t le32(const unsigned char* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::uint32_t be32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

void putLe32(char* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>(v >> (8 * i) & 0xFF);
}

void putBe32(char* p, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<char>(v >> (8 * (3 - i)) & 0xFF);
}

}  // namespace

std::unique_ptr<DbfMemo> DbfMemo::open(std::unique_ptr<DbfStorage> storage, Layout layout, std::string& fault)
{
    unsigned char head[24] = {};
    std::size_t got = 0;
    if (!storage->readAt(0, head, sizeof head, got, fault))
        return nullptr;
    if (got < sizeof head) {
        fault = "its memo file is too short";
        return nullptr;
    }
    std::uint32_t blockSize = 512;
    if (layout == Layout::DBase4) {
        blockSize = head[20] | head[21] << 8;
        if (blockSize == 0)
            blockSize = 512;
    } else if (layout == Layout::FoxPro) {
        blockSize = head[6] << 8 | head[7];
    }
    if (blockSize < 8) {
        fault = "its memo file names a block size of " + std::to_string(blockSize) + " bytes";
        return nullptr;
    }
    return std::unique_ptr<DbfMemo>(new DbfMemo(std::move(storage), layout, blockSize));
}

bool DbfMemo::read(std::uint32_t block, std::string& bytes, std::string& fault) const
{
    bytes.clear();
    const std::uint64_t at = std::uint64_t(block) * m_blockSize;
    if (block == 0 || (m_layout == Layout::FoxPro && at < kFoxHeader)) {
        fault = "memo block " + std::to_string(block) + " lies in the memo file's header";
        return false;
    }
    std::uint64_t size = 0;
    if (!m_storage->size(size, fault))
        return false;
    if (at >= size) {
        fault = "memo block " + std::to_string(block) + " is past the end of the memo file";
        return false;
    }
    unsigned char head[8] = {};
    std::size_t got = 0;
    if (!m_storage->readAt(at, head, sizeof head, got, fault))
        return false;
    std::uint64_t start = at;
    std::uint64_t length = 0;
    bool terminated = false;  // the text runs to 0x1A 0x1A
    if (m_layout == Layout::FoxPro) {
        if (got < 8) {
            fault = "memo block " + std::to_string(block) + " is cut short";
            return false;
        }
        start = at + 8;
        length = be32(head + 4);
    } else if (m_layout == Layout::DBase4 && got == 8 && head[0] == 0xFF && head[1] == 0xFF && head[2] == 0x08
               && head[3] == 0x00) {
        start = at + 8;
        length = std::max<std::uint32_t>(le32(head + 4), 8) - 8;
    } else {
        terminated = true;
        length = std::min<std::uint64_t>(size - at, kMaxMemo);
    }
    if (length > kMaxMemo || start + length > size) {
        fault = "memo block " + std::to_string(block) + " claims more bytes than the memo file holds";
        return false;
    }
    bytes.resize(static_cast<std::size_t>(length));
    if (!m_storage->readAt(start, bytes.data(), bytes.size(), got, fault))
        return false;
    bytes.resize(got);
    if (terminated) {
        std::size_t end = bytes.find("\x1A\x1A");
        if (end == std::string::npos)
            end = bytes.find('\x1A');
        if (end != std::string::npos)
            bytes.resize(end);
    }
    return true;
}

bool DbfMemo::append(std::string_view bytes, std::uint32_t& block, std::string& fault)
{
    if (bytes.size() > kMaxMemo) {
        fault = "the memo is longer than " + std::to_string(kMaxMemo) + " bytes";
        return false;
    }
    unsigned char head[4] = {};
    std::size_t got = 0;
    std::uint64_t size = 0;
    if (!m_storage->readAt(0, head, sizeof head, got, fault) || !m_storage->size(size, fault))
        return false;
    const std::uint32_t nextFree = m_layout == Layout::FoxPro ? be32(head) : le32(head);
    // Blocks already in the file are never reused, whatever the header says.
    const std::uint64_t firstFree = m_layout == Layout::FoxPro ? (kFoxHeader + m_blockSize - 1) / m_blockSize : 1;
    const std::uint64_t used = (size + m_blockSize - 1) / m_blockSize;
    const std::uint64_t first = std::max<std::uint64_t>({nextFree, firstFree, used});

    std::string memo;
    if (m_layout == Layout::FoxPro) {
        memo.assign(8, '\0');
        putBe32(memo.data(), 1);
        putBe32(memo.data() + 4, static_cast<std::uint32_t>(bytes.size()));
        memo.append(bytes);
    } else if (m_layout == Layout::DBase4) {
        memo = std::string("\xFF\xFF\x08\x00", 4) + std::string(4, '\0');
        putLe32(memo.data() + 4, static_cast<std::uint32_t>(bytes.size() + 8));
        memo.append(bytes);
    } else {
        memo.assign(bytes);
        memo += "\x1A\x1A";
    }
    const std::uint64_t blocks = (memo.size() + m_blockSize - 1) / m_blockSize;
    if (first + blocks > 0xFFFFFFFFu) {
        fault = "the memo file cannot hold more blocks";
        return false;
    }
    memo.resize(static_cast<std::size_t>(blocks * m_blockSize), '\0');
    if (!m_storage->writeAt(first * m_blockSize, memo.data(), memo.size(), fault))
        return false;
    char next[4];
    if (m_layout == Layout::FoxPro)
        putBe32(next, static_cast<std::uint32_t>(first + blocks));
    else
        putLe32(next, static_cast<std::uint32_t>(first + blocks));
    if (!m_storage->writeAt(0, next, sizeof next, fault))
        return false;
    block = static_cast<std::uint32_t>(first);
    return true;
}

}  // namespace peltra::data
