#pragma once

// The file manager's "duplicate item to folder": a copy of a file or a whole
// folder tree of files and folders, with its permissions and times, under the
// item's own name in the folder. The copy is made under a hidden name and put
// in place at once, replacing an earlier item of that name in the same step,
// so the folder never holds half a copy. Nothing on the item's path is
// followed if it is a symbolic link.

#include "platform/Error.h"

#include <QString>

namespace FileDuplication {

// Its codes are errno values.
inline const QString ErrorDomain = QStringLiteral("FileDuplicationErrorDomain");

enum class Copy
{
    // With the item's own permissions.
    AsItIs,
    // Into a system folder, as root, for every user of the machine. Taken
    // only from a source whoever may change is root alone: the item's folder
    // and the item belong to root and are writable by root alone, and so does
    // everything in the item; the copy is root's, with no write permission
    // for group or others and no sticky bit, whatever the item had.
    ForAllUsers,
};

// The path of the copy, or a null string with the error set when the
// folder or the item is missing, the item holds anything but files and
// folders, the source is not one the copy may be taken from, or the copy
// fails (nothing is left behind then, and an earlier item of that name is as
// it was).
QString duplicateItem(
    const QString& itemPath, const QString& folderPath, Error* error, Copy copy = Copy::AsItIs);

} // namespace FileDuplication
