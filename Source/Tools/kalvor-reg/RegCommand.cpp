#include "RegCommand.h"

#include "RegImport.h"

#include "Common/RegistryTypes.h"
#include "Common/StringUtils.h"
#include "Common/posix/RegistryStore.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <sys/stat.h>

namespace Kalvor {

namespace {

const char kUsage[] =
    "Usage: kalvor-reg query  KEY [/v NAME | /ve] [/s] [/source]\n"
    "   or: kalvor-reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]\n"
    "   or: kalvor-reg delete KEY [/v NAME | /ve | /va] /f\n"
    "   or: kalvor-reg export KEY FILE [/y]\n"
    "   or: kalvor-reg import FILE\n"
    "\n"
    "Reads and writes the Kalvor registry files in $KALVOR_REGISTRY_DIR\n"
    "(default /var/lib/kalvor/registry), one REGEDIT4 file per root key.\n"
    "Root and the owner of that folder write these machine files; any other\n"
    "account writes its own store in $XDG_STATE_HOME/kalvor/registry (default\n"
    "~/.local/state/kalvor/registry) and reads its values over the machine's.\n"
    "\n"
    "  KEY      ROOT\\path; ROOT is HKLM, HKCU, HKCR, HKU, HKCC or the full name\n"
    "           (HKEY_LOCAL_MACHINE ...). Names are not case-sensitive.\n"
    "  /v NAME  the value NAME; /ve the default value; /va (delete) every value\n"
    "  /s       (query) the key and every key below it\n"
    "  /source  (query) each value followed by where it comes from: (machine)\n"
    "           or (account), this account's own store\n"
    "  /t TYPE  REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ or REG_DWORD\n"
    "  /d DATA  the data: REG_DWORD in decimal or 0x hex; REG_MULTI_SZ strings\n"
    "           separated by \\0\n"
    "  /f       add: overwrite an existing value; delete: required\n"
    "  /y       export: overwrite an existing file\n"
    "\n"
    "import loads a REGEDIT4 file as regedit /s does, over existing values:\n"
    "[ROOT\\path] sections with \"NAME\"=data and @=data lines, [-ROOT\\path]\n"
    "deletes a key with every key below it, \"NAME\"=- (@=-) a value; lines\n"
    "starting with ; are comments. A file that does not parse changes nothing\n"
    "and its error names the line.\n"
    "\n"
    "No command asks for confirmation: add over an existing value is refused\n"
    "without /f, delete without /f and export over an existing file without /y.\n"
    "Exit value 0 on success, 1 on any error (nothing is then written).\n";

const char kNotFound[] = "The system was unable to find the specified registry key or value.";
const char kDone[] = "The operation completed successfully.";

// Anything that ends the command with exit value 1; the text follows "ERROR: ".
struct CommandError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct KeyName {
    RegistryRoot root = RegistryRoot::LocalMachine;
    std::string path;

