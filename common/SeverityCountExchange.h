#pragma once

// Collects the answers of the severity-count requests in flight, one buffer
// per connection, so overlapping requests never read each other's bytes.

#include "common/SeverityCountAnswer.h"
#include "platform/Alert.h"
#include "platform/URLConnection.h"

#include <QByteArray>
#include <unordered_map>

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

namespace SeverityCount {

// What both programs tell a person when an answer was neither counts nor a
// refusal, with its HTTP status where it had one.
Alert unreadableAnswerAlert(int statusCode);
// A request that could not be carried out, in the person's terms; the
// platform's text is the detail.
Alert unreachableServiceAlert(const Error& error);

} // namespace SeverityCount

// The connection delegate of a program that posts severity-count requests:
// the response and its bytes go to the one exchange, nothing is cached. How a
// request ends (connectionDidFinishLoading, connectionDidFailWithError) is the
// program's own; it asks _responseData for the outcome.
class SeverityCountConnectionDelegate : public URLConnectionDelegate
{
public:
    void connectionDidReceiveResponse(
        URLConnection* connection, const URLResponse& response) override;
    void connectionDidReceiveData(URLConnection* connection, const QByteArray& data) override;
    std::optional<URLResponse> connectionWillCacheResponse(
        URLConnection* connection, const URLResponse& cachedResponse) override;

protected:
    SeverityCountExchange _responseData;
};
