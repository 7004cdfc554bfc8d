// peltra-report: the results report of a binding (optionally of one of its tasks) as the
// report's source text, a plain-text table, CSV or a printable PDF.
#include "StationFolder.h"
#include "ToolOutput.h"
#include "config/ConfigStore.h"
#include "config/StationHome.h"
#include "config/TaskStore.h"
#include "data/OdbcError.h"
#include "reports/ReportReader.h"
#include "reports/ReportSource.h"
#include "reports/ReportText.h"
#include "reports/forms/ReportRenderer.h"

#include <QGuiApplication>
#include <QString>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace peltra;
using tools::kExitFailure;
using tools::kExitOk;
using tools::kExitUsage;

namespace fs = std::filesystem;

constexpr char kUsage[] =
    R"(usage: peltra-report [--home DIR] BINDING [TASK] [OPTIONS] OUTPUT

Reports which rows of a binding's table were notified and which were not, read from the
station's store in DIR/registry.db (DIR is --home, else $PELTRA_HOME, else
~/.local/share/peltra). Without TASK the whole file is reported, sorted by telephone;
with TASK the task's own filter and sort apply as well.

Options:
  --mode 0|1|2            0 notified and not notified (default), 1 only notified,
                          2 only not notified
  --from DD/MM/YYYY --to DD/MM/YYYY
                          the notification period, both days included (mode 1 only)
  --sum FIELD             show the total of a numeric field; may be repeated
  --archive               report over the task's archive of notified rows

Output (exactly one):
  --source                the report's source text
  --text                  a plain-text table on standard output
  --csv FILE              CSV (UTF-8, CR LF); FILE "-" is standard output
  --pdf FILE              a printable PDF

Exit status: 0 success, 1 failure (message on standard error), 2 bad arguments.
)";

const tools::ToolOutput output("peltra-report", kUsage);

enum class OutputKind { None, Source, Text, Csv, Pdf };

struct Command {
    reports::ReportOptions options;
    OutputKind kind = OutputKind::None;
    std::string file;
    std::optional<std::string> from;
    std::optional<std::string> to;
};

// Texts of the model break lines with CR LF; a terminal wants LF.
std::string terminalText(std::string text)
{
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.erase(at, 1);
    return text;
}

std::optional<int> parse(std::vector<std::string>& args, Command& command)
{
    std::vector<std::string> positional;
    auto setKind = [&](OutputKind kind) -> std::optional<int> {
        if (command.kind != OutputKind::None)
            return output.usageError("give exactly one of --source, --text, --csv, --pdf");
        command.kind = kind;
        return std::nullopt;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&](std::string& into) -> bool {
            if (i + 1 >= args.size() || args[i + 1].empty())
                return false;
            into = args[++i];
            return true;
        };
        std::string text;
        if (arg == "--mode") {
            if (!value(text) || (text != "0" && text != "1" && text != "2"))
                return output.usageError("--mode takes 0, 1 or 2");
            command.options.mode = static_cast<reports::ReportMode>(text[0] - '0');
        } else if (arg == "--from" || arg == "--to") {
            if (!value(text))
                return output.usageError(arg + " needs a date DD/MM/YYYY");
            (arg == "--from" ? command.from : command.to) = text;
        } else if (arg == "--sum") {
            if (!value(text))
                return output.usageError("--sum needs a field name");
            command.options.sumFields.push_back(text);
        } else if (arg == "--archive") {
            command.options.variant = reports::ReportVariant::ArchiveFile;
        } else if (arg == "--source" || arg == "--text") {
            if (const auto failed = setKind(arg == "--source" ? OutputKind::Source : OutputKind::Text))
                return failed;
        } else if (arg == "--csv" || arg == "--pdf") {
            if (const auto failed = setKind(arg == "--csv" ? OutputKind::Csv : OutputKind::Pdf))
                return failed;
            if (!value(command.file))
                return output.usageError(arg + " needs a file");
        } else if (arg.starts_with("--") && arg.size() > 2) {
            return output.usageError("unknown option " + arg);
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.empty() || positional[0].empty())
        return output.usageError("no binding given");
    if (positional.size() > 2)
        return output.usageError("too many arguments: " + positional[2]);
    command.options.binding = positional[0];
    if (positional.size() == 2)
        command.options.task = positional[1];
    if (command.from.has_value() != command.to.has_value())
        return output.usageError("--from and --to go together");
    if (command.from)
        command.options.period = reports::ReportPeriod{*command.from, *command.to};
    if (command.kind == OutputKind::None)
        return output.usageError("no output given: --source, --text, --csv FILE or --pdf FILE");
    return std::nullopt;
}

