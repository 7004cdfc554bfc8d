// The configuration store: names, order, typed values, trees, transactions, faults, processes.
#include "platform/registry/RegistryStore.h"

#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <optional>
#include <thread>

namespace peltra::platform {
namespace {

using test::TempDir;

class RegistryStoreTest : public ::testing::Test {
protected:
    std::filesystem::path file() const { return m_dir / "registry.db"; }
    TempDir m_dir;
};

std::string integrityCheck(const std::filesystem::path& file)
{
    sqlite3* db = nullptr;
    std::string result = "cannot open";
    if (sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &stmt, nullptr) == SQLITE_OK &&
            sqlite3_step(stmt) == SQLITE_ROW)
            result = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return result;
}

// Waits for a forked child and returns its exit code (-1 when it did not exit normally).
int waitChild(pid_t pid)
{
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

TEST_F(RegistryStoreTest, NamesCompareAndSortWithoutCaseAndKeepTheirSpelling)
{
    RegistryStore store(file());
    ASSERT_TRUE(store.isOpen()) << store.openError();
    ASSERT_TRUE(store.createKey("Software\\PELTRA\\Tasks\\Ввод\\Операторы"));
    EXPECT_TRUE(store.keyExists("SOFTWARE\\peltra\\TASKS\\ввод\\ОПЕРАТОРЫ"));
    EXPECT_TRUE(store.keyExists("\\Software\\\\PELTRA\\"));  // empty components do not count
    EXPECT_FALSE(store.keyExists("Software\\PELTRA\\Tasks\\Вывод"));

    ASSERT_TRUE(store.createKey("software\\peltra\\TASKS\\ВВОД\\операторы"));
    EXPECT_EQ(store.subKeys("Software\\PELTRA\\Tasks\\Ввод"), std::vector<std::string>{"Операторы"});

    ASSERT_TRUE(store.setValue("Software\\PELTRA", "LocalPhone", RegistryValue::dword(1)));
    ASSERT_TRUE(store.setValue("SOFTWARE\\PELTRA", "LOCALPHONE", RegistryValue::dword(2)));
    const auto values = store.values("Software\\PELTRA");
    ASSERT_EQ(values.size(), 1u);
    EXPECT_EQ(values[0].name, "LocalPhone");
    EXPECT_EQ(store.getValue("software\\peltra", "localphone"), RegistryValue::dword(2));

    for (const char* name : {"b", "A", "Б", "c", "_x", "а", "0002", "0010"})
        ASSERT_TRUE(store.createKey(std::string("K\\") + name));
    EXPECT_EQ(store.subKeys("K"), (std::vector<std::string>{"0002", "0010", "A", "b", "c", "_x", "а", "Б"}));
}

TEST_F(RegistryStoreTest, KeepsTypedValuesAndWritesDefaultsOnlyWhenMissing)
{
    RegistryStore store(file());
    const std::vector<NamedValue> cases = {
        {"", RegistryValue::text("default value")},
        {"Dword", RegistryValue::dword(0xDEADBEEF)},
        {"Qword", RegistryValue::qword(0x0123456789ABCDEFull)},
        {"Text", RegistryValue::text("Настройка линии COM1")},
        {"Expand", RegistryValue::text("%HOME%\\x", RegType::ExpandSz)},
        {"Multi", RegistryValue::multiText({"один", "", "три"})},
        {"Binary", RegistryValue::binary({0x00, 0xFF, 0x10})},
        {"Odd", RegistryValue::binary({1, 2}, static_cast<RegType>(0x20))},
    };
    for (const auto& c : cases)
        ASSERT_TRUE(store.setValue("Typed", c.name, c.value)) << c.name;

    RegistryStore reopened(file());
    for (const auto& c : cases)
        EXPECT_EQ(reopened.getValue("Typed", c.name), c.value) << c.name;
    EXPECT_EQ(reopened.getValue("Typed", "Text")->asDword(), 0xB0D09DD0u);  // a text read as a number
    EXPECT_FALSE(reopened.getValue("Typed", "Missing"));

    // A default is written only when the value is missing.
    EXPECT_EQ(reopened.getOrSetDefault("A\\B", "N", RegistryValue::dword(30)), RegistryValue::dword(30));
    EXPECT_EQ(reopened.getOrSetDefault("a\\b", "n", RegistryValue::dword(31)), RegistryValue::dword(30));
    EXPECT_EQ(reopened.getOrSetDefault("Typed", "Dword", RegistryValue::dword(1)), RegistryValue::dword(0xDEADBEEF));
}

TEST_F(RegistryStoreTest, DeletesKeysWithEverythingBelow)
{
    RegistryStore store(file());
    for (const char* key : {"R\\Keep", "R\\Gone", "R\\Gone\\Child\\Grandchild"})
        ASSERT_TRUE(store.setValue(key, "v", RegistryValue::dword(1)));
    ASSERT_TRUE(store.deleteKey("r\\GONE"));
    EXPECT_FALSE(store.keyExists("R\\Gone\\Child\\Grandchild"));
    EXPECT_EQ(store.subKeys("R"), std::vector<std::string>{"Keep"});
    EXPECT_TRUE(store.getValue("R\\Keep", "v"));
    // Re-creating the deleted key finds none of its old content.
    ASSERT_TRUE(store.createKey("R\\Gone"));
    EXPECT_TRUE(store.values("R\\Gone").empty() && store.subKeys("R\\Gone").empty());
    EXPECT_TRUE(store.deleteKey("R\\Never"));
    EXPECT_FALSE(store.deleteKey("\\"));
    EXPECT_NE(RegistryStore::lastError().find("root"), std::string::npos);
}

TEST_F(RegistryStoreTest, TransactionsCommitOrRollBackWhole)
{
    RegistryStore store(file());
    EXPECT_FALSE(store.transaction([&] {
        store.setValue("T", "a", RegistryValue::dword(1));
        store.createKey("T\\Sub");
        return false;
    }));
    EXPECT_FALSE(store.keyExists("T"));

    EXPECT_TRUE(store.transaction([&] {
        EXPECT_TRUE(store.setValue("T", "a", RegistryValue::dword(1)));
        // A failing inner operation undoes only itself.
        EXPECT_FALSE(store.transaction([&] {
            store.setValue("T", "b", RegistryValue::dword(2));
            return false;
        }));
        EXPECT_FALSE(store.copyKey("T", "T\\Inside"));
        return true;
    }));
    EXPECT_EQ(store.getValue("T", "a"), RegistryValue::dword(1));
    EXPECT_FALSE(store.getValue("T", "b"));
}

TEST_F(RegistryStoreTest, RefusesWhatIsNotAStoreAndLeavesItAsItWas)
{
    enum Kind { Text, ForeignDatabase, Folder };
    const std::pair<Kind, const char*> cases[] = {
        {Text, "is not a configuration store"},
        {ForeignDatabase, "is not a configuration store of this station"},
        {Folder, "cannot open the configuration store"},
    };
    for (const auto& [kind, reason] : cases) {
        SCOPED_TRACE(reason);
        TempDir dir;
        const auto path = dir / "registry.db";
        if (kind == Text) {
            std::ofstream(path) << "REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\n";
        } else if (kind == ForeignDatabase) {
            sqlite3* db = nullptr;
            ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
            sqlite3_exec(db, "CREATE TABLE notes(t); INSERT INTO notes VALUES('keep')", nullptr, nullptr, nullptr);
            sqlite3_close(db);
        } else {
            std::filesystem::create_directory(path);
        }
        const auto contents = [&] { return kind == Folder ? std::string() : test::readFile(path); };
        const std::string before = contents();
        {
            RegistryStore store(path);
            EXPECT_FALSE(store.isOpen());
            EXPECT_NE(store.openError().find(path.string()), std::string::npos) << store.openError();
            EXPECT_NE(store.openError().find(reason), std::string::npos) << store.openError();
            EXPECT_FALSE(store.setValue("K", "v", RegistryValue::dword(1)));
            EXPECT_NE(RegistryStore::lastError().find(path.string()), std::string::npos);
        }
        EXPECT_TRUE(contents() == before) << "the file must stay byte for byte as it was";
        EXPECT_EQ(std::filesystem::is_directory(path), kind == Folder);
    }
}

TEST_F(RegistryStoreTest, WriterLockedOutReportsTheLockAfterItsTimeOut)
{
    RegistryStore store(file());
    ASSERT_TRUE(store.setValue("K", "v", RegistryValue::dword(1)));
    store.setBusyTimeout(100);

    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(file().c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(store.setValue("K", "v", RegistryValue::dword(2)));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(90));
    EXPECT_LT(waited, std::chrono::seconds(3));
    EXPECT_NE(RegistryStore::lastError().find("locked"), std::string::npos) << RegistryStore::lastError();
    EXPECT_NE(RegistryStore::lastError().find(file().string()), std::string::npos);
    // Readers are not held up by a writer.
    EXPECT_EQ(store.getValue("K", "v"), RegistryValue::dword(1));

    sqlite3_exec(other, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(other);
    EXPECT_TRUE(store.setValue("K", "v", RegistryValue::dword(2)));
}

// Two processes, each with two threads sharing one store object, counting in read-modify-write
// transactions: no update is lost.
TEST_F(RegistryStoreTest, ProcessesAndThreadsWritingLoseNothing)
{
    constexpr int kRounds = 150;
    { RegistryStore init(file()); ASSERT_TRUE(init.isOpen()); }
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
        children[child] = fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0) {
            RegistryStore store(file());
            store.setBusyTimeout(20000);
            std::atomic<int> failures{0};
            auto work = [&](int thread) {
                const std::string own = "Own\\" + std::to_string(child) + "\\" + std::to_string(thread);
                for (int i = 0; i < kRounds; ++i) {
                    failures += !store.transaction([&] {
                        const auto counter = store.getOrSetDefault("Shared", "Counter", RegistryValue::dword(0));
                        return counter &&
                               store.setValue("Shared", "Counter", RegistryValue::dword(counter->asDword() + 1)) &&
                               store.setValue(own, std::to_string(i), RegistryValue::dword(static_cast<std::uint32_t>(i)));
                    });
                }
            };
            std::thread other(work, 1);
            work(0);
            other.join();
            _exit(failures == 0 ? 0 : 1);
        }
    }
    EXPECT_EQ(waitChild(children[0]), 0);
    EXPECT_EQ(waitChild(children[1]), 0);

    RegistryStore store(file());
    EXPECT_EQ(store.getValue("Shared", "Counter"), RegistryValue::dword(4 * kRounds));
    for (const char* own : {"Own\\0\\0", "Own\\0\\1", "Own\\1\\0", "Own\\1\\1"})
        EXPECT_EQ(store.values(own).size(), static_cast<std::size_t>(kRounds)) << own;
    EXPECT_EQ(integrityCheck(file()), "ok");
}

TEST_F(RegistryStoreTest, ProcessKilledWhileWritingLeavesAnIntactStore)
{
    { RegistryStore init(file()); ASSERT_TRUE(init.isOpen()); }
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        close(ready[0]);
        RegistryStore store(file());
        const RegistryValue bulk = RegistryValue::binary(Bytes(4096, 0xAB));
        for (std::uint32_t i = 1;; ++i) {
            // Each round writes a pair that must always match, plus bulk to keep the disk busy.
            store.transaction([&] {
                return store.setValue("Pair", "a", RegistryValue::dword(i)) &&
                       store.setValue("Bulk\\" + std::to_string(i % 50), "data", bulk) &&
                       store.setValue("Pair", "b", RegistryValue::dword(i));
            });
            if (i == 20)
                (void)!write(ready[1], "x", 1);
        }
    }
    close(ready[1]);
    char signal = 0;
    ASSERT_EQ(read(ready[0], &signal, 1), 1);
    close(ready[0]);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);

    RegistryStore store(file());
    ASSERT_TRUE(store.isOpen()) << store.openError();
    const auto a = store.getValue("Pair", "a");
    ASSERT_TRUE(a);
    EXPECT_GE(a->asDword(), 20u);
    EXPECT_EQ(store.getValue("Pair", "b"), a);
    EXPECT_EQ(integrityCheck(file()), "ok");
    EXPECT_TRUE(store.setValue("Pair", "a", RegistryValue::dword(0)));
}

}  // namespace
}  // namespace peltra::platform
