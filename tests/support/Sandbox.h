// A test's own corner of the machine, on either build.
//
// A fresh folder for the posix layer's registry, mailslot and lock folders ("registry",
// "mailslots", "locks"), which KALVOR_REGISTRY_DIR, KALVOR_MAILSLOT_DIR and KALVOR_LOCK_DIR name
// for the object's life: the code under test and every program the test starts use them. The
// mailslot and lock folders are made as an installation makes them (sticky, every account's),
// the registry folder as an ordinary folder of the test's account. And a
// label no other sandbox has, for the names that are machine-wide under Wine, where the tests of
// one binary run in parallel processes: mailslots, named mutexes, registry keys and values. The
// registry names handed out here are deleted afterwards on win32 (under HKEY_LOCAL_MACHINE and
// HKEY_CURRENT_USER); on posix they go with the folder.
#pragma once

#include "TestSupport.h"

#include <string>
#include <vector>

namespace Kalvor::Test {

class Sandbox {
public:
    Sandbox();
    ~Sandbox();
    Sandbox(const Sandbox&) = delete;
    Sandbox& operator=(const Sandbox&) = delete;

    const std::string& path() const { return folder_.path(); }
    // path() joined with a relative name.
    std::string file(const std::string& name) const { return folder_.file(name); }
    std::string registryDirectory() const { return file("registry"); }
    std::string mailslotDirectory() const { return file("mailslots"); }
    std::string lockDirectory() const { return file("locks"); }

    // Letters and digits only, so it fits any name.
    const std::string& label() const { return label_; }
    // `stem` made unique to this sandbox.
    std::string uniqueName(const std::string& stem) const { return stem + label_; }

    // A key below the resource key, not yet created.
    const std::string& registrySubKey() const { return subKey_; }
    // A name for a value directly under the resource key.
    std::string resourceName(const std::string& stem);
    // A value under the resource key that the code under test names itself, to be deleted too.
    void deleteAfterwards(const std::string& valueName) { resourceNames_.push_back(valueName); }
    // Deletes such values now: under Wine a value outlives the test process that wrote it.
    static void deleteResourceValues(const std::vector<std::string>& valueNames) {
        removeRegistryNames("", valueNames);
    }

private:
    // Platform parts: a folder every account may use; the key tree (unless empty) and the values
    // under the resource key removed from the registry (win32; posix's goes with the folder).
    static void makeSharedFolder(const std::string& path);
    static void removeRegistryNames(const std::string& subKey,
                                    const std::vector<std::string>& valueNames);

    TempDir folder_;
    ScopedEnv registry_;
    ScopedEnv mailslots_;
    ScopedEnv locks_;
    std::string label_;
    std::string subKey_;
    std::vector<std::string> resourceNames_;
};

} // namespace Kalvor::Test
