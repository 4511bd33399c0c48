// Small file helpers for the File tests, independent of the code under test.
#pragma once

#include "Common/Exception.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Kalvor::Test {

void writeBytes(const std::string& path, const std::string& bytes);
std::vector<std::string> fileLines(const std::string& path); // "\r\n" or "\n" ends
// `size` bytes that differ from offset to offset, so a misplaced block shows.
std::string patternBytes(std::size_t size, char seed);

// The platform's own facts the contract tests compare against.
int32_t alreadyExistsError();
bool driveCExists();

template <typename Action> FileException captureFileError(Action&& action) {
    try {
        action();
    } catch (const FileException& error) {
        return error;
    }
    ADD_FAILURE() << "expected a FileException";
    return FileException(FL_NONE);
}

} // namespace Kalvor::Test
