#include "common/ProcessHelpers.h"
#include "common/ServiceConfiguration.h"
#include "platform/ApplicationMain.h"
#include "platform/NetworkTrust.h"
#include "statusbar/AppDelegate.h"
#include "statusbar/StatusMenu.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    ApplicationIdentity identity { StatusBarBundleIdentifier,
        QStringLiteral("tarvenDESKStatusBar"), QStringLiteral("tarvenDESK"),
        QCoreApplication::translate("main",
            "Checks the document service on your schedule and notifies you of the counts.") };
    identity.readsKeyringAtStart = true;
    return applicationMain(argc, argv, identity, [](InterfaceObjects& interface) {
        const ServiceConfiguration service = readServiceConfiguration();
        NetworkTrust::addTrustedCertificates(service.certificates);
        AppDelegate::Collaborators collaborators;
        collaborators.serviceURL = service.url;
        auto delegate = std::make_unique<AppDelegate>(collaborators);
        loadStatusMenu(interface, *delegate);
        return delegate;
    });
}
