#pragma once

// Sorts a user's documents by how soon they expire. A document is counted
// once, in the first class that fits: expired (the date has passed), critical
// (it falls within 7 days, today included), expiring (within 30 days).

#include <QDate>
#include <QList>

struct SeverityCount
{
    int expiring = 0;
    int critical = 0;
    int expired = 0;

    bool operator==(const SeverityCount&) const = default;
};

class SeverityCounter
{
public:
    static constexpr int criticalDays = 7;
    static constexpr int expiringDays = 30;

    static SeverityCount count(const QList<QDate>& expiryDates, QDate today);
};
