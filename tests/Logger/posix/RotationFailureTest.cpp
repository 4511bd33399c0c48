// A log whose name leaves no room for its archive's time and counter: every rename fails with
// the system's "File name too long", for root too. The failure is said once with its text, each
// line tries again, and the counter keeps its value.
#include "File/FileOps.h"
#include "Logger/LogFileWriter.h"
#include "Logger/LogRotation.h"
#include "LoggerTestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace Kalvor {
namespace {

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

TEST(RotationFailureTest, AFailedRenameIsNamedOnceKeepsTheCounterAndIsTriedAtEachLine) {
    Kalvor::Test::LoggerSandbox sandbox;
    LogRotation::setScheme(LogRotation::kSize);
    LogRotation::setSizeLimit(1);
    // The log's 240 bytes and its lock's ".mutex.XXXXXX" fit in a name; its archive does not.
    std::string name = sandbox.writerLabel();
    name.append(240 - 4 - name.size(), 'x').append(".log");
    const std::string path = sandbox.file(name);
    Kalvor::Test::writeFile(path, "");
    sandbox.setRegistryValue("LogCounter", "5");
    LogFileWriter writer(path);
    ASSERT_TRUE(writer.writeLine("opens the file"));
    Kalvor::Test::resizeFile(path, 1048576);

    for (const char* line : {"first try", "second try", "third try"}) {
        // A move of nothing leaves another error behind: each line's own try replaces it.
        EXPECT_FALSE(FileOps::moveFile(sandbox.file("absent"), sandbox.file("moved"), false));
        ASSERT_TRUE(writer.writeLine(line));
        EXPECT_EQ(FileOps::lastMoveError(), ENAMETOOLONG) << line;
    }
    EXPECT_EQ(Kalvor::Test::fileNames(sandbox.path()), std::vector<std::string>{name});
    EXPECT_EQ(sandbox.registryValue("LogCounter"), "5");
    const std::string log = Kalvor::Test::readFile(path).substr(1048576);
    EXPECT_EQ(countOf(log, "\r\nLog file rotation error. (" + std::to_string(ENAMETOOLONG) + ": " +
                               std::strerror(ENAMETOOLONG) + ")\r\n"),
              1u)
        << log;
    EXPECT_EQ(countOf(log, "Log file rotation error."), 1u) << log;
    EXPECT_TRUE(log.find("third try\r\n") != std::string::npos) << log;
}

} // namespace
} // namespace Kalvor
