#include "common/ProcessHelpers.h"
#include "installer/InstallerInterface.h"
#include "platform/AlertPresenter.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    const ApplicationIdentity identity { InstallerBundleIdentifier, QStringLiteral("installer"),
        QStringLiteral("tarvenDESK Installer"),
        QCoreApplication::translate(
            "main", "Installs the suite for every user of this computer and starts its notifier.") };
    return applicationMain(argc, argv, identity, [](InterfaceObjects& interface) {
        AlertPresenter* alertPresenter = interface.keep(std::make_unique<AlertPresenter>());
        return buildInstallerInterface(interface, *alertPresenter);
    });
}
