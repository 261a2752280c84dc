#pragma once

// A freedesktop desktop entry (a ".desktop" file): the keys an activation
// needs, and its command line split by freedesktop's quoting rules.

#include <QString>
#include <QStringList>
#include <optional>

struct DesktopEntry
{
    // The desktop file ID without ".desktop": "org.tarvendesk.TarvenDESK".
    QString id;
    QString filePath;
    QString type;
    QString name;
    QString icon;
    QString exec;
    QString path;
    bool dbusActivatable = false;
    bool hidden = false;

    // The [Desktop Entry] group of the file; nothing when it cannot be read or
    // has no such group.
    static std::optional<DesktopEntry> read(const QString& filePath, const QString& id);

    // Exec as program and arguments, with the field codes for files and URLs
    // removed (nothing is opened) and %i, %c, %k filled in. Empty when Exec is
    // missing or malformed.
    QStringList execArguments() const;

    // The object path of its org.freedesktop.Application interface.
    QString objectPath() const;
};
