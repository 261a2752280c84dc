#pragma once

// Stops and starts the tests' gnome-keyring-daemon as the test session does,
// so that a test can take the Secret Service away from a running program and
// bring it back, unlocked, with the same keyring on disk.

#include <QString>

namespace KeyringDaemon {

bool isRunning();
// Ends the daemon that owns the Secret Service name and waits for the name to go.
bool stop(QString* why = nullptr);
// Starts one with the test keyring's password on its standard input and waits
// until the name is owned again.
bool start(QString* why = nullptr);
// How many items, locked or not, the daemon holds under this account and
// service; -1 when it cannot be asked. Plain calls, no introspection, so that
// nothing of QtDBus's interface cache is left at exit under LeakSanitizer.
int itemCount(const QString& account, const QString& service);

} // namespace KeyringDaemon
