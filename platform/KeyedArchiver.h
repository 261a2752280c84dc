#pragma once

// The bytes a keychain item holds: a small header, then the item, a string, as
// a QDataStream of a QVariant at a fixed stream version, so that what one
// build writes every later build reads.

#include "platform/Error.h"

#include <QByteArray>
#include <QString>
#include <optional>

namespace KeyedArchiver {

inline const QString ErrorDomain = QStringLiteral("KeyedArchiverErrorDomain");
enum : qint64
{
    CorruptArchive = 1,
    UnsupportedVersion = 2
};

QByteArray archivedDataWithRootObject(const QString& rootObject);

// The string the bytes hold; nothing, with the error set, for bytes that are
// not one whole archived string.
std::optional<QString> unarchiveObjectWithData(const QByteArray& data, Error* error);

} // namespace KeyedArchiver
