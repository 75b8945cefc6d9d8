#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace vlm {

// The seven file names the earlier installation left in each of its folders.
inline constexpr std::array<std::string_view, 7> LegacyFileNames { "tirvo0.wav", "tirvo1.wav", "tirvo2.wav",
    "tirvo3.wav", "sarevin.txt", "sarevinU.txt", "vlm.cfg" };

// The folders of the earlier installation layout, in the order they are cleaned.
std::vector<std::string> DefaultLegacyFolders();

// Every leftover path: each folder joined with each legacy file name, folder by folder in table order.
std::vector<std::string> LegacyFiles(const std::vector<std::string>& folders = DefaultLegacyFolders());

// Deletes the files and symbolic links (never a link's target) found at LegacyFiles(folders); a folder or
// anything else there, and any deletion that fails, is left alone without a word.
void DeleteLegacyFiles(const std::vector<std::string>& folders = DefaultLegacyFolders());

} // namespace vlm
