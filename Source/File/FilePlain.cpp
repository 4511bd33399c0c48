#include "File/FilePlain.h"

#include "Common/Exception.h"

#include <algorithm>

namespace Kalvor {

std::string FilePlain::read(std::size_t count) {
    requireReadable();
    std::string data(count, '\0');
    const std::size_t got = stream().read(data.data(), count);
    if (got < count && !stream().atEnd())
        throw FileException(FL_READ, streamErrorDetail(), KALVOR_HERE);
    if (got == 0 && count > 0)
        throw FileException(FL_EOF, path(), KALVOR_HERE);
    data.resize(got);
    return data;
}

std::string FilePlain::readAll() {
    requireReadable();
    if (!stream().seek(0))
        throw FileException(FL_POSITION, streamErrorDetail(), KALVOR_HERE);
    // One byte past the limit is enough to tell a file that is too large.
    const std::size_t limit = static_cast<std::size_t>(kMaxReadBytes) + 1;
    std::string text;
    char buffer[65536];
    while (const std::size_t got =
               stream().read(buffer, std::min(sizeof buffer, limit - text.size())))
        text.append(buffer, got);
    if (text.size() == limit)
        throwTooLarge();
    if (!stream().atEnd())
        throw FileException(FL_READ, streamErrorDetail(), KALVOR_HERE);
    return text;
}

bool FilePlain::readLine(std::string& line) {
    requireReadable();
    const bool got = stream().readLine(line, kMaxReadBytes);
    if (stream().tell() > kMaxReadBytes)
        throwTooLarge();
    if (got)
        return true;
    if (!stream().atEnd())
        throw FileException(FL_READ, streamErrorDetail(), KALVOR_HERE);
    return false;
}

void FilePlain::write(const std::string& text) {
    requireWritable();
    if (!stream().write(text))
        throw FileException(FL_WRITE, streamErrorDetail(), KALVOR_HERE);
}

void FilePlain::throwTooLarge() const {
    throw FileException(FL_READ,
                        path() + "-->File exceeds the " + std::to_string(kMaxReadBytes >> 20) +
                            " MiB read limit.",
                        KALVOR_HERE);
}

} // namespace Kalvor
