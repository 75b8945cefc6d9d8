#include "core/legacy_cleanup.h"

#include "core/system.h"

namespace vlm {

std::vector<std::string> DefaultLegacyFolders()
{
#ifdef _WIN32
    return { "D:\\Program Files\\VLM", "C:\\Program Files\\VLM" };
#else
    return { "/opt/VLM", "/usr/local/VLM" };
#endif
}

std::vector<std::string> LegacyFiles(const std::vector<std::string>& folders)
{
    std::vector<std::string> paths;
    for (const std::string& folder : folders)
        for (const std::string_view name : LegacyFileNames)
            paths.push_back(folder + sys::kPathSeparator + std::string(name));
    return paths;
}

void DeleteLegacyFiles(const std::vector<std::string>& folders)
{
    for (const std::string& path : LegacyFiles(folders))
        sys::DeleteFileOrLink(path);
}

} // namespace vlm
