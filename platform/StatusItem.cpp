#include "platform/StatusItem.h"

#include "platform/Logging.h"

#include <QCursor>
#include <QDBusConnection>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QMenu>
#include <cstdlib>
#include <memory>
#include <optional>
#include <xcb/xcb.h>

namespace {

const QString watcherService = QStringLiteral("org.kde.StatusNotifierWatcher");

// Qt sends every tray icon of the process to a StatusNotifierItem host when
// one was registered with the watcher as it made its first icon, and to an
// XEmbed tray otherwise; which it was is kept from that first icon on.
std::optional<bool> trayRecolours;

template <typename Reply> using XcbReply = std::unique_ptr<Reply, decltype(&std::free)>;

// Whether an XEmbed tray manager holds the tray selection of the display's
// first screen (the one desktops put their panel's tray on).
bool xembedTrayPresent()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection)
        return false;
    static const char selection[] = "_NET_SYSTEM_TRAY_S0";
    const XcbReply<xcb_intern_atom_reply_t> atom(
        xcb_intern_atom_reply(connection,
            xcb_intern_atom(connection, true, sizeof selection - 1, selection), nullptr),
        &std::free);
    if (!atom || atom->atom == XCB_ATOM_NONE)
        return false;
    const XcbReply<xcb_get_selection_owner_reply_t> owner(
        xcb_get_selection_owner_reply(
            connection, xcb_get_selection_owner(connection, atom->atom), nullptr),
        &std::free);
    return owner && owner->owner != XCB_WINDOW_NONE;
}

} // namespace

std::unique_ptr<StatusItem> StatusItem::statusItemWithLength(double length)
{
    Q_UNUSED(length)
    return std::unique_ptr<StatusItem>(new StatusItem());
}

StatusItem::StatusItem()
    : m_hostWatcher(std::make_unique<QDBusServiceWatcher>(
        watcherService, QDBusConnection::sessionBus(), QDBusServiceWatcher::WatchForRegistration))
{
    connect(m_hostWatcher.get(), &QDBusServiceWatcher::serviceRegistered, this,
        &StatusItem::putUpAgain);
    // The item goes up once the code that made it has given it its menu and
    // image: a host reads the menu when the item registers.
    QMetaObject::invokeMethod(this, &StatusItem::putUp, Qt::QueuedConnection);
}

StatusItem::~StatusItem()
{
    delete m_trayIcon;
}

void StatusItem::setMenu(QMenu* menu)
{
    m_menu = menu;
    if (m_trayIcon)
        putUpAgain();
}

void StatusItem::setToolTip(const QString& toolTip)
{
    m_toolTip = toolTip;
    if (m_trayIcon)
        m_trayIcon->setToolTip(toolTip);
}

void StatusItem::setImage(const QIcon& image)
{
    m_image = image;
    if (m_trayIcon)
        m_trayIcon->setIcon(imageForTray());
}

void StatusItem::setSymbolicImage(const QIcon& image)
{
    m_symbolicImage = image;
    if (m_trayIcon)
        m_trayIcon->setIcon(imageForTray());
}

QIcon StatusItem::shownImage() const
{
    return m_trayIcon ? m_trayIcon->icon() : QIcon();
}

QIcon StatusItem::imageForTray() const
{
    return !m_symbolicImage.isNull() && trayRecolours.value_or(false) ? m_symbolicImage : m_image;
}

bool StatusItem::isVisible() const
{
    return m_trayIcon && m_trayIcon->isVisible() && QSystemTrayIcon::isSystemTrayAvailable();
}

void StatusItem::setVisible(bool visible)
{
    m_hidden = !visible;
    if (m_hidden) {
        delete m_trayIcon;
        emit visibilityChanged();
    } else {
        putUp();
    }
}

void StatusItem::putUp()
{
    if (m_trayIcon || m_hidden || m_hostAsked)
        return;
    // Qt 6.4 decides once per process, when it makes its first tray icon,
    // whether icons go to a StatusNotifierItem host or to an XEmbed tray.
    // Made while there is neither, an icon would never reach the host that
    // comes later (GNOME's tray extension, a panel starting after the
    // program): so it is made only once there is one. The watcher's answer
    // tells both whether it is there and whether a host recolours icons.
    QDBusMessage get
        = QDBusMessage::createMethodCall(watcherService, QStringLiteral("/StatusNotifierWatcher"),
            QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << watcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    get.setAutoStartService(false);
    m_hostAsked = true;
    auto* answer = new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(get), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this, [this, answer] {
        answer->deleteLater();
        m_hostAsked = false;
        const QDBusPendingReply<QDBusVariant> reply = *answer;
        // No watcher answers "no such name"; one that cannot tell of hosts is still there.
        const QString error = reply.isError() ? reply.error().name() : QString();
        const bool watcher = error != QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")
            && error != QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown")
            && reply.error().type() != QDBusError::Disconnected;
        putUpWith(watcher, reply.isValid() && reply.value().variant().toBool());
    });
}

void StatusItem::putUpWith(bool watcher, bool hostRegistered)
{
    if (m_trayIcon || m_hidden)
        return;
    const bool onX11 = QGuiApplication::platformName() == QLatin1String("xcb");
    if (!watcher && !(onX11 && xembedTrayPresent())) {
        // Checks and notifications go on without the item; say once why there is none.
        if (!m_toldNoHost)
            qCWarning(lcActivation) << "No tray host on this desktop: the status item will "
                                       "appear when one starts";
        m_toldNoHost = true;
        emit visibilityChanged();
        return;
    }
    if (!trayRecolours)
        trayRecolours = watcher && hostRegistered;
    m_trayIcon = new QSystemTrayIcon(imageForTray(), this);
    m_trayIcon->setToolTip(
        m_toolTip.isEmpty() ? QGuiApplication::applicationDisplayName() : m_toolTip);
    if (m_menu)
        m_trayIcon->setContextMenu(m_menu);
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &StatusItem::onTrayIconActivated);
    m_trayIcon->show();
    emit visibilityChanged();
}

void StatusItem::putUpAgain()
{
    // A host that has just come up (or come back) learns of the item only
    // from an item that registers after it.
    delete m_trayIcon;
    putUp();
}

void StatusItem::onTrayIconActivated(QSystemTrayIcon::ActivationReason reason)
{
    // The item's one use is its menu: a plain click opens it as well.
    if (reason == QSystemTrayIcon::Trigger && m_menu)
        m_menu->popup(QCursor::pos());
}

// Its own meta-object code, so that only a program with a tray item links it.
#include "moc_StatusItem.cpp"
