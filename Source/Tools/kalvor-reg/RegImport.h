// kalvor-reg import: a REGEDIT4 file turned into the changes `regedit /s` would make, and those
// changes applied to a hive.
//
// The file is a hive's text (RegistryHive) with deletions besides: "[-ROOT\Key]" deletes the key
// and every key below it, "NAME"=- or @=- deletes a value of the section it stands in. "REGEDIT4"
// is the first line; blank lines and lines whose first non-blank byte is ";" are skipped. A
// section names a key by its root's full name (HKEY_LOCAL_MACHINE\...), and sections of several
// roots may follow one another. A section line creates its key, as regedit does, even without
// values under it. Anything else (a value line before the first section or under a deletion, a
// root key to delete, a zero byte in a name) makes the file not parse.
#pragma once

#include "Common/RegistryTypes.h"
#include "Common/posix/RegistryHive.h"

#include <string>
#include <string_view>
#include <vector>

namespace Kalvor {

struct ImportStep {
    enum class Kind { CreateKey, DeleteKey, SetValue, DeleteValue };

    Kind kind = Kind::CreateKey;
    RegistryRoot root = RegistryRoot::LocalMachine;
    std::string path;
    RegistryValue value; // SetValue; DeleteValue uses its name alone
};

// The steps in file order. On failure `error` names the line ("line 7: ...") and `steps` is
// empty.
bool parseImportText(std::string_view text, std::vector<ImportStep>& steps, std::string& error);

// The roots the steps change, each once, in the order of their first step.
std::vector<RegistryRoot> importRoots(const std::vector<ImportStep>& steps);

struct ImportOutcome {
    bool changed = false;
    // The deletions of this hive's root that found nothing to delete, in file order.
    std::vector<ImportStep> missed;
};

// Applies, in file order, the steps of hive.root(); steps of other roots are left out.
ImportOutcome applyImport(const std::vector<ImportStep>& steps, RegistryHive& hive);

} // namespace Kalvor
