// The second process of the File tests.
//   FileWriterHelper token OUTPUT         writes a fresh LockFile's owner token to OUTPUT
//   FileWriterHelper write PATH SECONDS   opens PATH for a safe update with a lock of SECONDS and
//                                         keeps writing into it without ever closing it, until
//                                         it is killed
#include "Common/Exception.h"
#include "File/FilePlain.h"
#include "File/LockFile.h"
#include "Time/Timer.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

namespace {

int writeToken(const std::string& output) {
    const Kalvor::LockFile lock(output + ".probe");
    std::ofstream out(output, std::ios::binary);
    out << lock.ownToken();
    return out.good() ? 0 : 1;
}

int keepWriting(const std::string& path, int lockSeconds) {
    constexpr std::size_t kChunk = 64 * 1024;
    constexpr std::size_t kLimit = 64 * 1024 * 1024;
    Kalvor::FilePlain file(path);
    file.setLockDuration(Kalvor::TimeSpan(lockSeconds));
    file.open(Kalvor::FileBase::kWrite);
    const std::string chunk(kChunk, 'n');
    for (std::size_t written = 0;; written += kChunk) {
        if (written < kLimit) {
            file.write(chunk);
            file.flush();
        } else {
            Kalvor::sleepMilliseconds(20);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    const std::string verb = argc > 1 ? argv[1] : "";
    try {
        if (verb == "token" && argc == 3)
            return writeToken(argv[2]);
        if (verb == "write" && argc == 4)
            return keepWriting(argv[2], std::atoi(argv[3]));
    } catch (const Kalvor::Exception& error) {
        std::fprintf(stderr, "%s\n", error.report().c_str());
        return 2;
    }
    std::fprintf(stderr, "usage: FileWriterHelper token OUTPUT | write PATH SECONDS\n");
    return 64;
}
