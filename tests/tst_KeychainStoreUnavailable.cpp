// The item store on a session bus with no Secret Service at all.

#include "common/KeychainStore.h"

#include <QTest>

class tst_KeychainStoreUnavailable : public QObject
{
    Q_OBJECT

private slots:
    void everyCallFailsWithNoStoreAvailable()
    {
        Error readError, saveError, deleteError;
        QVERIFY(!KeychainStore::itemForKey("key", "service", &readError).isValid());
        QVERIFY(!KeychainStore::saveItem(QStringLiteral("v"), "key", "service", &saveError));
        QVERIFY(!KeychainStore::deleteItemForKey("key", "service", &deleteError));
        QVERIFY(!KeychainStore::saveItem(QStringLiteral("v"), "key", "service", nullptr));
        for (const Error& error : { readError, saveError, deleteError }) {
            QCOMPARE(error.code, qint64(KeychainStatus::NotAvailable));
            QVERIFY(error.localizedDescription().startsWith("This is a undefined error."));
        }
    }
};

QTEST_GUILESS_MAIN(tst_KeychainStoreUnavailable)
#include "tst_KeychainStoreUnavailable.moc"
