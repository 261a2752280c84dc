#include "common/ProcessHelpers.h"
#include "installer/AppDelegate.h"
#include "installer/InstallerWindow.h"
#include "platform/AlertPresenter.h"
#include "platform/ApplicationMain.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    const ApplicationIdentity identity { InstallerBundleIdentifier, QStringLiteral("installer"),
        QStringLiteral("tarvenDESK Installer"),
        QCoreApplication::translate("main",
            "Installs the suite for every user of this computer and starts its notifier.") };
    return applicationMain(argc, argv, identity, [](InterfaceObjects& interface) {
        AlertPresenter* alertPresenter = interface.keep(std::make_unique<AlertPresenter>());
        InstallerWindow* window = interface.keep(std::make_unique<InstallerWindow>());
        window->show();
        return std::make_unique<AppDelegate>(*window, *alertPresenter);
    });
}
