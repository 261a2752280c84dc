// Alerts: their texts from an error, and the real message box behind
// runModal on the offscreen display, up while the caller goes on.

#include "platform/AlertPresenter.h"
#include "platform/Error.h"

#include <QSignalSpy>
#include <QTest>
#include <QtWidgets>

class tst_AlertPresenter : public QObject
{
    Q_OBJECT

private slots:
    void alertWithErrorTakesTheErrorsTextsAsTheyAre()
    {
        // Even a domain that looks like a placeholder.
        QCOMPARE(Alert::alertWithError(Error::errorWithDomain("Quota 100%1 used", 0,
                     { { Error::LocalizedFailureReasonErrorKey, "Connection refused" } })),
            (Alert { "The operation could not be completed. (Quota 100%1 used error 0.)",
                "Connection refused", { "OK" } }));
    }

    void runModalShowsTheTextsAsWrittenAndReportsTheButtonPressed()
    {
        AlertPresenter presenter;
        QSignalSpy running(&presenter, &AlertPresenter::modalAlertRunningChanged);
        int pressed = -2;
        presenter.runModal(
            { " tarvenDESK", "<b>Account</b> locked & <i>expired</i>", { "Retry", "Cancel" } },
            [&](int button) { pressed = button; });
        QMessageBox* box = nullptr;
        QTRY_VERIFY((box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())));
        QCOMPARE((QStringList { box->windowTitle(), box->text(), box->informativeText() }),
            (QStringList { QGuiApplication::applicationDisplayName(), " tarvenDESK",
                "<b>Account</b> locked & <i>expired</i>" }));
        for (const char* label : { "qt_msgbox_label", "qt_msgbox_informativelabel" })
            QCOMPARE(box->findChild<QLabel*>(label)->textFormat(), Qt::PlainText);
        QCOMPARE(box->buttons().size(), 2);
        QCOMPARE(box->defaultButton()->text(), "Retry");
        QTest::keyClick(box, Qt::Key_Escape);
        QTRY_COMPARE(pressed, 1);

        // A short detail under a short message stays on one line.
        presenter.runModal({ " tarvenDESK", "No Valid User Name", { "OK" } });
        QTRY_VERIFY((box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())));
        const QLabel* detail = box->findChild<QLabel*>("qt_msgbox_informativelabel");
        QTRY_VERIFY(detail->isVisible());
        QVERIFY2(detail->contentsRect().height() < 2 * detail->fontMetrics().lineSpacing(),
            "the detail wraps");
        box->accept();
        QTRY_COMPARE(running, (QList<QVariantList> { { true }, { false }, { true }, { false } }));
    }
};

QTEST_MAIN(tst_AlertPresenter)
#include "tst_AlertPresenter.moc"
