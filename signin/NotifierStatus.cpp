#include "signin/NotifierStatus.h"

#include "common/NotifierBus.h"
#include "common/ProcessHelpers.h"
#include "platform/Logging.h"
#include "signin/SignInWindow.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDateTime>
#include <QLocale>

namespace {

const QString PropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

} // namespace

NotifierStatus::NotifierStatus(SignInWindow& window, QObject* parent)
    : QObject(parent)
    , m_window(&window)
    , m_watcher(StatusBarBundleIdentifier, QDBusConnection::sessionBus(),
          QDBusServiceWatcher::WatchForOwnerChange)
{
    connect(&window, &SignInWindow::checkNowAction, this, [] { NotifierBus::checkNow(); });
    connect(&m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
        [this](const QString&, const QString&, const QString& newOwner) {
            m_state.clear();
            show();
            if (!newOwner.isEmpty())
                readAll();
        });
    QDBusConnection::sessionBus().connect(StatusBarBundleIdentifier, NotifierObjectPath,
        PropertiesInterface, QStringLiteral("PropertiesChanged"), this,
        SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    readAll();
}

// Only of a notifier already running: reading its state starts none.
void NotifierStatus::readAll()
{
    QDBusMessage call = QDBusMessage::createMethodCall(StatusBarBundleIdentifier,
        NotifierObjectPath, PropertiesInterface, QStringLiteral("GetAll"));
    call << NotifierInterfaceName;
    call.setAutoStartService(false);
    auto* reply = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call), this);
    connect(reply, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
        const QDBusPendingReply<QVariantMap> all = *done;
        done->deleteLater();
        if (all.isError()) {
            // A notifier that is not running has no state to show.
            if (all.error().type() != QDBusError::ServiceUnknown
                && all.error().name() != QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner"))
                qCWarning(lcActivation)
                    << "The notifier's state could not be read:" << all.error().message();
            return;
        }
        m_state.insert(all.value());
        show();
    });
}

void NotifierStatus::onPropertiesChanged(
    const QString& interfaceName, const QVariantMap& changed, const QStringList&)
{
    if (interfaceName != NotifierInterfaceName)
        return;
    m_state.insert(changed);
    show();
}

void NotifierStatus::show()
{
    if (!m_window)
        return;
    const bool trayless = m_state.value(QStringLiteral("SignedIn")).toBool()
        && m_state.contains(QStringLiteral("HasStatusItem"))
        && !m_state.value(QStringLiteral("HasStatusItem")).toBool();
    if (!trayless) {
        m_window->showLastCheck(QString());
        return;
    }
    const qint64 checked = m_state.value(QStringLiteral("LastCheckTime")).toLongLong();
    if (checked <= 0) {
        m_window->showLastCheck(tr("No check yet."));
        return;
    }
    m_window->showLastCheck(
        tr("Last check, %1:\n%2")
            .arg(QLocale().toString(
                     QDateTime::fromSecsSinceEpoch(checked).toLocalTime(), QLocale::ShortFormat),
                m_state.value(QStringLiteral("LastCheckText")).toString()));
}
