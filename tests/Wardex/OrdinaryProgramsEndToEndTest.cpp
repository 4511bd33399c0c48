// Ordinary programs, which do not answer the supervisor's question: started from their command
// in their folder, their output in their file or the supervisor's streams, adopted from the
// record after a supervisor crash rather than started twice, and restarted when killed
// afterwards.
#include "Installation.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace Kalvor {
namespace {

using Kalvor::Test::ChildProcess;
using Kalvor::Test::Installation;

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

// The process id the helper wrote into its ready file; 0 before it did.
uint32_t announcedProcess(const std::string& ready) {
    return static_cast<uint32_t>(std::strtoul(Kalvor::Test::readFile(ready).c_str(), nullptr, 10));
}

TEST(OrdinaryPrograms, RunFromTheirCommandAndAreAdoptedNotDoubledAfterASupervisorCrash) {
    Installation site;
    const std::string work = site.path("work");
    std::filesystem::create_directories(work);
    const std::string ready = site.path("work/plain.ready");
    // Relative to its folder: the ready file shows that the folder was the working directory.
    const std::string command =
        quoted(Kalvor::Test::helperProgramPath("kalvor-job-helper")) + " grandchild plain.ready";
    site.writeConfig({{"Plain", true, true, {{"command(String)", command},
                                             {"directory(DirName)", work}}}}, 3);
    ChildProcess& first = site.startWardex();
    ASSERT_TRUE(Kalvor::Test::waitFor([&] { return announcedProcess(ready) != 0; },
                                      std::chrono::seconds(30)))
        << site.logText();
    const uint32_t program = announcedProcess(ready);
    // A crash between a start and its record would leave nothing to adopt.
    ASSERT_TRUE(site.waitForLog("Recorded 1 running application(s).")) << site.logText();

    // Killed, so that it cannot stop its program; the next one must not start a second copy.
    first.kill();
    ASSERT_TRUE(first.exitCode());
    ChildProcess& second = site.startWardex();
    ASSERT_TRUE(site.waitForLog("\"Plain\" is adopted from the record")) << site.logText();
    EXPECT_EQ(site.logCount("Attempting to start application"), 1u);

    // Still supervised: killed, it is restarted.
    std::filesystem::remove(ready);
    site.killApp({program, program});
    EXPECT_TRUE(Kalvor::Test::waitFor(
        [&] { return announcedProcess(ready) != 0 && announcedProcess(ready) != program; },
        std::chrono::seconds(30)))
        << site.logText();
    ASSERT_TRUE(site.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(second.waitForExit(), 0);
}

std::string withoutCarriageReturns(std::string text) {
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

TEST(OrdinaryPrograms, WriteToTheirOutputFileOrToTheSupervisorsStreams) {
    Installation site;
    const std::string helper = quoted(Kalvor::Test::helperProgramPath("kalvor-job-helper"));
    site.writeConfig({{"Printer", true, true, {{"command(String)", helper + R"( print "to its file")"}}},
                      {"Loud", true, true,
                       {{"command(String)", helper + " print inherited"},
                        {"output(String)", "inherit"}}}},
                     3);
    ChildProcess::Options streams;
    streams.outputFile = site.path("wardex.out");
    streams.errorFile = site.path("wardex.err");
    ChildProcess& wardex = site.startWardex({}, streams);

    // Both streams, whole, in the order written; each run's after the last.
    const std::string file = site.path("log/Printer.out");
    EXPECT_TRUE(Kalvor::Test::waitFor(
        [&] {
            return withoutCarriageReturns(Kalvor::Test::readFile(file))
                       .rfind("to its file\nto its file\nto its file\n", 0) == 0;
        },
        std::chrono::seconds(30)))
        << Kalvor::Test::readFile(file) << site.logText();
    EXPECT_TRUE(Kalvor::Test::waitFor(
        [&] {
            return Kalvor::Test::readFile(streams.outputFile).find("inherited") !=
                       std::string::npos &&
                   Kalvor::Test::readFile(streams.errorFile).find("inherited") != std::string::npos;
        },
        std::chrono::seconds(30)))
        << site.logText();

    // wardexctl log: its last lines, and with -f what comes after the file was rotated away.
    const auto ctl = [&](const std::vector<std::string>& arguments) {
        ChildProcess run(Kalvor::Test::helperProgramPath("wardexctl"), arguments,
                         ChildProcess::capturing(true));
        std::string output = withoutCarriageReturns(run.readToEnd(std::chrono::seconds(30)));
        return std::make_pair(run.waitForExit().value_or(-1), output);
    };
    EXPECT_EQ(ctl({"log", "Printer", "-n", "2"}), std::make_pair(0, std::string("to its file\nto its file\n")));
    const auto own = ctl({"log", "-n", "50"});
    EXPECT_EQ(own.first, 0);
    EXPECT_NE(own.second.find("Attempting to"), std::string::npos) << own.second;
    EXPECT_EQ(ctl({"log", "Loud"}).first, 1) << "its output is the supervisor's";
    ChildProcess follow(Kalvor::Test::helperProgramPath("wardexctl"), {"log", "Printer", "-f"},
                        ChildProcess::capturing());
    std::string line;
    ASSERT_TRUE(follow.readLine(line, std::chrono::seconds(30)));
    const std::string rotated = file + ".rotated";
    std::filesystem::rename(file, rotated);
    // The supervisor writes to a new file once it has seen the rename; the old one is then
    // done, and every line the follower prints beyond it came from the new one.
    ASSERT_TRUE(Kalvor::Test::waitFor([&] { return !Kalvor::Test::readFile(file).empty(); },
                                      std::chrono::seconds(60)))
        << site.logText();
    const std::string old = Kalvor::Test::readFile(rotated);
    const auto oldLines = static_cast<std::size_t>(std::count(old.begin(), old.end(), '\n'));
    std::size_t printed = 1;
    while (printed <= oldLines && follow.readLine(line, std::chrono::seconds(30)))
        ++printed;
    EXPECT_GT(printed, oldLines) << "nothing of the new file";
    follow.kill();

    ASSERT_TRUE(site.sendToWardex("COMMAND", "DIE"));
    EXPECT_EQ(wardex.waitForExit(), 0);
    EXPECT_EQ(Kalvor::Test::readFile(streams.outputFile).find("to its file"), std::string::npos);
    EXPECT_EQ(Kalvor::Test::readFile(file).find("inherited"), std::string::npos);
}

} // namespace
} // namespace Kalvor
