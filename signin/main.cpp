// The sign-in program TarvenDESK.

#include "common/ProcessHelpers.h"
#include "common/SeverityCountRequest.h"
#include "platform/AlertPresenter.h"
#include "platform/ApplicationMain.h"
#include "signin/AppDelegate.h"
#include "signin/SignInWindow.h"

#include <QNetworkAccessManager>

int main(int argc, char** argv)
{
    const ApplicationIdentity identity { SignInBundleIdentifier, QStringLiteral("TarvenDESK"),
        QStringLiteral("tarvenDESK") };
    return applicationMain(argc, argv, identity, [](InterfaceObjects& interface) {
        trustSeverityCountService();
        QWidget* window = interface.keep(SignInWindow::load());
        AlertPresenter* alertPresenter = interface.keep(std::make_unique<AlertPresenter>());
        QNetworkAccessManager* network = interface.keep(std::make_unique<QNetworkAccessManager>());
        auto delegate
            = std::make_unique<AppDelegate>(*window, *alertPresenter, *network, SeverityCountURL());
        window->show();
        return delegate;
    });
}
