#include "common/ProcessHelpers.h"
#include "installer/InstallerInterface.h"
#include "platform/AlertPresenter.h"

int main(int argc, char** argv)
{
    const ApplicationIdentity identity { InstallerBundleIdentifier, QStringLiteral("installer"),
        QStringLiteral("tarvenDESK Installer") };
    return applicationMain(argc, argv, identity, [](InterfaceObjects& interface) {
        AlertPresenter* alertPresenter = interface.keep(std::make_unique<AlertPresenter>());
        return buildInstallerInterface(interface, *alertPresenter);
    });
}
