#include "FileTestSupport.h"

#include <filesystem>
#include <fstream>
#include <iterator>

namespace Kalvor::Test {

void writeBytes(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(writeFile(path, bytes)) << path;
}

std::vector<std::string> fileLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

std::string patternBytes(std::size_t size, char seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 31 + i / 251 + static_cast<unsigned char>(seed)) & 0xff);
    return bytes;
}

} // namespace Kalvor::Test
