#pragma once

// What the service's answer means: counts, a refusal with the service's
// message, or nothing readable; and the text the notifier shows for counts.

#include <QByteArray>
#include <QJsonValue>
#include <QString>

struct ExchangeOutcome
{
    enum class Kind
    {
        Counts,
        Refused,
        Unreadable
    };

    Kind kind = Kind::Unreadable;
    // An absent member is QJsonValue::Undefined; a JSON null is QJsonValue::Null.
    QJsonValue message { QJsonValue::Undefined };
    QJsonValue expiring { QJsonValue::Undefined };
    QJsonValue critical { QJsonValue::Undefined };
    QJsonValue expired { QJsonValue::Undefined };
};

namespace SeverityCount {

// Only a JSON object is an answer; a "message" member alone makes it a
// refusal, whatever else it holds. An answer with an HTTP status outside 2xx
// is never counts: it is a refusal when it holds "message", and unreadable
// otherwise (an overloaded service's 503 must not sign anyone in).
ExchangeOutcome classify(const QByteArray& answer, int statusCode);

// A value as the texts show it: numbers in plain decimal, strings as they
// are, "(null)" for a missing value, "<null>" for a JSON null, "1" and "0" for
// true and false, arrays and objects as compact JSON.
QString textForm(const QJsonValue& value);

// "Expiring : <expiring>, Critical :<critical>, Expired : <expired>", each
// count as shownText shows it.
QString notificationText(const ExchangeOutcome& outcome);

} // namespace SeverityCount
