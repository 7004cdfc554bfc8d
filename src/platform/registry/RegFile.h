// Windows .reg text (REGEDIT4 and version 5) read into and written from the configuration store.
#pragma once

#include "platform/registry/RegistryStore.h"
#include "platform/registry/RegistryValue.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace peltra::platform {

class RegFile {
public:
    // How exported text is encoded. Both use CR LF line ends; Utf16Le starts with the FF FE mark,
    // as Windows writes it.
    enum class Encoding { Utf8, Utf16Le };

    // Why a file could not be read or written. line is 1-based, 0 when no line is concerned.
    struct Error {
        int line = 0;
        std::string message;
        // "line N: message", or the message alone when no line is concerned.
        std::string text() const;
    };

    // One change a file asks for, in file order.
    struct Operation {
        enum class Kind { CreateKey, DeleteKey, SetValue, DeleteValue };
        Kind kind = Kind::CreateKey;
        std::string keyPath;  // relative to HKEY_LOCAL_MACHINE
        std::string valueName;  // empty for the default value
        RegistryValue value;  // SetValue only
        int line = 0;  // where the file asks for it
    };

    // What a key path's first component names: HKEY_LOCAL_MACHINE (or HKLM), the store's only
    // hive; another Windows hive; or no hive at all.
    enum class Hive { LocalMachine, Other, None };
    static Hive hiveOf(std::string_view name);

    // The key (relative to HKEY_LOCAL_MACHINE, "" for the hive itself) and everything below it
    // as .reg version 5 text. Keys appear with their stored spelling, parents before children.
    // Nothing when the key does not exist, the store cannot be read, or a name or text cannot be
    // written to a .reg file; error says which.
    static std::optional<std::string> exportKey(RegistryStore& store, const std::string& keyPath,
                                                Encoding encoding, Error* error = nullptr);

    // Reads a whole .reg file (any of the encodings Windows writes) into the operations it asks
    // for. Nothing, with the first fault and its line, when any line cannot be understood.
    static std::optional<std::vector<Operation>> parse(std::string_view bytes, Error* error = nullptr);

    // Applies operations in one store transaction: all of them or none.
    static bool apply(RegistryStore& store, const std::vector<Operation>& operations,
                      Error* error = nullptr);

    // parse() then apply(): the store is changed only when the whole file is understood and
    // every operation succeeds.
    static bool import(RegistryStore& store, std::string_view bytes, Error* error = nullptr);
};

}  // namespace peltra::platform
