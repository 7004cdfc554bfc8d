// peltra-reg: the operator's tool for the station's configuration store.
#include "StationFolder.h"
#include "ToolOutput.h"
#include "config/StationHome.h"
#include "platform/files/ReplaceFile.h"
#include "platform/registry/RegFile.h"
#include "platform/registry/RegistryStore.h"
#include "platform/text/CaseFold.h"
#include "platform/text/CodePage.h"
#include "platform/text/Hex.h"
#include "platform/text/Utf8.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using peltra::platform::Bytes;
using peltra::platform::hexDigitValue;
using peltra::platform::RegFile;
using peltra::platform::RegistryStore;
using peltra::platform::RegistryValue;
using peltra::platform::RegType;

namespace fs = std::filesystem;

using peltra::tools::kExitFailure;
using peltra::tools::kExitOk;
using peltra::tools::kExitUsage;

constexpr std::string_view kDefaultExportKey = "Software\\PELTRA";
constexpr std::string_view kMultiSeparator = " | ";

constexpr char kUsage[] =
    R"(usage: peltra-reg [--home DIR] COMMAND [ARGUMENTS]

Reads and changes the station's configuration store (HKEY_LOCAL_MACHINE), kept in
DIR/registry.db; DIR is --home, else $PELTRA_HOME, else ~/.local/share/peltra.

Commands:
  get KEY VALUE              print a value: DWORD in decimal, texts as they are,
                             a multi-string one string per line, other types as
                             hex bytes "aa,bb,cc"
  set KEY VALUE --dword N    N decimal or 0x-hex, 0 to 4294967295
  set KEY VALUE --sz TEXT
  set KEY VALUE --expand-sz TEXT
  set KEY VALUE --binary HEX HEX as "aa,bb,cc" or "aabbcc"
  set KEY VALUE --multi S1 S2 ...
  list KEY                   sub-keys as "[Name]", then values as "Name = value";
                             the default value is shown as "@", the strings of a
                             multi-string are joined with " | "
  delete KEY [VALUE]         delete a key with all its sub-keys, or one value
  export [KEY] [FILE] [--encoding utf8|utf16]
                             write KEY (default Software\PELTRA) and everything
                             below it as a .reg file to FILE (default: standard
                             output); utf16 is UTF-16LE as Windows writes it
  import FILE                apply a .reg file (REGEDIT4 or version 5; FILE "-"
                             is standard input); nothing is changed when any line
                             of it is wrong

KEY is relative to HKEY_LOCAL_MACHINE, with backslashes (Software\PELTRA\Ports\COM1);
a leading "HKEY_LOCAL_MACHINE\" or "HKLM\" is accepted. VALUE "@" (or "") is the
key's default value. Names compare without regard to case.

Exit status: 0 success, 1 failure (message on standard error), 2 bad arguments.
)";

const peltra::tools::ToolOutput output("peltra-reg", kUsage);

int fail(const std::string& message) { return output.fail(message); }
int usageError(const std::string& message) { return output.usageError(message); }

// A key argument reduced to a path relative to HKEY_LOCAL_MACHINE.
std::optional<std::string> keyPathOf(const std::string& argument, std::string& error)
{
    if (!peltra::platform::isValidUtf8(argument)) {
        error = "the key is not valid UTF-8 text";
        return std::nullopt;
    }
    std::vector<std::string> components = peltra::platform::splitKeyPath(argument);
    if (!components.empty()) {
        const std::string& first = components.front();
        switch (RegFile::hiveOf(first)) {
        case RegFile::Hive::LocalMachine:
            components.erase(components.begin());
            break;
        case RegFile::Hive::Other:
            error = "the store holds only HKEY_LOCAL_MACHINE, not " + first;
            return std::nullopt;
        case RegFile::Hive::None:
            break;  // a path relative to HKEY_LOCAL_MACHINE
        }
    }
    return peltra::platform::joinKeyPath(components);
}

std::string valueNameOf(const std::string& argument)
{
    return argument == "@" ? std::string() : argument;
}

std::string shownKey(const std::string& keyPath)
{
    return keyPath.empty() ? "HKEY_LOCAL_MACHINE" : "HKEY_LOCAL_MACHINE\\" + keyPath;
}

std::string shownValue(const std::string& name)
{
    return name.empty() ? "@ (the default value)" : "\"" + name + "\"";
}

