// libFuzzer target: arbitrary bytes as a phonogram library, read from memory by the file reader's code.
#include "line/PhonogramLibrary.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

namespace {

using peltra::line::PhonogramLibrary;

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// Listed chunks lie inside the input and read as exactly its bytes there; a code finds its first
// chunk.
void checkChunks(PhonogramLibrary& library, const std::string& input)
{
    PhonogramLibrary::Bytes data;
    std::string error;
    const auto& chunks = library.chunks();
    for (std::size_t i = 0; i < chunks.size(); ++i) {
        const auto& chunk = chunks[i];
        check(chunk.offset <= input.size() && chunk.size <= input.size() - chunk.offset);
        check(library.readChunk(i, data, &error) == PhonogramLibrary::ReadStatus::Ok);
        check(data.size() == chunk.size
              && (chunk.size == 0 || std::memcmp(data.data(), input.data() + chunk.offset, chunk.size) == 0));

        const auto code = PhonogramLibrary::codeOf(chunk.id);
        if (!code)
            continue;
        check(library.contains(*code));
        PhonogramLibrary::Bytes pcm;
        check(library.readPhrase(*code, pcm, &error) == PhonogramLibrary::ReadStatus::Ok);
        std::size_t first = 0;
        while (chunks[first].id != chunk.id)
            ++first;
        check(pcm.size() == chunks[first].size);
    }
    check(library.readChunk(chunks.size(), data, &error) == PhonogramLibrary::ReadStatus::NotFound);
}

// Codes a playback asks for, present or not, and codes no library can hold.
void checkFixedCodes(PhonogramLibrary& library)
{
    static const char* const codes[] = {"_000", "+T01", "+RR ", "____", "fmt ", "RIFF", "WAVE",
                                        "+ДН1", "Ёж€9", "", "_00", "_0000", "✓abc", "\xFF\xFE\xFD\xFC"};
    PhonogramLibrary::Bytes pcm;
    for (const char* code : codes) {
        std::string error;
        const auto status = library.readPhrase(code, pcm, &error);
        check(status == (library.contains(code) ? PhonogramLibrary::ReadStatus::Ok
                                                : PhonogramLibrary::ReadStatus::NotFound));
        check(status == PhonogramLibrary::ReadStatus::Ok || (pcm.empty() && !error.empty()));
    }
}

// A library whose codes are distinct and decodable is written again and must read back the same.
void checkRoundTrip(PhonogramLibrary& library)
{
    std::vector<PhonogramLibrary::Phrase> phrases;
    std::set<PhonogramLibrary::ChunkId> seen;
    for (std::size_t i = 0; i < library.chunks().size(); ++i) {
        const auto& chunk = library.chunks()[i];
        const auto code = PhonogramLibrary::codeOf(chunk.id);
        if (!code || !seen.insert(chunk.id).second)
            return;
        PhonogramLibrary::Phrase phrase;
        phrase.code = *code;
        check(library.readChunk(i, phrase.pcm) == PhonogramLibrary::ReadStatus::Ok);
        phrases.push_back(std::move(phrase));
    }
    std::string error;
    const auto built = PhonogramLibrary::build(library.format(), phrases, &error);
    check(built.has_value());
    auto again = PhonogramLibrary::fromBytes(*built, "rebuilt", &error);
    check(again.has_value() && again->format() == library.format()
          && again->chunks().size() == library.chunks().size());
    for (std::size_t i = 0; i < phrases.size(); ++i) {
        PhonogramLibrary::Bytes pcm;
        check(again->chunks()[i].id == library.chunks()[i].id);
        check(again->readPhrase(phrases[i].code, pcm) == PhonogramLibrary::ReadStatus::Ok && pcm == phrases[i].pcm);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::string error;
    auto library = PhonogramLibrary::fromBytes(input, "fuzz.awf", &error);
    if (!library) {
        check(error.rfind("Phonogram library \"fuzz.awf\": ", 0) == 0);
        return 0;
    }
    checkChunks(*library, input);
    checkFixedCodes(*library);
    checkRoundTrip(*library);
    return 0;
}
