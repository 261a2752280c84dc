#pragma once

// The status menu from the program's interface resource, its entries wired
// to the delegate's actions and its outlets filled in, as the program's start
// builds it (and the tests too).

#include "platform/ApplicationMain.h"

class AppDelegate;
class QMenu;

QMenu* loadStatusMenu(InterfaceObjects& interface, AppDelegate& delegate);
