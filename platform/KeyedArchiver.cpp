#include "platform/KeyedArchiver.h"

#include <QDataStream>
#include <QIODevice>

#include <array>

namespace {

constexpr std::array<char, 4> magic { 'T', 'D', 'K', 'A' };
constexpr quint8 formatVersion = 1;
constexpr QDataStream::Version streamVersion = QDataStream::Qt_6_0;

// Only plain values are archived. Decoding is limited to them, so that
// planted bytes can neither name an arbitrary registered type nor make the
// stream build one.
bool isArchivable(int typeId)
{
    switch (typeId) {
    case QMetaType::UnknownType:
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::Double:
        return true;
    default:
        return false;
    }
}

} // namespace

ArchiveException::ArchiveException(QString reason)
    : m_reason(std::move(reason))
    , m_what(m_reason.toStdString())
{
}

QByteArray KeyedArchiver::archivedDataWithRootObject(const QVariant& rootObject)
{
    if (!isArchivable(rootObject.metaType().id()))
        throw ArchiveException(QStringLiteral("A value of type %1 cannot be archived.")
                                   .arg(QString::fromLatin1(rootObject.metaType().name())));
    QByteArray data;
    QDataStream stream(&data, QIODevice::WriteOnly);
    stream.setVersion(streamVersion);
    stream.writeRawData(magic.data(), magic.size());
    stream << formatVersion << rootObject;
    return data;
}

QVariant KeyedUnarchiver::unarchiveObjectWithData(const QByteArray& data)
{
    QDataStream stream(data);
    stream.setVersion(streamVersion);
    std::array<char, 4> header {};
    quint8 version = 0;
    if (stream.readRawData(header.data(), header.size()) != header.size() || header != magic)
        throw ArchiveException(QStringLiteral("The data is not an archive: its header is missing."));
    stream >> version;
    if (stream.status() != QDataStream::Ok)
        throw ArchiveException(QStringLiteral("The archive ends before its format version."));
    if (version != formatVersion)
        throw ArchiveException(QStringLiteral("The archive's format version %1 is not supported.").arg(version));

    // A QVariant streams as its type id followed by the value; check the id
    // before letting the stream construct anything.
    QDataStream peek(data.sliced(header.size() + 1));
    peek.setVersion(streamVersion);
    quint32 typeId = 0;
    peek >> typeId;
    if (peek.status() != QDataStream::Ok)
        throw ArchiveException(QStringLiteral("The archive ends before its value."));
    if (!isArchivable(static_cast<int>(typeId)))
        throw ArchiveException(QStringLiteral("The archive holds a value of type %1, which is not archived.").arg(typeId));

    QVariant value;
    stream >> value;
    if (stream.status() != QDataStream::Ok)
        throw ArchiveException(QStringLiteral("The archive's value is truncated or corrupt."));
    if (!stream.atEnd())
        throw ArchiveException(QStringLiteral("The archive has bytes after its value."));
    return value;
}
