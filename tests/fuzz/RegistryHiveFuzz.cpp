// libFuzzer target: any bytes as a REGEDIT4 hive. A refused text names its line and leaves the
// hive empty; an accepted one is written as a text that reads back to the same hive, and every
// key it holds answers the lookups. Traps when an answer breaks its contract.
#include "Common/posix/RegistryHive.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Kalvor::RegistryHive;
using Kalvor::RegistryRoot;
using Kalvor::RegistryValue;

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

// Bounded: every lookup scans the whole hive, and a deep chain of keys is cheap to write.
void collectKeys(const RegistryHive& hive, const std::string& path,
                 std::vector<std::string>& keys) {
    for (const std::string& name : hive.subKeys(path)) {
        if (keys.size() >= 200)
            return;
        check(!name.empty() && name.find('\\') == std::string::npos);
        const std::string key = path.empty() ? name : path + "\\" + name;
        keys.push_back(key);
        collectKeys(hive, key, keys);
    }
}

std::string upperCopy(std::string text) {
    for (char& byte : text) {
        if (byte >= 'a' && byte <= 'z')
            byte = static_cast<char>(byte - 32);
    }
    return text;
}

// "line N: why", N counting from 1 and not past the last line of the text.
void checkError(const std::string& error, std::string_view text) {
    check(error.compare(0, 5, "line ") == 0);
    std::size_t at = 5;
    std::size_t line = 0;
    for (; at < error.size() && error[at] >= '0' && error[at] <= '9' && line < 1000000; ++at)
        line = line * 10 + static_cast<std::size_t>(error[at] - '0');
    check(at > 5 && error.compare(at, 2, ": ") == 0 && error.size() > at + 2);
    const auto lines = static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n')) + 1;
    check(line >= 1 && line <= lines);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::string emptyText = RegistryHive(RegistryRoot::LocalMachine).text();

    RegistryHive hive(RegistryRoot::LocalMachine);
    std::string error;
    if (!hive.parse(text, error)) {
        checkError(error, text);
        check(hive.text() == emptyText && hive.subKeys("").empty() && hive.values("").empty());
        return 0;
    }

    const std::string written = hive.text();
    RegistryHive again(RegistryRoot::LocalMachine);
    std::string againError = "<untouched>";
    check(again.parse(written, againError) && again.text() == written);
    check(hive.exportText("") == written);

    std::vector<std::string> keys{""};
    collectKeys(hive, "", keys);
    std::vector<std::string> againKeys{""};
    collectKeys(again, "", againKeys);
    check(keys == againKeys);

    for (const std::string& key : keys) {
        check(hive.keyExists(key) && hive.keyExists("\\" + upperCopy(key) + "\\"));
        const std::vector<RegistryValue> values = hive.values(key);
        check(again.values(key) == values);
        for (const RegistryValue& value : values) {
            const RegistryValue* found = hive.findValue(key, value.name);
            check(found != nullptr && *found == value);
            check(hive.findValue(upperCopy(key), upperCopy(value.name)) == found);
        }
        const std::vector<std::string> below = hive.subKeys(key);
        for (std::size_t i = 0; i < below.size(); ++i) {
            for (std::size_t j = 0; j < i; ++j)
                check(upperCopy(below[i]) != upperCopy(below[j]));
        }
    }
    return 0;
}
