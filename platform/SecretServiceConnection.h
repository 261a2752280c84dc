#pragma once

// The process's one connection to the desktop's Secret Service, which every
// store call shares. Making it (a bus connection of its own, the service's
// properties, an encrypted session) is most of the cost of a program's first
// read, and the daemon may be slow to answer just after login.

namespace SecretServiceConnection {

// Makes the connection on the store's worker and returns at once, so that the first
// store call finds it made. A service that is absent or refuses is left for
// that call to report.
void openInBackground();

} // namespace SecretServiceConnection
