// Alerts: their texts from an error, and the real message box behind
// runModal on the offscreen display, up while the caller goes on.

#include "platform/AlertPresenter.h"
#include "platform/Error.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

QPushButton* buttonTitled(QMessageBox* box, const QString& title)
{
    for (QAbstractButton* button : box->buttons())
        if (button->text() == title)
            return qobject_cast<QPushButton*>(button);
    return nullptr;
}

} // namespace

class tst_AlertPresenter : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QGuiApplication::setApplicationDisplayName(QStringLiteral("tarvenDESK test"));
    }

    void alertWithErrorTakesTheErrorsTexts_data()
    {
        QTest::addColumn<Error>("error");
        QTest::addColumn<QString>("messageText");
        QTest::addColumn<QString>("informativeText");

        const QVariantMap refused { { Error::LocalizedDescriptionKey,
                                        "Could not connect to the server." },
            { Error::LocalizedFailureReasonErrorKey, "Connection refused" } };

        QTest::newRow("description and reason")
            << Error::errorWithDomain("NetworkError", -1004, refused)
            << "Could not connect to the server."
            << "Connection refused";
        QTest::newRow("a refusal text that looks like a placeholder")
            << Error::errorWithDomain("Quota 100%1 used", 0)
            << "The operation could not be completed. (Quota 100%1 used error 0.)" << QString();
    }

    void alertWithErrorTakesTheErrorsTexts()
    {
        QFETCH(Error, error);
        QFETCH(QString, messageText);
        QFETCH(QString, informativeText);
        const Alert alert = Alert::alertWithError(error);
        QCOMPARE(alert.messageText, messageText);
        QCOMPARE(alert.informativeText, informativeText);
        QCOMPARE(alert.buttons, QStringList { "OK" });
    }

    void runModalShowsTheTextsAsWrittenAndReportsTheButtonPressed()
    {
        AlertPresenter presenter;
        QSignalSpy running(&presenter, &AlertPresenter::modalAlertRunningChanged);
        int pressed = -2;
        presenter.runModal({ " tarvenDESK", "<b>Account</b> locked & <i>expired</i>",
                               { "Retry", "Cancel" } },
            [&](int button) { pressed = button; });
        QVERIFY(presenter.isModalAlertRunning());
        QMessageBox* box = nullptr;
        QTRY_VERIFY((box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())));

        QCOMPARE(box->windowTitle(), QStringLiteral("tarvenDESK test"));
        QCOMPARE(box->text(), QStringLiteral(" tarvenDESK"));
        QCOMPARE(box->informativeText(), QStringLiteral("<b>Account</b> locked & <i>expired</i>"));
        QCOMPARE(box->findChild<QLabel*>("qt_msgbox_label")->textFormat(), Qt::PlainText);
        QCOMPARE(box->findChild<QLabel*>("qt_msgbox_informativelabel")->textFormat(), Qt::PlainText);
        QCOMPARE(box->buttons().size(), 2);
        QVERIFY2(box->defaultButton() == buttonTitled(box, "Retry"),
            "the first button is not the default one");
        buttonTitled(box, "Cancel")->click();
        QTRY_COMPARE(pressed, 1);
        QVERIFY(!presenter.isModalAlertRunning());
        QCOMPARE(running, (QList<QVariantList> { { true }, { false } }));
    }
};

QTEST_MAIN(tst_AlertPresenter)
#include "tst_AlertPresenter.moc"
