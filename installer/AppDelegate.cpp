#include "installer/AppDelegate.h"

#include "common/ProcessHelpers.h"
#include "platform/Alert.h"
#include "platform/AlertPresenter.h"
#include "platform/Application.h"
#include "platform/Script.h"

namespace {

const QString ApplicationResourceName = QStringLiteral("tarvenDESK");
const QString ApplicationResourceType = QStringLiteral("app");
// The original platform's "plist": here the agent is a desktop entry.
const QString LaunchAgentResourceType = QStringLiteral("desktop");

QString quoted(const QString& text)
{
    return QStringLiteral("“%1”").arg(text);
}

} // namespace

AppDelegate::AppDelegate(AlertPresenter& alertPresenter, Bundle bundle)
    : m_alertPresenter(alertPresenter)
    , m_bundle(std::move(bundle))
{
}

void AppDelegate::applicationDidFinishLaunching(const Notification&)
{
    Application::setApplicationIconImage(Bundle::imageNamed(QStringLiteral("icon_128x128.png")));
    Application::activateIgnoringOtherApps(true);
    if (!_instalButton)
        return;
    _instalButton->setText(InstallTitle);
    _instalButton->adjustSize();
}

void AppDelegate::applicationWillTerminate(const Notification&)
{
}

void AppDelegate::onInstall(QObject*)
{
    if (!_instalButton)
        return;
    if (_instalButton->text() != InstallTitle) {
        launchApplication(CheckerApplicationName);
        Application::terminate(this);
        return;
    }
    if (!m_plistInPlace)
        m_plistInPlace = copyPlist();
    if (!m_appInPlace)
        m_appInPlace
            = copyApp(m_bundle.pathForResource(ApplicationResourceName, ApplicationResourceType));
    // A failed copy keeps "Install", so that the user can try again once the
    // reason is dealt with.
    if (!m_plistInPlace || !m_appInPlace || !_instalButton)
        return;
    _instalButton->setText(DoneTitle);
    _instalButton->adjustSize();
}

bool AppDelegate::copyPlist()
{
    const QString path = m_bundle.pathForResource(CheckerLaunchAgentLabel, LaunchAgentResourceType);
    return copyItem(CheckerLaunchAgentLabel + u'.' + LaunchAgentResourceType, path,
        ProcessHelpers::launchAgentCopyScriptSource(path));
}

bool AppDelegate::copyApp(const QString& path)
{
    return copyItem(ApplicationResourceName + u'.' + ApplicationResourceType, path,
        ProcessHelpers::applicationCopyScriptSource(path));
}

void AppDelegate::launchApplication(const QString& applicationName)
{
    ProcessHelpers::launchApplication(applicationName);
}

bool AppDelegate::copyItem(
    const QString& itemName, const QString& path, const QString& scriptSource)
{
    QString reason;
    if (path.isEmpty())
        reason = QStringLiteral("The installer’s data folder %1 holds no %2.")
                     .arg(quoted(m_bundle.resourcePath()), quoted(itemName));
    else if (Script(scriptSource).executeAndReturnError(&reason).isValid())
        return true;
    m_alertPresenter.runModal(
        Alert { QStringLiteral("%1 couldn’t be installed.").arg(quoted(itemName)), reason,
            { QStringLiteral("OK") } });
    return false;
}
