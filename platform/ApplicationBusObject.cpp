#include "platform/ApplicationBusObject.h"

#include "platform/Application.h"
#include "platform/ApplicationDelegate.h"
#include "platform/DesktopEntry.h"

#include <QApplication>
#include <QDBusConnection>
#include <QWidget>

ApplicationBusObject::ApplicationBusObject(ApplicationDelegate& delegate, QObject* parent)
    : QObject(parent)
    , m_delegate(&delegate)
{
}

bool ApplicationBusObject::exportFor(const QString& bundleIdentifier)
{
    DesktopEntry entry;
    entry.id = bundleIdentifier;
    return QDBusConnection::sessionBus().registerObject(
        entry.objectPath(), this, QDBusConnection::ExportAllSlots);
}

void ApplicationBusObject::Activate(const QVariantMap&)
{
    bool hasVisibleWindows = false;
    for (const QWidget* window : QApplication::topLevelWidgets())
        hasVisibleWindows
            = hasVisibleWindows || (window->isVisible() && window->windowType() != Qt::Popup);
    if (m_delegate && m_delegate->applicationShouldHandleReopen(qApp, hasVisibleWindows))
        Application::activateIgnoringOtherApps(true);
}

void ApplicationBusObject::Open(const QStringList&, const QVariantMap& platformData)
{
    Activate(platformData);
}

void ApplicationBusObject::ActivateAction(
    const QString& actionName, const QVariantList&, const QVariantMap&)
{
    if (m_delegate && m_delegate->applicationPerformAction(qApp, actionName))
        return;
    sendErrorReply(
        QDBusError::NotSupported, QStringLiteral("There is no action “%1”.").arg(actionName));
}
