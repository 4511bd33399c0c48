// The files of the posix registry: one hive per root key at <dir>/<ROOT NAME>.reg, where dir is
// $KALVOR_REGISTRY_DIR (read at every call) or else /var/lib/kalvor/registry.
//
// load() takes no lock: writers replace the file by renaming a finished copy over it, so a
// reader always sees one whole version. update() runs a change with an exclusive flock on
// "<file>.lock", so writers in any number of processes take turns and lose no update; a changed
// hive goes to "<file>.tmp", is synced and renamed into place. The directory is created when a
// write needs it. A file that does not parse is reported as Corrupt by both and never written
// over: it is left for the operator.
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
    static std::string directory();
    static std::string hivePath(RegistryRoot root);

    // A missing file loads as an empty hive.
    static StoreResult load(RegistryRoot root, RegistryHive& hive);
    // `change` edits the current hive and returns whether it changed anything; only then is the
    // file rewritten.
    static StoreResult update(RegistryRoot root, const std::function<bool(RegistryHive&)>& change);
};

} // namespace Kalvor