std::string hexPairs(const Bytes& data)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < data.size(); ++i) {
        if (i > 0)
            out += ',';
        out += kDigits[data[i] >> 4];
        out += kDigits[data[i] & 0x0F];
    }
    return out;
}

std::string formatValue(const RegistryValue& value, std::string_view multiSeparator)
{
    switch (value.type) {
    case RegType::Dword:
        if (value.data.size() == 4)
            return std::to_string(value.asDword());
        return hexPairs(value.data);
    case RegType::Sz:
    case RegType::ExpandSz:
        return value.asText();
    case RegType::MultiSz: {
        std::string out;
        const std::vector<std::string> strings = value.asMultiText();
        for (std::size_t i = 0; i < strings.size(); ++i) {
            if (i > 0)
                out += multiSeparator;
            out += strings[i];
        }
        return out;
    }
    default:
        return hexPairs(value.data);
    }
}

bool printOut(const std::string& text)
{
    return peltra::platform::writeAll(STDOUT_FILENO, text.data(), text.size());
}

std::optional<std::string> readAll(int fd)
{
    std::string out;
    std::array<char, 65536> buffer;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            return out;
        out.append(buffer.data(), static_cast<std::size_t>(n));
    }
}

std::optional<std::uint32_t> parseDword(const std::string& text)
{
    std::string_view digits = text;
    int base = 10;
    if (digits.starts_with("0x") || digits.starts_with("0X")) {
        digits.remove_prefix(2);
        base = 16;
    }
    if (digits.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
        int d = -1;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        if (d < 0)
            return std::nullopt;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(d);
        if (value > 0xFFFFFFFFu)
            return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

// "aa,bb,cc" (one or two digits a byte) or "aabbcc"; "" is no bytes.
std::optional<Bytes> parseBinary(const std::string& text)
{
    Bytes bytes;
    if (text.find(',') == std::string::npos) {
        if (text.size() % 2 != 0)
            return std::nullopt;
        for (std::size_t i = 0; i < text.size(); i += 2) {
            const int hi = hexDigitValue(text[i]);
            const int lo = hexDigitValue(text[i + 1]);
            if (hi < 0 || lo < 0)
                return std::nullopt;
            bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
        }
        return bytes;
    }
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(text.find(',', start), text.size());
        std::string_view token = std::string_view(text).substr(start, end - start);
        while (!token.empty() && token.front() == ' ')
            token.remove_prefix(1);
        while (!token.empty() && token.back() == ' ')
            token.remove_suffix(1);
        if (token.empty() || token.size() > 2)
            return std::nullopt;
        int value = 0;
        for (char c : token) {
            const int d = hexDigitValue(c);
            if (d < 0)
                return std::nullopt;
            value = value * 16 + d;
        }
        bytes.push_back(static_cast<std::uint8_t>(value));
        if (end == text.size())
            return bytes;
        start = end + 1;
    }
}

struct Context {
    fs::path storeFile;

    // Read-only commands treat a store file that does not exist yet as an empty store, so that
    // looking does not create anything.
    bool storeMissing() const
    {
        std::error_code ec;
        return !fs::exists(storeFile, ec) && !ec;
    }
};

// Runs a command on an existing key of the store. A store file that does not exist yet is not
// created: looking must not change anything, and its keys are simply missing.
int withExistingStore(const Context& context, const std::string& keyArgument,
                      const std::function<int(RegistryStore&, const std::string&)>& command)
{
    std::string error;
    const std::optional<std::string> key = keyPathOf(keyArgument, error);
    if (!key)
        return fail(error);
    if (context.storeMissing())
        return fail("key not found: " + shownKey(*key));
    RegistryStore store(context.storeFile);
    if (!store.isOpen())
        return fail(store.openError());
    return command(store, *key);
}

int cmdGet(const Context& context, const std::vector<std::string>& args)
{
    if (args.size() != 2)
        return usageError("get needs KEY and VALUE");
    return withExistingStore(context, args[0], [&](RegistryStore& store, const std::string& key) {
        const std::string name = valueNameOf(args[1]);
        if (!key.empty() && !store.keyExists(key))
            return fail("key not found: " + shownKey(key));
        const std::optional<RegistryValue> value = store.getValue(key, name);
        if (!value)
            return fail("value not found: " + shownValue(name) + " in " + shownKey(key));
        std::string text;
        if (value->type == RegType::MultiSz) {
            for (const std::string& s : value->asMultiText())
                text += s + "\n";
        } else {
            text = formatValue(*value, kMultiSeparator) + "\n";
        }
        return printOut(text) ? kExitOk : fail("cannot write to standard output");
    });
}

int cmdSet(const Context& context, const std::vector<std::string>& args)
{
    if (args.size() < 3)
        return usageError("set needs KEY, VALUE and one of --dword, --sz, --expand-sz, --binary, --multi");
    std::string error;
    const std::optional<std::string> key = keyPathOf(args[0], error);
    if (!key)
        return fail(error);
    const std::string name = valueNameOf(args[1]);
    if (!peltra::platform::isValidUtf8(name))
        return fail("the value name is not valid UTF-8 text");
    const std::string& kind = args[2];
    const std::vector<std::string> data(args.begin() + 3, args.end());

    RegistryValue value;
    if (kind == "--multi") {
        for (const std::string& s : data) {
            if (s.empty())
                return fail("a multi-string cannot hold an empty string");
            if (!peltra::platform::isValidUtf8(s))
                return fail("the text is not valid UTF-8");
        }
        value = RegistryValue::multiText(data);
    } else {
        if (data.size() != 1)
            return usageError(kind + " needs exactly one argument");
        const std::string& text = data.front();
        if (kind == "--dword") {
            const std::optional<std::uint32_t> number = parseDword(text);
            if (!number)
                return fail("--dword needs a decimal or 0x-hex number from 0 to 4294967295, not \"" +
                            text + "\"");
            value = RegistryValue::dword(*number);
        } else if (kind == "--sz" || kind == "--expand-sz") {
            if (!peltra::platform::isValidUtf8(text))
                return fail("the text is not valid UTF-8");
            if (text.find('\0') != std::string::npos)
                return fail("the text cannot hold a NUL character");
            value = RegistryValue::text(text, kind == "--sz" ? RegType::Sz : RegType::ExpandSz);
        } else if (kind == "--binary") {
            const std::optional<Bytes> bytes = parseBinary(text);
            if (!bytes)
                return fail("--binary needs hex bytes as \"aa,bb,cc\" or \"aabbcc\", not \"" + text + "\"");
            value = RegistryValue::binary(*bytes);
        } else {
            return usageError("unknown value type " + kind);
        }
    }
    RegistryStore store(context.storeFile);
    if (!store.isOpen())
        return fail(store.openError());
    if (!store.setValue(*key, name, value))
        return fail(RegistryStore::lastError());
    return kExitOk;
}

int cmdList(const Context& context, const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return usageError("list needs KEY");
    return withExistingStore(context, args[0], [&](RegistryStore& store, const std::string& key) {
        std::string text;
        bool found = true;
        // One snapshot, so that the listing is one consistent picture of the key.
        const bool ok = store.snapshot([&] {
            if (!key.empty() && !store.keyExists(key)) {
                found = false;
                return true;
            }
            for (const std::string& sub : store.subKeys(key))
                text += "[" + sub + "]\n";
            for (const peltra::platform::NamedValue& named : store.values(key))
                text += (named.name.empty() ? "@" : named.name) + " = " +
                        formatValue(named.value, kMultiSeparator) + "\n";
            return true;
        });
        if (!ok)
            return fail(RegistryStore::lastError());
        if (!found)
            return fail("key not found: " + shownKey(key));
        return printOut(text) ? kExitOk : fail("cannot write to standard output");
    });
}

int cmdDelete(const Context& context, const std::vector<std::string>& args)
{
    if (args.empty() || args.size() > 2)
        return usageError("delete needs KEY and optionally VALUE");
    return withExistingStore(context, args[0], [&](RegistryStore& store, const std::string& key) {
        if (key.empty() && args.size() == 1)
            return fail("refusing to delete the whole of HKEY_LOCAL_MACHINE");
        std::string missing;
        std::string reason;
        const bool ok = store.transaction([&] {
            if (!key.empty() && !store.keyExists(key)) {
                missing = "key not found: " + shownKey(key);
                return false;
            }
            if (args.size() == 2) {
                const std::string name = valueNameOf(args[1]);
                if (!store.getValue(key, name)) {
                    missing = "value not found: " + shownValue(name) + " in " + shownKey(key);
                    return false;
                }
                if (!store.deleteValue(key, name)) {
                    reason = RegistryStore::lastError();
                    return false;
                }
                return true;
            }
            if (!store.deleteKey(key)) {
                reason = RegistryStore::lastError();
                return false;
            }
            return true;
        });
        if (ok)
            return kExitOk;
        if (!missing.empty())
            return fail(missing);
        return fail(reason.empty() ? RegistryStore::lastError() : reason);
    });
}

int cmdExport(const Context& context, const std::vector<std::string>& args)
{
    RegFile::Encoding encoding = RegFile::Encoding::Utf8;
    std::vector<std::string> positional;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string option = args[i];
        std::string encodingName;
        if (option == "--encoding") {
            if (i + 1 >= args.size())
                return usageError("--encoding needs utf8 or utf16");
            encodingName = args[++i];
        } else if (option.starts_with("--encoding=")) {
            encodingName = option.substr(11);
        } else if (option.starts_with("--")) {
            return usageError("unknown option " + option);
        } else {
            positional.push_back(option);
            continue;
        }
        if (encodingName == "utf8")
            encoding = RegFile::Encoding::Utf8;
        else if (encodingName == "utf16")
            encoding = RegFile::Encoding::Utf16Le;
        else
            return usageError("--encoding needs utf8 or utf16, not \"" + encodingName + "\"");
    }
    if (positional.size() > 2)
        return usageError("export takes at most KEY and FILE");
    const std::string keyArgument = positional.empty() ? std::string(kDefaultExportKey) : positional[0];
    const std::string file = positional.size() == 2 ? positional[1] : "-";
    return withExistingStore(context, keyArgument, [&](RegistryStore& store, const std::string& key) {
        RegFile::Error exportError;
        const std::optional<std::string> text = RegFile::exportKey(store, key, encoding, &exportError);
        if (!text)
            return fail(exportError.text());
        if (file == "-")
            return printOut(*text) ? kExitOk : fail("cannot write to standard output");
        std::string error;
        if (!peltra::platform::replaceFile(file, *text, error))
            return fail(file + ": " + error);
        return kExitOk;
    });
}

