#pragma once

// The service's one endpoint: checks the form's credentials against the user
// store and answers with the user's document counts, or with a "message".
// Called on the connection workers at the same time; it keeps no state of
// its own.

#include <QDate>
#include <functional>
#include <httplib.h>

class PasswordChecker;
class UserStore;

class SeverityEndpoint
{
public:
    static inline const std::string path = "/ex-libs/get-severity-count";
    // The same text for an unknown user and a wrong password, so that the
    // answer does not tell which user names exist.
    static inline const QString refusal = QStringLiteral("Invalid user name or password.");

    // today is asked at every request, so a long-running service moves on
    // with the calendar.
    SeverityEndpoint(UserStore& store, PasswordChecker& checker, std::function<QDate()> today);

    // reader is null when the request has no body to read.
    void answer(const httplib::Request& request, httplib::Response& response,
        const httplib::ContentReader* reader) const;

private:
    void answerForm(const std::string& remoteAddress, const std::string& body,
        httplib::Response& response) const;

    UserStore& m_store;
    PasswordChecker& m_checker;
    std::function<QDate()> m_today;
};
