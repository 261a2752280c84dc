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
    // The answer's HTTP status, 0 when there was none: a refusal of the
    // credentials and a busy service both carry a message, and only the
    // status tells them apart.
    int statusCode = 0;
    // An absent member is QJsonValue::Undefined; a JSON null is QJsonValue::Null.
    QJsonValue message { QJsonValue::Undefined };
    QJsonValue expiring { QJsonValue::Undefined };
    QJsonValue critical { QJsonValue::Undefined };
    QJsonValue expired { QJsonValue::Undefined };
};

namespace SeverityCount {

// Only a JSON object is an answer; a "message" member alone makes it a
// refusal, whatever else it holds. Counts are a 2xx object holding all three
// as numbers; anything else is unreadable: an overloaded service's 503, a
// proxy's page, or an object such as {} or {"error":…} must not sign anyone in.
ExchangeOutcome classify(const QByteArray& answer, int statusCode);

// A refusal of the credentials themselves: the service's word on the request
// (2xx, 4xx), not its own trouble (5xx, such as a 503 while it is busy).
bool isCredentialsRefusal(const ExchangeOutcome& outcome);

// A value as the texts show it: numbers in plain decimal, strings as they
// are, "(null)" for a missing value, "<null>" for a JSON null, "1" and "0" for
// true and false, arrays and objects as compact JSON.
QString textForm(const QJsonValue& value);

// "Expiring : <expiring>, Critical :<critical>, Expired : <expired>", each
// count as shownText shows it.
QString notificationText(const ExchangeOutcome& outcome);

} // namespace SeverityCount