int readFailure(const reports::ReadResult& result)
{
    for (const data::OdbcError& error : result.errors)
        if (error.returnCode != 0)
            std::cerr << terminalText(data::errorBoxText(error)) << '\n';
    return output.fail(result.message.empty() ? "the report could not be read" : terminalText(result.message));
}

bool writeFile(const std::string& file, const std::string& text)
{
    if (file == "-") {
        std::cout << text;
        std::cout.flush();
        return static_cast<bool>(std::cout);
    }
    std::ofstream stream(file, std::ios::binary | std::ios::trunc);
    stream << text;
    stream.close();
    return static_cast<bool>(stream);
}

int source(config::TaskStore& tasks, const Command& command)
{
    reports::ReadResult result;
    const std::optional<std::string> table = reports::reportTable(tasks, command.options, result);
    if (!table)
        return readFailure(result);
    const auto columns = reports::reportColumns(tasks, command.options, result);
    if (!columns)
        return readFailure(result);
    std::cout << reports::reportSource(*columns, reports::sourceTableName(*table), command.options.variant) << '\n';
    std::cout.flush();
    return std::cout ? kExitOk : kExitFailure;
}

// Qt's notices about the desktop session (no runtime folder and the like) mean nothing to a
// command-line tool; only its errors are told.
void qtErrorsOnly(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "peltra-report: %s\n", message.toLocal8Bit().constData());
}

// The pages as the dialog prints them. Fonts need a GUI application, which needs no display.
int writePdf(const reports::ReportData& data, const std::string& file)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(qtErrorsOnly);
    int argc = 1;
    char name[] = "peltra-report";
    char* argv[] = {name, nullptr};
    QGuiApplication application(argc, argv);
    QString error;
    if (!reports::writeReportPdf(data, QString::fromStdString(file), error))
        return output.fail(error.toStdString());
    return kExitOk;
}

// Reads the rows and writes them in the chosen form.
int report(config::TaskStore& tasks, const Command& command)
{
    reports::ReportData data;
    const reports::ReadResult result = reports::readReport(tasks, command.options, data);
    if (result.outcome != reports::ReadOutcome::Done)
        return readFailure(result);
    switch (command.kind) {
    case OutputKind::Text:
        std::cout << reports::reportText(data);
        std::cout.flush();
        return std::cout ? kExitOk : kExitFailure;
    case OutputKind::Csv:
        if (!writeFile(command.file, reports::reportCsv(data)))
            return output.fail("cannot write " + command.file);
        return kExitOk;
    case OutputKind::Pdf:
        return writePdf(data, command.file);
    case OutputKind::Source:
    case OutputKind::None: break;
    }
    return kExitFailure;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    std::optional<std::string> home;
    if (const auto failed = tools::takeHomeOption(output, args, home))
        return *failed;
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h"))
        return output.help();
    Command command;
    if (const auto failed = parse(args, command))
        return *failed;

    const std::optional<fs::path> folder = tools::stationFolder(output, home);
    if (!folder)
        return kExitFailure;
    const std::optional<tools::OpenStore> store =
        tools::openStore(output, config::registryFile(*folder), false, "bindings");
    if (!store)
        return kExitFailure;
    config::TaskStore tasks(*store->config);
    if (tasks.bindingNames().empty())
        return output.fail("Нет доступных заданий");
    return command.kind == OutputKind::Source ? source(tasks, command) : report(tasks, command);
}
