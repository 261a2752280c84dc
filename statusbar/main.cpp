#include "common/ProcessHelpers.h"
#include "common/ServiceConfiguration.h"
#include "platform/AlertPresenter.h"
#include "platform/ApplicationMain.h"
#include "platform/NetworkReachability.h"
#include "platform/NetworkTrust.h"
#include "platform/UserNotificationCenter.h"
#include "statusbar/AppDelegate.h"
#include "statusbar/NotifierInterface.h"
#include "statusbar/StatusMenu.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>

int main(int argc, char** argv)
{
    ApplicationIdentity identity { StatusBarBundleIdentifier, QStringLiteral("tarvenDESKStatusBar"),
        QStringLiteral("tarvenDESK"),
        QCoreApplication::translate("main",
            "Checks the document service on your schedule and notifies you of the counts.") };
    identity.readsKeyringAtStart = true;
    return applicationMain(argc, argv, identity, [](InterfaceObjects& interface) {
        const ServiceConfiguration service = readServiceConfiguration();
        NetworkTrust::addTrustedCertificates(service.certificates);
        AlertPresenter* alertPresenter = interface.keep(std::make_unique<AlertPresenter>());
        QNetworkAccessManager* network = interface.keep(std::make_unique<QNetworkAccessManager>());
        NetworkReachability* reachability
            = interface.keep(NetworkReachability::systemReachability());
        StatusMenu* statusMenu = interface.keep(std::make_unique<StatusMenu>());
        UserNotificationCenter* center = UserNotificationCenter::defaultUserNotificationCenter();
        auto delegate = std::make_unique<AppDelegate>(
            *statusMenu, *alertPresenter, *network, *center, *reachability, service.url);
        // On the bus before the name is taken, as the application's own object.
        auto* notifier = new NotifierInterface(
            *delegate, *statusMenu, *center, std::chrono::seconds(10), delegate.get());
        notifier->exportOn(QDBusConnection::sessionBus());
        return delegate;
    });
}