    std::string text() const {
        return path.empty() ? rootKeyName(root) : std::string(rootKeyName(root)) + "\\" + path;
    }
};

struct Command {
    std::string verb;
    KeyName key;
    std::string file;                     // export, import
    std::optional<std::string> valueName; // /v NAME or /ve ("")
    std::optional<std::string> typeName;
    std::optional<std::string> data;
    bool allValues = false;
    bool recursive = false;
    bool showSource = false;
    bool force = false;
    bool overwriteFile = false;
};

KeyName parseKey(const std::string& text) {
    if (text.compare(0, 2, "\\\\") == 0)
        throw CommandError("Remote registries are not supported: " + text);
    const std::size_t slash = text.find('\\');
    const std::string rootText = lowerCopy(text.substr(0, slash));
    static const std::map<std::string, RegistryRoot> abbreviations = {
        {"hklm", RegistryRoot::LocalMachine},
        {"hkcu", RegistryRoot::CurrentUser},
        {"hkcr", RegistryRoot::ClassesRoot},
        {"hku", RegistryRoot::Users},
        {"hkcc", RegistryRoot::CurrentConfig}};
    KeyName key;
    if (const auto found = abbreviations.find(rootText); found != abbreviations.end())
        key.root = found->second;
    else if (const std::optional<RegistryRoot> root = findRootKey(rootText))
        key.root = *root;
    else
        throw CommandError("Invalid key name: " + text);
    if (slash != std::string::npos)
        key.path = RegistryHive::normalizePath(text.substr(slash + 1));
    if (!RegistryHive::isStorableName(key.path))
        throw CommandError("Invalid key name: " + text);
    return key;
}

// "/v", "-ve": one or two letters, so that a path such as /tmp/out.reg is no switch; "/source"
// is the one longer switch.
bool isSwitch(const std::string& argument) {
    if (argument.size() == 7 && lowerCopy(argument.substr(1)) == "source")
        return argument[0] == '/' || argument[0] == '-';
    if (argument.size() < 2 || argument.size() > 3 || (argument[0] != '/' && argument[0] != '-'))
        return false;
    for (std::size_t i = 1; i < argument.size(); ++i) {
        const char lower = static_cast<char>(argument[i] | 0x20);
        if (lower < 'a' || lower > 'z')
            return false;
    }
    return true;
}

Command parseArguments(const std::vector<std::string>& arguments) {
    if (arguments.empty())
        throw CommandError("Missing command: query, add, delete, export or import.");
    Command command;
    command.verb = lowerCopy(arguments[0]);
    if (command.verb == "import") {
        if (arguments.size() != 2 || isSwitch(arguments[1]))
            throw CommandError("import needs one FILE and takes no switches.");
        command.file = arguments[1];
        return command;
    }
    const bool isExport = command.verb == "export";
    if (command.verb != "query" && command.verb != "add" && command.verb != "delete" && !isExport)
        throw CommandError("Unknown command: " + arguments[0]);
    std::vector<std::string> positional;
    std::map<std::string, int> seen;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        if (!isSwitch(argument)) {
            positional.push_back(argument);
            continue;
        }
        const std::string name = lowerCopy(argument.substr(1));
        if (++seen[name] > 1)
            throw CommandError("Switch given twice: " + argument);
        const auto takeValue = [&]() -> std::string {
            if (i + 1 >= arguments.size())
                throw CommandError("Switch " + argument + " needs a value.");
            return arguments[++i];
        };
        const bool query = command.verb == "query", add = command.verb == "add",
                   del = command.verb == "delete";
        if (name == "v" && !isExport)
            command.valueName = takeValue();
        else if (name == "ve" && !isExport)
            command.valueName = std::string();
        else if (name == "va" && del)
            command.allValues = true;
        else if (name == "s" && query)
            command.recursive = true;
        else if (name == "source" && query)
            command.showSource = true;
        else if (name == "t" && add)
            command.typeName = takeValue();
        else if (name == "d" && add)
            command.data = takeValue();
        else if (name == "f" && (add || del))
            command.force = true;
        else if (name == "y" && isExport)
            command.overwriteFile = true;
        else
            throw CommandError("Invalid switch for " + command.verb + ": " + argument);
    }
    const std::size_t wanted = isExport ? 2 : 1;
    if (positional.size() != wanted)
        throw CommandError(isExport ? "export needs a KEY and a FILE."
                                    : command.verb + " needs one KEY.");
    command.key = parseKey(positional[0]);
    if (isExport)
        command.file = positional[1];
    if ((seen.count("v") != 0) + (seen.count("ve") != 0) + command.allValues > 1)
        throw CommandError("Only one of /v, /ve and /va can be given.");
    if (command.recursive && command.valueName)
        throw CommandError("/s cannot be combined with /v or /ve.");
    if (command.valueName && !RegistryHive::isStorableName(*command.valueName))
        throw CommandError("Invalid value name.");
    if (!command.valueName && (command.typeName || command.data))
        throw CommandError("/t and /d need /v or /ve.");
    return command;
}

uint32_t parseDword(const std::string& text) {
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string digits = hex ? text.substr(2) : text;
    uint64_t number = 0;
    bool valid = !digits.empty() && digits.size() <= (hex ? 8u : 10u);
    for (char byte : digits) {
        const char lower = static_cast<char>(byte | 0x20);
        int digit = -1;
        if (byte >= '0' && byte <= '9')
            digit = byte - '0';
        else if (hex && lower >= 'a' && lower <= 'f')
            digit = lower - 'a' + 10;
        valid = valid && digit >= 0;
        number = number * (hex ? 16 : 10) + static_cast<uint64_t>(digit < 0 ? 0 : digit);
    }
    if (!valid || number > 0xffffffffu)
        throw CommandError("Invalid REG_DWORD data (decimal 0 to 4294967295, or 0x hex): " + text);
    return static_cast<uint32_t>(number);
}

// The bytes that reg.exe would store for /t and /d.
RegistryValue valueFromArguments(const Command& command) {
    const std::string type = lowerCopy(command.typeName.value_or("REG_SZ"));
    const std::string data = command.data.value_or("");
    RegistryValue value{*command.valueName, RegistryType::String, data};
    if (type == "reg_sz") {
        // As SystemInfo writes strings: no terminating zero byte.
    } else if (type == "reg_expand_sz") {
        value.type = RegistryType::ExpandString;
        value.data.push_back('\0');
    } else if (type == "reg_multi_sz") {
        value.type = RegistryType::MultiString;
        value.data.clear();
        for (std::size_t start = 0; start < data.size();) {
            std::size_t end = data.find("\\0", start);
            if (end == std::string::npos)
                end = data.size();
            value.data.append(data, start, end - start);
            value.data.push_back('\0');
            start = end + 2;
        }
        value.data.push_back('\0');
    } else if (type == "reg_dword") {
        if (!command.data)
            throw CommandError("REG_DWORD needs /d DATA.");
        value.type = RegistryType::Dword;
        value.data = dwordBytes(parseDword(data));
    } else {
        throw CommandError("Unsupported type: " + *command.typeName +
                           " (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ or REG_DWORD)");
    }
    return value;
}

// The data column of reg.exe's query output.
std::string dataText(const RegistryValue& value) {
    std::string text = value.data;
    char buffer[32];
    switch (value.type) {
    case RegistryType::String:
    case RegistryType::ExpandString:
        while (!text.empty() && text.back() == '\0')
            text.pop_back();
        return text;
    case RegistryType::MultiString:
        while (!text.empty() && text.back() == '\0')
            text.pop_back();
        for (std::size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at))
            text.replace(at, 1, "\\0");
        return text;
    case RegistryType::Dword:
    case RegistryType::Qword:
        if (text.size() == (value.type == RegistryType::Dword ? 4u : 8u)) {
            std::snprintf(buffer, sizeof buffer, "0x%llx",
                          static_cast<unsigned long long>(littleEndianNumber(text, 8)));
            return buffer;
        }
        break;
    default:
        break;
    }
    std::string hex;
    for (char byte : value.data) {
        std::snprintf(buffer, sizeof buffer, "%02X",
                      static_cast<unsigned>(static_cast<unsigned char>(byte)));
        hex += buffer;
    }
    return hex;
}

