// The item store against the tests' real keyring daemon.

#include "common/KeychainStore.h"
#include "support/SecretServiceControl.h"

#include <QTest>
#include <stdexcept>

namespace {

const QString service = QStringLiteral("tarvenDeskTestService");
const Error untouched = Error::errorWithDomain(QStringLiteral("untouched"), 4242);

QString notFound(const QString& key)
{
    return QStringLiteral("Item with key '%1' for service '%2' could not be found in the keychain.")
        .arg(key, service);
}

} // namespace

class tst_KeychainStore : public QObject
{
    Q_OBJECT

    QString m_key;
    int m_counter = 0;

    QString attribute(const QString& name) const
    {
        return SecretServiceControl::itemAttributes(m_key, service).value(0).value(name);
    }

private slots:
    void init()
    {
        m_key
            = QStringLiteral("key-%1-%2").arg(QCoreApplication::applicationPid()).arg(++m_counter);
    }

    void itemIsAddedUpdatedAndDeletedWithErrorsOnlyOnFailure()
    {
        Error error = untouched;
        QVERIFY(!KeychainStore::itemForKey(m_key, service, &error).isValid());
        QCOMPARE(error.domain, KeychainErrorDomain);
        QCOMPARE(error.code, qint64(KeychainStatus::ItemNotFound));
        QCOMPARE(error.localizedDescription(), notFound(m_key));

        error = untouched;
        QVERIFY(KeychainStore::saveItem(QStringLiteral("first"), m_key, service, &error));
        QVERIFY(KeychainStore::saveItem(QStringLiteral("second"), m_key, service, &error));
        QCOMPARE(
            KeychainStore::itemForKey(m_key, service, &error), QVariant(QStringLiteral("second")));
        QCOMPARE(SecretServiceControl::itemAttributes(m_key, service).size(), 1);
        QVERIFY(KeychainStore::saveItem(QString(""), m_key, service, &error));
        const QVariant empty = KeychainStore::itemForKey(m_key, service, &error);
        QVERIFY(empty.metaType().id() == QMetaType::QString && empty.toString().isEmpty());
        QCOMPARE(error, untouched);

        // An empty service throws before a null item could delete anything.
        QVERIFY_THROWS_EXCEPTION(
            std::invalid_argument, KeychainStore::saveItem(QVariant(), m_key, "", nullptr));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument,
            KeychainStore::saveItem(QVariant::fromValue(QPoint(1, 2)), m_key, service, nullptr));
        QVERIFY(KeychainStore::itemForKey(m_key, service, nullptr).isValid());

        QVERIFY(KeychainStore::deleteItemForKey(m_key, service, &error));
        QCOMPARE(error, untouched);
        QVERIFY(!KeychainStore::deleteItemForKey(m_key, service, &error));
        QVERIFY(error.localizedDescription().startsWith(
            QStringLiteral("Could not delete item with key '%1' for service '%2'").arg(m_key, service)));
        QCOMPARE(error.underlyingError().localizedDescription(), notFound(m_key));

