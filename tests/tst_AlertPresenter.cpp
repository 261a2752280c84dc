// Alerts: their texts from an error, and the real message box behind
// runModal on the offscreen display, which the timers see running.

#include "platform/AlertPresenter.h"
#include "platform/Error.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

namespace {

// Waits in the alert's own event loop for the message box, then lets the
// test look at it and press a button.
void answerNextMessageBox(std::function<void(QMessageBox*)> answer)
{
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, poll, [poll, answer] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            answer(box);
        }
    });
    poll->start(20);
}

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

    void runModalShowsTheTextsAsWrittenAndReturnsTheButtonPressed()
    {
        AlertPresenter presenter;
        QSignalSpy running(&presenter, &AlertPresenter::modalAlertRunningChanged);
        QStringList seen;
        answerNextMessageBox([&](QMessageBox* box) {
            const auto* informative = box->findChild<QLabel*>("qt_msgbox_informativelabel");
            QStringList buttons;
            for (QAbstractButton* button : box->buttons())
                buttons << button->text();
            buttons.sort();
            seen << box->windowTitle() << box->text() << box->informativeText()
                 << QString::number(box->findChild<QLabel*>("qt_msgbox_label")->textFormat())
                 << QString::number(informative ? informative->textFormat() : Qt::RichText)
                 << QString::number(presenter.isModalAlertRunning()) << box->defaultButton()->text()
                 << buttons;
            buttonTitled(box, "Cancel")->click();
        });

        const int pressed = presenter.runModal(
            { " tarvenDESK", "<b>Account</b> locked & <i>expired</i>", { "Retry", "Cancel" } });

        QCOMPARE(pressed, 1);
        QVERIFY(!presenter.isModalAlertRunning());
        QCOMPARE(running, (QList<QVariantList> { { true }, { false } }));
        const QString plain = QString::number(Qt::PlainText);
        QCOMPARE(seen,
            (QStringList { "tarvenDESK test", " tarvenDESK",
                "<b>Account</b> locked & <i>expired</i>", plain, plain, "1", "Retry", "Cancel",
                "Retry" }));
    }
};

QTEST_MAIN(tst_AlertPresenter)
#include "tst_AlertPresenter.moc"
