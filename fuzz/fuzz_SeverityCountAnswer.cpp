// The answer classifier on any body a server may send, and the text form of
// every value in it: a number's text reads back as the same number, a string
// stays itself, an array or object is JSON of the same value.

#include "FuzzSupport.h"
#include "common/SeverityCountAnswer.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace {

// Enough for any answer's few members; bounds the walk of a deep document.
constexpr int MaximumValuesChecked = 2000;

void checkTextForm(const QJsonValue& value, int& budget)
{
    if (--budget < 0)
        return;
    const QString text = SeverityCount::textForm(value);
    switch (value.type()) {
    case QJsonValue::Undefined:
        fuzzCheck(text == QLatin1String("(null)"), "a missing value reads \"(null)\"");
        break;
    case QJsonValue::Null:
        fuzzCheck(text == QLatin1String("<null>"), "a JSON null reads \"<null>\"");
        break;
    case QJsonValue::Bool:
        fuzzCheck(text == (value.toBool() ? QLatin1String("1") : QLatin1String("0")),
            "true and false read 1 and 0");
        break;
    case QJsonValue::Double: {
        bool ok = false;
        if (value.toVariant().typeId() == QMetaType::LongLong) {
            fuzzCheck(text.toLongLong(&ok) == value.toInteger() && ok,
                "an integer's text reads back as the same integer");
        } else {
            const double number = value.toDouble();
            fuzzCheck(std::isfinite(number), "a JSON number is finite");
            fuzzCheck(text.toDouble(&ok) == number && ok,
                "a number's text reads back as the same number");
            fuzzCheck(
                !text.contains(u'e') && !text.contains(u'E'), "a number's text is plain decimal");
        }
        break;
    }
    case QJsonValue::String:
        fuzzCheck(text == value.toString(), "a string's text is the string itself");
        break;
    case QJsonValue::Array: {
        const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
        fuzzCheck(document.isArray() && document.array() == value.toArray(),
            "an array's text is JSON of the same array");
        for (const QJsonValue element : value.toArray())
            checkTextForm(element, budget);
        break;
    }
    case QJsonValue::Object: {
        const QJsonDocument document = QJsonDocument::fromJson(text.toUtf8());
        fuzzCheck(document.isObject() && document.object() == value.toObject(),
            "an object's text is JSON of the same object");
        const QJsonObject members = value.toObject();
        for (auto member = members.begin(); member != members.end(); ++member)
            checkTextForm(member.value(), budget);
        break;
    }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray answer(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const ExchangeOutcome outcome = SeverityCount::classify(answer, 200);
    const QJsonDocument document = QJsonDocument::fromJson(answer);

    const QJsonObject members = document.object();
    const bool countsOrMessage = members.contains(QLatin1String("message"))
        || (members.value(QLatin1String("expiring")).isDouble()
            && members.value(QLatin1String("critical")).isDouble()
            && members.value(QLatin1String("expired")).isDouble());
    fuzzCheck((outcome.kind == ExchangeOutcome::Kind::Unreadable)
            == !(document.isObject() && countsOrMessage),
        "exactly the bodies that are no object with a message or three counts are unreadable");
    fuzzCheck(SeverityCount::classify(answer, 500).kind != ExchangeOutcome::Kind::Counts,
        "an error status is never counts");
    if (outcome.kind == ExchangeOutcome::Kind::Refused)
        fuzzCheck(outcome.expiring.isUndefined() && outcome.critical.isUndefined()
                && outcome.expired.isUndefined(),
            "a refusal carries no counts");

    int budget = MaximumValuesChecked;
    if (document.isObject())
        checkTextForm(document.object(), budget);
    else if (document.isArray())
        checkTextForm(document.array(), budget);
    for (const QJsonValue& value :
        { outcome.message, outcome.expiring, outcome.critical, outcome.expired })
        checkTextForm(value, budget);

    const QString text = SeverityCount::notificationText(outcome);
    fuzzCheck(text.startsWith(QLatin1String("Expiring : "))
            && text.contains(QLatin1String(", Critical :"))
            && text.contains(QLatin1String(", Expired : ")),
        "the notification text keeps its three labels");
    return 0;
}
