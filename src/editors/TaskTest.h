// The self-test of a task definition run before it is included in scheduling: the report lines,
// the critical and warning findings, and the verdict. The test window shows the same lines.
#pragma once

#include "config/TaskStore.h"
#include "data/TableChecks.h"

#include <functional>
#include <string>
#include <vector>

namespace peltra::editors {

inline constexpr char kCriticalPrefix[] = "!!!!! Критическая ошибка !!!!!";
inline constexpr char kWarningPrefix[] = "!!!!! Предупреждение !!!!!";

struct TaskTestReport {
    std::string binding;
    std::string task;
    // What the test looked at in the definition, as it was when the test began.
    std::string testedState;
    std::vector<std::string> lines;
    bool critical = false;  // the task cannot be scheduled
    bool warning = false;   // it can, but should be looked at
    // What the query check found, for whoever wants to show more than its one report line.
    data::QueryCheck query;
    bool queryRun = false;

    // The task may be included: no critical finding.
    bool passed() const { return !critical; }
};

// Tests the task of a binding. Each report line is handed to onLine as soon as it is written
// (the test window shows them while the query runs); the whole report is returned too. A task or
// binding that does not exist is reported as a critical finding.
TaskTestReport runTaskTest(config::TaskStore& tasks, const std::string& binding, const std::string& task,
                           const std::function<void(const std::string&)>& onLine = {});

enum class IncludeResult {
    Included,
    Refused,  // the test found a critical error
    Changed,  // the definition changed while it was tested: it must be tested again
    Failed,   // the task is gone or the store cannot be written
};

// Includes the tested task in scheduling (Valid = 1) when its test passed and what the test looked
// at is still as it was, checked and set in one store transaction.
IncludeResult includeTestedTask(config::TaskStore& tasks, const TaskTestReport& report);

}  // namespace peltra::editors
