#include "common/DetailsRecord.h"

#include "common/KeychainStore.h"
#include "platform/SecItem.h"

#include <QStringDecoder>
#include <QStringList>
#include <QUrl>

#include <limits>

namespace {

// A value holding ";" or "=" would split the record in the wrong places. Such
// a value is written as "=" followed by its percent-encoded form, which holds
// neither; a plain value can never begin with "=", so every other value is
// written exactly as typed and the record stays the same text as always.
QString encodedValue(const QString& value)
{
    if (!value.contains(u';') && !value.contains(u'='))
        return value;
    return u'=' + QString::fromLatin1(QUrl::toPercentEncoding(value));
}

QString decodedValue(const QString& value)
{
    if (!value.startsWith(u'='))
        return value;
    // Not QString::fromUtf8, which drops a leading U+FEFF as a byte-order mark:
    // here it is part of what was typed.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return utf8.decode(QByteArray::fromPercentEncoding(value.sliced(1).toLatin1()));
}

// The value of a "Name=value" piece: all after the first "=", or nothing
// when the piece has no "=".
std::optional<QString> pieceValue(const QString& piece)
{
    const qsizetype separator = piece.indexOf(u'=');
    if (separator < 0)
        return std::nullopt;
    return piece.sliced(separator + 1);
}

} // namespace

namespace DetailsRecord {

QString text(const UserDetails& details)
{
    // An absent string is written as the platform's text for a null object.
    const auto field = [](const QString& value) {
        return value.isNull() ? QStringLiteral("(null)") : encodedValue(value);
    };
    // Built by concatenation: QString::arg would also replace "%1"-like text
    // inside the user's own values.
    return QStringLiteral("UserName=") + field(details.userName) + QStringLiteral(";Password=") + field(details.password) + QStringLiteral(";Freequency=")
        + QString::number(details.freequency) + QStringLiteral(";Status=") + QString::number(details.status);
}

bool parse(const QString& text, UserDetails& details)
{
    const QStringList pieces = text.split(u';');
    if (text.isEmpty() || pieces.size() != 4)
        return false;
    std::optional<QString> values[4];
    for (int i = 0; i < 4; ++i) {
        values[i] = pieceValue(pieces[i]);
        if (!values[i])
            return false;
    }
    details.userName = decodedValue(*values[0]);
    details.password = decodedValue(*values[1]);
    details.freequency = integerValue(*values[2]);
    details.status = integerValue(*values[3]);
    return true;
}

qint32 integerValue(const QString& text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace())
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == u'-' || text[i] == u'+'))
        negative = text[i++] == u'-';
    qint64 magnitude = 0;
    constexpr qint64 limit = qint64(std::numeric_limits<qint32>::max()) + 1;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i)
        magnitude = std::min(limit, magnitude * 10 + (text[i].unicode() - u'0'));
    const qint64 value = negative ? -magnitude : magnitude;
    return static_cast<qint32>(
        std::clamp<qint64>(value, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
}

void addDetailsToKeyChain(const UserDetails& details)
{
    Error error;
    addDetailsToKeyChain(details, &error);
}

bool addDetailsToKeyChain(const UserDetails& details, Error* error)
{
    return KeychainStore::saveItem(text(details), DetailsRecordKey, DetailsRecordService, error);
}

bool getDetailsFromKeyChain(UserDetails& details)
{
    Error error;
    return getDetailsFromKeyChain(details, &error);
}

bool getDetailsFromKeyChain(UserDetails& details, Error* error)
{
    const QVariant item = KeychainStore::itemForKey(DetailsRecordKey, DetailsRecordService, error);
    if (item.metaType().id() != QMetaType::QString)
        return false;
    return parse(item.toString(), details);
}

void clearDetailsInKeyChain()
{
    Error error;
    clearDetailsInKeyChain(&error);
}

bool clearDetailsInKeyChain(Error* error)
{
    Error saveError;
    KeychainStore::saveItem(QString(""), DetailsRecordKey, DetailsRecordService, &saveError);
    Error deleteError;
    if (KeychainStore::deleteItemForKey(DetailsRecordKey, DetailsRecordService, &deleteError)
        || deleteError.code == errSecItemNotFound)
        return true;
    if (error)
        *error = deleteError;
    return false;
}

} // namespace DetailsRecord
