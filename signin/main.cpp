// The sign-in program TarvenDESK.

#include "common/ProcessHelpers.h"
#include "common/ServiceConfiguration.h"
#include "platform/AlertPresenter.h"
#include "platform/ApplicationMain.h"
#include "platform/NetworkTrust.h"
#include "signin/AppDelegate.h"
#include "signin/NotifierStatus.h"
#include "signin/SignInWindow.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>

int main(int argc, char** argv)
{
    ApplicationIdentity identity { SignInBundleIdentifier, QStringLiteral("TarvenDESK"),
        QStringLiteral("tarvenDESK"),
        QCoreApplication::translate("main",
            "Signs you in to the document service and sets how often the notifier checks.") };
    identity.takesActions = true;
    // The keyring's connection is not made beside the window: its key
    // exchange would compete with the window for the processor, and the
    // window shows a neutral view until the record has been read anyway.
    return applicationMain(argc, argv, identity, [](InterfaceObjects& interface) {
        // Shown first: the display maps it while the rest is built.
        SignInWindow* window = interface.keep(std::make_unique<SignInWindow>());
        window->show();
        const ServiceConfiguration service = readServiceConfiguration();
        NetworkTrust::addTrustedCertificates(service.certificates);
        AlertPresenter* alertPresenter = interface.keep(std::make_unique<AlertPresenter>());
        QNetworkAccessManager* network = interface.keep(std::make_unique<QNetworkAccessManager>());
        auto delegate
            = std::make_unique<AppDelegate>(*window, *alertPresenter, *network, service.url);
        interface.keep(std::make_unique<NotifierStatus>(*window));
        return delegate;
    });
}
