// The details record: its text, its reader, and its halves on the real keyring.

#include "common/DetailsRecord.h"
#include "common/KeychainStore.h"
#include "support/SecretServiceControl.h"

#include <QTest>

class tst_DetailsRecord : public QObject
{
    Q_OBJECT

private slots:
    void init() { DetailsRecord::clearDetailsInKeyChain(); }
    void cleanupTestCase() { DetailsRecord::clearDetailsInKeyChain(); }

    void plainValuesKeepTheRecordText()
    {
        const UserDetails details { "alice smith", "p@ss%20w0rd\\", -1, 1 };
        QCOMPARE(DetailsRecord::text(details),
            QStringLiteral("UserName=alice smith;Password=p@ss%20w0rd\\;Freequency=-1;Status=1"));
        QCOMPARE(DetailsRecord::text({ "", "", 2, 0 }), QStringLiteral("UserName=;Password=;Freequency=2;Status=0"));
    }

    void everyTypedValueSurvivesARoundTrip_data()
    {
        QTest::addColumn<QString>("userName");
        QTest::addColumn<QString>("password");
        QTest::newRow("plain") << "bob" << "secret";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("equals") << "a=b" << "==x=";
        QTest::newRow("semicolons") << "a;b" << ";;";
        QTest::newRow("both and percent") << "%3B=;%" << "p%3D=;";
        QTest::newRow("leading equals") << "=start" << "=";
        QTest::newRow("blanks and unicode") << " Zoë " << "пароль ключ\t";
        QTest::newRow("looks encoded") << "%3D" << "UserName=x";
        // UTF-16 literals: a narrow one would pass through fromUtf8, which drops the mark.
        QTest::newRow("leading byte-order mark") << QStringLiteral("\uFEFFa;b") << QStringLiteral("\uFEFF=");
    }

    void everyTypedValueSurvivesARoundTrip()
    {
        QFETCH(QString, userName);
        QFETCH(QString, password);
        UserDetails read;
        QVERIFY(DetailsRecord::parse(DetailsRecord::text({ userName, password, 1, 0 }), read));
        QCOMPARE(read.userName, userName);
        QCOMPARE(read.password, password);
        QCOMPARE(read.freequency, 1);
        QCOMPARE(read.status, 0);
    }

    void malformedRecordsLeaveDetailsAlone_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << "";
        QTest::newRow("three pieces") << "UserName=a;Password=b;Freequency=1";
        QTest::newRow("five pieces") << "UserName=a;b;Password=c;Freequency=1;Status=1";
        QTest::newRow("trailing separator") << "UserName=a;Password=b;Freequency=1;Status=1;";
        QTest::newRow("piece without equals") << "UserName=a;Password;Freequency=1;Status=1";
        QTest::newRow("status without equals") << "UserName=a;Password=b;Freequency=1;Status";
    }

    void malformedRecordsLeaveDetailsAlone()
    {
        QFETCH(QString, text);
        UserDetails details { QString(), QString(), -1, -1 };
        QVERIFY(!DetailsRecord::parse(text, details));
        QVERIFY(details.userName.isNull() && details.password.isNull());
        QCOMPARE(details.freequency, -1);
        QCOMPARE(details.status, -1);
    }

    void integersReadLikeTheRecordReader_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("minus one") << "-1" << -1;
        QTest::newRow("leading blanks, trailing text") << "  42abc" << 42;
        QTest::newRow("plus sign") << "+7" << 7;
        QTest::newRow("no number") << "x1" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("too large") << "99999999999999999999" << 2147483647;
        QTest::newRow("too small") << "-2147483649" << int(-2147483648LL);
    }

    void integersReadLikeTheRecordReader()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(DetailsRecord::integerValue(text), value);
    }

    void legacyValueWithEqualsIsReadWhole()
    {
        UserDetails details;
        QVERIFY(DetailsRecord::parse("UserName=bob;Password=a=b;Freequency=0;Status=1", details));
        QCOMPARE(details.password, QStringLiteral("a=b"));
    }

    void storeHalvesWriteReadAndClear()
    {
        UserDetails details { QStringLiteral("unchanged"), QString(), 5, 5 };
        QVERIFY(!DetailsRecord::getDetailsFromKeyChain(details));
        QCOMPARE(details.userName, QStringLiteral("unchanged"));

        DetailsRecord::addDetailsToKeyChain({ "carol;x", "pw=1", -1, 1 });
        DetailsRecord::addDetailsToKeyChain({ "carol;x", "pw=2", 2, -1 });
        QCOMPARE(SecretServiceControl::itemAttributes(DetailsRecordKey, DetailsRecordService).size(), 1);
        QVERIFY(DetailsRecord::getDetailsFromKeyChain(details));
        QCOMPARE(details.userName, QStringLiteral("carol;x"));
        QCOMPARE(details.password, QStringLiteral("pw=2"));
        QCOMPARE(details.freequency, 2);
        QCOMPARE(details.status, -1);

        DetailsRecord::clearDetailsInKeyChain();
        QVERIFY(SecretServiceControl::itemAttributes(DetailsRecordKey, DetailsRecordService).isEmpty());
        QVERIFY(!DetailsRecord::getDetailsFromKeyChain(details));

        // What a clear leaves when its delete fails: the empty record.
        QVERIFY(KeychainStore::saveItem(QString(""), DetailsRecordKey, DetailsRecordService, nullptr));
        QVERIFY(!DetailsRecord::getDetailsFromKeyChain(details));
        QCOMPARE(details.userName, QStringLiteral("carol;x"));
    }
};

QTEST_GUILESS_MAIN(tst_DetailsRecord)
#include "tst_DetailsRecord.moc"
