// posix-only cases: write failures provoked with a file size limit (every write beyond it
// fails with EFBIG), paths that are no regular file, and lock files that a live holder cannot
// protect.
#include "Common/posix/UniqueFd.h"
#include "File/FilePlain.h"
#include "File/LockFile.h"
#include "FileTestSupport.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <future>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Kalvor {
namespace {

using Test::captureFileError;
using Test::fileLines;
using Test::fileExists;
using Test::TempDir;
using Test::writeBytes;

constexpr int32_t kRead = FileBase::kRead;
constexpr int32_t kNoLockWrite = FileBase::kWrite | FileBase::kNoLock;

// While it lives, no write reaches a regular file: RLIMIT_FSIZE 0, with SIGXFSZ ignored so that
// the write fails with EFBIG instead of ending the process.
class NoFileGrowth {
public:
    NoFileGrowth() : handler_(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit none = saved_;
        none.rlim_cur = 0;
        ::setrlimit(RLIMIT_FSIZE, &none);
    }
    ~NoFileGrowth() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, handler_);
    }
    NoFileGrowth(const NoFileGrowth&) = delete;
    NoFileGrowth& operator=(const NoFileGrowth&) = delete;

private:
    void (*handler_)(int);
    rlimit saved_ = {};
};

TEST(FilePlainWriteFailure, AWriteTheStreamRefusesIsFlWriteNamingStreamErrorAndMode) {
    TempDir dir;
    const std::string path = dir.file("data.txt");
    FilePlain file(path);
    file.open(kNoLockWrite);
    FileException error(FL_NONE);
    {
        NoFileGrowth limit;
        error = captureFileError([&] { file.write(std::string(1024 * 1024, 'x')); });
    }
    EXPECT_EQ(error.code(), FL_WRITE);
    EXPECT_EQ(error.detail(), path + " - BFile error: 5 - Access: 2");
    file.abort();
}

TEST(FilePlainWriteFailure, DataLostInTheFinalFlushIsReportedByClose) {
    TempDir dir;
    FilePlain file(dir.file("data.txt"));
    file.open(kNoLockWrite);
    file.write("buffered, never written");
    FileException error(FL_NONE);
    {
        NoFileGrowth limit;
        error = captureFileError([&] { file.close(); });
    }
    EXPECT_EQ(error.code(), FL_CANNOT_CLOSE);
    EXPECT_FALSE(file.isOpen());
}

// The open runs on another thread: should it block (a FIFO without partner), the FIFO's other
// end is opened and closed after the deadline, which releases it, so that the test fails
// instead of hanging.
FileException openFailure(const std::string& path, int32_t flags) {
    FilePlain file(path);
    std::future<FileException> opening =
        std::async(std::launch::async, [&] { return captureFileError([&] { file.open(flags); }); });
    if (opening.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
        ADD_FAILURE() << "the open of " << path << " blocked";
        UniqueFd partner(::open(path.c_str(), O_RDWR | O_NONBLOCK));
    }
    return opening.get();
}

// A FIFO would block the open or the reads, /dev/zero reads without end: only regular files
// open, in every mode, and through a symbolic link too.
// A link planted where a file is to be written (a log in a shared folder) is not followed: the
// file it points at is neither written nor truncated.
TEST(FilePlainPosix, AFileToWriteIsNeverReachedThroughALink) {
    TempDir dir;
    const std::string victim = dir.file("victim");
    writeBytes(victim, "kept");
    const std::string planted = dir.file("planted.log");
    ASSERT_EQ(::symlink(victim.c_str(), planted.c_str()), 0);
    for (const int32_t flags : {kNoLockWrite, kNoLockWrite | FileBase::kAppend,
                                kNoLockWrite | FileBase::kRead | FileBase::kTruncate}) {
        FilePlain file(planted);
        EXPECT_EQ(captureFileError([&] { file.open(flags); }).code(), FL_CANNOT_OPEN) << flags;
    }
    FilePlain reader(victim);
    reader.open(kRead);
    EXPECT_EQ(reader.readAll(), "kept");
}

TEST(FilePlainPosix, OnlyARegularFileOpensAndNothingElseBlocks) {
    TempDir dir;
    const std::string fifo = dir.file("fifo");
    const std::string zero = dir.file("zero");
    const std::string folder = dir.file("folder");
    const std::string linked = dir.file("linked");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", zero.c_str()), 0);
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    writeBytes(dir.file("plain"), "text");
    ASSERT_EQ(::symlink(dir.file("plain").c_str(), linked.c_str()), 0);
    for (const std::string& path : {fifo, zero, folder}) {
        for (const int32_t flags : {kRead, kNoLockWrite, kNoLockWrite | kRead})
            EXPECT_EQ(openFailure(path, flags).code(), FL_CANNOT_OPEN) << path << " " << flags;
    }
    FilePlain file(linked);
    file.open(kRead);
    EXPECT_EQ(file.readAll(), "text");
}

// posix cannot keep others from removing a lock file that its holder still has open (Windows
// can), so an owner that overran its expiry may find a successor's lock in place of its own.
TEST(LockFilePosix, AnOwnerThatOverranItsLockLeavesTheSuccessorsLockAlone) {
    TempDir dir;
    const std::string path = dir.file("data.txt");
    LockFile owner(path);
    ASSERT_TRUE(owner.lock(TimeSpan(0), false));
    {
        LockFile successor(path);
        ASSERT_TRUE(successor.unlock());
        ASSERT_TRUE(successor.lock(TimeSpan(3600), false));
        EXPECT_TRUE(owner.unlock());
        EXPECT_EQ(fileLines(path + ".lock").at(2), successor.ownToken());
    }
    EXPECT_FALSE(fileExists(path + ".lock"));
}

} // namespace
} // namespace Kalvor
