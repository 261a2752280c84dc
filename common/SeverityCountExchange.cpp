#include "common/SeverityCountExchange.h"

#include "platform/URLConnection.h"

void SeverityCountExchange::connectionDidReceiveResponse(URLConnection* connection)
{
    m_answers[connection] = Answer {};
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
    if (found == m_answers.end())
        return {}; // no bytes at all: unreadable
    const Answer answer = std::move(found->second);
    m_answers.erase(found);
    if (answer.overflowed)
        return {};
    return SeverityCount::classify(answer.data);
}

void SeverityCountExchange::connectionDidFailWithError(URLConnection* connection)
{
    m_answers.erase(connection);
}

qsizetype SeverityCountExchange::bufferedSize(const URLConnection* connection) const
{
    const auto found = m_answers.find(connection);
    return found == m_answers.end() ? 0 : found->second.data.size();
}
