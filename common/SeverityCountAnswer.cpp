#include "common/SeverityCountAnswer.h"

#include "common/ShownText.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

ExchangeOutcome SeverityCount::classify(const QByteArray& answer, int statusCode)
{
    ExchangeOutcome outcome;
    outcome.statusCode = statusCode;
    const QJsonDocument document = QJsonDocument::fromJson(answer);
    if (!document.isObject())
        return outcome;
    const QJsonObject members = document.object();
    if (members.contains(QLatin1String("message"))) {
        outcome.kind = ExchangeOutcome::Kind::Refused;
        outcome.message = members.value(QLatin1String("message"));
        return outcome;
    }
    if (statusCode < 200 || statusCode > 299)
        return outcome;
    for (const char* count : { "expiring", "critical", "expired" })
        if (!members.value(QLatin1String(count)).isDouble())
            return outcome;
    outcome.kind = ExchangeOutcome::Kind::Counts;
    outcome.expiring = members.value(QLatin1String("expiring"));
    outcome.critical = members.value(QLatin1String("critical"));
    outcome.expired = members.value(QLatin1String("expired"));
    return outcome;
}

bool SeverityCount::isCredentialsRefusal(const ExchangeOutcome& outcome)
{
    return outcome.kind == ExchangeOutcome::Kind::Refused && outcome.statusCode < 500;
}

QString SeverityCount::textForm(const QJsonValue& value)
{
    switch (value.type()) {
    case QJsonValue::Undefined:
        return QStringLiteral("(null)");
    case QJsonValue::Null:
        return QStringLiteral("<null>");
    case QJsonValue::Bool:
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    case QJsonValue::Double:
        // Integers beyond a double's precision are held as integers: keep them exact.
        if (value.toVariant().typeId() == QMetaType::LongLong)
            return QString::number(value.toInteger());
        return QString::number(value.toDouble(), 'f', QLocale::FloatingPointShortest);
    case QJsonValue::String:
        return value.toString();
    case QJsonValue::Array:
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    case QJsonValue::Object:
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    }
    return {};
}

QString SeverityCount::notificationText(const ExchangeOutcome& outcome)
{
    // Concatenated, not QString::arg: a count's text may itself hold "%1".
    const auto count
        = [](const QJsonValue& value) { return shownText(textForm(value), ShownCountLength); };
    return QStringLiteral("Expiring : ") + count(outcome.expiring) + QStringLiteral(", Critical :")
        + count(outcome.critical) + QStringLiteral(", Expired : ") + count(outcome.expired);
}
