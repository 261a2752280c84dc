// The item store on a session bus with no Secret Service at all.

#include "common/KeychainStore.h"

#include <QTest>

class tst_KeychainStoreUnavailable : public QObject
{
    Q_OBJECT

private slots:
    void everyCallFailsWithNoStoreAvailable()
    {
        // A delete asks as a read does.
        Error readError, saveError;
        QVERIFY(!KeychainStore::itemForKey("key", "service", &readError).isValid());
        QVERIFY(!KeychainStore::saveItem(QStringLiteral("v"), "key", "service", &saveError));
        for (const Error& error : { readError, saveError })
            QCOMPARE(error.code, qint64(KeychainStatus::NotAvailable));
    }
};

QTEST_GUILESS_MAIN(tst_KeychainStoreUnavailable)
#include "tst_KeychainStoreUnavailable.moc"
