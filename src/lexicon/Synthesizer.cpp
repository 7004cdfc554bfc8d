// espeak-ng run once per phrase, writing a WAV file into a private temporary folder.
#include "lexicon/Synthesizer.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

extern char** environ;

namespace peltra::lexicon {

namespace fs = std::filesystem;

namespace {

// A folder of its own under the system's temporary folder, removed with the object.
class ScratchFolder {
public:
    ScratchFolder()
    {
        std::string pattern = (fs::temp_directory_path() / "peltra-lexicon-XXXXXX").string();
        if (mkdtemp(pattern.data()))
            m_path = pattern;
    }
    ~ScratchFolder()
    {
        std::error_code ignored;
        if (!m_path.empty())
            fs::remove_all(m_path, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

std::string firstLine(const fs::path& file)
{
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

}  // namespace

EspeakSynthesizer::EspeakSynthesizer(std::string voice) : m_voice(std::move(voice)) {}

std::optional<platform::WavAudio> EspeakSynthesizer::speak(const std::string& text, std::string& error) const
{
    ScratchFolder scratch;
    if (scratch.path().empty()) {
        error = std::string("cannot make a temporary folder: ") + std::strerror(errno);
        return std::nullopt;
    }
    const fs::path textFile = scratch.path() / "text.txt";
    const fs::path wavFile = scratch.path() / "speech.wav";
    const fs::path errorFile = scratch.path() / "errors.txt";
    {
        std::ofstream out(textFile, std::ios::binary);
        out << text;
        if (!out) {
            error = "cannot write " + textFile.string();
            return std::nullopt;
        }
    }

    std::vector<std::string> args = {"espeak-ng", "-v", m_voice, "-b", "1", "-f", textFile.string(), "-w",
                                     wavFile.string()};
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errorFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "espeak-ng", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        error = spawned == ENOENT ? std::string(kSynthesizerMissing)
                                  : std::string("cannot start espeak-ng: ") + std::strerror(spawned);
        return std::nullopt;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        const std::string said = firstLine(errorFile);
        error = "espeak-ng failed" + (said.empty() ? std::string() : ": " + said);
        return std::nullopt;
    }
    return platform::readWav(wavFile, error);
}

}  // namespace peltra::lexicon
