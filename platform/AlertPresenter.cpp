#include "platform/AlertPresenter.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>
#include <vector>

AlertPresenter::AlertPresenter(QObject* parent)
    : QObject(parent)
{
}

int AlertPresenter::runModal(const Alert& alert)
{
    QMessageBox box;
    box.setWindowTitle(QGuiApplication::applicationDisplayName());
    // The texts come from errors and from the service's answers: never let
    // them be read as rich text.
    box.setTextFormat(Qt::PlainText);
    box.setText(alert.messageText);
    box.setInformativeText(alert.informativeText);
    if (auto* informative = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);

    // Like a desktop alert of the program itself: its icon when it has one.
    const QIcon programIcon = QApplication::windowIcon();
    if (programIcon.isNull())
        box.setIcon(QMessageBox::Warning);
    else
        box.setIconPixmap(programIcon.pixmap(64, 64));

    const QStringList titles
        = alert.buttons.isEmpty() ? QStringList { QStringLiteral("OK") } : alert.buttons;
    std::vector<QPushButton*> buttons;
    for (qsizetype i = 0; i < titles.size(); ++i)
        buttons.push_back(
            box.addButton(titles[i], i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
    box.setDefaultButton(buttons.front());

    beginModalAlert();
    box.exec();
    endModalAlert();
    const auto pressed = std::find(buttons.begin(), buttons.end(), box.clickedButton());
    return pressed == buttons.end() ? -1 : int(pressed - buttons.begin());
}

void AlertPresenter::beginModalAlert()
{
    if (m_runningAlerts++ == 0)
        emit modalAlertRunningChanged(true);
}

void AlertPresenter::endModalAlert()
{
    if (--m_runningAlerts == 0)
        emit modalAlertRunningChanged(false);
}
