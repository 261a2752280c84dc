#include "common/SeverityCountExchange.h"

#include "platform/Error.h"
#include "platform/Logging.h"

#include <QCoreApplication>

void SeverityCountExchange::connectionDidReceiveResponse(
    URLConnection* connection, const URLResponse& response)
{
    m_answers[connection] = Answer { QByteArray(), response.statusCode, false };
}

void SeverityCountExchange::connectionDidReceiveData(
    URLConnection* connection, const QByteArray& data)
{
    Answer& answer = m_answers[connection];
    if (answer.overflowed)
        return;
    if (data.size() > MaximumAnswerSize - answer.data.size()) {
        answer.overflowed = true;
        answer.data = QByteArray();
        connection->stopLoading();
        return;
    }
    answer.data.append(data);
}

ExchangeOutcome SeverityCountExchange::connectionDidFinishLoading(URLConnection* connection)
{
    const auto found = m_answers.find(connection);
    if (found == m_answers.end()) {
        qCWarning(lcExchange) << "The service's answer had no response at all";
        return {};
    }
    const Answer answer = std::move(found->second);
    m_answers.erase(found);
    if (answer.overflowed) {
        qCWarning(lcExchange) << "The service's answer was dropped: larger than"
                              << MaximumAnswerSize << "bytes; HTTP status" << answer.statusCode;
        ExchangeOutcome unreadable;
        unreadable.statusCode = answer.statusCode;
        return unreadable;
    }
    const ExchangeOutcome outcome = SeverityCount::classify(answer.data, answer.statusCode);
    if (outcome.kind == ExchangeOutcome::Kind::Unreadable)
        qCWarning(lcExchange) << "The service's answer could not be read; HTTP status"
                              << answer.statusCode << "," << answer.data.size() << "bytes";
    return outcome;
}

void SeverityCountExchange::connectionDidFailWithError(URLConnection* connection)
{
    m_answers.erase(connection);
}

Alert SeverityCount::unreadableAnswerAlert(int statusCode)
{
    const auto tr
        = [](const char* text) { return QCoreApplication::translate("SeverityCount", text); };
    return { tr("The service's answer could not be read."),
        statusCode > 0 ? tr("It answered with HTTP status %1.").arg(statusCode) : QString(),
        { tr("OK") } };
}

Alert SeverityCount::unreachableServiceAlert(const Error& error)
{
    return { QCoreApplication::translate(
                 "SeverityCount", "The document service could not be reached."),
        error.localizedDescription(), { QCoreApplication::translate("SeverityCount", "OK") } };
}

qsizetype SeverityCountExchange::bufferedSize(const URLConnection* connection) const
{
    const auto found = m_answers.find(connection);
    return found == m_answers.end() ? 0 : found->second.data.size();
}

void SeverityCountConnectionDelegate::connectionDidReceiveResponse(
    URLConnection* connection, const URLResponse& response)
{
    _responseData.connectionDidReceiveResponse(connection, response);
}

void SeverityCountConnectionDelegate::connectionDidReceiveData(
    URLConnection* connection, const QByteArray& data)
{
    _responseData.connectionDidReceiveData(connection, data);
}

std::optional<URLResponse> SeverityCountConnectionDelegate::connectionWillCacheResponse(
    URLConnection*, const URLResponse&)
{
    return std::nullopt;
}
