// The library's text-file object: FileBase's open, safe update and positioning, with reading
// and writing of text. Bytes pass unchanged (no line-end translation); readLine() accepts
// "\n" and "\r\n" line ends.
#pragma once

#include "File/FileBase.h"

#include <cstddef>
#include <string>

namespace Kalvor {

class FilePlain : public FileBase {
public:
    using FileBase::FileBase;

    // Up to `count` bytes from the position; fewer at the end. FL_EOF when already at the end
    // (and count is not 0).
    std::string read(std::size_t count);
    // The whole file, from its start; the position is then at its end.
    std::string readAll();
    // The next line without its line end; false at the end of the file.
    bool readLine(std::string& line);
    // FL_CANNOT_WRITE when not open for writing; FL_WRITE when the stream refuses.
    void write(const std::string& text);
};

} // namespace Kalvor
