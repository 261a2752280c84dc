#pragma once

// The installer's interface from its resource: the window, its button, and
// the delegate with the button as its outlet and onInstall as its action.

#include "installer/AppDelegate.h"
#include "platform/ApplicationMain.h"

#include <memory>

class AlertPresenter;

std::unique_ptr<AppDelegate> buildInstallerInterface(InterfaceObjects& interface,
    AlertPresenter& alertPresenter, const Bundle& bundle = Bundle::mainBundle());
