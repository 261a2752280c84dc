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

    void everyTypedValueSurvivesARoundTrip_data()
    {
        QTest::addColumn<QString>("userName");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("text"); // empty: not compared
        QTest::newRow("plain values are kept as they are")
            << "alice smith"
            << "p@ss%20w0rd\\"
            << "UserName=alice smith;Password=p@ss%20w0rd\\;Freequency=1;Status=0";
        QTest::newRow("empty") << ""
                               << ""
                               << "UserName=;Password=;Freequency=1;Status=0";
        QTest::newRow("separators are escaped")
            << "a;b"
            << "==x="
            << "UserName==a%3Bb;Password==%3D%3Dx%3D;Freequency=1;Status=0";
        QTest::newRow("percent beside them") << "%3B=;%"
                                             << "p%3D=;" << QString();
        QTest::newRow("leading equals") << "=start"
                                        << "=" << QString();
        QTest::newRow("placeholders") << "%1%3"
                                      << "%@ %2" << QString();
        QTest::newRow("blanks and unicode") << " Zoë "
                                            << "пароль ключ\t" << QString();
        QTest::newRow("typed like a missing value") << "(null)"
                                                    << "(null)" << QString();
        QTest::newRow("longest values")
            << QString(DetailsRecord::MaximumValueSize, u'x')
            << QString(DetailsRecord::MaximumValueSize / 3 - 1, QChar(0x20AC)) + "=;xx" << QString();
        // UTF-16 literals: a narrow one would pass through fromUtf8, which drops the mark.
        QTest::newRow("leading byte-order mark")
            << QStringLiteral("\uFEFFa;b") << QStringLiteral("\uFEFF=") << QString();
    }

    void everyTypedValueSurvivesARoundTrip()
    {
        QFETCH(QString, userName);
        QFETCH(QString, password);
        QFETCH(QString, text);
        const QString written = DetailsRecord::text({ userName, password, 1, 0 });
        if (!text.isEmpty())
            QCOMPARE(written, text);
        UserDetails read;
        QVERIFY2(DetailsRecord::parse(written, read), qPrintable(written));
        QCOMPARE(read.userName, userName);
        QCOMPARE(read.password, password);
        QCOMPARE(read.freequency, 1);
        QCOMPARE(read.status, 0);
    }

    void legacyValueWithEqualsIsReadWholeAndMalformedRecordsAreRefused()
    {
        UserDetails details;
        QVERIFY(DetailsRecord::parse("UserName=bob;Password=a=b;Freequency=0;Status=1", details));
        QCOMPARE(details.password, QStringLiteral("a=b"));

        const qsizetype over = DetailsRecord::MaximumValueSize + 1;
        for (const QString& text : { QString(""), QString("UserName=a;Password=b;Freequency=1"),
                 QString("UserName=a;b;Password=c;Freequency=1;Status=1"),
                 QString("UserName=a;Password=b;Freequency=1;Status=1;"),
                 QString("UserName=a;Password;Freequency=1;Status=1"),
                 QString("UserName=(null);Password=b;Freequency=1;Status=1"),
                 QString("UserName=a;Password=(null);Freequency=1;Status=1"),
                 DetailsRecord::text({ QString(over, u'x'), "b", 1, 1 }),
                 DetailsRecord::text({ "a", QString(over / 2 + 1, QChar(0xE9)), 1, 1 }),
                 DetailsRecord::text({ QString(8 * 1024 * 1024, u'n'), "b", 1, 1 }) }) {
            UserDetails untouched { QString(), QString(), -1, -1 };
            QVERIFY2(!DetailsRecord::parse(text, untouched), qPrintable(text.left(80)));
            QVERIFY2(untouched.userName.isNull() && untouched.password.isNull()
                    && untouched.freequency == -1 && untouched.status == -1,
                qPrintable(text.left(80)));
        }
    }

    void integersReadLikeTheRecordReader_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("leading blanks, trailing text") << "  42abc" << 42;
        QTest::newRow("no number") << "x1" << 0;
        QTest::newRow("too large") << "99999999999999999999" << 2147483647;
        QTest::newRow("too small") << "-2147483649" << int(-2147483648LL);
    }

    void integersReadLikeTheRecordReader()
    {
        QFETCH(QString, text);
        QFETCH(int, value);
        QCOMPARE(DetailsRecord::integerValue(text), value);
    }

    void storeHalvesWriteReadAndClear()
    {
        UserDetails details { QStringLiteral("unchanged"), QString(), 5, 5 };
        QVERIFY(!DetailsRecord::getDetailsFromKeyChain(details));
        QCOMPARE(details.userName, QStringLiteral("unchanged"));

        DetailsRecord::addDetailsToKeyChain({ "carol;x", "pw=1", -1, 1 });
        DetailsRecord::addDetailsToKeyChain({ "carol;x", "pw=2", 2, -1 });
        QCOMPARE(
            SecretServiceControl::itemAttributes(DetailsRecordKey, DetailsRecordService).size(), 1);
        QVERIFY(DetailsRecord::getDetailsFromKeyChain(details));
        QCOMPARE(details.userName, QStringLiteral("carol;x"));
        QCOMPARE(details.password, QStringLiteral("pw=2"));
        QCOMPARE(details.freequency, 2);
        QCOMPARE(details.status, -1);

        DetailsRecord::clearDetailsInKeyChain();
        QVERIFY(
            SecretServiceControl::itemAttributes(DetailsRecordKey, DetailsRecordService).isEmpty());
        QVERIFY(!DetailsRecord::getDetailsFromKeyChain(details));

        // What a clear leaves when its delete fails: the empty record.
        QVERIFY(
            KeychainStore::saveItem(QString(""), DetailsRecordKey, DetailsRecordService, nullptr));
        QVERIFY(!DetailsRecord::getDetailsFromKeyChain(details));
        QCOMPARE(details.userName, QStringLiteral("carol;x"));

        // A clear whose delete fails after the empty record was written has
        // signed the user out all the same. Here the delete meets a copy of
        // the record in a second keyring, locked.
        DetailsRecord::addDetailsToKeyChain({ "carol", "pw", 0, 1 });
        const QString other = SecretServiceControl::createCollection("other");
        QVERIFY(!other.isEmpty()
            && SecretServiceControl::plantItem(
                { { "account", DetailsRecordKey }, { "service", DetailsRecordService } }, "copy", other)
            && SecretServiceControl::lockCollection(other));
        Error error;
        const bool cleared = DetailsRecord::clearDetailsInKeyChain(&error);
        QVERIFY(SecretServiceControl::deleteCollection(other));
        QVERIFY2(cleared, qPrintable(error.localizedDescription()));
        QVERIFY(!DetailsRecord::getDetailsFromKeyChain(details));
    }
};

QTEST_GUILESS_MAIN(tst_DetailsRecord)
#include "tst_DetailsRecord.moc"
