// peltra-sms: SMS tasks from the command line: their source files and text templates, and the
// message text each row of a source table gets.
#include "StationFolder.h"
#include "ToolOutput.h"
#include "config/ConfigStore.h"
#include "config/StationHome.h"
#include "platform/registry/RegistryStore.h"
#include "platform/text/CaseFold.h"
#include "sms/SMSMessages.h"
#include "sms/SMSTasks.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace peltra;
using tools::kExitFailure;
using tools::kExitOk;
using tools::kExitUsage;
using Args = std::vector<std::string>;

namespace fs = std::filesystem;

constexpr char kUsage[] =
    R"(usage: peltra-sms [--home DIR] COMMAND [ARGUMENTS]

Shows and edits the station's SMS tasks in DIR/registry.db; DIR is --home, else
$PELTRA_HOME, else ~/.local/share/peltra. The station keeps the tasks and their
templates; it sends no messages itself.

Tasks:
  list                              the SMS tasks, one name a line
  add TASK                          a new task without a source file
  remove TASK                       the task with its template
  set-file TASK PATH                the source table (a .dbf file with the column
                                    TELEF); a relative PATH is taken from the
                                    current folder
  show TASK [--keys]                the source file on the first line (empty when
                                    none), then the template items in order:
                                    "TEXT<TAB>text" or "FIELD<TAB>name"; --keys
                                    puts each item's KEY and a tab in front
  render TASK [--db DIR]            one line per row of the source table: the phone
                                    number (TELEF), a tab, the message text. With
                                    --db, the table is the file of the task's file
                                    name in DIR (a path written on another machine
                                    works); a file given as DIR is used itself.
                                    Line breaks and tabs of a message become blanks.
Template items (KEY is an item's name, "0002" or "2"):
  add-text TASK TEXT [--after KEY | --first]
  add-field TASK FIELD [--after KEY | --first]
                                    by default the item goes last; prints its key
  remove-item TASK KEY
  move-item TASK KEY [--after KEY]  without --after the item goes first

Exit status: 0 success, 1 failure (message on standard error), 2 bad arguments.
)";

const tools::ToolOutput output("peltra-sms", kUsage);

int fail(const std::string& message) { return output.fail(message); }
int usageError(const std::string& message) { return output.usageError(message); }

// A remark that does not make the command fail.
void note(const std::string& text) { std::fprintf(stderr, "peltra-sms: %s\n", text.c_str()); }

std::string inQuotes(const std::string& text) { return "\"" + text + "\""; }

// Arguments with the options "--after KEY" / "--after=KEY" and the flag "--first" taken off;
// "--" ends the options.
struct ItemOptions {
    Args positional;
    std::optional<std::string> after;
    bool first = false;
    std::string error;
};

ItemOptions takeItemOptions(const Args& args, bool allowFirst)
{
    ItemOptions options;
    bool ended = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (ended || !arg.starts_with("--")) {
            options.positional.push_back(arg);
        } else if (arg == "--") {
            ended = true;
        } else if (arg == "--after") {
            if (i + 1 == args.size()) {
                options.error = "--after needs a KEY";
                return options;
            }
            options.after = args[++i];
        } else if (arg.starts_with("--after=")) {
            options.after = arg.substr(8);
        } else if (arg == "--first" && allowFirst) {
            options.first = true;
        } else {
            options.error = "unknown option " + arg;
            return options;
        }
    }
    if (options.after && options.first)
        options.error = "give --after or --first, not both";
    return options;
}

// The item an argument names: its key (without regard to case), else the item whose number the
// argument gives in decimal ("2" for "0002").
std::optional<std::string> findItem(const std::vector<sms::SMSPatternItem>& items, const std::string& argument)
{
    for (const sms::SMSPatternItem& item : items)
        if (platform::equalsIgnoreCase(item.key, argument))
            return item.key;
    if (argument.empty() || argument.size() > 9 || argument.find_first_not_of("0123456789") != std::string::npos)
        return std::nullopt;
    for (const sms::SMSPatternItem& item : items)
        if (config::subKeyNumber(item.key) == config::subKeyNumber(argument))
            return item.key;
    return std::nullopt;
}

// A message on one line: line breaks and tabs become blanks.
std::string oneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
    return text;
}

class Tool {
public:
    explicit Tool(fs::path storeFile) : m_storeFile(std::move(storeFile)) {}

    int run(const std::string& command, const Args& args);

private:
    // Opens the store; a command that only reads does not create one. false after the message.
    bool open(bool create);
    // The task, or nothing after the message why.
    std::shared_ptr<sms::SMSTask> task(const std::string& name, bool create = false);
    std::optional<std::vector<sms::SMSPatternItem>> items(sms::SMSTask& found);

    int list(const Args& args);
    int add(const Args& args);
    int remove(const Args& args);
    int setFile(const Args& args);
    int show(const Args& args);
    int render(const Args& args);
    int addItem(const Args& args, sms::ItemType type);
    int removeItem(const Args& args);
    int moveItem(const Args& args);

