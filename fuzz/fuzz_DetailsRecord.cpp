// The details record's reader on any text a keyring item may hold, and the
// record text of any values: it always has four pieces and reads back as the
// same values.

#include "FuzzSupport.h"
#include "common/DetailsRecord.h"

#include <QStringList>
#include <algorithm>
#include <limits>

namespace {

// The start-up values of the sign-in program, which a failed read must leave.
const UserDetails Untouched { QString(), QString(), -1, -1 };

// The escape of a value holding ";" or "=" goes through UTF-8, which has no
// form for a lone surrogate; no keyboard or clipboard produces one.
bool survivesEscape(const QString& value)
{
    return value.isValidUtf16() || !(value.contains(u';') || value.contains(u'='));
}

bool same(const UserDetails& a, const UserDetails& b)
{
    return a.userName.isNull() == b.userName.isNull() && a.userName == b.userName
        && a.password.isNull() == b.password.isNull() && a.password == b.password
        && a.freequency == b.freequency && a.status == b.status;
}

void readAnyText(const QString& text)
{
    UserDetails details = Untouched;
    if (!DetailsRecord::parse(text, details)) {
        fuzzCheck(same(details, Untouched), "a rejected record leaves the details untouched");
        return;
    }
    const QStringList pieces = text.split(u';');
    fuzzCheck(pieces.size() == 4, "an accepted record has exactly four pieces");
    fuzzCheck(std::all_of(pieces.cbegin(), pieces.cend(),
                  [](const QString& piece) { return piece.contains(u'='); }),
        "every piece of an accepted record holds \"=\"");

    // What was read, written again, reads back the same.
    UserDetails again = Untouched;
    fuzzCheck(DetailsRecord::parse(DetailsRecord::text(details), again),
        "a record read and written again is accepted");
    if (survivesEscape(details.userName) && survivesEscape(details.password))
        fuzzCheck(same(again, details), "a record read and written again gives the same details");
}

void writeAnyValues(FuzzedDataProvider& input)
{
    UserDetails details;
    if (!input.ConsumeBool())
        details.userName = anyString(input);
    if (!input.ConsumeBool())
        details.password = anyString(input);
    details.freequency = input.ConsumeIntegral<qint32>();
    details.status = input.ConsumeIntegral<qint32>();

    const QString text = DetailsRecord::text(details);
    fuzzCheck(
        text.split(u';').size() == 4, "the record text of any values has exactly four pieces");

    UserDetails read = Untouched;
    // A missing value is written, but read as no user at all; a value near
    // the size bound may pass it or not once escaped.
    if (details.userName.isNull() || details.password.isNull()) {
        fuzzCheck(!DetailsRecord::parse(text, read), "a record without a user is refused");
        return;
    }
    const auto large = [](const QString& value) {
        return value.toUtf8().size() * 3 > DetailsRecord::MaximumValueSize;
    };
    if (large(details.userName) || large(details.password))
        return;
    fuzzCheck(DetailsRecord::parse(text, read), "the record text of any values is accepted");
    fuzzCheck(read.freequency == details.freequency && read.status == details.status,
        "both integers read back unchanged");
    // An absent value is written as the platform writes a null object.
    const auto expected
        = [](const QString& value) { return value.isNull() ? QStringLiteral("(null)") : value; };
    if (survivesEscape(details.userName))
        fuzzCheck(
            read.userName == expected(details.userName), "any user name reads back unchanged");
    if (survivesEscape(details.password))
        fuzzCheck(read.password == expected(details.password), "any password reads back unchanged");
}

// A number in any form the reader takes: blanks, a sign, leading zeros, and
// any text after it that does not go on with a digit.
void readAnyInteger(FuzzedDataProvider& input)
{
    static const char16_t blanks[]
        = { u' ', u'\t', u'\n', u'\v', u'\f', u'\r', u'\u00a0', u'\u2003', u'\u3000' };
    QString text;
    for (int count = input.ConsumeIntegralInRange(0, 3); count > 0; --count)
        text += QChar(input.PickValueInArray(blanks));
    const bool negative = input.ConsumeBool();
    text += negative ? u'-' : u'+';
    const int zeros = input.ConsumeIntegralInRange(0, 20);
    text += QString(zeros, u'0');
    const std::string digits = input.ConsumeBytesAsString(input.ConsumeIntegralInRange(0, 25));
    qint64 magnitude = 0;
    constexpr qint64 beyond = qint64(std::numeric_limits<qint32>::max()) + 2;
    for (const char byte : digits) {
        const int digit = static_cast<unsigned char>(byte) % 10;
        text += QChar(u'0' + digit);
        magnitude = std::min(beyond, magnitude * 10 + digit);
    }
    QString rest = anyString(input);
    if (!rest.isEmpty() && rest.front().unicode() >= u'0' && rest.front().unicode() <= u'9')
        rest.prepend(u'x');
    text += rest;

    const qint64 exact = negative ? -magnitude : magnitude;
    const qint64 clamped = std::clamp<qint64>(
        exact, std::numeric_limits<qint32>::min(), std::numeric_limits<qint32>::max());
    fuzzCheck(DetailsRecord::integerValue(text) == clamped,
        "an integer reads as its value, clamped to 32 bits");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    readAnyText(QString::fromUtf8(bytes));
    readAnyText(codeUnitString(bytes.toStdString()));
    DetailsRecord::integerValue(QString::fromUtf8(bytes));

    FuzzedDataProvider values(data, size);
    writeAnyValues(values);
    FuzzedDataProvider integer(data, size);
    readAnyInteger(integer);
    return 0;
}
