#pragma once

// The program's org.freedesktop.Application object on the session bus, at the
// path its desktop entry ID names. It is how another program (or the desktop)
// brings a running program forward without starting a second copy.

#include <QDBusContext>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QVariantList>
#include <QVariantMap>

class ApplicationDelegate;

class ApplicationBusObject : public QObject, protected QDBusContext
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")

public:
    explicit ApplicationBusObject(ApplicationDelegate& delegate, QObject* parent = nullptr);

    // Exports the object at the entry ID's path; false without a session bus.
    bool exportFor(const QString& bundleIdentifier);

public slots:
    void Activate(const QVariantMap& platformData);
    // The programs open no documents: opening is activating.
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(
        const QString& actionName, const QVariantList& parameter, const QVariantMap& platformData);

private:
    QPointer<ApplicationDelegate> m_delegate;
};