    fs::path m_storeFile;
    std::unique_ptr<platform::RegistryStore> m_registry;
    std::unique_ptr<config::ConfigStore> m_config;
    std::unique_ptr<sms::SMSTasks> m_tasks;
};

bool Tool::open(bool create)
{
    std::optional<tools::OpenStore> store = tools::openStore(output, m_storeFile, create, "SMS tasks");
    if (!store)
        return false;
    m_registry = std::move(store->registry);
    m_config = std::move(store->config);
    m_tasks = std::make_unique<sms::SMSTasks>(*m_config);
    m_tasks->load();
    return true;
}

std::shared_ptr<sms::SMSTask> Tool::task(const std::string& name, bool create)
{
    if (!open(create))
        return nullptr;
    auto found = m_tasks->find(name);
    if (!found)
        fail("there is no SMS task " + inQuotes(name));
    return found;
}

std::optional<std::vector<sms::SMSPatternItem>> Tool::items(sms::SMSTask& found)
{
    std::vector<sms::SMSPatternItem> result;
    std::string error;
    if (!found.patterns().items(result, &error)) {
        fail("cannot read the template of " + inQuotes(found.name()) + ": " + error);
        return std::nullopt;
    }
    return result;
}

int Tool::list(const Args& args)
{
    if (!args.empty())
        return usageError("list takes no arguments");
    std::error_code ec;
    if (!fs::exists(m_storeFile, ec))
        return kExitOk;  // no store, no tasks
    if (!open(false))
        return kExitFailure;
    for (const std::string& name : m_tasks->names())
        std::cout << name << '\n';
    return kExitOk;
}

int Tool::add(const Args& args)
{
    if (args.size() != 1)
        return usageError("add needs TASK");
    if (!open(true))
        return kExitFailure;
    switch (m_tasks->addTask(args[0])) {
    case sms::AddTaskResult::Added:
        return kExitOk;
    case sms::AddTaskResult::BadName:
        return fail(inQuotes(args[0]) + " cannot name a task: a name is not empty, holds no backslash and is not " +
                    inQuotes(sms::kWorkingCopyName));
    case sms::AddTaskResult::Duplicate:
        return fail("Задание с таким именем уже есть. Введите другое.");
    default:
        return fail("cannot add SMS task " + inQuotes(args[0]) + ": " + platform::RegistryStore::lastError());
    }
}

int Tool::remove(const Args& args)
{
    if (args.size() != 1)
        return usageError("remove needs TASK");
    if (!task(args[0]))
        return kExitFailure;
    if (!m_tasks->removeTask(args[0]))
        return fail("cannot remove SMS task " + inQuotes(args[0]) + ": " + platform::RegistryStore::lastError());
    return kExitOk;
}

int Tool::setFile(const Args& args)
{
    if (args.size() != 2)
        return usageError("set-file needs TASK and PATH");
    if (args[1].empty())
        return fail("the path is empty");
    const auto found = task(args[0]);
    if (!found)
        return kExitFailure;
    std::error_code ec;
    std::string path = args[1];
    if (fs::path(path).is_relative() && path.find('\\') == std::string::npos) {
        const fs::path absolute = fs::absolute(path, ec);
        if (!ec)
            path = absolute.lexically_normal().string();
    }
    // A path missing here may be another machine's and is stored; what is here must be a table.
    const bool here = fs::exists(path, ec);
    if (here && !output.inputFile(path))
        return kExitFailure;
    std::string error;
    if (const auto fields = sms::tableFields(path, &error)) {
        bool hasPhone = false;
        for (const data::ColumnInfo& column : *fields)
            hasPhone = hasPhone || platform::equalsIgnoreCase(column.name, sms::kPhoneField);
        if (!hasPhone)
            note(path + " has no column " + sms::kPhoneField + ": its rows have no number to send to");
    } else if (here) {
        return fail(path + " is no table: " + error);
    } else {
        note("cannot read " + path + " here (" + error + "); stored all the same");
    }
    if (!found->setFile(path))
        return fail("cannot set the file of " + inQuotes(args[0]) + ": " + platform::RegistryStore::lastError());
    return kExitOk;
}

int Tool::show(const Args& args)
{
    Args positional;
    bool keys = false;
    for (const std::string& arg : args) {
        if (arg == "--keys")
            keys = true;
        else if (arg.starts_with("--"))
            return usageError("unknown option " + arg);
        else
            positional.push_back(arg);
    }
    if (positional.size() != 1)
        return usageError("show needs TASK");
    const auto found = task(positional[0]);
    if (!found)
        return kExitFailure;
    const std::string file = found->file();
    const auto list = items(*found);
    if (!list)
        return kExitFailure;
    std::cout << file << '\n';
    for (const sms::SMSPatternItem& item : *list) {
        if (keys)
            std::cout << item.key << '\t';
        std::cout << sms::itemTypeWord(item.type) << '\t' << item.value << '\n';
    }
    return kExitOk;
}

