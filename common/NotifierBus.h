#pragma once

// The running notifier's own interface on the session bus, under its bundle
// identifier: the last check's counts and time, whether a user is signed in,
// whether its tray item is up, and a check on demand. The other programs reach
// the notifier's state only through it.

#include <QString>

inline const QString NotifierObjectPath = QStringLiteral("/org/tarvendesk/Notifier");
inline const QString NotifierInterfaceName = QStringLiteral("org.tarvendesk.Notifier");

namespace NotifierBus {

// Asks the notifier for a check now, without waiting; the bus starts it when
// it is not running. A failure is logged.
void checkNow();

} // namespace NotifierBus
