#pragma once

// The file manager's "duplicate item to folder": a copy of a file, a symbolic
// link or a whole folder tree, with its permissions and times, under the
// item's own name in the folder. The copy is made under a hidden name and put
// in place at once, so the folder never holds half a copy.

#include <QString>

namespace FileDuplication {

// The path of the copy, or a null string with the description set when the
// folder or the item is missing, an item of that name is already in the
// folder, or the copy fails (nothing is left behind then).
QString duplicateItem(
    const QString& itemPath, const QString& folderPath, QString* errorDescription);

} // namespace FileDuplication
