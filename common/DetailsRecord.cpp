#include "common/DetailsRecord.h"

#include "common/KeychainStore.h"
#include "platform/Logging.h"
#include "platform/StoreWorker.h"

#include <QStringDecoder>
#include <QStringList>
#include <QUrl>
#include <limits>

namespace {

// What the writer puts in place of an absent string.
const QString MissingValueText = QStringLiteral("(null)");

// The longest record text whose two values can be within bounds: each value
// percent-encoded at worst (3 characters a byte, after its leading "="), the
// field names and separators, and two integers with their signs.
constexpr qsizetype MaximumRecordLength = 2 * (3 * DetailsRecord::MaximumValueSize + 1) + 64;

// A value holding ";" or "=" would split the record in the wrong places. Such
// a value is written as "=" followed by its percent-encoded form, which holds
// neither; a plain value can never begin with "=", so every other value is
// written exactly as typed and the record stays the same text as always.
QString encodedValue(const QString& value)
{
    // A typed "(null)" is encoded too, or it would read back as a missing value.
    if (!value.contains(u';') && !value.contains(u'=') && value != MissingValueText)
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

// Runs work on the store's worker and hands what it left to completion on
// the main thread while context lives.
void runOnStoreWorker(QObject* context, std::function<DetailsRecord::StoredDetails()> work,
    DetailsRecord::StoreCompletion completion)
{
    StoreWorker::run(context,
        [work = std::move(work), completion = std::move(completion)]() -> std::function<void()> {
            return [completion, stored = work()] { completion(stored); };
        });
}

} // namespace

namespace DetailsRecord {

QString text(const UserDetails& details)
{
    // An absent string is written as the platform's text for a null object.
    const auto field = [](const QString& value) {
        return value.isNull() ? MissingValueText : encodedValue(value);
    };
    // Built by concatenation: QString::arg would also replace "%1"-like text
    // inside the user's own values.
    return QStringLiteral("UserName=") + field(details.userName) + QStringLiteral(";Password=")
        + field(details.password) + QStringLiteral(";Freequency=")
        + QString::number(details.freequency) + QStringLiteral(";Status=")
        + QString::number(details.status);
}

bool isValueTooLong(const QString& value)
{
    // A UTF-16 unit is at most 3 UTF-8 bytes: most values need no count.
    return value.size() * 3 > MaximumValueSize && value.toUtf8().size() > MaximumValueSize;
}

bool parse(const QString& text, UserDetails& details)
{
    if (text.isEmpty() || text.size() > MaximumRecordLength)
        return false;
    const QStringList pieces = text.split(u';');
    if (pieces.size() != 4)
        return false;
    std::optional<QString> values[4];
    for (int i = 0; i < 4; ++i) {
        values[i] = pieceValue(pieces[i]);
        if (!values[i])
            return false;
    }
    if (*values[0] == MissingValueText || *values[1] == MissingValueText)
        return false;
    const QString userName = decodedValue(*values[0]);
    const QString password = decodedValue(*values[1]);
    if (isValueTooLong(userName) || isValueTooLong(password))
        return false;
    details.userName = userName;
    details.password = password;
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
    return static_cast<qint32>(std::clamp<qint64>(
        value, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max()));
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
    Error readError;
    const QVariant item
        = KeychainStore::itemForKey(DetailsRecordKey, DetailsRecordService, &readError);
    // A read that failed is logged by the program that waits on it, once
    // for each state the keyring goes through, not once for each read.
    if (error)
        *error = readError;
    if (item.metaType().id() != QMetaType::QString)
        return false;
    const QString text = item.toString();
    if (parse(text, details))
        return true;
    if (!text.isEmpty())
        qCWarning(lcKeyring) << "The stored details record holds no user:" << text.size()
                             << "characters";
    return false;
}

void clearDetailsInKeyChain()
{
    Error error;
    clearDetailsInKeyChain(&error);
}

bool clearDetailsInKeyChain(Error* error)
{
    // Overwritten first, so that a delete that fails still leaves no password.
    Error saveError;
    KeychainStore::saveItem(QString(""), DetailsRecordKey, DetailsRecordService, &saveError);
    Error deleteError;
    if (KeychainStore::deleteItemForKey(DetailsRecordKey, DetailsRecordService, &deleteError))
        return true;
    // Whether the user is signed out is what can be read back, not whether
    // the item went: an item not found, or left empty, holds no one.
    UserDetails left;
    Error readError;
    if (!getDetailsFromKeyChain(left, &readError)
        && !KeychainStore::isStoreUnavailableError(readError)) {
        // Read without an error: the emptied item is still there.
        if (readError.isNull())
            qCWarning(lcKeyring).noquote() << "The emptied details record could not be deleted:"
                                           << KeychainStore::unavailableReason(deleteError);
        return true;
    }
    qCWarning(lcKeyring).noquote() << "The details record could not be cleared:"
                                   << KeychainStore::unavailableReason(deleteError);
    if (error)
        *error = deleteError;
    return false;
}

void getDetailsFromKeyChain(QObject* context, StoreCompletion completion)
{
    runOnStoreWorker(
        context,
        [] {
            StoredDetails stored;
            stored.loaded = getDetailsFromKeyChain(stored.details, &stored.error);
            return stored;
        },
        std::move(completion));
}

void addDetailsToKeyChain(const UserDetails& details, QObject* context, StoreCompletion completion)
{
    runOnStoreWorker(
        context,
        [details] {
            StoredDetails stored;
            stored.loaded = addDetailsToKeyChain(details, &stored.error);
            if (stored.loaded)
                stored.details = details;
            return stored;
        },
        std::move(completion));
}

void clearDetailsInKeyChain(QObject* context, StoreCompletion completion)
{
    runOnStoreWorker(
        context,
        [] {
            StoredDetails stored;
            clearDetailsInKeyChain(&stored.error);
            return stored;
        },
        std::move(completion));
}

void unlockKeyChain(QObject* context, StoreCompletion completion)
{
    StoreWorker::runApart(context,
        [completion = std::move(completion)](std::stop_token stopToken) -> std::function<void()> {
            StoredDetails stored;
            KeychainStore::unlockItemForKey(
                DetailsRecordKey, DetailsRecordService, &stored.error, std::move(stopToken));
            return [completion, stored] { completion(stored); };
        });
}

void updateSettingsInKeyChain(const QString& userName, qint32 freequency, qint32 status,
    QObject* context, StoreCompletion completion)
{
    runOnStoreWorker(
        context,
        [=] {
            StoredDetails stored;
            stored.loaded = getDetailsFromKeyChain(stored.details, &stored.error)
                && stored.details.userName == userName;
            if (!stored.loaded)
                return stored;
            const UserDetails changed { userName, stored.details.password, freequency, status };
            if (addDetailsToKeyChain(changed, &stored.error))
                stored.details = changed;
            return stored;
        },
        std::move(completion));
}

} // namespace DetailsRecord
