#pragma once

#include <QStringList>

namespace vlm {

// The folders of the earlier installation layout, in the order they are cleaned.
QStringList DefaultLegacyRoots();

// The seven file names the earlier installation left in each of its folders.
QStringList LegacyFileNames();

// Every leftover path: each root joined with each legacy file name, root by root in table order.
QStringList LegacyFiles(const QStringList& roots = DefaultLegacyRoots());

// Deletes the regular files and symbolic links (never a link's target) found at LegacyFiles(roots); anything else
// there, and any deletion that fails, is left alone without a word.
void DeleteLegacyFiles(const QStringList& roots = DefaultLegacyRoots());

} // namespace vlm
