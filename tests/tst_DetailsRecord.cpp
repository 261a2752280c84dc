// The details record: its text, its reader, and its halves on the real keyring.

#include "common/DetailsRecord.h"
#include "common/KeychainStore.h"
#include "platform/StoreWorker.h"
#include "support/SecretServiceControl.h"

#include <QTest>

class tst_DetailsRecord : public QObject
{
    Q_OBJECT

private slots:
    void valuesAreEscapedOnlyWhenTheyMustBeAndEveryTypedValueSurvivesARoundTrip()
    {
        using Values = std::pair<QString, QString>;
        // Placeholders too: QString::arg would fill "%1" and "%3" in a value.
        const Values plain { " Zoë %1%3", "p%20\\пароль %2\t" }, separators { "a;%3B", "==x=" };
        QCOMPARE(DetailsRecord::text({ plain.first, plain.second, 1, 0 }),
            QString("UserName= Zoë %1%3;Password=p%20\\пароль %2\t;Freequency=1;Status=0"));
        QCOMPARE(DetailsRecord::text({ separators.first, separators.second, 1, 0 }),
            QString("UserName==a%3B%253B;Password==%3D%3Dx%3D;Freequency=1;Status=0"));
        // A typed "(null)"; a UTF-16 literal, as fromUtf8 would drop the byte-order mark.
        const Values missing { "(null)", QStringLiteral("\uFEFF=") },
            longest { QString(DetailsRecord::MaximumValueSize, u'x'),
                QString(DetailsRecord::MaximumValueSize / 3 - 1, QChar(0x20AC)) + "=;xx" };
        for (const auto& [userName, password] : { plain, separators, missing, longest }) {
            UserDetails read;
            QVERIFY2(DetailsRecord::parse(DetailsRecord::text({ userName, password, 1, 0 }), read)
                    && read.userName == userName && read.password == password,
                qPrintable(password.left(20)));
        }
    }

    void legacyRecordsAreReadAsTheRecordReaderDidAndMalformedOnesAreRefused()
    {
        UserDetails details;
        QVERIFY(DetailsRecord::parse(
            "UserName=bob;Password=a=b;Freequency=  42abc;Status=-99999999999", details));
        QCOMPARE(details.password, "a=b");
        QCOMPARE(details.freequency, 42);
        QCOMPARE(details.status, INT_MIN);

        const qsizetype over = DetailsRecord::MaximumValueSize + 1;
        for (const QString& text : { QString(""), QString("UserName=a;Password=b;Freequency=1"),
                 QString("UserName=a;Password;Freequency=1;Status=1"),
                 DetailsRecord::text({ QString(), "b", 1, 1 }),
                 DetailsRecord::text({ "a", QString(), 1, 1 }),
                 DetailsRecord::text({ QString(over, u'x'), "b", 1, 1 }),
                 DetailsRecord::text({ "a", QString(over / 2 + 1, QChar(0xE9)), 1, 1 }) }) {
            UserDetails untouched { "u", "p", -1, -1 };
            QVERIFY2(!DetailsRecord::parse(text, untouched) && untouched.userName == "u"
                    && untouched.status == -1,
                qPrintable(text.left(80)));
        }
    }

    void storeHalvesWriteReadAndClear()
    {
        UserDetails details;
        // Asked of the store's worker as a program quits: the save is done before the worker is
        // joined, and its answer goes nowhere once its context has gone.
        bool answered = false;
        {
            StoreWorker worker;
            auto context = std::make_unique<QObject>();
            DetailsRecord::addDetailsToKeyChain(
                { "carol", "pw", 2, -1 }, context.get(), [&](const auto&) { answered = true; });
            context.reset();
        }
        QCoreApplication::sendPostedEvents();
        QVERIFY2(!answered, "an answer reached a context that had gone");
        QVERIFY(DetailsRecord::getDetailsFromKeyChain(details));
        QCOMPARE(details.userName, "carol");
        QCOMPARE(details.password, "pw");
        QCOMPARE(details.freequency, 2);
        QCOMPARE(details.status, -1);
        DetailsRecord::clearDetailsInKeyChain();
        QVERIFY(
            SecretServiceControl::itemAttributes(DetailsRecordKey, DetailsRecordService).isEmpty());

        // A clear whose delete fails after the empty record was written has
        // signed the user out all the same. Here the delete meets a copy of
        // the record in a second keyring, locked.
        DetailsRecord::addDetailsToKeyChain({ "carol", "pw", 0, 1 });
        const QString other = SecretServiceControl::createCollection("other");
        const QMap<QString, QString> copy { { "account", DetailsRecordKey },
            { "service", DetailsRecordService } };
        QVERIFY(!other.isEmpty());
        QVERIFY(SecretServiceControl::plantItem(copy, "copy", other));
        QVERIFY(SecretServiceControl::lockCollection(other));
        QVERIFY2(!KeychainStore::deleteItemForKey(DetailsRecordKey, DetailsRecordService, nullptr),
            "a delete left a locked copy behind");
        const bool cleared = DetailsRecord::clearDetailsInKeyChain(nullptr);
        QVERIFY(SecretServiceControl::deleteCollection(other));
        QVERIFY(cleared);
        QVERIFY(!DetailsRecord::getDetailsFromKeyChain(details));
        DetailsRecord::clearDetailsInKeyChain();

        // Only a missing record is no one: one that does not decode may be
        // a newer build's, and is waited on; a clear still removes it.
        Error error;
        QVERIFY(!DetailsRecord::getDetailsFromKeyChain(details, &error));
        QVERIFY(!KeychainStore::isStoreUnavailableError(error));
        QVERIFY(SecretServiceControl::plantItem(copy, "not an archive"));
        QVERIFY(!DetailsRecord::getDetailsFromKeyChain(details, &error));
        QVERIFY(KeychainStore::isStoreUnavailableError(error));
        QVERIFY(DetailsRecord::clearDetailsInKeyChain(nullptr));
        QVERIFY(
            SecretServiceControl::itemAttributes(DetailsRecordKey, DetailsRecordService).isEmpty());
    }
};

QTEST_GUILESS_MAIN(tst_DetailsRecord)
#include "tst_DetailsRecord.moc"