// With /source, `source` is "(machine)" or "(account)", after the data as a column of its own.
void printValue(std::ostream& out, const RegistryValue& value, const std::string& source) {
    out << "    " << (value.name.empty() ? "(Default)" : value.name) << "    "
        << registryTypeName(value.type) << "    " << dataText(value)
        << (source.empty() ? "" : "    " + source) << "\n";
}

using Loader = StoreResult (*)(RegistryRoot, RegistryHive&);

// By default what this account reads: its own store over the machine file.
RegistryHive loadHive(RegistryRoot root, Loader loader = &RegistryStore::load) {
    RegistryHive hive(root);
    const StoreResult result = loader(root, hive);
    if (!result.ok())
        throw CommandError(result.message);
    return hive;
}

// Prints a value of the key at `path` in the query's layout.
using ValuePrinter = std::function<void(const std::string& path, const RegistryValue& value)>;

ValuePrinter valuePrinter(const Command& command, std::ostream& out) {
    if (!command.showSource)
        return
            [&out](const std::string&, const RegistryValue& value) { printValue(out, value, ""); };
    return [&out, account = loadHive(command.key.root, &RegistryStore::loadAccount)](
               const std::string& path, const RegistryValue& value) {
        const bool own = account.findValue(path, value.name) != nullptr;
        printValue(out, value, own ? "(account)" : "(machine)");
    };
}

void update(RegistryRoot root, const std::function<bool(RegistryHive&)>& change) {
    const StoreResult result = RegistryStore::update(root, change);
    if (!result.ok())
        throw CommandError(result.message);
}

