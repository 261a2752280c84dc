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

void AlertPresenter::runModal(const Alert& alert, Completion done)
{
    auto* box = new QMessageBox;
    box->setWindowModality(Qt::ApplicationModal);
    box->setWindowTitle(QGuiApplication::applicationDisplayName());
    // The texts come from errors and from the service's answers: never let
    // them be read as rich text.
    box->setTextFormat(Qt::PlainText);
    box->setText(alert.messageText);
    box->setInformativeText(alert.informativeText);
    if (auto* informative = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel")))
        informative->setTextFormat(Qt::PlainText);
    // The box sizes itself by its message: a short message would wrap a
    // short detail ("No Valid User Name") over two lines. Each line of text
    // gets its width, up to that of a comfortable paragraph.
    for (const char* name : { "qt_msgbox_label", "qt_msgbox_informativelabel" }) {
        auto* label = box->findChild<QLabel*>(QLatin1String(name));
        if (!label)
            continue;
        const QFontMetrics metrics = label->fontMetrics();
        int widest = 0;
        for (const QString& line : label->text().split(u'\n'))
            widest = std::max(widest, metrics.horizontalAdvance(line));
        // A character more than the advance: the layout wraps at the last pixel.
        label->setMinimumWidth(
            std::min(widest + metrics.averageCharWidth(), 40 * metrics.averageCharWidth()));
    }

    // Like a desktop alert of the program itself: its icon when it has one.
    const QIcon programIcon = QApplication::windowIcon();
    if (programIcon.isNull())
        box->setIcon(QMessageBox::Warning);
    else
        box->setIconPixmap(programIcon.pixmap(64, 64));

    const QStringList titles
        = alert.buttons.isEmpty() ? QStringList { QStringLiteral("OK") } : alert.buttons;
    std::vector<QPushButton*> buttons;
    for (qsizetype i = 0; i < titles.size(); ++i)
        buttons.push_back(
            box->addButton(titles[i], i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole));
    box->setDefaultButton(buttons.front());

    connect(box, &QDialog::finished, this, [this, box, buttons, done = std::move(done)] {
        const auto pressed = std::find(buttons.begin(), buttons.end(), box->clickedButton());
        box->deleteLater();
        endModalAlert();
        if (done)
            done(pressed == buttons.end() ? -1 : int(pressed - buttons.begin()));
    });
    // A box still up when the presenter goes would be left without its ending.
    connect(this, &QObject::destroyed, box, &QObject::deleteLater);
    beginModalAlert();
    box->show();
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
