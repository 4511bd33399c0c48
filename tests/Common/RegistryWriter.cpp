// Helper of the registry load test: RegistryWriter SUBKEY PREFIX COUNT writes the DWORD values
// PREFIX0 .. PREFIX<COUNT-1> (value i is i) under SUBKEY, one write each; exit 1 at the first
// write that fails.
#include "Common/SystemInfo.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: RegistryWriter SUBKEY PREFIX COUNT\n");
        return 2;
    }
    const int count = std::atoi(argv[3]);
    for (int i = 0; i < count; ++i) {
        if (Kalvor::SystemInfo::writeValue(argv[1], argv[2] + std::to_string(i), i) !=
            Kalvor::SI_OK) {
            std::fprintf(stderr, "RegistryWriter: write %d failed\n", i);
            return 1;
        }
    }
    return 0;
}
