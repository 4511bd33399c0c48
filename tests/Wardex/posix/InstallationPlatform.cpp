#include "Installation.h"

#include "JobInstance/ProcessInstance.h"

namespace Kalvor::Test {

std::string demoFileName(const std::string& name) {
    return name;
}

// Through the operators' tool, as an operator would delete it.
void deleteRegistryValue(const std::string& key, const std::string& name) {
    ProcessInstance tool(helperProgramPath("kalvor-reg"),
                         "delete \"HKLM\\" + key + "\" /v \"" + name + "\" /f");
    tool.execute();
    waitFor([&] { return tool.status() != JobRunning; });
}

} // namespace Kalvor::Test