void printTree(std::ostream& out, const RegistryHive& hive, const KeyName& key,
               const ValuePrinter& print) {
    out << key.text() << "\n";
    for (const RegistryValue& value : hive.values(key.path))
        print(key.path, value);
    out << "\n";
    for (const std::string& name : hive.subKeys(key.path))
        printTree(out, hive, KeyName{key.root, key.path.empty() ? name : key.path + "\\" + name},
                  print);
}

void query(const Command& command, std::ostream& out) {
    const RegistryHive hive = loadHive(command.key.root);
    if (!hive.keyExists(command.key.path))
        throw CommandError(kNotFound);
    const ValuePrinter print = valuePrinter(command, out);
    if (command.valueName) {
        const RegistryValue* value = hive.findValue(command.key.path, *command.valueName);
        if (value == nullptr)
            throw CommandError(kNotFound);
        out << "\n" << command.key.text() << "\n";
        print(command.key.path, *value);
        out << "\n";
        return;
    }
    out << "\n";
    if (command.recursive) {
        printTree(out, hive, command.key, print);
        return;
    }
    out << command.key.text() << "\n";
    for (const RegistryValue& value : hive.values(command.key.path))
        print(command.key.path, value);
    const std::vector<std::string> subKeys = hive.subKeys(command.key.path);
    out << "\n";
    for (const std::string& name : subKeys)
        out << KeyName{command.key.root,
                       command.key.path.empty() ? name : command.key.path + "\\" + name}
                   .text()
            << "\n";
    if (!subKeys.empty())
        out << "\n";
}

void add(const Command& command, std::ostream& out) {
    const std::optional<RegistryValue> value =
        command.valueName ? std::optional<RegistryValue>(valueFromArguments(command))
                          : std::nullopt;
    // An account that writes its own store sees the machine's values too: one of them exists.
    const bool inMachine = value && !command.force && !RegistryStore::writesMachineFiles() &&
                           loadHive(command.key.root, &RegistryStore::loadMachine)
                                   .findValue(command.key.path, value->name) != nullptr;
    bool refused = false;
    // The check and the write share one lock, so another writer cannot slip in between.
    update(command.key.root, [&](RegistryHive& hive) {
        if (!value)
            return hive.createKey(command.key.path);
        if (!command.force &&
            (inMachine || hive.findValue(command.key.path, value->name) != nullptr)) {
            refused = true;
            return false;
        }
        return hive.setValue(command.key.path, *value);
    });
    if (refused)
        throw CommandError("The value " + (value->name.empty() ? "(Default)" : value->name) +
                           " already exists in " + command.key.text() + "; /f overwrites it.");
    out << kDone << "\n";
}

// What a deletion names: a key with everything below it, one value, or (/va) every value.
struct Deletion {
    KeyName key;
    std::optional<std::string> valueName;
    bool allValues = false;
};

// Whether what `deletion` names is in the machine file while this account writes its own store,
// from which alone it can delete.
bool onlyMachineCanDelete(const Deletion& deletion) {
    if (RegistryStore::writesMachineFiles())
        return false;
    const RegistryHive machine = loadHive(deletion.key.root, &RegistryStore::loadMachine);
    if (!machine.keyExists(deletion.key.path))
        return false;
    if (deletion.valueName)
        return machine.findValue(deletion.key.path, *deletion.valueName) != nullptr;
    return !deletion.allValues || !machine.values(deletion.key.path).empty();
}

std::string machineOnlyText(const Deletion& deletion) {
    const std::string what =
        deletion.valueName
            ? "The value " + (deletion.valueName->empty() ? "(Default)" : *deletion.valueName) +
                  " of " + deletion.key.text() + " is a machine value"
        : deletion.allValues ? "The values of " + deletion.key.text() + " are machine values"
                             : "The key " + deletion.key.text() + " is a machine key";
    return what + ", which this account cannot delete: its changes go to its own store " +
           RegistryStore::accountHivePath(deletion.key.root) + ".";
}

