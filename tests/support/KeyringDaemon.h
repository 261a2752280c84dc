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

} // namespace KeyringDaemon
