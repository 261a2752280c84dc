#pragma once

// Collects the answers of the severity-count requests in flight, one buffer
// per connection, so overlapping requests never read each other's bytes. Each
// program's AppDelegate holds one and passes its connection calls on to it.

#include "common/SeverityCountAnswer.h"

#include <QByteArray>
#include <unordered_map>

class URLConnection;
struct URLResponse;

class SeverityCountExchange
{
public:
    // An answer is a few dozen bytes; anything past this is not one, and is
    // neither kept nor read to its end.
    static constexpr qsizetype MaximumAnswerSize = 1024 * 1024;

    // A new response replaces whatever the connection had collected; its
    // HTTP status takes part in the classification.
    void connectionDidReceiveResponse(URLConnection* connection, const URLResponse& response);
    // Past MaximumAnswerSize the bytes are dropped and the transfer stopped;
    // the answer then classifies as unreadable.
    void connectionDidReceiveData(URLConnection* connection, const QByteArray& data);
    ExchangeOutcome connectionDidFinishLoading(URLConnection* connection);
    void connectionDidFailWithError(URLConnection* connection);

    qsizetype bufferedSize(const URLConnection* connection) const;
    qsizetype requestsInFlight() const { return static_cast<qsizetype>(m_answers.size()); }

private:
    struct Answer
    {
        QByteArray data;
        int statusCode = 0;
        bool overflowed = false;
    };

    std::unordered_map<const URLConnection*, Answer> m_answers;
};
