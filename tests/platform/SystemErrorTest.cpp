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

}  // namespace
}  // namespace peltra::platform
