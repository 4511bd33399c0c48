#include "File/FilePlain.h"

#include "Common/Exception.h"

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
    std::string text;
    char buffer[65536];
    while (const std::size_t got = stream().read(buffer, sizeof buffer))
        text.append(buffer, got);
    if (!stream().atEnd())
        throw FileException(FL_READ, streamErrorDetail(), KALVOR_HERE);
    return text;
}

bool FilePlain::readLine(std::string& line) {
    requireReadable();
    if (stream().readLine(line))
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

} // namespace Kalvor