int Tool::render(const Args& args)
{
    Args positional;
    std::optional<fs::path> folder;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--db") {
            if (i + 1 == args.size())
                return usageError("--db needs a DIR");
            folder = args[++i];
        } else if (args[i].starts_with("--db=")) {
            folder = args[i].substr(5);
        } else if (args[i].starts_with("--")) {
            return usageError("unknown option " + args[i]);
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 1)
        return usageError("render needs TASK");
    if (folder && folder->empty())
        return usageError("--db needs a DIR");
    const auto found = task(positional[0]);
    if (!found)
        return kExitFailure;
    const auto list = items(*found);
    if (!list)
        return kExitFailure;
    std::error_code ec;
    std::optional<fs::path> table;
    std::string error;
    if (folder && !fs::is_directory(*folder, ec))
        table = *folder;
    else
        table = sms::sourceTable(found->file(), folder, &error);
    if (!table)
        return fail("task " + inQuotes(found->name()) + ": " + error);
    const bool ok = sms::renderMessages(*table, *list, [](const sms::SMSMessage& message) {
        std::cout << oneLine(message.phone) << '\t' << oneLine(message.text) << '\n';
    }, &error);
    std::cout.flush();
    if (!ok)
        return fail(error);
    return kExitOk;
}

int Tool::addItem(const Args& args, sms::ItemType type)
{
    const char* what = type == sms::ItemType::Text ? "add-text" : "add-field";
    const ItemOptions options = takeItemOptions(args, true);
    if (!options.error.empty())
        return usageError(options.error);
    if (options.positional.size() != 2)
        return usageError(std::string(what) + (type == sms::ItemType::Text ? " needs TASK and TEXT"
                                                                              : " needs TASK and FIELD"));
    const std::string& value = options.positional[1];
    if (value.empty())
        return fail(type == sms::ItemType::Text ? "the text is empty" : "the field name is empty");
    const auto found = task(options.positional[0]);
    if (!found)
        return kExitFailure;
    std::string error;
    std::optional<std::string> key;
    if (options.after) {
        const auto list = items(*found);
        if (!list)
            return kExitFailure;
        const auto after = findItem(*list, *options.after);
        if (!after)
            return fail("no template item " + inQuotes(*options.after) + " in task " + inQuotes(found->name()));
        key = found->patterns().addAfter(*after, type, value, &error);
    } else if (options.first) {
        key = found->patterns().addAfter("", type, value, &error);
    } else {
        key = found->patterns().append(type, value, &error);
    }
    if (!key)
        return fail(error);
    std::cout << *key << '\n';
    return kExitOk;
}

int Tool::removeItem(const Args& args)
{
    if (args.size() != 2)
        return usageError("remove-item needs TASK and KEY");
    const auto found = task(args[0]);
    if (!found)
        return kExitFailure;
    const auto list = items(*found);
    if (!list)
        return kExitFailure;
    const auto key = findItem(*list, args[1]);
    if (!key)
        return fail("no template item " + inQuotes(args[1]) + " in task " + inQuotes(found->name()));
    std::string error;
    return found->patterns().remove(*key, &error) ? kExitOk : fail(error);
}

int Tool::moveItem(const Args& args)
{
    const ItemOptions options = takeItemOptions(args, false);
    if (!options.error.empty())
        return usageError(options.error);
    if (options.positional.size() != 2)
        return usageError("move-item needs TASK and KEY");
    const auto found = task(options.positional[0]);
    if (!found)
        return kExitFailure;
    const auto list = items(*found);
    if (!list)
        return kExitFailure;
    const auto key = findItem(*list, options.positional[1]);
    if (!key)
        return fail("no template item " + inQuotes(options.positional[1]) + " in task " + inQuotes(found->name()));
    std::string after;
    if (options.after) {
        const auto named = findItem(*list, *options.after);
        if (!named)
            return fail("no template item " + inQuotes(*options.after) + " in task " + inQuotes(found->name()));
        after = *named;
    }
    std::string error;
    return found->patterns().moveAfter(*key, after, &error) ? kExitOk : fail(error);
}

int Tool::run(const std::string& command, const Args& args)
{
    if (command == "list")
        return list(args);
    if (command == "add")
        return add(args);
    if (command == "remove")
        return remove(args);
    if (command == "set-file")
        return setFile(args);
    if (command == "show")
        return show(args);
    if (command == "render")
        return render(args);
    if (command == "add-text")
        return addItem(args, sms::ItemType::Text);
    if (command == "add-field")
        return addItem(args, sms::ItemType::Field);
    if (command == "remove-item")
        return removeItem(args);
    if (command == "move-item")
        return moveItem(args);
    return usageError("unknown command " + command);
}

}  // namespace

int main(int argc, char** argv)
{
    Args args(argv + 1, argv + argc);
    std::optional<std::string> home;
    std::string command;
    if (const auto done = tools::takeCommand(output, args, home, command))
        return *done;
    const std::optional<fs::path> folder = tools::stationFolder(output, home);
    if (!folder)
        return kExitFailure;
    Tool tool(config::registryFile(*folder));
    return tool.run(command, args);
}
