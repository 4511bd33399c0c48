// The suite's access to the registry: string and 32-bit integer values read and written under
// the current root key (HKEY_LOCAL_MACHINE unless changed), most of them under the resource key
// "SOFTWARE\Kalvor\Resources".
//
// Every operation returns a result code and never throws: SI_OK; SI_FAILED (a string read ran
// out of memory, or a write could not create the key or store the value); SI_MISSING (the key
// or the value is missing; callers rely on this meaning "missing"); SI_WRONG_TYPE (the value
// exists with another registry type); SI_UNREADABLE (the registry itself could not be read, e.g.
// a posix hive file that does not parse: nothing can be said of the value, and `fault`, when
// given, names the file and the line).
//
// readString accepts REG_SZ, REG_EXPAND_SZ and REG_MULTI_SZ, drops trailing zero bytes (inner
// ones of a multi-string stay) and replaces each "${Name}" by the resource string Name, itself
// expanded. A reference stays as written when Name cannot be read, when its "${" stands within
// the last three bytes, when no "}" follows, or when Name is already being expanded (a cycle);
// the search goes on after the reference, or after the inserted value, which is not rescanned.
//
// posix keeps machine and account values apart, as Windows does for a program that is not
// elevated: root and the owner of the registry folder write the machine values; any other
// account writes a store of its own, so that it can keep its values without being able to
// change anyone else's, and reads its store over the machine values. readMachineInteger reads
// the machine values alone: a value that root sets for every account, which no account's own
// value may shadow.
#pragma once

#include "Common/RegistryTypes.h"

#include <cstdint>
#include <string>

namespace Kalvor {

enum SystemInfoResult : int32_t {
    SI_OK = 0,
    SI_FAILED = 1,
    SI_MISSING = 2,
    SI_WRONG_TYPE = 3,
    SI_UNREADABLE = 4,
    SI_UNEXPANDABLE = 5 // a REG_EXPAND_SZ value names a variable that is not set
};

// A folder read from the registry, and whether it came from a REG_EXPAND_SZ value: a
// per-account folder such as "%HOME%/.config/kalvor/", which its account may make.
struct FolderValue {
    std::string path;
    bool expanded = false;
    std::string problem; // why it could not be read, for every result but SI_OK and SI_MISSING
};

class SystemInfo {
public:
    // The resource key, relative to the current root.
    static const char* const kResourceKey;

    static int32_t readString(const std::string& subKey, const std::string& valueName,
                              std::string& value, std::string* fault = nullptr);
    static int32_t readInteger(const std::string& subKey, const std::string& valueName,
                               int32_t& value, std::string* fault = nullptr);
    // As readInteger, from the machine values only (posix); the same as readInteger on win32,
    // where the system chooses what the process sees.
    static int32_t readMachineInteger(const std::string& subKey, const std::string& valueName,
                                      int32_t& value, std::string* fault = nullptr);

    // Creates the sub-key (and its parents) when missing, then stores the bytes as given.
    static int32_t writeValue(const std::string& subKey, const std::string& valueName,
                              RegistryType type, const void* bytes, uint32_t byteCount);
    // REG_SZ of the text's bytes, without a terminating zero byte.
    static int32_t writeValue(const std::string& subKey, const std::string& valueName,
                              const std::string& text);
    // REG_DWORD, 4 bytes.
    static int32_t writeValue(const std::string& subKey, const std::string& valueName,
                              int32_t value);

    static int32_t readResourceString(const std::string& valueName, std::string& value);
    static int32_t readResourceInteger(const std::string& valueName, int32_t& value);
    static int32_t writeResourceString(const std::string& valueName, const std::string& text);
    // A folder named under the resource key: a REG_SZ as it stands, a REG_EXPAND_SZ with its
    // environment references ("%HOME%") expanded. SI_WRONG_TYPE, SI_UNREADABLE and
    // SI_UNEXPANDABLE come with `problem` saying so in words.
    static int32_t readResourceFolder(const std::string& valueName, FolderValue& folder);

    // A value's type and bytes as stored (the merged view, or the machine's alone);
    // SI_MISSING when there is none.
    static int32_t readRaw(const std::string& subKey, const std::string& valueName,
                           RegistryType& type, std::string& bytes, bool machineOnly);
    // Whether this account's writes under the key go to its own store (see RegistryBackend.h),
    // and that store's name for an operator.
    static bool writesAccountValues(const std::string& subKey);
    static std::string accountValuesName(const std::string& subKey);

    // The root every operation works under; process-wide, HKEY_LOCAL_MACHINE at start.
    static RegistryRoot currentRoot();
    static void setCurrentRoot(RegistryRoot root);
};

} // namespace Kalvor
