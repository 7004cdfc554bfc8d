// Tests of named locks: file names, the lock folder, exclusion between threads and processes.
#include "platform/locks/NamedLock.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace peltra::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto lateTolerance = 100ms;

// Points XDG_RUNTIME_DIR at a fresh folder for each test, so tests never meet the station's locks.
class NamedLockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* old = std::getenv("XDG_RUNTIME_DIR"))
            m_saved = old;
        setenv("XDG_RUNTIME_DIR", m_runtime.path().c_str(), 1);
    }
    void TearDown() override
    {
        if (m_saved)
            setenv("XDG_RUNTIME_DIR", m_saved->c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
    }
    std::filesystem::path folder() const { return m_runtime / "peltra"; }

    test::TempDir m_runtime;
    std::optional<std::string> m_saved;
};

// The child's exit code, or -1 when it did not exit normally.
int exitCode(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST(LockFileNameTest, MapsNamesToSafeFileNames)
{
    const std::pair<const char*, const char*> cases[] = {
        {"PELTRA2001", "PELTRA2001.lock"},
        {"Задача", "%D0%97%D0%B0%D0%B4%D0%B0%D1%87%D0%B0.lock"},
        {"Tasks\\Ввод", "Tasks%5C%D0%92%D0%B2%D0%BE%D0%B4.lock"},
        {"a/b", "a%2Fb.lock"},
        {"..", "...lock"},
        {"x y%~", "x%20y%25%7E.lock"},
        {"\xff\x01", "%FF%01.lock"},
    };
    for (const auto& [name, fileName] : cases)
        EXPECT_EQ(lockFileName(name), fileName);

    std::string base;  // 400 bytes, 1200 once encoded
    for (int i = 0; i < 200; ++i)
        base += "Я";
    const std::string a = lockFileName(base + "1");
    const std::string b = lockFileName(base + "2");
    EXPECT_NE(a, b);
    for (const std::string& name : {a, b}) {  // shortened with a hash, a readable prefix kept
        EXPECT_LE(name.size(), 255u);
        EXPECT_TRUE(name.ends_with(".lock") && name.find('~') != std::string::npos && name.starts_with("%D0%AF"));
    }
    // The longest name that fits is kept as it is.
    const std::string fits(250, 'x');
    EXPECT_EQ(lockFileName(fits), fits + ".lock");
    EXPECT_NE(lockFileName(fits + "x").find('~'), std::string::npos);
}

TEST_F(NamedLockTest, SymbolicLinkOrOtherUsersFolderIsRefused)
{
    test::TempDir elsewhere;
    ASSERT_EQ(symlink(elsewhere.path().c_str(), folder().c_str()), 0);
    std::string error;
    EXPECT_FALSE(lockFolder(&error));
    EXPECT_NE(error.find(folder().string()), std::string::npos) << error;
    LockFailure failure;
    EXPECT_FALSE(NamedLock::tryAcquire("PELTRA2001", &failure));
    EXPECT_EQ(failure.kind, LockFailure::Kind::System);
    EXPECT_TRUE(std::filesystem::is_empty(elsewhere.path())) << "nothing written through the link";

    if (geteuid() != 0)
        return;  // only root can give a folder away
    ASSERT_EQ(unlink(folder().c_str()), 0);
    ASSERT_EQ(mkdir(folder().c_str(), 0700), 0);
    ASSERT_EQ(chown(folder().c_str(), 65534, 65534), 0);
    EXPECT_FALSE(lockFolder(&error));
    EXPECT_NE(error.find("another user"), std::string::npos) << error;
}

TEST_F(NamedLockTest, SecondAcquisitionInOneProcessIsBusyUntilRelease)
{
    auto first = NamedLock::tryAcquire("PELTRA2001");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->path(), folder() / "PELTRA2001.lock");

    LockFailure failure;
    std::thread other([&] { EXPECT_FALSE(NamedLock::tryAcquire("PELTRA2001", &failure)); });
    other.join();
    EXPECT_EQ(failure.kind, LockFailure::Kind::Busy);
    EXPECT_NE(failure.message.find(first->path().string()), std::string::npos) << failure.message;
    EXPECT_FALSE(NamedLock::tryAcquire("PELTRA2001")) << "the same thread is excluded as well";

    first->release();
    first->release();
    EXPECT_TRUE(NamedLock::tryAcquire("PELTRA2001"));
}

TEST_F(NamedLockTest, AcquireWaitsForTheReleaseOrTimesOut)
{
    auto holder = NamedLock::tryAcquire("template");
    ASSERT_TRUE(holder);
    LockFailure failure;
    std::optional<NamedLock> got;
    auto start = Clock::now();
    std::thread([&] { got = NamedLock::acquire("template", 50, &failure); }).join();
    auto elapsed = Clock::now() - start;
    EXPECT_FALSE(got);
    EXPECT_EQ(failure.kind, LockFailure::Kind::TimedOut);
    EXPECT_GE(elapsed, 50ms);
    EXPECT_LT(elapsed, 50ms + lateTolerance);

    start = Clock::now();
    std::thread releaser([&] {
        std::this_thread::sleep_for(30ms);
        holder->release();
    });
    got = NamedLock::acquire("template", 5000);
    elapsed = Clock::now() - start;
    releaser.join();
    EXPECT_TRUE(got);
    EXPECT_GE(elapsed, 25ms);
    EXPECT_LT(elapsed, 30ms + lateTolerance);
}

// Another process is excluded while it holds a lock, and the lock dies with its holder, whether
// that exits without releasing or is killed.
TEST_F(NamedLockTest, ReleasedWhenHoldingProcessEnds)
{
    for (const bool killed : {false, true}) {
        SCOPED_TRACE(killed ? "killed" : "exited");
        int held[2];
        ASSERT_EQ(pipe(held), 0);
        const pid_t child = fork();
        if (child == 0) {
            auto lock = NamedLock::tryAcquire("PELTRA2001");
            if (!lock || write(held[1], "y", 1) != 1)
                _exit(1);
            std::this_thread::sleep_for(killed ? 10s : 200ms);
            _exit(0);  // without running the lock's destructor
        }
        ASSERT_GT(child, 0);
        close(held[1]);  // so that a child that fails ends the read
        char c = 0;
        const auto got = read(held[0], &c, 1);
        close(held[0]);
        ASSERT_EQ(got, 1) << "the child could not take the lock";
        LockFailure failure;
        EXPECT_FALSE(NamedLock::tryAcquire("PELTRA2001", &failure));
        EXPECT_EQ(failure.kind, LockFailure::Kind::Busy);
        if (killed)
            kill(child, SIGKILL);
        EXPECT_TRUE(NamedLock::acquire("PELTRA2001", 5000));
        EXPECT_EQ(exitCode(child), killed ? -1 : 0);
    }
}

}  // namespace
}  // namespace peltra::platform
