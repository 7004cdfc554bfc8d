// Test helper: a console tool run as the operator runs it on a fresh station home.
#include "support/ToolsFixture.h"

namespace peltra::test {

ToolsFixture::ToolsFixture(std::string program) : m_program(std::move(program)), m_lead{"--home", home().string()} {}

ProgramResult ToolsFixture::run(Args args, const std::string& input, Env env)
{
    args.insert(args.begin(), m_lead.begin(), m_lead.end());
    env.emplace("PELTRA_HOME", std::nullopt);
    return runProgram(m_program, args, m_dir.path(), input, env);
}

std::string ToolsFixture::ok(const Args& args, const std::string& input)
{
    const ProgramResult r = run(args, input);
    EXPECT_EQ(r.code, 0) << r.err;
    return r.out;
}

ProgramResult ToolsFixture::fails(const Args& args, int code, const std::string& part, const std::string& input)
{
    const ProgramResult r = run(args, input);
    EXPECT_EQ(r.code, code) << r.out;
    if (part.empty())
        EXPECT_EQ(r.err, "");
    else
        EXPECT_NE(r.err.find(part), std::string::npos) << r.err;
    return r;
}

}  // namespace peltra::test
