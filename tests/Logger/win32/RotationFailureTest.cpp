// A log viewer that holds the log open without sharing its deletion makes every rename fail.
// The rotation is then tried again at each line, said once, and done at the first line after
// the viewer lets go, under the counter value the failures left alone.
#include "Common/SystemError.h"
#include "Common/win32/Windows.h"
#include "Logger/LogFileWriter.h"
#include "Logger/LogRotation.h"
#include "Logger/OutputLog.h"
#include "LoggerTestSupport.h"

#include <gtest/gtest.h>

namespace Kalvor {
namespace {

using Kalvor::Test::readFile;

constexpr uint64_t kMegabyte = 1048576;

// Reading, sharing reading and writing but not deletion, as log viewers open a file.
class Viewer {
public:
    explicit Viewer(const std::string& path)
        : handle_(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~Viewer() { close(); }
    Viewer(const Viewer&) = delete;
    Viewer& operator=(const Viewer&) = delete;

    bool isOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    void close() {
        if (isOpen())
            ::CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE handle_;
};

std::size_t countOf(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

class HeldLogTest : public testing::Test {
protected:
    HeldLogTest() {
        LogRotation::setScheme(LogRotation::kSize);
        LogRotation::setSizeLimit(1);
        Kalvor::Test::writeFile(path, "");
        sandbox.setRegistryValue("LogOpened", "2007-10-24T09:23:29Z");
        sandbox.setRegistryValue("LogCounter", "5");
    }

    std::string archiveName(int counter) const {
        return sandbox.writerLabel() + "_20071024T092329Z_" + std::to_string(counter) + ".log";
    }
    std::vector<std::string> files() const { return Kalvor::Test::fileNames(sandbox.path()); }

    Kalvor::Test::LoggerSandbox sandbox;
    const std::string path = sandbox.logPath();
    const std::string name = sandbox.writerLabel() + ".log";
    const std::string errorLine =
        "\r\nLog file rotation error. (32: " + systemErrorText(ERROR_SHARING_VIOLATION) + ")\r\n";
};

TEST_F(HeldLogTest, RotatesAtTheFirstLineAfterTheViewerLetGoUnderTheCounterItKept) {
    LogFileWriter writer(path);
    ASSERT_TRUE(writer.writeLine("opens the file"));
    Kalvor::Test::resizeFile(path, kMegabyte);
    Viewer viewer(path);
    ASSERT_TRUE(viewer.isOpen());
    for (const char* line : {"held 1", "held 2", "held 3"})
        ASSERT_TRUE(writer.writeLine(line));
    EXPECT_EQ(files(), std::vector<std::string>{name});
    EXPECT_EQ(sandbox.registryValue("LogCounter"), "5");
    const std::string held = readFile(path).substr(kMegabyte);
    EXPECT_EQ(countOf(held, errorLine), 1u) << held;
    EXPECT_EQ(countOf(held, "Log file rotation error."), 1u) << held;
    EXPECT_EQ(countOf(held, "Rotation process started..."), 1u) << held;
    EXPECT_TRUE(held.find("held 3\r\n") != std::string::npos) << held;

    viewer.close();
    ASSERT_TRUE(writer.writeLine("rotates"));
    EXPECT_EQ(files(), (std::vector<std::string>{name, archiveName(5)}));
    EXPECT_EQ(sandbox.registryValue("LogCounter"), "6");
    EXPECT_EQ(readFile(path), "Log continued from \"" + archiveName(5) + "\".\r\nrotates\r\n");
    const std::string archived = readFile(sandbox.file(archiveName(5)));
    EXPECT_TRUE(archived.find("held 3\r\n\nRotate condition: Size1 >= 1\r\n") != std::string::npos);
}

// The other writer of the log rotates it once the viewer has let go: the first writer then
// writes on in the live file, tries nothing more, and reports a later failure anew.
TEST_F(HeldLogTest, AnotherWriterRotatingTheFileEndsTheFailures) {
    LogFileWriter first(path);
    LogFileWriter second(path);
    ASSERT_TRUE(first.writeLine("first opens"));
    ASSERT_TRUE(second.writeLine("second opens"));
    Kalvor::Test::resizeFile(path, kMegabyte);
    {
        Viewer viewer(path);
        ASSERT_TRUE(viewer.isOpen());
        ASSERT_TRUE(first.writeLine("first held"));
    }
    ASSERT_TRUE(second.writeLine("second rotates"));
    ASSERT_TRUE(first.writeLine("first writes on"));
    EXPECT_EQ(files(), (std::vector<std::string>{name, archiveName(5)}));
    EXPECT_EQ(sandbox.registryValue("LogCounter"), "6");
    EXPECT_EQ(countOf(readFile(sandbox.file(archiveName(5))), errorLine), 1u);
    const std::string live = readFile(path);
    EXPECT_TRUE(live.find("second rotates\r\n") != std::string::npos) << live;
    EXPECT_TRUE(live.find("first writes on\r\n") != std::string::npos) << live;

    Kalvor::Test::resizeFile(path, kMegabyte);
    Viewer viewer(path);
    ASSERT_TRUE(viewer.isOpen());
    ASSERT_TRUE(first.writeLine("first held again"));
    EXPECT_EQ(countOf(readFile(path), errorLine), 1u);
    EXPECT_EQ(sandbox.registryValue("LogCounter"), "6");
}

// An application's output file: no counter in the registry, but the same viewer; the bytes go on
// into the held file and it rotates at the first append after the viewer let go.
TEST_F(HeldLogTest, AnOutputFileRotatesAtTheFirstAppendAfterTheViewerLetGo) {
    const std::string output = sandbox.file("App.out");
    ASSERT_TRUE(Kalvor::Test::writeFile(output, ""));
    Kalvor::Test::resizeFile(output, kMegabyte);
    OutputLog log(output);
    const auto outputFiles = [&] {
        std::size_t count = 0;
        for (const std::string& file : files())
            count += file.rfind("App", 0) == 0 ? 1 : 0;
        return count;
    };
    {
        Viewer viewer(output);
        ASSERT_TRUE(viewer.isOpen());
        for (const std::string held : {"held 1\n", "held 2\n"})
            ASSERT_TRUE(log.append(held.data(), held.size())) << log.failure();
        EXPECT_EQ(outputFiles(), 1u);
        EXPECT_EQ(readFile(output).substr(kMegabyte), "held 1\nheld 2\n");
    }
    const std::string next = "let go\n";
    ASSERT_TRUE(log.append(next.data(), next.size())) << log.failure();
    EXPECT_EQ(outputFiles(), 2u);
    EXPECT_EQ(readFile(output), next);
}

} // namespace
} // namespace Kalvor
