// Reading a results report: the columns a binding's table (or a task's archive) offers, and the
// rows chosen by the operator's options and the task's own filter and sort, read through the data
// access layer.
#pragma once

#include "config/TaskStore.h"
#include "data/OdbcError.h"
#include "reports/ReportModel.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace peltra::reports {

enum class ReadOutcome { Done, Stopped, Failed };

struct ReadResult {
    ReadOutcome outcome = ReadOutcome::Failed;
    // Database failures, for the error box; empty when the failure is told by message alone.
    std::vector<data::OdbcError> errors;
    // A failure the data layer does not describe (no such binding or task, no archive file).
    std::string message;
};

// The path of the table the options name, as the store keeps it (the binding's File, or the task's
// ArhiveFile for the archive variant), once the binding, the task and the file are found. This is
// the name the report's source text gives the table. Failures fill result.
std::optional<std::string> reportTable(config::TaskStore& tasks, const ReportOptions& options, ReadResult& result);

// The columns of the report over the table the options name (the binding's table, or the task's
// archive file), in table order, fields of other types left out. Failures fill result.
std::optional<std::vector<ReportColumn>> reportColumns(config::TaskStore& tasks, const ReportOptions& options,
                                                       ReadResult& result);

// Reads the report's rows. keepGoing is called every few hundred rows with the rows read so far;
// returning false stops the reading, which then leaves `out` without rows (a stopped or failed
// read never shows half a report). Safe to run on a worker thread with its own TaskStore.
ReadResult readReport(config::TaskStore& tasks, const ReportOptions& options, ReportData& out,
                      const std::function<bool(std::size_t rowsRead)>& keepGoing = {});

}  // namespace peltra::reports
