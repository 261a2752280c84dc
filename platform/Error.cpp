#include "platform/Error.h"

Error Error::errorWithDomain(const QString& domain, qint64 code, const QVariantMap& userInfo)
{
    return Error { domain, code, userInfo };
}

QString Error::localizedDescription() const
{
    const QVariant description = userInfo.value(LocalizedDescriptionKey);
    if (description.isValid())
        return description.toString();
    return QStringLiteral("The operation could not be completed. (%1 error %2.)")
        .arg(domain, QString::number(code));
}

QString Error::localizedFailureReason() const
{
    return userInfo.value(LocalizedFailureReasonErrorKey).toString();
}

bool Error::hasUnderlyingError() const
{
    return userInfo.value(UnderlyingErrorKey).canConvert<Error>();
}

Error Error::underlyingError() const
{
    return userInfo.value(UnderlyingErrorKey).value<Error>();
}

Error errorWithDescription(const QString& domain, qint64 code, const QString& description)
{
    return Error { domain, code, { { Error::LocalizedDescriptionKey, description } } };
}

bool reportError(Error* out, const Error& error)
{
    if (out)
        *out = error;
    return false;
}
