#pragma once

// The running application's few operations the programs call directly.

#include <QIcon>
#include <QObject>
#include <functional>

namespace Application {

void setApplicationIconImage(const QIcon& image);

// Raises the program's visible windows, unminimised, and asks the window
// manager to activate the active or first one.
void activateIgnoringOtherApps(bool flag);

// Ends the program through the normal path: the delegate hears
// applicationWillTerminate once the event loop has stopped.
void terminate(QObject* sender);

// Tests record terminations instead; an empty handler restores the real one.
void setTerminateHandler(std::function<void(QObject* sender)> handler);

} // namespace Application
