// The item store against the tests' real keyring daemon.

#include "common/KeychainStore.h"
#include "platform/KeyedArchiver.h"
#include "platform/SecItem.h"
#include "support/SecretServiceControl.h"

#include <QTest>

#include <stdexcept>

namespace {

const QString service = QStringLiteral("tarvenDeskTestService");
const Error untouched = Error::errorWithDomain(QStringLiteral("untouched"), 4242);

QString itemNotFound(const QString& key)
{
    return QStringLiteral("Item with key '%1' for service '%2' could not be found in the keychain.").arg(key, service);
}

QString exceptionText(const std::function<void()>& call)
{
    try {
        call();
    } catch (const std::invalid_argument& exception) {
        return QString::fromStdString(exception.what());
    }
    return QStringLiteral("(no exception)");
}

class FixedStatusItems : public SecItemBackend
{
public:
    explicit FixedStatusItems(OSStatus status) : m_status(status) { }
    OSStatus copyMatching(const QVariantMap&, QVariantMap*) override { return m_status; }
    OSStatus add(const QVariantMap&) override { return m_status; }
    OSStatus update(const QVariantMap&, const QVariantMap&) override { return m_status; }
    OSStatus remove(const QVariantMap&) override { return m_status; }

private:
    OSStatus m_status;
};

} // namespace

