// Whole-file replacement: content, permissions, special files, and nothing left behind.
#include "platform/files/ReplaceFile.h"

#include "support/RunProgram.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>


namespace peltra::platform {
namespace {

TEST(ReplaceFile, ReplacesWholeAndKeepsThePermissions)
{
    test::TempDir dir;
    const auto file = dir / "prez.fon";
    std::string error;
    ASSERT_TRUE(replaceFile(file, "first", error)) << error;
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    ASSERT_TRUE(replaceFile(file, std::string("second\0x", 8), error)) << error;
    EXPECT_EQ(test::readFile(file), std::string("second\0x", 8));
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    // A producer that fails leaves the old file and no temporary beside it.
    EXPECT_FALSE(replaceFile(file, [](const ByteSink&) { errno = ENOSPC; return false; }, error));
    EXPECT_NE(error.find("cannot write it"), std::string::npos) << error;
    EXPECT_EQ(test::readFile(file), std::string("second\0x", 8));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    EXPECT_FALSE(replaceFile(dir / "no-such-folder" / "x", "data", error));
    EXPECT_EQ(error.rfind("cannot create a file in", 0), 0u) << error;
}

TEST(ReplaceFile, WritesSpecialFilesInPlace)
{
    std::string error;
    EXPECT_TRUE(replaceFile("/dev/null", "discarded", error)) << error;
}

}  // namespace
}  // namespace peltra::platform
