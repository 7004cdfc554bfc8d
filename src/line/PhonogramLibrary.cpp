// Reading and writing the phonogram library's RIFF structure, from a file or from memory.
#include "line/PhonogramLibrary.h"

#include "platform/errors/SystemError.h"
#include "platform/files/ReplaceFile.h"
#include "platform/text/CodePage.h"
#include "platform/text/Utf8.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <new>
#include <set>
#include <utility>

namespace peltra::line {

// Bytes of the library by position. Every read is checked for its full length, so a read past
// the end of a file that shrank after it was opened is an error, not a short phrase.
class PhonogramSource {
public:
    virtual ~PhonogramSource() = default;

    // The number of bytes when the library was opened.
    virtual std::uint64_t size() const = 0;

    // Reads exactly length bytes at offset; false with the reason in why otherwise.
    virtual bool read(std::uint64_t offset, void* buffer, std::size_t length, std::string& why) = 0;
};

namespace {

constexpr std::size_t kHeaderSize = 8;  // identifier and 32-bit little-endian size
constexpr std::uint64_t kMaxRiffSize = 0xFFFFFFFFu;
constexpr PhonogramLibrary::ChunkId kFormatId{'f', 'm', 't', ' '};

class FileSource final : public PhonogramSource {
public:
    FileSource(std::FILE* file, std::uint64_t size) : m_file(file), m_size(size) {}
    ~FileSource() override { std::fclose(m_file); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::uint64_t size() const override { return m_size; }
    bool read(std::uint64_t offset, void* buffer, std::size_t length, std::string& why) override;

private:
    std::FILE* m_file;
    std::uint64_t m_size;
};

bool FileSource::read(std::uint64_t offset, void* buffer, std::size_t length, std::string& why)
{
    std::clearerr(m_file);
    if (fseeko(m_file, static_cast<off_t>(offset), SEEK_SET) != 0) {
        why = platform::systemMessage(errno);
        return false;
    }
    errno = 0;
    const std::size_t got = std::fread(buffer, 1, length, m_file);
    if (got == length)
        return true;
    if (std::ferror(m_file) && errno != 0)
        why = platform::systemMessage(errno);
    else
        why = "the file ends early; it was changed after it was opened";
    return false;
}

class MemorySource final : public PhonogramSource {
public:
    explicit MemorySource(std::string bytes) : m_bytes(std::move(bytes)) {}

