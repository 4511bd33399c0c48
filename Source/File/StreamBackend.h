// The platform half of BufferedFile: how a stream is opened, positioned and made durable.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace Kalvor::StreamBackend {

// `mode` is a BufferedFile mode (1 to 6); with `exclusive` (mode 2 only) the file must not
// exist. Never inherited by child processes. Only a regular file is opened, and without
// blocking: a directory, FIFO or device fails the open (EISDIR or EINVAL; win32
// ERROR_NOT_SUPPORTED), so that no read can hang or run on without end. nullptr on failure,
// the system error left set.
std::FILE* open(const std::string& path, int32_t mode, bool exclusive);

// `origin` is SEEK_SET, SEEK_CUR or SEEK_END.
bool seek(std::FILE* file, int64_t offset, int origin);
int64_t tell(std::FILE* file);

// Written data (already flushed from the stream's buffer) reaches the device.
bool commit(std::FILE* file);

} // namespace Kalvor::StreamBackend
