#pragma once

// Activation of an application by name, "X.app": X names the suite's desktop
// entry "org.tarvendesk.X" in the XDG application folders, and that ID is also
// the program's name on the session bus. A running program is asked to come
// forward (org.freedesktop.Application.Activate); one that is not running is
// started by the bus, or from its entry's command when the bus cannot start it.

#include "platform/DesktopEntry.h"
#include "platform/Error.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace ApplicationActivation {

inline const QString ErrorDomain = QStringLiteral("ApplicationActivationErrorDomain");
enum : qint64
{
    NotFound = 1,
    NotActivated,
    CannotStart
};

// $XDG_DATA_HOME/applications, then each of $XDG_DATA_DIRS, most important
// first, then share/applications of each bundle in the system applications
// folder (/opt/*.app), by name.
QStringList applicationFolders();

// The entry "org.tarvendesk.X.desktop" that counts, the one in the most
// important folder holding that file; nothing when that one is hidden or no
// application.
std::optional<DesktopEntry> desktopEntryForApplicationName(const QString& applicationName);

// The activated entry's ID, or a null ID with the error.
using Completion = std::function<void(const QString& entryId, const Error& error)>;

// Never waits: done runs once, later, from the event loop, when the program
// has answered, been started, or failed to.
void activateApplication(const QString& applicationName, Completion done = {});

} // namespace ApplicationActivation