    std::uint64_t size() const override { return m_bytes.size(); }
    bool read(std::uint64_t offset, void* buffer, std::size_t length, std::string& why) override;

private:
    std::string m_bytes;
};

bool MemorySource::read(std::uint64_t offset, void* buffer, std::size_t length, std::string& why)
{
    if (offset > m_bytes.size() || length > m_bytes.size() - offset) {
        why = "the data ends early";
        return false;
    }
    std::memcpy(buffer, m_bytes.data() + offset, length);
    return true;
}

std::uint32_t readLe32(const unsigned char* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8
        | static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void appendLe32(std::string& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

void appendEscaped(std::string& out, unsigned char byte)
{
    static const char digits[] = "0123456789ABCDEF";
    out += "\\x";
    out.push_back(digits[byte >> 4]);
    out.push_back(digits[byte & 0xF]);
}

// Text in quotes for a message: printable UTF-8 as it is, every other byte as \xNN.
std::string inQuotes(std::string_view text)
{
    std::string out = "\"";
    std::size_t pos = 0;
    while (pos < text.size()) {
        char32_t c = 0;
        const std::size_t length = platform::decodeUtf8(text, pos, c);
        const bool printable = length > 0 && c >= 0x20 && c != 0x7F && (c < 0x80 || c > 0x9F);
        if (!printable) {
            appendEscaped(out, static_cast<unsigned char>(text[pos]));
            ++pos;
            continue;
        }
        if (c == '"' || c == '\\')
            out.push_back('\\');
        out.append(text.substr(pos, length));
        pos += length;
    }
    return out + "\"";
}

// A chunk identifier in quotes for a message, decoded from cp1251 where it can be.
std::string idInQuotes(const PhonogramLibrary::ChunkId& id)
{
    if (const auto code = PhonogramLibrary::codeOf(id))
        return inQuotes(*code);
    std::string out = "\"";
    for (const char ch : id) {
        const auto byte = static_cast<unsigned char>(ch);
        if (byte < 0x20 || byte >= 0x7F || ch == '"' || ch == '\\')
            appendEscaped(out, byte);
        else
            out.push_back(ch);
    }
    return out + "\"";
}

std::string amount(std::uint64_t bytes)
{
    return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
}

std::string prefixFor(const std::string& name)
{
    return "Phonogram library " + inQuotes(name) + ": ";
}

std::uint64_t paddedSize(std::uint32_t size)
{
    return std::uint64_t{size} + (size & 1u);
}

// What build() and write() emit, checked before a byte is written.
struct Plan {
    std::vector<PhonogramLibrary::ChunkId> ids;
    std::uint32_t riffSize = 0;
};

std::optional<Plan> makePlan(const PhonogramLibrary::Bytes& format,
                             const std::vector<PhonogramLibrary::Phrase>& phrases, std::string& error)
{
    Plan plan;
    std::uint64_t total = 4 + kHeaderSize + format.size() + (format.size() & 1u);
    std::set<PhonogramLibrary::ChunkId> seen;
    for (const auto& phrase : phrases) {
        const auto id = PhonogramLibrary::idOf(phrase.code);
        if (!id) {
            error = "phrase code " + inQuotes(phrase.code) + " is not four characters in cp1251";
            return std::nullopt;
        }
        if (!seen.insert(*id).second) {
            error = "phrase code " + inQuotes(phrase.code) + " appears twice; the second could never be found";
            return std::nullopt;
        }
        plan.ids.push_back(*id);
        total += kHeaderSize + phrase.pcm.size() + (phrase.pcm.size() & 1u);
        if (total > kMaxRiffSize) {
            error = "the library would exceed the 4 GiB a RIFF file can hold";
            return std::nullopt;
        }
    }
    if (total > kMaxRiffSize) {  // the "fmt " chunk alone
        error = "the library would exceed the 4 GiB a RIFF file can hold";
        return std::nullopt;
    }
    plan.riffSize = static_cast<std::uint32_t>(total);
    return plan;
}

using Sink = std::function<bool(const char* data, std::size_t length)>;

bool emitChunk(const Sink& sink, const PhonogramLibrary::ChunkId& id, const PhonogramLibrary::Bytes& data)
{
    std::string header(id.begin(), id.end());
    appendLe32(header, static_cast<std::uint32_t>(data.size()));
    if (!sink(header.data(), header.size()))
        return false;
    if (!data.empty() && !sink(reinterpret_cast<const char*>(data.data()), data.size()))
        return false;
    static const char pad = 0;
    return (data.size() & 1u) == 0 || sink(&pad, 1);
}

bool emitLibrary(const Sink& sink, const Plan& plan, const PhonogramLibrary::Bytes& format,
                 const std::vector<PhonogramLibrary::Phrase>& phrases)
{
    std::string header = "RIFF";
    appendLe32(header, plan.riffSize);
    header += "WAVE";
    if (!sink(header.data(), header.size()) || !emitChunk(sink, kFormatId, format))
        return false;
    for (std::size_t i = 0; i < phrases.size(); ++i) {
        if (!emitChunk(sink, plan.ids[i], phrases[i].pcm))
            return false;
    }
    return true;
}

}  // namespace

PhonogramLibrary::PhonogramLibrary(std::string name, std::unique_ptr<PhonogramSource> source)
    : m_name(std::move(name)), m_source(std::move(source))
{
}

PhonogramLibrary::PhonogramLibrary(PhonogramLibrary&& other) noexcept = default;
PhonogramLibrary& PhonogramLibrary::operator=(PhonogramLibrary&& other) noexcept = default;
PhonogramLibrary::~PhonogramLibrary() = default;

std::optional<PhonogramLibrary> PhonogramLibrary::open(const std::filesystem::path& path, std::string* error)
{
    const std::string name = path.string();
    // "e": the descriptor is not inherited by programs the station starts.
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (!file) {
        const int code = errno;
        if (error)
            *error = prefixFor(name) + "cannot open it: " + platform::systemMessage(code);
        return std::nullopt;
    }
    struct stat info {};
    if (fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        std::fclose(file);
        if (error)
            *error = prefixFor(name) + "not a regular file";
        return std::nullopt;
    }
    return load(name, std::make_unique<FileSource>(file, static_cast<std::uint64_t>(info.st_size)), error);
}

std::optional<PhonogramLibrary> PhonogramLibrary::fromBytes(std::string bytes, std::string name,
                                                            std::string* error)
{
    return load(std::move(name), std::make_unique<MemorySource>(std::move(bytes)), error);
}

std::optional<PhonogramLibrary> PhonogramLibrary::load(std::string name,
                                                       std::unique_ptr<PhonogramSource> source,
                                                       std::string* error)
{
    PhonogramLibrary library(std::move(name), std::move(source));
    if (!library.readStructure(error))
        return std::nullopt;
    return library;
}

// Walks every chunk header once. Each size is checked against what the RIFF chunk and the file
// really hold before anything is read or allocated for it.
bool PhonogramLibrary::readStructure(std::string* error)
{
    const auto fail = [&](const std::string& what) {
        if (error)
            *error = prefixFor(m_name) + what;
        m_format.clear();
        m_chunks.clear();
        return false;
    };
    const std::uint64_t fileSize = m_source->size();
    if (fileSize < 12)
        return fail("the file is " + amount(fileSize) + " long, too short for a RIFF header");
    unsigned char header[12];
    std::string why;
    if (!m_source->read(0, header, sizeof header, why))
        return fail("cannot read the RIFF header: " + why);
    if (std::memcmp(header, "RIFF", 4) != 0)
        return fail("not a RIFF file");
    ChunkId form;
    std::memcpy(form.data(), header + 8, 4);
    if (std::memcmp(form.data(), "WAVE", 4) != 0)
        return fail("a RIFF file of form " + idInQuotes(form) + ", not \"WAVE\"");
    const std::uint64_t riffSize = readLe32(header + 4);
    const std::uint64_t riffEnd = kHeaderSize + riffSize;
    if (riffSize < 4)
        return fail("the RIFF chunk declares " + amount(riffSize) + ", too few for its form type");
    if (riffEnd > fileSize)
        return fail("the RIFF chunk declares " + amount(riffSize) + " but the file holds only "
                    + amount(fileSize - kHeaderSize) + " after its header; the file is truncated");
    // Bytes after the RIFF chunk are ignored, as the Windows RIFF reader ignores them: libraries
    // that played there must play here.

    bool formatSeen = false;
    try {
        std::uint64_t pos = 12;
        while (pos < riffEnd) {
            const auto where = [pos] { return " at offset " + std::to_string(pos); };
            if (riffEnd - pos < kHeaderSize)
                return fail("the chunk header" + where() + " is cut short by the end of the RIFF chunk");
            unsigned char chunkHeader[kHeaderSize];
            if (!m_source->read(pos, chunkHeader, kHeaderSize, why))
                return fail("cannot read the chunk header" + where() + ": " + why);
            Chunk chunk;
            std::memcpy(chunk.id.data(), chunkHeader, 4);
            chunk.size = readLe32(chunkHeader + 4);
            chunk.offset = pos + kHeaderSize;
            const std::uint64_t room = riffEnd - chunk.offset;
            if (chunk.size > room)
                return fail("chunk " + idInQuotes(chunk.id) + where() + " declares " + amount(chunk.size)
                            + " but the RIFF chunk has only " + amount(room) + " left");
            // The pad byte after an odd chunk; a writer may leave it out after the last one.
            pos = std::min(chunk.offset + paddedSize(chunk.size), riffEnd);
            if (formatSeen) {
                m_chunks.push_back(chunk);
            } else if (chunk.id == kFormatId) {
                m_format.resize(chunk.size);
                if (chunk.size > 0 && !m_source->read(chunk.offset, m_format.data(), chunk.size, why))
                    return fail("cannot read the \"fmt \" chunk: " + why);
                formatSeen = true;
            }
            // Chunks before "fmt " are not phrases: the search for a phrase starts after it.
        }
    } catch (const std::bad_alloc&) {
        return fail("not enough memory to read its chunk list");
    }
    if (!formatSeen)
        return fail("no \"fmt \" chunk");
    return true;
}

std::optional<std::size_t> PhonogramLibrary::find(const ChunkId& id) const
{
    const auto it = std::find_if(m_chunks.begin(), m_chunks.end(),
                                 [&](const Chunk& chunk) { return chunk.id == id; });
    if (it == m_chunks.end())
        return std::nullopt;
    return static_cast<std::size_t>(it - m_chunks.begin());
}

bool PhonogramLibrary::contains(std::string_view code) const
{
    const auto id = idOf(code);
    return id && find(*id);
}

std::vector<std::string> PhonogramLibrary::missing(const std::vector<std::string>& codes, std::string* error) const
{
    std::vector<std::string> absent;
    std::string named;
    for (const std::string& code : codes) {
        if (contains(code) || std::find(absent.begin(), absent.end(), code) != absent.end())
            continue;
        named += (absent.empty() ? "" : ", ") + inQuotes(code);
        absent.push_back(code);
    }
    if (error && !absent.empty())
        *error = prefixFor(m_name) + (absent.size() == 1 ? "no phrase " : "no phrases ") + named;
    return absent;
}

PhonogramLibrary::ReadStatus PhonogramLibrary::readPhrase(std::string_view code, Bytes& pcm, std::string* error)
{
    pcm.clear();
    const auto id = idOf(code);
    if (!id) {
        if (error)
            *error = prefixFor(m_name) + "no phrase " + inQuotes(code)
                + ": a phrase code is four characters in cp1251";
        return ReadStatus::NotFound;
    }
    const auto index = find(*id);
    if (!index) {
        if (error)
            *error = prefixFor(m_name) + "no phrase " + inQuotes(code);
        return ReadStatus::NotFound;
    }
    return readChunk(*index, pcm, error);
}

PhonogramLibrary::ReadStatus PhonogramLibrary::readChunk(std::size_t index, Bytes& data, std::string* error)
{
    data.clear();
    if (index >= m_chunks.size()) {
        if (error)
            *error = prefixFor(m_name) + "no chunk number " + std::to_string(index);
        return ReadStatus::NotFound;
    }
    const Chunk& chunk = m_chunks[index];
    if (!m_source) {
        if (error)
            *error = prefixFor(m_name) + "the library is closed";
        return ReadStatus::ReadFailed;
    }
    Bytes bytes;
    try {
        bytes.resize(chunk.size);
    } catch (const std::bad_alloc&) {
        if (error)
            *error = prefixFor(m_name) + "not enough memory for phrase " + idInQuotes(chunk.id) + " ("
                + amount(chunk.size) + ")";
        return ReadStatus::OutOfMemory;
    }
    std::string why;
    if (chunk.size > 0 && !m_source->read(chunk.offset, bytes.data(), chunk.size, why)) {
        if (error)
            *error = prefixFor(m_name) + "cannot read phrase " + idInQuotes(chunk.id) + ": " + why;
        return ReadStatus::ReadFailed;
    }
    data = std::move(bytes);
    return ReadStatus::Ok;
}

std::optional<PhonogramLibrary::ChunkId> PhonogramLibrary::idOf(std::string_view code)
{
    const auto bytes = platform::fromUtf8(code, platform::CodePage::Cp1251);
    if (!bytes || bytes->size() != 4)
        return std::nullopt;
    ChunkId id;
    std::memcpy(id.data(), bytes->data(), 4);
    return id;
}

std::optional<std::string> PhonogramLibrary::codeOf(const ChunkId& id)
{
    return platform::toUtf8(std::string_view(id.data(), id.size()), platform::CodePage::Cp1251);
}

PhonogramLibrary::Bytes PhonogramLibrary::pcmFormat()
{
    // WAVEFORMAT plus the bits per sample: tag 1 (PCM), 1 channel, 8000 samples/s,
    // 16000 bytes/s, 2-byte blocks, 16 bits.
    return {0x01, 0x00, 0x01, 0x00, 0x40, 0x1F, 0x00, 0x00, 0x80, 0x3E, 0x00, 0x00, 0x02, 0x00, 0x10, 0x00};
}

std::optional<std::string> PhonogramLibrary::build(const Bytes& format, const std::vector<Phrase>& phrases,
                                                   std::string* error)
{
    std::string why;
    const auto plan = makePlan(format, phrases, why);
    if (!plan) {
        if (error)
            *error = "Phonogram library: " + why;
        return std::nullopt;
    }
    std::string out;
    try {
        out.reserve(kHeaderSize + plan->riffSize);
        emitLibrary([&](const char* data, std::size_t length) { out.append(data, length); return true; },
                    *plan, format, phrases);
    } catch (const std::bad_alloc&) {
        if (error)
            *error = "Phonogram library: not enough memory to build it";
        return std::nullopt;
    }
    return out;
}

bool PhonogramLibrary::write(const std::filesystem::path& path, const Bytes& format,
                             const std::vector<Phrase>& phrases, std::string* error)
{
    const std::string prefix = prefixFor(path.string());
    const auto fail = [&](const std::string& what) {
        if (error)
            *error = prefix + what;
        return false;
    };
    std::string why;
    const auto plan = makePlan(format, phrases, why);
    if (!plan)
        return fail(why);

    std::string reason;
    const bool written = platform::replaceFile(
        path,
        [&](const platform::ByteSink& sink) {
            return emitLibrary([&](const char* data, std::size_t length) { return sink(data, length); },
                               *plan, format, phrases);
        },
        reason);
    return written || fail(reason);
}

}  // namespace peltra::line
