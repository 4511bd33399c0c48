// libFuzzer target: any bytes as a configuration file, read by ConfReader and queried by every
// typed lookup on every key the tree holds. Traps when an answer breaks its contract.
#include "Common/Exception.h"
#include "Config/ConfNode.h"
#include "Config/ConfParser.h"
#include "Config/ConfReader.h"
#include "Logger/LogState.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string filePath;

void collectKeys(const Kalvor::ConfNode& node, const std::string& prefix,
                 std::vector<std::string>& keys) {
    for (std::size_t i = 0; i < node.childCount() && keys.size() < 200; ++i) {
        const std::string key = prefix + node.child(i).name();
        keys.push_back(key);
        collectKeys(node.child(i), key + ".", keys);
    }
}

void check(bool condition) {
    if (!condition)
        __builtin_trap();
}

} // namespace

// Every input is written to one file: in memory (/dev/shm) where there is one, since rewriting a
// file on disk costs far more than reading it.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    const char* folder = ::access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::getenv("TMPDIR");
    filePath = std::string(folder ? folder : "/tmp") + "/kalvor-conf-fuzz-" +
               std::to_string(::getpid()) + ".conf";
    std::atexit([] { std::remove(filePath.c_str()); });
    Kalvor::LogState::setDebugLevel(0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace Kalvor;
    const std::string text(reinterpret_cast<const char*>(data), size);

    ConfNode root("Root");
    ConfParser parser(text);
    try {
        parser.parse(root);
    } catch (const ConfigException& error) {
        check(error.code() == CF_CONF && parser.line() >= 1);
    }

    if (FILE* file = std::fopen(filePath.c_str(), "wb")) {
        std::fwrite(text.data(), 1, text.size(), file);
        std::fclose(file);
    }
    ConfReader reader(nullptr);
    reader.buildDOM(filePath);

    std::vector<std::string> keys;
    collectKeys(root, "", keys);
    // Not every key names its node: a later sibling of a repeated name, or a name holding a dot,
    // cannot be reached.
    for (const std::string& key : keys) {
        std::string value = "<untouched>";
        const int32_t code = reader.getString(key, value, true, true);
        check(code >= CONF_FOUND && code <= CONF_ENDLESS_EXPANSION);
        check(code == CONF_FOUND || value == "<untouched>");
        std::string dir;
        if (reader.getDirName(key, dir) == CONF_FOUND && !dir.empty())
            check(dir.back() == '/' || dir.back() == '\\');
        std::string file;
        reader.getRaw(key, "FileName", file);
        int32_t number = 0;
        reader.getInteger(key, number);
        bool flag = false;
        reader.getBool(key, flag);
        DurationRecord duration;
        reader.getTimeSpan(key, duration);
        std::vector<std::string> names;
        const int32_t listed = reader.getSubObjects(key, names);
        check(listed == (reader.findNode(key) ? CONF_FOUND : CONF_MISSING));
    }
    return 0;
}
