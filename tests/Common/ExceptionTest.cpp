#include "Common/Exception.h"

#include <gtest/gtest.h>

#include <memory>

namespace Kalvor {
namespace {

TEST(ExceptionDescribe, KnownCodesShowCategoryTextAndPrintedCode) {
    EXPECT_EQ(FileException(FL_EXISTS_NOT).describe(), "File: File does not exist. (Code: 41.2)");
    EXPECT_EQ(ConfigException(CF_CONF).describe(), "Configuration: Error in conf file. (Code: 1.1)");
    EXPECT_EQ(IPCException(IC_CANNOT_SEND).describe(), "IPC: Unable to send message. (Code: 4.5)");
    EXPECT_EQ(JobException(JB_PROCESS).describe(),
              "Job: Unable to access external process. (Code: 42.7)");
    EXPECT_EQ(TimeException(TM_INPUT).describe(), "Time: Illegal input format. (Code: 4.10)");
    EXPECT_EQ(FileException(FL_ERROR).describe(),
              "File: An error occured. (No changes made.) (Code: 41.27)");
}

TEST(ExceptionDescribe, CodesOutsideTheTableAreUnknownButKeepTheirNumber) {
    EXPECT_EQ(FileException(99).describe(), "File: Unknown error (Code: 41.99)");
    EXPECT_EQ(FileException(28).describe(), "File: Unknown error (Code: 41.28)");
    EXPECT_EQ(TimeException(-1).describe(), "Time: Unknown error (Code: 4.-1)");
    // The configuration table's reserved rows 3 and 4 have no text.
    EXPECT_EQ(ConfigException(3).describe(), "Configuration: Unknown error (Code: 1.3)");
    EXPECT_EQ(Exception(7).describe(), "Exception: Unknown error (Code: 44.7)");
}

TEST(ExceptionDescribe, ClassIdsAndTheSharedNumberFour) {
    EXPECT_EQ(Exception(0).classId(), 44);
    EXPECT_EQ(ConfigException(0).classId(), 1);
    EXPECT_EQ(FileException(0).classId(), 41);
    EXPECT_EQ(JobException(0).classId(), 42);
    EXPECT_EQ(IPCException(0).classId(), 4);
    EXPECT_EQ(TimeException(0).classId(), 4);
}

TEST(ExceptionDescribe, VirtualThroughTheRootAfterCatchByReference) {
    try {
        throw JobException(JB_UNABLE_TO_START, "boom", KALVOR_HERE);
    } catch (const Exception& caught) {
        EXPECT_EQ(caught.classId(), 42);
        EXPECT_EQ(caught.code(), JB_UNABLE_TO_START);
        EXPECT_EQ(caught.detail(), "boom");
        EXPECT_EQ(caught.describe().rfind("Job: Unable to start the job.", 0), 0u);
    }
}

TEST(ExceptionReport, DescriptionAloneHasNoTrailingLineBreak) {
    EXPECT_EQ(FileException(FL_CANNOT_OPEN).report(), "File: File cannot be opened. (Code: 41.5)");
}

TEST(ExceptionReport, DetailOnly) {
    EXPECT_EQ(FileException(FL_CANNOT_OPEN, "C:\\x.log").report(),
              "File: File cannot be opened. (Code: 41.5)\r\n  >  (C:\\x.log)");
}

TEST(ExceptionReport, DetailAndTrailLayout) {
    FileException error(FL_CANNOT_OPEN, "disk on fire", "C:\\src\\File\\FilePlain.cpp", 233);
    error.addLocation("/home/dev/Source/Config/ConfReader.cpp", 412);
    EXPECT_EQ(error.report(), "File: File cannot be opened. (Code: 41.5)\r\n"
                              "  >  (disk on fire)\r\n"
                              "  >  FilePlain.(233) - ConfReader.(412)");
}

// What a tool prints on a terminal: one line, the system's text kept, no source locations.
TEST(ExceptionReport, SummaryIsOneLineWithoutTheTrail) {
    IPCException error(IC_CANNOT_CREATE_COMM, "/kalvor: Permission denied", "MailSlot.cpp", 77);
    error.addLocation("IPCServer.cpp", 12);
    EXPECT_EQ(error.summary(),
              "IPC: Unable to create communication channel. (Code: 4.2): /kalvor: Permission denied");
    EXPECT_EQ(FileException(FL_CANNOT_OPEN).summary(), "File: File cannot be opened. (Code: 41.5)");
}

TEST(ExceptionReport, TrailWithoutDetailHasNoParenthesisedLine) {
    IPCException error(IC_CANNOT_SEND);
    error.addLocation("IPCClient.cpp", 10);
    error.addLocation("Wardex.cpp", 20);
    error.addLocation("LogMessengerIPC.cpp", 30);
    EXPECT_EQ(error.report(), "IPC: Unable to send message. (Code: 4.5)\r\n"
                              "  >  IPCClient.(10) - Wardex.(20) - LogMessengerIPC.(30)");
}

TEST(ExceptionReport, UnknownCodeWithDetail) {
    Exception error(3, "why", "x.cpp", 1);
    EXPECT_EQ(error.report(), "Exception: Unknown error (Code: 44.3)\r\n  >  (why)\r\n  >  x.(1)");
}

TEST(ExceptionSourceName, DerivedFromTheLastPathComponent) {
    EXPECT_EQ(Exception::sourceName("C:\\Source\\Config\\ConfReader.cpp"), "ConfReader.");
    EXPECT_EQ(Exception::sourceName("/src/Config/ConfReader.cpp"), "ConfReader.");
    EXPECT_EQ(Exception::sourceName("mixed/dir\\Unit.h"), "Unit.");
    EXPECT_EQ(Exception::sourceName("archive.tar.gz"), "archive.tar.");
    EXPECT_EQ(Exception::sourceName("Makefile"), "Makefile");
    EXPECT_EQ(Exception::sourceName("/src/Makefile"), "Makefile");
    EXPECT_EQ(Exception::sourceName("C:\\Source\\"), "");
    EXPECT_EQ(Exception::sourceName("dir.d/noext"), "noext");
}

TEST(ExceptionSourceName, EmptyNamePrintsTheLineAlone) {
    TimeException error(TM_INPUT);
    error.addLocation("C:\\Source\\", 7);
    EXPECT_EQ(error.report(), "Time: Illegal input format. (Code: 4.10)\r\n  >  (7)");
}

TEST(ExceptionCopy, CopiesCodeDetailAndTrailAndKeepsTheClass) {
    const FileException original(FL_WRITE, "full", "FilePlain.cpp", 5);
    FileException copy = original;
    copy.addLocation("LogFileWriter.cpp", 9);
    EXPECT_EQ(copy.code(), FL_WRITE);
    EXPECT_EQ(copy.detail(), "full");
    ASSERT_EQ(copy.trail().size(), 2u);
    EXPECT_EQ(original.trail().size(), 1u);

    std::unique_ptr<Exception> heldAsRoot = std::make_unique<FileException>(copy);
    EXPECT_EQ(heldAsRoot->classId(), 41);
    EXPECT_EQ(heldAsRoot->report(), copy.report());
}

TEST(ExceptionRethrow, HandlersAppendTheirLocationsInOrder) {
    auto inner = [] { throw ConfigException(CF_CONF, "line 3", "ConfTokenizer.cpp", 30); };
    auto middle = [&] {
        try {
            inner();
        } catch (Exception& e) {
            e.addLocation("ConfReader.cpp", 40);
            throw;
        }
    };
    try {
        middle();
        FAIL() << "nothing thrown";
    } catch (const ConfigException& e) {
        EXPECT_EQ(e.report(), "Configuration: Error in conf file. (Code: 1.1)\r\n"
                              "  >  (line 3)\r\n"
                              "  >  ConfTokenizer.(30) - ConfReader.(40)");
    }
}

} // namespace
} // namespace Kalvor
