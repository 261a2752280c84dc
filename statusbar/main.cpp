#include "common/ProcessHelpers.h"
#include "common/SeverityCountRequest.h"
#include "platform/ApplicationMain.h"
#include "statusbar/AppDelegate.h"
#include "statusbar/StatusMenu.h"

int main(int argc, char** argv)
{
    const ApplicationIdentity identity { StatusBarBundleIdentifier,
        QStringLiteral("tarvenDESKStatusBar"), QStringLiteral("tarvenDESK") };
    return applicationMain(argc, argv, identity, [](InterfaceObjects& interface) {
        trustSeverityCountService();
        auto delegate = std::make_unique<AppDelegate>();
        loadStatusMenu(interface, *delegate);
        return delegate;
    });
}