void remove(const Command& command, std::ostream& out) {
    if (!command.force)
        throw CommandError("delete needs /f: kalvor-reg does not ask for confirmation.");
    if (command.key.path.empty() && !command.valueName && !command.allValues)
        throw CommandError("A root key cannot be deleted.");
    bool found = true;
    update(command.key.root, [&](RegistryHive& hive) {
        found = hive.keyExists(command.key.path);
        if (!found)
            return false;
        if (command.valueName) {
            found = hive.deleteValue(command.key.path, *command.valueName);
            return found;
        }
        if (!command.allValues)
            return hive.deleteKey(command.key.path);
        bool changed = false;
        for (const RegistryValue& value : hive.values(command.key.path))
            changed = hive.deleteValue(command.key.path, value.name) || changed;
        return changed;
    });
    const Deletion deletion{command.key, command.valueName, command.allValues};
    if (!found)
        throw CommandError(onlyMachineCanDelete(deletion) ? machineOnlyText(deletion) : kNotFound);
    out << kDone << "\n";
}

void exportKey(const Command& command, std::ostream& out) {
    const RegistryHive hive = loadHive(command.key.root);
    if (!hive.keyExists(command.key.path))
        throw CommandError(kNotFound);
    struct stat existing = {};
    if (!command.overwriteFile && ::stat(command.file.c_str(), &existing) == 0)
        throw CommandError("The file " + command.file + " exists; /y overwrites it.");
    std::ofstream file(command.file, std::ios::binary | std::ios::trunc);
    file << hive.exportText(command.key.path);
    file.close();
    if (!file)
        throw CommandError("Cannot write " + command.file);
    out << kDone << "\n";
}

// Empty when this account may make the import's deletions that found nothing in the store it
// writes: nothing is there to delete, as regedit takes it. Otherwise the machine file holds it.
std::string importRefusal(const ImportOutcome& outcome) {
    for (const ImportStep& step : outcome.missed) {
        const Deletion deletion{KeyName{step.root, step.path},
                                step.kind == ImportStep::Kind::DeleteValue
                                    ? std::optional<std::string>(step.value.name)
                                    : std::nullopt};
        if (onlyMachineCanDelete(deletion))
            return machineOnlyText(deletion);
    }
    return "";
}

// One locked rewrite for each root key the file names. Every root's store is tried on a copy
// first, so that a store that cannot be read or a deletion that is refused leaves every store
// as it was.
void importFile(const Command& command, std::ostream& out) {
    std::string text;
    const StoreResult read = RegistryStore::readText(command.file, text);
    if (!read.ok())
        throw CommandError(read.message);
    std::vector<ImportStep> steps;
    std::string error;
    if (!parseImportText(text, steps, error))
        throw CommandError(command.file + ": " + error + "; nothing was imported.");
    const std::vector<RegistryRoot> roots = importRoots(steps);
    const Loader written = RegistryStore::writesMachineFiles() ? &RegistryStore::loadMachine
                                                               : &RegistryStore::loadAccount;
    for (RegistryRoot root : roots) {
        RegistryHive trial = loadHive(root, written);
        const std::string refusal = importRefusal(applyImport(steps, trial));
        if (!refusal.empty())
            throw CommandError(refusal);
    }
    for (RegistryRoot root : roots) {
        std::string refusal;
        update(root, [&](RegistryHive& hive) {
            const ImportOutcome outcome = applyImport(steps, hive);
            refusal = importRefusal(outcome);
            return refusal.empty() && outcome.changed;
        });
        if (!refusal.empty())
            throw CommandError(refusal);
    }
    out << kDone << "\n";
}

} // namespace

int runRegCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err) {
    if (arguments.size() == 1 && (arguments[0] == "--help" || arguments[0] == "-h" ||
                                  arguments[0] == "/?" || arguments[0] == "help")) {
        out << kUsage;
        return 0;
    }
    try {
        const Command command = parseArguments(arguments);
        if (command.verb == "query")
            query(command, out);
        else if (command.verb == "add")
            add(command, out);
        else if (command.verb == "delete")
            remove(command, out);
        else if (command.verb == "import")
            importFile(command, out);
        else
            exportKey(command, out);
        return 0;
    } catch (const CommandError& error) {
        err << "ERROR: " << error.what() << "\n";
        if (arguments.empty())
            err << kUsage;
        return 1;
    }
}

} // namespace Kalvor
