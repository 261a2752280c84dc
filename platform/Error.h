#pragma once

// An error as the suite reports it: a domain, a code and an information map.
// The map uses the three keys below; the underlying error is held as an Error.
// One idiom throughout: an operation that can fail returns its result (a bool,
// a null or empty value) and sets the Error it is given, when given one; an
// asynchronous one hands its completion an Error, null when it succeeded.

#include <QMetaType>
#include <QString>
#include <QVariantMap>

struct Error
{
    static inline const QString LocalizedDescriptionKey = QStringLiteral("LocalizedDescription");
    static inline const QString LocalizedFailureReasonErrorKey
        = QStringLiteral("LocalizedFailureReason");
    static inline const QString UnderlyingErrorKey = QStringLiteral("UnderlyingError");

    QString domain;
    qint64 code = 0;
    QVariantMap userInfo;

    static Error errorWithDomain(
        const QString& domain, qint64 code, const QVariantMap& userInfo = {});

    // The description entry when there is one, else the generic text that names
    // the domain and the code, as a desktop's error alert words it.
    QString localizedDescription() const;
    QString localizedFailureReason() const;
    bool hasUnderlyingError() const;
    Error underlyingError() const;

    // No error: the domain is empty.
    bool isNull() const { return domain.isEmpty(); }

    bool operator==(const Error&) const = default;
};

// An error whose description is the given text.
Error errorWithDescription(const QString& domain, qint64 code, const QString& description);

// Sets *out when the caller asked for the error; false, for the caller's return.
bool reportError(Error* out, const Error& error);

Q_DECLARE_METATYPE(Error)
