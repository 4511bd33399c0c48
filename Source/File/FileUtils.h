// Rules on path text, and the file calls other subsystems reach through FileOps.
//
// Paths are byte strings in which "\" and "/" are both separators. A rule that writes a
// separator takes it as a parameter, defaulting to the platform's own (kPathSeparator), so the
// Windows form of every rule runs on every platform. The extension is looked for in the name
// part only: the "." of a directory name never starts one.
#pragma once

#include "File/FileOps.h"
#include "File/PathSeparator.h"

#include <string>

namespace Kalvor::FileUtils {

bool isSeparator(char byte);

// Up to and including the last separator; empty without one.
std::string dirPart(const std::string& path);
// After the last separator; the whole path without one.
std::string namePart(const std::string& path);
// After the last "." of the name part; empty without one.
std::string extensionPart(const std::string& path);
// Cuts the last "." of the name part and what follows it; returns `path`.
std::string& withoutExtension(std::string& path);

// Appends `separator` unless the path already ends in "\" or "/" ("" becomes the separator).
void ensureTrailingSeparator(std::string& path, char separator = kPathSeparator);
// From the second byte on, every separator becomes `separator` and runs collapse to one. The
// first byte is never touched, so a leading pair ("\\server\share") survives.
void normaliseSeparators(std::string& path, char separator = kPathSeparator);
// Removes trailing separators but never the last byte: a lone "\" or "/" stays.
void stripTrailingSeparators(std::string& path);

// Creates the directory and every missing parent; true when it exists afterwards. An empty
// path names the current directory and is true.
bool makeDirectories(const std::string& path);

// The file calls, forwarded unchanged. A read-only file refuses deletion on both platforms;
// deleteFile does not clear the attribute first, since it is set on purpose.
bool moveFile(const std::string& source, const std::string& target, bool replace);
bool copyFile(const std::string& source, const std::string& target, bool overwrite);
bool deleteFile(const std::string& path);
bool fileInfo(const std::string& path, FileOps::FileInformation& info);

} // namespace Kalvor::FileUtils