class tst_KeychainStore : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_key = QStringLiteral("key-%1-%2").arg(QCoreApplication::applicationPid()).arg(++m_counter); }

    void saveAddsThenUpdatesOneItem()
    {
        Error error = untouched;
        QVERIFY(KeychainStore::saveItem(QStringLiteral("first"), m_key, service, &error));
        QCOMPARE(KeychainStore::itemForKey(m_key, service, &error).toString(), QStringLiteral("first"));
        QVERIFY(KeychainStore::saveItem(QStringLiteral("second"), m_key, service, &error));
        QCOMPARE(KeychainStore::itemForKey(m_key, service, &error), QVariant(QStringLiteral("second")));
        QCOMPARE(SecretServiceControl::itemAttributes(m_key, service).size(), 1);
        QCOMPARE(error, untouched);

        QVERIFY(KeychainStore::saveItem(QString(""), m_key, service, &error));
        const QVariant empty = KeychainStore::itemForKey(m_key, service, &error);
        QCOMPARE(empty.metaType().id(), QMetaType::QString);
        QVERIFY(empty.toString().isEmpty());
        QCOMPARE(error, untouched);
    }

    void readOfNothingGivesNotFoundError()
    {
        Error error;
        QVERIFY(!KeychainStore::itemForKey(m_key, service, &error).isValid());
        QCOMPARE(error.domain, KeychainErrorDomain);
        QCOMPARE(error.code, qint64(-25300));
        QCOMPARE(error.localizedDescription(), itemNotFound(m_key));
        QVERIFY(!KeychainStore::rawDataForKey(m_key, service, nullptr));
    }

    void deleteRemovesAndReportsMissingItem()
    {
        QVERIFY(KeychainStore::saveItem(QStringLiteral("value"), m_key, service, nullptr));
        Error error = untouched;
        QVERIFY(KeychainStore::deleteItemForKey(m_key, service, &error));
        QCOMPARE(error, untouched);
        QVERIFY(!KeychainStore::itemForKey(m_key, service, nullptr).isValid());

        QVERIFY(!KeychainStore::deleteItemForKey(m_key, service, &error));
        QCOMPARE(error.code, qint64(-25300));
        QCOMPARE(error.localizedDescription(),
            QStringLiteral("Could not delete item with key '%1' for service '%2' from the keychain because it does "
                           "not exist.")
                .arg(m_key, service));
        QVERIFY(error.hasUnderlyingError());
        QCOMPARE(error.underlyingError().code, qint64(-25300));
        QCOMPARE(error.underlyingError().localizedDescription(), itemNotFound(m_key));
        QVERIFY(!KeychainStore::deleteItemForKey(m_key, service, nullptr));
    }

    void savingNullItemDeletes()
    {
        QVERIFY(KeychainStore::saveItem(QStringLiteral("value"), m_key, service, nullptr));
        Error error = untouched;
        QVERIFY(KeychainStore::saveItem(QVariant(), m_key, service, QStringLiteral("group"), 0, &error));
        QCOMPARE(error, untouched);
        QVERIFY(SecretServiceControl::itemAttributes(m_key, service).isEmpty());
        QVERIFY(!KeychainStore::saveItem(QVariant(), m_key, service, &error));
        QCOMPARE(error.code, qint64(-25300));
        QVERIFY(error.hasUnderlyingError());
    }

    void emptyArgumentsThrowNamingTheOperation_data()
    {
        QTest::addColumn<std::function<void()>>("call");
        QTest::addColumn<QString>("reason");
        const QString save = "+[KeychainStore saveItem:forKey:forService:inAccessGroup:withAccessibility:error:]";
        const QString remove = "+[KeychainStore deleteItemForKey:forService:inAccessGroup:error:]";
        const QString lookup = "+[KeychainStore _itemAttributesAndDataForKey:forService:inAccessGroup:error:]";
        QTest::newRow("null item, empty key")
            << std::function<void()>([] { KeychainStore::saveItem(QVariant(), "", service, nullptr); })
            << save + " key argument cannot be empty";
        QTest::newRow("key checked before service")
            << std::function<void()>([] { KeychainStore::saveItem(QStringLiteral("x"), "", "", nullptr); })
            << save + " key argument cannot be empty";
        QTest::newRow("save, empty service")
            << std::function<void()>([] { KeychainStore::saveItem(QStringLiteral("x"), "k", QString(), nullptr); })
            << save + " service argument cannot be empty";
        QTest::newRow("read names the lookup")
            << std::function<void()>([] { KeychainStore::itemForKey("k", "", nullptr); })
            << lookup + " service argument cannot be empty";
        QTest::newRow("raw read names the lookup")
            << std::function<void()>([] { KeychainStore::rawDataForKey(QString(), "s", nullptr); })
            << lookup + " key argument cannot be empty";
        QTest::newRow("delete") << std::function<void()>([] { KeychainStore::deleteItemForKey("k", "", nullptr); })
                                << remove + " service argument cannot be empty";
    }

    void emptyArgumentsThrowNamingTheOperation()
    {
        QFETCH(std::function<void()>, call);
        QFETCH(QString, reason);
        QCOMPARE(exceptionText(call), reason);
    }

    void emptyKeyWithNullItemDeletesNothing()
    {
        QVERIFY(KeychainStore::saveItem(QStringLiteral("kept"), m_key, service, nullptr));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, KeychainStore::saveItem(QVariant(), m_key, "", nullptr));
        QCOMPARE(KeychainStore::itemForKey(m_key, service, nullptr).toString(), QStringLiteral("kept"));
    }

    void emptyAccessGroupIsNoGroup()
    {
        QVERIFY(KeychainStore::saveItem(QStringLiteral("v"), m_key, service, QString(""), 1, nullptr));
        QVERIFY(!SecretServiceControl::itemAttributes(m_key, service).first().contains("access-group"));
        QCOMPARE(KeychainStore::itemForKey(m_key, service, nullptr).toString(), QStringLiteral("v"));
        QCOMPARE(KeychainStore::itemForKey(m_key, service, QString(""), nullptr).toString(), QStringLiteral("v"));
        QVERIFY(KeychainStore::deleteItemForKey(m_key, service, QString(""), nullptr));

        QVERIFY(KeychainStore::saveItem(QStringLiteral("grouped"), m_key, service, QStringLiteral("g1"), 1, nullptr));
        QCOMPARE(SecretServiceControl::itemAttributes(m_key, service).first().value("access-group"), "g1");
        QVERIFY(!KeychainStore::itemForKey(m_key, service, QStringLiteral("g2"), nullptr).isValid());
    }

    void accessibilityIsWrittenOnlyForKnownValues_data()
    {
        QTest::addColumn<qint64>("accessibility");
        QTest::addColumn<QString>("written");
        QTest::newRow("when unlocked") << qint64(0) << "when-unlocked";
        QTest::newRow("after first unlock") << qint64(1) << "after-first-unlock";
        QTest::newRow("2") << qint64(2) << QString();
        QTest::newRow("-1") << qint64(-1) << QString();
    }

    void accessibilityIsWrittenOnlyForKnownValues()
    {
        QFETCH(qint64, accessibility);
        QFETCH(QString, written);
        QVERIFY(KeychainStore::saveItem(QStringLiteral("add"), m_key, service, QString(), accessibility, nullptr));
        QCOMPARE(SecretServiceControl::itemAttributes(m_key, service).first().value("accessible"), written);
        QVERIFY(KeychainStore::deleteItemForKey(m_key, service, nullptr));

        // On the update path an item that had no entry keeps none.
        QVERIFY(KeychainStore::saveItem(QStringLiteral("add"), m_key, service, QString(), 2, nullptr));
        QVERIFY(KeychainStore::saveItem(QStringLiteral("upd"), m_key, service, QString(), accessibility, nullptr));
        QCOMPARE(SecretServiceControl::itemAttributes(m_key, service).first().value("accessible"), written);
        QCOMPARE(KeychainStore::itemForKey(m_key, service, nullptr).toString(), QStringLiteral("upd"));
    }

    void undecodableBytesGiveDecodeError()
    {
        const QVariantMap planted { { kSecClass, kSecClassGenericPassword }, { kSecAttrAccount, m_key },
            { kSecAttrService, service }, { kSecValueData, QByteArray("not an archive") } };
        QCOMPARE(SecItemAdd(planted, nullptr), errSecSuccess);
        Error error;
        QVERIFY(!KeychainStore::itemForKey(m_key, service, &error).isValid());
        QCOMPARE(error.code, qint64(21));
        QVERIFY(!error.userInfo.contains(Error::LocalizedDescriptionKey));
        QVERIFY(!error.localizedFailureReason().isEmpty());
        QCOMPARE(KeychainStore::rawDataForKey(m_key, service, nullptr), QByteArray("not an archive"));
        QVERIFY(!KeychainStore::itemForKey(m_key, service, nullptr).isValid());
    }

    void lockedCollectionIsInteractionNotAllowed()
    {
        QVERIFY(KeychainStore::saveItem(QStringLiteral("secret"), m_key, service, nullptr));
        QString why;
        QVERIFY2(SecretServiceControl::lockDefaultCollection(&why), qPrintable(why));
        Error readError;
        const QVariant read = KeychainStore::itemForKey(m_key, service, &readError);
        Error saveError;
        const bool saved = KeychainStore::saveItem(QStringLiteral("other"), m_key, service, &saveError);
        Error freshError;
        const bool added = KeychainStore::saveItem(QStringLiteral("other"), m_key + "-new", service, &freshError);
        QVERIFY2(SecretServiceControl::unlockDefaultCollection(&why), qPrintable(why));

        QVERIFY(!read.isValid());
        QCOMPARE(readError.code, qint64(-25308));
        QCOMPARE(readError.localizedDescription(),
            QStringLiteral("Interaction with key '%1' for service '%2' was not allowed. It is possible that the item "
                           "is only accessible when the device is unlocked and this query is happening when the app "
                           "is in the background. Double-check your item permissions.")
                .arg(m_key, service));
        QVERIFY(!saved);
        QCOMPARE(saveError, readError);
        QVERIFY(!added);
        QCOMPARE(freshError.code, qint64(-25308));
        QCOMPARE(KeychainStore::itemForKey(m_key, service, nullptr).toString(), QStringLiteral("secret"));
    }

    void statusOutsideTableGivesCatchAllText()
    {
        setSecItemBackend(std::make_unique<FixedStatusItems>(-34018));
        Error error;
        const bool saved = KeychainStore::saveItem(QStringLiteral("x"), m_key, service, &error);
        const bool savedSilently = KeychainStore::saveItem(QStringLiteral("x"), m_key, service, nullptr);
        const QVariant read = KeychainStore::itemForKey(m_key, service, nullptr);
        setSecItemBackend(nullptr);

        QVERIFY(!saved && !savedSilently && !read.isValid());
        QCOMPARE(error.code, qint64(-34018));
        QCOMPARE(error.localizedDescription(),
            QStringLiteral("This is a undefined error. Check SecBase.h or Apple's iOS Developer Library for more "
                           "information on this Keychain Services error code."));
    }

    void unarchivableItemThrowsFromSave()
    {
        QVERIFY_THROWS_EXCEPTION(ArchiveException,
            KeychainStore::saveItem(QVariant::fromValue(QPoint(1, 2)), m_key, service, nullptr));
        QVERIFY(SecretServiceControl::itemAttributes(m_key, service).isEmpty());
    }

private:
    QString m_key;
    int m_counter = 0;
};

QTEST_GUILESS_MAIN(tst_KeychainStore)
#include "tst_KeychainStore.moc"
