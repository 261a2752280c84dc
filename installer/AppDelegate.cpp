#include "installer/AppDelegate.h"

#include "common/ProcessHelpers.h"
#include "installer/InstallerWindow.h"
#include "platform/Alert.h"
#include "platform/AlertPresenter.h"
#include "platform/Application.h"
#include "platform/DesktopExports.h"
#include "platform/FileDuplication.h"
#include "platform/Logging.h"
#include "platform/PrivilegedDuplication.h"

#include <QThread>
#include <cerrno>
#include <memory>

namespace {

const QString ApplicationResourceName = QStringLiteral("tarvenDESK");
const QString ApplicationResourceType = QStringLiteral("app");
// The checker's launch agent is an autostart desktop entry.
const QString LaunchAgentResourceType = QStringLiteral("desktop");
const QString AutostartFolder = QStringLiteral("/etc/xdg/autostart/");
const QString ApplicationsFolder = QStringLiteral("/opt/");

QString quoted(const QString& text)
{
    return QStringLiteral("“%1”").arg(text);
}

} // namespace

AppDelegate::AppDelegate(InstallerWindow& window, AlertPresenter& alertPresenter, Bundle bundle)
    : m_window(window)
    , m_alertPresenter(alertPresenter)
    , m_bundle(std::move(bundle))
{
    connect(&window, &InstallerWindow::installAction, this, [this] { onInstall(&m_window); });
}

void AppDelegate::applicationDidFinishLaunching(const Notification&)
{
    Application::setApplicationIconImage(Bundle::imageNamed(QStringLiteral("icon_128x128.png")));
    Application::activateIgnoringOtherApps(true);
    m_window.setButtonTitle(InstallTitle);
}

void AppDelegate::applicationWillTerminate(const Notification&)
{
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed(QObject*)
{
    return true;
}

void AppDelegate::onInstall(QObject*)
{
    if (m_busy)
        return;
    m_busy = true;
    m_window.setButtonEnabled(false);
    if (m_window.buttonTitle() != InstallTitle) {
        launchApplication(CheckerApplicationName, [this] { Application::terminate(this); });
        return;
    }
    m_copyFailed = false;
    copyPlist();
}

void AppDelegate::copyPlist()
{
    const QString path = m_bundle.pathForResource(CheckerLaunchAgentLabel, LaunchAgentResourceType);
    copyItem(
        CheckerLaunchAgentLabel + u'.' + LaunchAgentResourceType, path, AutostartFolder, [this] {
            copyApp(m_bundle.pathForResource(ApplicationResourceName, ApplicationResourceType));
        });
}

void AppDelegate::copyApp(const QString& path)
{
    copyItem(
        ApplicationResourceName + u'.' + ApplicationResourceType, path, ApplicationsFolder,
        [this] { copiesFinished(); }, DesktopExports::SystemDataFolder);
}

void AppDelegate::launchApplication(const QString& applicationName, std::function<void()> then)
{
    ProcessHelpers::launchApplication(applicationName,
        ProcessHelpers::alertingFailure(applicationName, &m_alertPresenter, std::move(then)));
}

void AppDelegate::copiesFinished()
{
    m_busy = false;
    m_window.setButtonEnabled(true);
    // A failed copy keeps "Install", so that the user can try again once the
    // reason is dealt with.
    if (m_copyFailed)
        return;
    m_window.setButtonTitle(DoneTitle);
}

void AppDelegate::copyItem(const QString& itemName, const QString& path, const QString& folder,
    const std::function<void()>& then, const QString& exportFolder)
{
    const auto copied = [this, itemName, then](const QString& copyPath, const Error& error) {
        if (copyPath.isNull()) {
            const QString reason = error.localizedDescription();
            m_copyFailed = true;
            qCWarning(lcInstaller).noquote() << itemName << "was not installed:" << reason;
            // The next copy waits until the user has read why this one failed.
            m_alertPresenter.runModal(Alert { tr("%1 couldn’t be installed.").arg(quoted(itemName)),
                                          reason, { tr("OK") } },
                [then](int) { then(); });
            return;
        }
        then();
    };
    if (path.isEmpty()) {
        copied({},
            errorWithDescription(FileDuplication::ErrorDomain, ENOENT,
                tr("The installer’s data folder %1 holds no %2.")
                    .arg(quoted(m_bundle.resourcePath()), quoted(itemName))));
        return;
    }
    // A system folder asks an ordinary user for administrator rights, as a
    // file manager does; the copy tool then links the bundle's exports too.
    if (PrivilegedDuplication::needsAdministratorRights(folder)
        || PrivilegedDuplication::needsAdministratorRights(exportFolder)) {
        PrivilegedDuplication::duplicateItem(path, folder, this, copied);
        return;
    }
    // A whole tree is copied off the window's thread, which stays live; its
    // outcome comes back to this thread, and only while the delegate lives.
    struct Outcome
    {
        QString copy;
        Error error;
    };
    const auto outcome = std::make_shared<Outcome>();
    QThread* worker = QThread::create([outcome, path, folder, exportFolder] {
        const QString copy = FileDuplication::duplicateItem(path, folder, &outcome->error);
        if (copy.isNull() || exportFolder.isEmpty()
            || DesktopExports::exportBundle(copy, exportFolder, &outcome->error))
            outcome->copy = copy;
    });
    connect(worker, &QThread::finished, this,
        [outcome, copied] { copied(outcome->copy, outcome->error); });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->start();
}
