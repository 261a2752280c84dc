#include "platform/KeyedArchiver.h"

#include <QDataStream>
#include <QIODevice>
#include <QVariant>
#include <array>

namespace {

constexpr std::array<char, 4> magic { 'T', 'D', 'K', 'A' };
constexpr quint8 formatVersion = 1;
constexpr QDataStream::Version streamVersion = QDataStream::Qt_6_0;

std::optional<QString> refused(
    Error* error, const QString& why, qint64 code = KeyedArchiver::CorruptArchive)
{
    reportError(error, errorWithDescription(KeyedArchiver::ErrorDomain, code, why));
    return std::nullopt;
}

} // namespace

namespace KeyedArchiver {

QByteArray archivedDataWithRootObject(const QString& rootObject)
{
    QByteArray data;
    QDataStream stream(&data, QIODevice::WriteOnly);
    stream.setVersion(streamVersion);
    stream.writeRawData(magic.data(), magic.size());
    stream << formatVersion << QVariant(rootObject);
    return data;
}

std::optional<QString> unarchiveObjectWithData(const QByteArray& data, Error* error)
{
    QDataStream stream(data);
    stream.setVersion(streamVersion);
    std::array<char, 4> header {};
    if (stream.readRawData(header.data(), header.size()) != header.size() || header != magic)
        return refused(error, QStringLiteral("The data is not an archive: its header is missing."));
    quint8 version = 0;
    stream >> version;
    if (stream.status() != QDataStream::Ok)
        return refused(error, QStringLiteral("The archive ends before its format version."));
    if (version != formatVersion)
        return refused(error,
            QStringLiteral("The archive's format version %1 is not supported.").arg(version),
            UnsupportedVersion);

    // A QVariant streams as its type id, a null flag and the value. The id is
    // read first so that planted bytes cannot make the stream build some other
    // registered type.
    quint32 typeId = 0;
    qint8 isNull = 0;
    QString value;
    stream >> typeId;
    if (stream.status() != QDataStream::Ok)
        return refused(error, QStringLiteral("The archive ends before its value."));
    if (typeId != QMetaType::QString)
        return refused(error,
            QStringLiteral("The archive holds a value of type %1, not a string.").arg(typeId));
    stream >> isNull >> value;
    if (stream.status() != QDataStream::Ok)
        return refused(error, QStringLiteral("The archive's value is truncated or corrupt."));
    if (!stream.atEnd())
        return refused(error, QStringLiteral("The archive has bytes after its value."));
    return value;
}

} // namespace KeyedArchiver
