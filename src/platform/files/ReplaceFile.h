// Writing a file so that its name always holds either the old content or the whole new content.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace peltra::platform {

// Appends bytes to the file being written; false when the write failed (errno says why).
using ByteSink = std::function<bool(const void* data, std::size_t size)>;

// Writes the content that `produce` sends to the sink into a temporary file next to `path`,
// flushes it to disk and renames it over `path`, so that neither a crash nor a power cut leaves a
// part of a file. The new file keeps the permissions of the one it replaces (a new one gets 0666
// less the umask). A `path` that exists and is not a regular file (a terminal, a pipe,
// /dev/stdout) is written directly. On failure nothing is left behind and `error` holds the
// reason, naming the folder or "it" for the file: "cannot create a file in "<folder>": <reason>"
// or "cannot write it: <reason>".
bool replaceFile(const std::filesystem::path& path, const std::function<bool(const ByteSink&)>& produce,
                 std::string& error);
bool replaceFile(const std::filesystem::path& path, std::string_view content, std::string& error);

// Writes all bytes to a file descriptor, going on after interrupted and partial writes.
bool writeAll(int fd, const void* data, std::size_t size);

}  // namespace peltra::platform
