#pragma once

// The service's one endpoint: checks the form's credentials against the user
// store and answers with the user's document counts, or with a "message".

#include "service/HttpRequest.h"
#include "service/HttpResponse.h"

#include <QDate>

#include <functional>

class UserStore;

class SeverityEndpoint
{
public:
    static inline const QByteArray path = "/ex-libs/get-severity-count";
    // The same text for an unknown user and a wrong password, so that the
    // answer does not tell which user names exist.
    static inline const QString refusal = QStringLiteral("Invalid user name or password.");

    // today is asked at every request, so a long-running service moves on
    // with the calendar.
    SeverityEndpoint(UserStore& store, std::function<QDate()> today);

    HttpResponse answer(const HttpRequest& request) const;

private:
    UserStore& m_store;
    std::function<QDate()> m_today;
};
