#pragma once

// Activation of an application by name, "X.app": X is the last part of a
// desktop entry ID in the XDG application folders ("org.tarvendesk.X"), and
// that ID is also the program's name on the session bus. A running program is
// asked to come forward (org.freedesktop.Application.Activate); one that is
// not running is started.

#include "platform/DesktopEntry.h"

#include <QString>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace ApplicationActivation {

// $XDG_DATA_HOME/applications, then each of $XDG_DATA_DIRS, most important
// first, then share/applications of each bundle in the system applications
// folder (/opt/*.app), by name.
QStringList applicationFolders();

// The entry the name stands for: of the IDs that are X or end in ".X", the
// first in the folders' order (and by ID within a folder) whose entry is an
// application and not hidden. An ID that a more important folder hides is
// hidden everywhere.
std::optional<DesktopEntry> desktopEntryForApplicationName(const QString& applicationName);

// The activated entry's ID, or a null QVariant with the description set when
// the name cannot be found or the program neither comes forward nor starts.
// Returns once the program has answered; until then the caller handles
// calls from the bus but no user input.
QVariant activateApplication(const QString& applicationName, QString* errorDescription);

} // namespace ApplicationActivation
