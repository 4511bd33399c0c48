// Helper of the registry tests across accounts: RegistryReader SUBKEY NAME... prints a line
// "NAME merged=R:V machine=R:V" for each DWORD value NAME under SUBKEY, with the result codes of
// SystemInfo::readInteger and readMachineInteger and the number read ("-" for none). A fault
// goes to the standard error.
#include "Common/SystemInfo.h"

#include <cstdio>
#include <string>

namespace {

using Reader = int32_t (*)(const std::string&, const std::string&, int32_t&, std::string*);

std::string readText(Reader read, const std::string& subKey, const std::string& name) {
    int32_t value = 0;
    std::string fault;
    const int32_t result = read(subKey, name, value, &fault);
    if (!fault.empty())
        std::fprintf(stderr, "%s\n", fault.c_str());
    return std::to_string(result) + ":" + (result == Kalvor::SI_OK ? std::to_string(value) : "-");
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: RegistryReader SUBKEY NAME...\n");
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        const std::string merged = readText(&Kalvor::SystemInfo::readInteger, argv[1], argv[i]);
        const std::string machine =
            readText(&Kalvor::SystemInfo::readMachineInteger, argv[1], argv[i]);
        std::printf("%s merged=%s machine=%s\n", argv[i], merged.c_str(), machine.c_str());
    }
    return 0;
}
