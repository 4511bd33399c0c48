#include "Common/UserFolders.h"

#include <filesystem>

namespace Kalvor {

std::string installedDataFolder() {
    const std::filesystem::path data =
        std::filesystem::path(programFolder()).parent_path() / "share" / "kalvor" / "";
    return data.lexically_normal().string();
}

} // namespace Kalvor
