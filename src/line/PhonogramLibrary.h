// The phonogram library: a RIFF WAVE file holding one chunk of 8 kHz 16-bit PCM per phrase code.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace peltra::line {

// Where the library's bytes come from: an open file or a block of memory. Defined in the .cpp.
class PhonogramSource;

// Layout read by this class:
//
//   "RIFF" size "WAVE"
//     [other chunks]        skipped: only what follows "fmt " is searched for phrases
//     "fmt " size bytes     must be present; kept, not interpreted
//     code size PCM [pad]   one per phrase; the identifier is the phrase code in cp1251
//     ...
//
// Chunks of odd size are followed by one pad byte, as RIFF requires; libraries written by other
// tools rely on it, so the pad is always skipped (a missing pad after the very last chunk is
// tolerated). The whole chunk structure is checked when the library is opened, so a damaged
// library is refused before a call is answered, never half-way through a message.
//
// One object is used by one thread at a time. It keeps the file open until it is destroyed:
// the station opens the library for one playback and closes it afterwards.
class PhonogramLibrary {
public:
    using Bytes = std::vector<std::uint8_t>;
    using ChunkId = std::array<char, 4>;

    // One chunk after "fmt ", in file order. Duplicate identifiers are listed each time.
    struct Chunk {
        ChunkId id{};  // the four identifier bytes as stored (cp1251)
        std::uint32_t size = 0;  // data bytes, without the pad byte
        std::uint64_t offset = 0;  // where the data starts in the file
    };

    // The outcome of reading a phrase.
    enum class ReadStatus {
        Ok,
        NotFound,  // no chunk has that code, or the code is not four cp1251 characters
        ReadFailed,  // the file could not be read (changed or shrunk since it was opened, I/O error)
        OutOfMemory,  // the phrase does not fit in memory
    };

    // A phrase for the writer: its code (UTF-8, four characters in cp1251) and its PCM bytes.
    struct Phrase {
        std::string code;
        Bytes pcm;
    };

    // Opens a library file and checks its whole chunk structure. Nothing when the file cannot be
    // opened or is not a well-formed library; error names the file and the fault.
    static std::optional<PhonogramLibrary> open(const std::filesystem::path& path,
                                                std::string* error = nullptr);

    // The same checks and reads over a library held in memory; name stands for the file in errors.
    static std::optional<PhonogramLibrary> fromBytes(std::string bytes, std::string name,
                                                     std::string* error = nullptr);

    PhonogramLibrary(PhonogramLibrary&& other) noexcept;
    PhonogramLibrary& operator=(PhonogramLibrary&& other) noexcept;
    PhonogramLibrary(const PhonogramLibrary&) = delete;
    PhonogramLibrary& operator=(const PhonogramLibrary&) = delete;
    ~PhonogramLibrary();

    // The file's path (or the name given to fromBytes), as errors show it.
    const std::string& name() const { return m_name; }

    // The "fmt " chunk's bytes, as stored.
    const Bytes& format() const { return m_format; }

    // The phrase chunks in file order.
    const std::vector<Chunk>& chunks() const { return m_chunks; }

    // Whether a phrase with this code (UTF-8) is present. Codes are compared byte for byte in
    // cp1251: "_000" and "_000 " differ, and so do "+a01" and "+A01".
    bool contains(std::string_view code) const;

    // The codes that no chunk has, each once, in the order given; error names the file and them.
    // Empty when every code is present.
    std::vector<std::string> missing(const std::vector<std::string>& codes, std::string* error = nullptr) const;

    // Reads the whole PCM of the first chunk whose identifier is the code, as a search forward
    // from the start of the phrases finds it. pcm is replaced on success and left empty otherwise;
    // error names the file and the code.
    ReadStatus readPhrase(std::string_view code, Bytes& pcm, std::string* error = nullptr);

    // Reads the data of chunks()[index]. NotFound when the index is out of range.
    ReadStatus readChunk(std::size_t index, Bytes& data, std::string* error = nullptr);

    // The four cp1251 bytes of a phrase code, or nothing when the code is not exactly four
    // characters that cp1251 can hold.
    static std::optional<ChunkId> idOf(std::string_view code);

    // A chunk identifier as a UTF-8 phrase code, or nothing for a byte cp1251 leaves undefined.
    static std::optional<std::string> codeOf(const ChunkId& id);

    // The 16-byte "fmt " content for the library's sound: PCM, mono, 8000 Hz, 16 bits.
    static Bytes pcmFormat();

    // A complete library as bytes: "fmt " with the given content, then the phrases in order.
    // Nothing when a code is not four cp1251 characters, a code repeats (the second could never
    // be found), or the result would not fit in a RIFF file's 32-bit size.
    static std::optional<std::string> build(const Bytes& format, const std::vector<Phrase>& phrases,
                                            std::string* error = nullptr);

    // Writes such a library to path. The file is written beside the target under a temporary
    // name and renamed over it only when complete, so a failed write leaves the old file whole.
    static bool write(const std::filesystem::path& path, const Bytes& format,
                      const std::vector<Phrase>& phrases, std::string* error = nullptr);

private:
    PhonogramLibrary(std::string name, std::unique_ptr<PhonogramSource> source);

    static std::optional<PhonogramLibrary> load(std::string name,
                                                std::unique_ptr<PhonogramSource> source,
                                                std::string* error);
    bool readStructure(std::string* error);
    std::optional<std::size_t> find(const ChunkId& id) const;

    std::string m_name;
    std::unique_ptr<PhonogramSource> m_source;
    Bytes m_format;
    std::vector<Chunk> m_chunks;
};

}  // namespace peltra::line