int cmdImport(const Context& context, const std::vector<std::string>& args)
{
    if (args.size() != 1)
        return usageError("import needs FILE");
    const std::string& file = args[0];
    std::optional<std::string> bytes;
    std::string shown = file;
    if (file == "-") {
        shown = "standard input";
        bytes = readAll(STDIN_FILENO);
        if (!bytes)
            return fail(std::string("cannot read standard input: ") + std::strerror(errno));
    } else {
        bytes = output.readInputFile(file);
        if (!bytes)
            return kExitFailure;
    }
    // The whole file is understood before the store is even opened.
    RegFile::Error error;
    const std::optional<std::vector<RegFile::Operation>> operations = RegFile::parse(*bytes, &error);
    if (!operations)
        return fail(shown + ": " + error.text() + "; nothing was imported");
    RegistryStore store(context.storeFile);
    if (!store.isOpen())
        return fail(store.openError());
    if (!RegFile::apply(store, *operations, &error))
        return fail(shown + ": " + error.text() + "; nothing was imported");
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv)
{
    std::optional<std::string> home;
    int index = 1;
    for (; index < argc; ++index) {
        const std::string arg = argv[index];
        if (arg == "--help" || arg == "-h") {
            return printOut(kUsage) ? kExitOk : kExitFailure;
        } else if (arg == "--home") {
            if (index + 1 >= argc)
                return usageError("--home needs a folder");
            home = argv[++index];
        } else if (arg.starts_with("--home=")) {
            home = arg.substr(7);
        } else if (arg.starts_with("-")) {
            return usageError("unknown option " + arg);
        } else {
            break;
        }
    }
    if (index >= argc)
        return usageError("no command given");
    if (home && home->empty())
        return usageError("--home needs a folder");
    const std::string command = argv[index];
    const std::vector<std::string> args(argv + index + 1, argv + argc);

    Context context;
    const std::optional<fs::path> folder = peltra::tools::stationFolder(output, home);
    if (!folder)
        return kExitFailure;
    context.storeFile = peltra::config::registryFile(*folder);

    if (command == "get")
        return cmdGet(context, args);
    if (command == "set")
        return cmdSet(context, args);
    if (command == "list")
        return cmdList(context, args);
    if (command == "delete")
        return cmdDelete(context, args);
    if (command == "export")
        return cmdExport(context, args);
    if (command == "import")
        return cmdImport(context, args);
    return usageError("unknown command " + command);
}
