// The files of the posix registry: one hive per root key at <dir>/<ROOT NAME>.reg, where dir is
// $KALVOR_REGISTRY_DIR (read at every call) or else /var/lib/kalvor/registry.
//
// Machine and account values, as Windows keeps them for a program that is not elevated: the
// machine files are written by root and by the account that owns the registry folder (or could
// make it where it is missing), so tests and single-user installations write them directly.
// Every other account writes a store of its own, <state>/kalvor/registry/<ROOT NAME>.reg with
// <state> $XDG_STATE_HOME (when absolute) or else $HOME/.local/state (the password file's home
// without HOME), in a folder that it alone owns and can write: it cannot change the machine
// values nor another account's, and nobody else can change its own. Such an account reads its
// store over the machine file: a value of the same key and name in the store wins, keys of
// either exist. The environment is read at every call.
//
// load() takes no lock: writers replace a file by renaming a finished copy over it, so a reader
// always sees one whole version. update() runs a change with an exclusive flock on
// "<file>.lock", so writers in any number of processes take turns and lose no update; a changed
// hive goes to "<file>.tmp", is synced and renamed into place. The folder is created when a
// write needs it. Nothing here follows a link to a hive, its lock or its temporary file. A file
// that does not parse is reported as Corrupt by both and never written over: it is left for the
// operator.
#pragma once

#include "Common/RegistryTypes.h"
#include "Common/posix/RegistryHive.h"

#include <functional>
#include <string>

namespace Kalvor {

enum class StoreStatus { Ok, Corrupt, Failed };

struct StoreResult {
    StoreStatus status = StoreStatus::Ok;
    std::string message; // names the file and what went wrong

    bool ok() const { return status == StoreStatus::Ok; }
};

class RegistryStore {
public:
    // The machine files.
    static std::string directory();
    static std::string hivePath(RegistryRoot root);
    // Whether this account's writes go to the machine files rather than to its own store.
    static bool writesMachineFiles();
    // This account's store; empty when no home folder is known.
    static std::string accountDirectory();
    static std::string accountHivePath(RegistryRoot root);

    // What this account reads: the machine file with its store over it. A missing file loads
    // as an empty hive.
    static StoreResult load(RegistryRoot root, RegistryHive& hive);
    // The machine file alone, whoever reads it.
    static StoreResult loadMachine(RegistryRoot root, RegistryHive& hive);
    // The account's store alone; empty for an account that writes the machine files.
    static StoreResult loadAccount(RegistryRoot root, RegistryHive& hive);
    // A REGEDIT4 file named by the operator (kalvor-reg import), read as the hives are: not
    // through a link, without blocking on a FIFO, refused past the size limit of a hive. A
    // missing file is a failure.
    static StoreResult readText(const std::string& path, std::string& text);
    // `change` edits the current hive of the file this account writes and returns whether it
    // changed anything; only then is the file rewritten.
    static StoreResult update(RegistryRoot root, const std::function<bool(RegistryHive&)>& change);
};

} // namespace Kalvor
