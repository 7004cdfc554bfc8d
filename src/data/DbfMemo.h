// The memo file beside a table: the texts of its M fields, in numbered blocks (dBase .dbt, FoxPro .fpt).
#pragma once

#include "data/DbfStorage.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace peltra::data {

// Layouts read and written here:
//
//   dBase III .dbt  block 0 begins with the next free block (u32 LE); blocks of 512 bytes; a memo
//                   is its text ended by 0x1A 0x1A, running on over as many blocks as it needs
//   dBase IV .dbt   block 0: next free block (u32 LE), block size (u16 LE at 20); a memo begins
//                   with FF FF 08 00 and its length counting these 8 bytes (u32 LE)
//   FoxPro .fpt     a 512-byte header: next free block (u32 BE), block size (u16 BE at 6); a memo
//                   begins with its type (u32 BE, 1 for text) and the length of its data (u32 BE)
//
// A new memo always goes to fresh blocks at the end, so no block another record (or another
// program) points to is ever written. Block 0 (and the FoxPro header) is never a memo.
class DbfMemo {
public:
    enum class Layout { DBase3, DBase4, FoxPro };

    // Nothing (and fault) when the header is unsound.
    static std::unique_ptr<DbfMemo> open(std::unique_ptr<DbfStorage> storage, Layout layout, std::string& fault);

    Layout layout() const { return m_layout; }

    // The stored bytes of the memo that begins at block (in the table's code page).
    bool read(std::uint32_t block, std::string& bytes, std::string& fault) const;
    // Stores bytes as a new memo; block receives its number. The caller holds the table's writer lock.
    bool append(std::string_view bytes, std::uint32_t& block, std::string& fault);

private:
    DbfMemo(std::unique_ptr<DbfStorage> storage, Layout layout, std::uint32_t blockSize)
        : m_storage(std::move(storage)), m_layout(layout), m_blockSize(blockSize)
    {
    }

    std::unique_ptr<DbfStorage> m_storage;
    Layout m_layout;
    std::uint32_t m_blockSize;
};

}  // namespace peltra::data
