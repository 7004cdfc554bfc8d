// Test helper: a console tool run as the operator runs it on a fresh station home, and the checks
// every tool test makes of its exit code, output and messages.
#pragma once

#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace peltra::test {

class ToolsFixture : public ::testing::Test {
protected:
    using Args = std::vector<std::string>;
    using Env = std::map<std::string, std::optional<std::string>>;

    // Every command runs as program with lead before its own arguments; by default the home.
    explicit ToolsFixture(std::string program);

    std::filesystem::path home() const { return m_dir / "home"; }
    std::filesystem::path work(const std::string& name = "") const { return name.empty() ? m_dir.path() : m_dir / name; }

    // $PELTRA_HOME is unset unless env sets it.
    ProgramResult run(Args args, const std::string& input = "", Env env = {});
    // A command that must succeed; its standard output.
    std::string ok(const Args& args, const std::string& input = "");
    // A command that must end with code, saying part on standard error, or nothing there when part
    // is empty.
    ProgramResult fails(const Args& args, int code, const std::string& part, const std::string& input = "");

    TempDir m_dir;
    std::string m_program;
    Args m_lead;
};

}  // namespace peltra::test
