#pragma once

// The programs a test has the private session bus start, and ends again:
// they outlive the test unless stopped.

#include <QString>

namespace BusPrograms {

// The bus starts programs with its own environment, which has no display:
// they get the offscreen one.
bool useOffscreenDisplay();

bool isNameOwned(const QString& name);

// Signals the program holding the name, if any, and waits until the name is free.
bool endProgramHolding(const QString& name, int signalNumber = 15);

} // namespace BusPrograms
