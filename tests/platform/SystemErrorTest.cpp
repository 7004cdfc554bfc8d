// The text of system-error reports.
#include "platform/errors/SystemError.h"

#include <gtest/gtest.h>

#include <cerrno>

namespace peltra::platform {
namespace {

TEST(SystemError, ReportIsTheSystemMessageFollowedByTheCode)
{
    const std::string message = systemMessage(EACCES);
    EXPECT_FALSE(message.empty());
    EXPECT_EQ(message.find('\n'), std::string::npos);
    EXPECT_NE(message.front(), ' ');
    EXPECT_NE(message.back(), ' ');
    EXPECT_EQ(systemErrorReport(EACCES), message + "\r\nКод ошибки = 13\r\n");
}

TEST(SystemError, UnknownNumbersStillGiveAReport)
{
    const std::string report = systemErrorReport(99999);
    EXPECT_NE(report.find("\r\nКод ошибки = 99999\r\n"), std::string::npos);
    EXPECT_GT(report.size(), std::string("Код ошибки = 99999\r\n").size());
}

}  // namespace
}  // namespace peltra::platform
