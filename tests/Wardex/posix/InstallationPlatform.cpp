#include "Installation.h"

namespace Kalvor::Test {

std::string demoFileName(const std::string& name) {
    return name;
}

// Through the operators' tool, as an operator would delete it.
void deleteRegistryValue(const std::string& key, const std::string& name) {
    ChildProcess tool(helperProgramPath("kalvor-reg"),
                      {"delete", "HKLM\\" + key, "/v", name, "/f"});
    tool.waitForExit();
}

} // namespace Kalvor::Test
