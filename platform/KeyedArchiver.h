#pragma once

// The bytes a keychain item holds: a small header, then the item, a string, as
// a QDataStream of a QVariant at a fixed stream version, so that what one
// build writes every later build reads.

#include <QByteArray>
#include <QString>

#include <optional>

namespace KeyedArchiver {

QByteArray archivedDataWithRootObject(const QString& rootObject);

// The string the bytes hold; nothing, with the reason why in *reason, for
// bytes that are not one whole archived string.
std::optional<QString> unarchiveObjectWithData(const QByteArray& data, QString* reason);

} // namespace KeyedArchiver