        // A null item deletes.
        QVERIFY(KeychainStore::saveItem(QStringLiteral("value"), m_key, service, nullptr));
        QVERIFY(KeychainStore::saveItem(
            QVariant(), m_key, service, QStringLiteral("group"), 0, nullptr));
        QVERIFY(SecretServiceControl::itemAttributes(m_key, service).isEmpty());
        QVERIFY(!KeychainStore::saveItem(QVariant(), m_key, service, &error));
        QVERIFY(error.code == KeychainStatus::ItemNotFound && error.hasUnderlyingError());
    }

    void emptyArgumentsThrowNamingTheOperation()
    {
        const auto reason = [](const std::function<void()>& call) {
            try {
                call();
            } catch (const std::invalid_argument& exception) {
                return QString::fromStdString(exception.what());
            }
            return QStringLiteral("no exception");
        };
        const QString save
            = "+[KeychainStore saveItem:forKey:forService:inAccessGroup:withAccessibility:error:] ";
        // The key is checked before the service; a read is checked as the lookup.
        QCOMPARE(reason([] { KeychainStore::saveItem(QStringLiteral("x"), "", "", nullptr); }),
            save + "key argument cannot be empty");
        QCOMPARE(reason([] { KeychainStore::saveItem(QStringLiteral("x"), "k", {}, nullptr); }),
            save + "service argument cannot be empty");
        QCOMPARE(reason([] { KeychainStore::rawDataForKey(QString(), "s", nullptr); }),
            "+[KeychainStore _itemAttributesAndDataForKey:forService:inAccessGroup:error:] key "
            "argument cannot be empty");
        QCOMPARE(reason([] { KeychainStore::deleteItemForKey("k", "", nullptr); }),
            "+[KeychainStore deleteItemForKey:forService:inAccessGroup:error:] service argument "
            "cannot be empty");
    }

    void accessGroupAndAccessibilityAreWrittenOnlyWhenGiven_data()
    {
        QTest::addColumn<QString>("group");
        QTest::addColumn<qint64>("accessibility");
        QTest::addColumn<QString>("written");
        QTest::newRow("when unlocked, empty group") << QString("") << qint64(0) << "when-unlocked";
        QTest::newRow("after first unlock, a group") << "g1" << qint64(1) << "after-first-unlock";
        QTest::newRow("2") << QString() << qint64(2) << QString();
        QTest::newRow("-1") << QString() << qint64(-1) << QString();
    }

    void accessGroupAndAccessibilityAreWrittenOnlyWhenGiven()
    {
        QFETCH(QString, group);
        QFETCH(qint64, accessibility);
        QFETCH(QString, written);
        QVERIFY(KeychainStore::saveItem(
            QStringLiteral("add"), m_key, service, group, accessibility, nullptr));
        QCOMPARE(attribute("accessible"), written);
        QCOMPARE(attribute("access-group"), group.isEmpty() ? QString() : group);
        QCOMPARE(KeychainStore::itemForKey(m_key, service, group, nullptr),
            QVariant(QStringLiteral("add")));
        QVERIFY(!KeychainStore::itemForKey(m_key, service, "other", nullptr).isValid());
        QVERIFY(KeychainStore::deleteItemForKey(m_key, service, group, nullptr));

        // On the update path an item that had no entry keeps none.
        QVERIFY(
            KeychainStore::saveItem(QStringLiteral("add"), m_key, service, QString(), 2, nullptr));
        QVERIFY(KeychainStore::saveItem(
            QStringLiteral("upd"), m_key, service, QString(), accessibility, nullptr));
        QCOMPARE(attribute("accessible"), written);
        QCOMPARE(SecretServiceControl::itemAttributes(m_key, service).size(), 1);
        QCOMPARE(
            KeychainStore::itemForKey(m_key, service, nullptr).toString(), QStringLiteral("upd"));
    }

    void plantedBytesAreReadAsTheLastBuildWroteThem()
    {
        // The record "old" as the last build stored it: header, format 1, the
        // QDataStream of a QVariant holding the string.
        const QMap<QString, QString> old { { "account", m_key }, { "service", service },
            { "accessible", "after-first-unlock" } };
        QVERIFY(SecretServiceControl::plantItem(
            old, QByteArray::fromHex("54444b41010000000a0000000006006f006c0064")));
        QCOMPARE(KeychainStore::itemForKey(m_key, service, nullptr), QVariant(QStringLiteral("old")));
        QVERIFY(KeychainStore::saveItem(QStringLiteral("new"), m_key, service, nullptr));
        QCOMPARE(SecretServiceControl::itemAttributes(m_key, service).size(), 1);
        QCOMPARE(KeychainStore::itemForKey(m_key, service, nullptr), QVariant(QStringLiteral("new")));

        const QString bad = m_key + "-bad";
        QVERIFY(SecretServiceControl::plantItem(
            { { "account", bad }, { "service", service } }, "not an archive"));
        Error error;
        QVERIFY(!KeychainStore::itemForKey(bad, service, &error).isValid());
        QCOMPARE(error.code, qint64(21));
        QVERIFY(!error.userInfo.contains(Error::LocalizedDescriptionKey));
        QVERIFY(!error.localizedFailureReason().isEmpty());
        QCOMPARE(KeychainStore::rawDataForKey(bad, service, nullptr), QByteArray("not an archive"));
        QVERIFY(KeychainStore::deleteItemForKey(bad, service, nullptr));
    }

    void lockedCollectionIsInteractionNotAllowed()
    {
        QVERIFY(KeychainStore::saveItem(QStringLiteral("secret"), m_key, service, nullptr));
        QString why;
        QVERIFY2(SecretServiceControl::lockDefaultCollection(&why), qPrintable(why));
        Error readError, saveError, freshError;
        const QVariant read = KeychainStore::itemForKey(m_key, service, &readError);
        const bool saved
            = KeychainStore::saveItem(QStringLiteral("other"), m_key, service, &saveError);
        const bool added = KeychainStore::saveItem(
            QStringLiteral("other"), m_key + "-new", service, &freshError);
        QVERIFY2(SecretServiceControl::unlockDefaultCollection(&why), qPrintable(why));

        QVERIFY(!read.isValid() && !saved && !added);
        QCOMPARE(readError.code, qint64(KeychainStatus::InteractionNotAllowed));
        QVERIFY(readError.localizedDescription().startsWith(
            QStringLiteral("Interaction with key '%1' for service '%2' was not allowed.").arg(m_key, service)));
        QCOMPARE(saveError, readError);
        QCOMPARE(freshError.code, qint64(KeychainStatus::InteractionNotAllowed));
        QCOMPARE(KeychainStore::itemForKey(m_key, service, nullptr).toString(),
            QStringLiteral("secret"));
    }
};

QTEST_GUILESS_MAIN(tst_KeychainStore)
#include "tst_KeychainStore.moc"
