#include "service/SeverityCounter.h"

SeverityCount SeverityCounter::count(const QList<QDate>& expiryDates, QDate today)
{
    SeverityCount count;
    for (const QDate date : expiryDates) {
        const qint64 daysLeft = today.daysTo(date);
        if (daysLeft < 0)
            ++count.expired;
        else if (daysLeft <= criticalDays)
            ++count.critical;
        else if (daysLeft <= expiringDays)
            ++count.expiring;
    }
    return count;
}
