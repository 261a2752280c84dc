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
        const QString none;
        QTest::newRow("plain values are kept as they are") << "alice smith" << "p@ss%20w0rd\\"
            << "UserName=alice smith;Password=p@ss%20w0rd\\;Freequency=1;Status=0";
        QTest::newRow("empty") << "" << "" << "UserName=;Password=;Freequency=1;Status=0";
        QTest::newRow("separators are escaped") << "a;b" << "==x="
            << "UserName==a%3Bb;Password==%3D%3Dx%3D;Freequency=1;Status=0";
        QTest::newRow("percent beside them") << "%3B=;%" << "p%3D=;" << none;
        QTest::newRow("leading equals") << "=start" << "=" << none;
        QTest::newRow("placeholders") << "%1%3" << "%@ %2" << none;
        QTest::newRow("blanks and unicode") << " Zoë " << "пароль ключ\t" << none;
        QTest::newRow("typed like a missing value") << "(null)" << "(null)" << none;
        QTest::newRow("longest values")
            << QString(DetailsRecord::MaximumValueSize, u'x')
            << QString(DetailsRecord::MaximumValueSize / 3 - 1, QChar(0x20AC)) + "=;xx" << none;
        // UTF-16 literals: a narrow one would pass through fromUtf8, which drops the mark.
        QTest::newRow("leading byte-order mark")
            << QStringLiteral("\uFEFFa;b") << QStringLiteral("\uFEFF=") << none;
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

    void integersReadLikeTheRecordReader()
    {
        for (const auto& [text, value] : QList<std::pair<QString, int>> { { "  42abc", 42 },
                 { "x1", 0 }, { "99999999999999999999", 2147483647 },
                 { "-2147483649", int(-2147483648LL) } })
            QVERIFY2(DetailsRecord::integerValue(text) == value, qPrintable(text));
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
