#include "LoggerTestSupport.h"

#include <unistd.h>

namespace Kalvor::Test {

// A name that is listed but leads nowhere: a dangling symbolic link.
UnreadableFile::UnreadableFile(const std::string& path) : path_(path) {
    ::unlink(path.c_str());
    if (::symlink((path + ".missing").c_str(), path.c_str()) != 0)
        path_.clear();
}

UnreadableFile::~UnreadableFile() {
    if (!path_.empty())
        ::unlink(path_.c_str());
}

} // namespace Kalvor::Test
