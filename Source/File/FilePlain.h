// The library's text-file object: FileBase's open, safe update and positioning, with reading
// and writing of text. Bytes pass unchanged (no line-end translation); readLine() accepts
// "\n" and "\r\n" line ends. Only a regular file opens: a FIFO, device or directory is
// FL_CANNOT_OPEN, at once. readAll() and readLine() read no further than kMaxReadBytes into a
// file: beyond, it is refused (FL_READ, "<path>-->File exceeds the 64 MiB read limit."), so
// that no file can make them hold unbounded memory.
#pragma once

#include "File/FileBase.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace Kalvor {

class FilePlain : public FileBase {
public:
    using FileBase::FileBase;

    // Far above any catalog, configuration or version file.
    static constexpr int64_t kMaxReadBytes = int64_t{64} << 20;

    // Up to `count` bytes from the position; fewer at the end. FL_EOF when already at the end
    // (and count is not 0).
    std::string read(std::size_t count);
    // The whole file, from its start; the position is then at its end.
    std::string readAll();
    // The next line without its line end; false at the end of the file. FL_READ once reading
    // passes kMaxReadBytes into the file.
    bool readLine(std::string& line);
    // FL_CANNOT_WRITE when not open for writing; FL_WRITE when the stream refuses.
    void write(const std::string& text);

private:
    [[noreturn]] void throwTooLarge() const;
};

} // namespace Kalvor
