// The item store against the tests' real keyring daemon.

#include "common/KeychainStore.h"
#include "support/SecretServiceControl.h"

#include <QTest>
#include <stdexcept>

const QString service = QStringLiteral("tarvenDeskTestService");

class tst_KeychainStore : public QObject
{
    Q_OBJECT

    QString m_key;
    int m_counter = 0;

    QVariant read(const QString& group = {})
    {
        return KeychainStore::itemForKey(m_key, service, group, nullptr);
    }
    bool save(const QVariant& item, const QString& group = {}, qint64 access = 1)
    {
        return KeychainStore::saveItem(item, m_key, service, group, access, nullptr);
    }
    QList<QMap<QString, QString>> items() const
    {
        return SecretServiceControl::itemAttributes(m_key, service);
    }

private slots:
    void init()
    {
        m_key
            = QStringLiteral("key-%1-%2").arg(QCoreApplication::applicationPid()).arg(++m_counter);
    }

    void itemIsAddedReplacedAndDeletedWithErrorsOnlyOnFailure()
    {
        const Error untouched = Error::errorWithDomain(QStringLiteral("untouched"), 4242);
        Error error = untouched;
        QVERIFY(!KeychainStore::itemForKey(m_key, service, &error).isValid());
        QCOMPARE(error.domain, KeychainErrorDomain);
        QCOMPARE(error.code, KeychainStatus::ItemNotFound);
        QVERIFY(error.localizedDescription().contains(m_key));

        error = untouched;
        QVERIFY(KeychainStore::saveItem(QStringLiteral("value"), m_key, service, &error));
        QCOMPARE(
            KeychainStore::itemForKey(m_key, service, &error), QVariant(QStringLiteral("value")));
        // The empty string is an item, not a missing one.
        QVERIFY(KeychainStore::saveItem(QString(""), m_key, service, &error));
        QCOMPARE(KeychainStore::itemForKey(m_key, service, &error), QVariant(QString("")));
        QVERIFY(KeychainStore::deleteItemForKey(m_key, service, &error));
        QCOMPARE(error, untouched);

        QVERIFY(!KeychainStore::deleteItemForKey(m_key, service, &error));
        QCOMPARE(error.code, KeychainStatus::ItemNotFound);
        // A null item deletes.
        QVERIFY(save(QStringLiteral("value")));
        QVERIFY(save(QVariant()));
        QVERIFY(items().isEmpty());

        // An empty key or service, or an item that is not a string, throws; an
        // empty service throws before a null item could delete anything.
        QVERIFY(save(QStringLiteral("kept")));
        QVERIFY_THROWS_EXCEPTION(
            std::invalid_argument, KeychainStore::saveItem(QString("x"), "", service, nullptr));
        QVERIFY_THROWS_EXCEPTION(
            std::invalid_argument, KeychainStore::saveItem(QVariant(), m_key, "", nullptr));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, save(QVariant::fromValue(QPoint(1, 2))));
        QVERIFY_THROWS_EXCEPTION(
            std::invalid_argument, KeychainStore::itemForKey("", service, nullptr));
        QVERIFY_THROWS_EXCEPTION(
            std::invalid_argument, KeychainStore::deleteItemForKey(m_key, "", nullptr));
        QCOMPARE(read(), QVariant(QStringLiteral("kept")));
    }

    void accessGroupAndAccessibilityAreWrittenOnlyWhenGiven_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<qint64>("accessibility");
        QTest::addColumn<QString>("written");
        QTest::newRow("when unlocked, empty group") << QString("") << qint64(0) << "when-unlocked";
        QTest::newRow("after first unlock, a group") << "g1" << qint64(1) << "after-first-unlock";
        QTest::newRow("neither") << QString() << qint64(2) << QString();
    }

    void accessGroupAndAccessibilityAreWrittenOnlyWhenGiven()
    {
        QFETCH(QString, group);
        QFETCH(qint64, accessibility);
        QFETCH(QString, written);
        QVERIFY(save(QStringLiteral("add"), group, accessibility));
        QCOMPARE(items().value(0).value("accessible"), written);
        QCOMPARE(items().value(0).value("access-group"), group);
        QCOMPARE(read(group), QStringLiteral("add"));
        QVERIFY(!read(QStringLiteral("other")).isValid());
        QVERIFY(KeychainStore::deleteItemForKey(m_key, service, group, nullptr));

        // A save with other attributes leaves no stale copy for a read to meet.
        QVERIFY(save(QStringLiteral("add"), {}, 2));
        QVERIFY(save(QStringLiteral("upd"), {}, accessibility));
        QCOMPARE(items().size(), 1);
        QCOMPARE(items().value(0).value("accessible"), written);
        QCOMPARE(read(), QVariant(QStringLiteral("upd")));
    }

    void plantedBytesAreReadAsTheLastBuildWroteThem()
    {
        // "old" as the last build stored it: header, format 1, the QDataStream
        // of a QVariant holding the string.
        QVERIFY(SecretServiceControl::plantItem({ { "account", m_key }, { "service", service } },
            QByteArray::fromHex("54444b41010000000a0000000006006f006c0064")));
        QCOMPARE(read(), QVariant(QStringLiteral("old")));
        QVERIFY(save(QStringLiteral("new")));
        QCOMPARE(items().size(), 1);
        QCOMPARE(read(), QStringLiteral("new"));

        const QString bad = m_key + "-bad";
        QVERIFY(SecretServiceControl::plantItem(
            { { "account", bad }, { "service", service } }, "not an archive"));
        Error error;
        QVERIFY(!KeychainStore::itemForKey(bad, service, &error).isValid());
        QCOMPARE(error.code, UnarchiveFailedErrorCode);
        QVERIFY(!error.localizedFailureReason().isEmpty());
    }

    void aLockedKeyringIsNotAllowedRatherThanEmpty_data()
    {
        QTest::addColumn<bool>("onDisk");
        QTest::newRow("locked through the service") << false;
        QTest::newRow("locked on disk at the daemon's start") << true;
    }

    void aLockedKeyringIsNotAllowedRatherThanEmpty()
    {
        QFETCH(bool, onDisk);
        QString why;
        QVERIFY(save(QStringLiteral("secret")));
        QVERIFY2(onDisk ? KeyringDaemon::stop(&why) && KeyringDaemon::start(&why, false)
                        : SecretServiceControl::lockDefaultCollection(&why),
            qPrintable(why));
        Error readError, saveError, deleteError;
        const bool failed = !KeychainStore::itemForKey(m_key, service, &readError).isValid()
            && !KeychainStore::saveItem(QStringLiteral("other"), m_key, service, &saveError)
            && !KeychainStore::deleteItemForKey(m_key, service, &deleteError);
        QVERIFY(SecretServiceControl::unlockDefaultCollection());
        QVERIFY(failed);
        for (const Error& error : { readError, saveError, deleteError })
            QCOMPARE(error.code, qint64(KeychainStatus::InteractionNotAllowed));
        QCOMPARE(read(), QVariant(QStringLiteral("secret")));
    }

    void aLockedKeyringIsUnlockedThroughTheDesktopsPrompt()
    {
        const QString password = TARVENDESK_TEST_KEYRING_PASSWORD;
        KeyringPrompter prompter;
        QVERIFY(prompter.isValid());
        QVERIFY(save(QStringLiteral("secret")));
        QVERIFY(SecretServiceControl::lockDefaultCollection());
        prompter.answerNextPrompt();
        Error error;
        QVERIFY(!KeychainStore::unlockItemForKey(m_key, service, &error));
        QVERIFY(prompter.answered());
        QCOMPARE(error.code, qint64(KeychainStatus::InteractionNotAllowed));
        prompter.answerNextPrompt({ password });
        QVERIFY2(KeychainStore::unlockItemForKey(m_key, service, &error), "not unlocked");
        QVERIFY(prompter.answered());
        QCOMPARE(read(), QVariant(QStringLiteral("secret")));

        // With no default collection a save has one made, through the prompt
        // that asks for its password and its confirmation, and stores there;
        // with the prompt dismissed it stores nowhere and does not ask again.
        const QString login = "/org/freedesktop/secrets/collection/login";
        const QString aliased = "/org/freedesktop/secrets/aliases/default";
        QVERIFY(SecretServiceControl::setDefaultAlias("/"));
        prompter.answerNextPrompt();
        QVERIFY2(!KeychainStore::saveItem(QStringLiteral("other"), m_key, service, {}, 1, &error),
            "saved with the prompt dismissed");
        QVERIFY(prompter.answered());
        QCOMPARE(error.code, qint64(KeychainStatus::InteractionNotAllowed));
        prompter.answerNextPrompt({ password, password });
        const bool saved = save(QStringLiteral("other"));
        QVERIFY2(prompter.answered(), "no prompt was shown");
        const int inNew = SecretServiceControl::itemAttributes(m_key, service, aliased).size();
        const int inLogin = SecretServiceControl::itemAttributes(m_key, service, login).size();
        QVERIFY(SecretServiceControl::deleteCollection(aliased));
        QVERIFY(SecretServiceControl::setDefaultAlias(login));
        QVERIFY2(saved && inNew == 1, "the record is not in a new default collection");
        QCOMPARE(inLogin, 0);
    }
};

QTEST_GUILESS_MAIN(tst_KeychainStore)
#include "tst_KeychainStore.moc"
