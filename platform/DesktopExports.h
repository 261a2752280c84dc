#pragma once

// What a desktop reads of a bundle copied into the system applications
// folder: its menu entries, D-Bus services and icons, linked into the
// system's data folder, where the desktop and the session bus look for them.
// Links rather than copies, so that a later copy of the bundle, which
// replaces it in one step, is what they lead to at once.

#include "platform/Error.h"

#include <QString>

namespace DesktopExports {

// Its codes are errno values.
inline const QString ErrorDomain = QStringLiteral("DesktopExportsErrorDomain");

// The local administrator's data folder, the first of XDG_DATA_DIRS' default
// and so of the session bus's service folders; /usr/share is the
// distribution's.
inline const QString SystemDataFolder = QStringLiteral("/usr/local/share");

// Links each of the suite's own menu entries, bus services and icons the
// bundle holds under share/ to the same place under dataFolder, making the
// folders on the way and replacing an earlier link into the bundle in one
// step; anything else of that name there is left, and is a failure. False
// with the error set when one can't be linked; those linked before stay.
bool exportBundle(const QString& bundlePath, const QString& dataFolder, Error* error);

} // namespace DesktopExports
