#include "signin/SignInWindow.h"

#include "ui_SignInWindow.h"

namespace {

// The fields, their labels and the sign-in button: shown together, or none.
void setSignInElementsVisible(Ui::SignInWindow& ui, bool visible)
{
    for (QWidget* element : std::initializer_list<QWidget*> { ui.userNameTxtField,
             ui.passwordTxtField, ui.lblPassword, ui.lblUsername, ui.btnSignIn })
        element->setVisible(visible);
}

} // namespace

SignInWindow::SignInWindow(QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::SignInWindow>())
{
    ui->setupUi(this);
    connect(ui->btnSignIn, &QPushButton::clicked, this, &SignInWindow::signInAction);
    connect(ui->btnSingout, &QPushButton::clicked, this, &SignInWindow::signOutAction);
    connect(ui->btnUnlockKeyring, &QPushButton::clicked, this, &SignInWindow::unlockKeyringAction);
    connect(ui->btnCheckNow, &QPushButton::clicked, this, &SignInWindow::checkNowAction);
    // Enter in either field presses the sign-in button, as a dialog's default
    // button would be pressed.
    for (QLineEdit* field : { ui->userNameTxtField, ui->passwordTxtField })
        connect(field, &QLineEdit::returnPressed, ui->btnSignIn, &QPushButton::click);
    connect(ui->frequencyComboBox, &QComboBox::activated, this, &SignInWindow::frequencyChange);
    connect(
        ui->showNotifactionCheckBox, &QCheckBox::clicked, this, &SignInWindow::notificationChange);
}

SignInWindow::~SignInWindow() = default;

void SignInWindow::showSignIn()
{
    ui->btnSingout->hide();
    ui->btnUnlockKeyring->hide();
    ui->signInstatusLbl->hide();
    setSignInElementsVisible(*ui, true);
    ui->containerBox->setTitle(tr("Sign In"));
    ui->userNameTxtField->setFocus();
    updateLastCheck();
}

void SignInWindow::setStatusText(const QString& text)
{
    ui->signInstatusLbl->setText(text);
}

void SignInWindow::showStatus(bool canSignOut)
{
    ui->signInstatusLbl->show();
    setSignInElementsVisible(*ui, false);
    ui->containerBox->setTitle(QString());
    ui->btnSingout->setVisible(canSignOut);
    ui->btnUnlockKeyring->hide();
    if (canSignOut)
        ui->btnSingout->setFocus();
    updateLastCheck();
}

void SignInWindow::showUnlockKeyring(bool shown)
{
    ui->btnUnlockKeyring->setVisible(shown);
    if (shown)
        ui->btnUnlockKeyring->setFocus();
}

bool SignInWindow::isShowingSignIn() const
{
    return !ui->btnSignIn->isHidden();
}

QString SignInWindow::typedText(SignInField field) const
{
    return (field == SignInField::UserName ? ui->userNameTxtField : ui->passwordTxtField)->text();
}

void SignInWindow::focus(SignInField field)
{
    (field == SignInField::UserName ? ui->userNameTxtField : ui->passwordTxtField)->setFocus();
}

void SignInWindow::emptyTextFields()
{
    ui->passwordTxtField->setText(QString());
    ui->userNameTxtField->setText(QString());
}

qint32 SignInWindow::selectedFrequency() const
{
    return ui->frequencyComboBox->currentIndex();
}

qint32 SignInWindow::frequencyCount() const
{
    return ui->frequencyComboBox->count();
}

bool SignInWindow::isNotificationChecked() const
{
    return ui->showNotifactionCheckBox->isChecked();
}

void SignInWindow::showSettings(qint32 frequency, std::optional<bool> notification)
{
    ui->frequencyComboBox->setCurrentIndex(frequency);
    if (notification)
        ui->showNotifactionCheckBox->setChecked(*notification);
}

// The window is as tall as what it shows, once its layout has taken in a
// change: a view's hidden elements or a busy bar gone leave no empty space
// below. Its width stays the person's.
bool SignInWindow::event(QEvent* event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest && height() != sizeHint().height())
        resize(width(), sizeHint().height());
    return handled;
}

void SignInWindow::setBusy(bool busy)
{
    // A busy bar moves by itself over an empty range.
    ui->progressIndicator->setRange(0, busy ? 0 : 1);
    ui->progressIndicator->setVisible(busy);
}

void SignInWindow::showLastCheck(const QString& text)
{
    m_lastCheck = text;
    updateLastCheck();
}

void SignInWindow::updateLastCheck()
{
    const bool shown = !m_lastCheck.isNull() && !ui->btnSingout->isHidden();
    ui->lastCheckLbl->setText(m_lastCheck);
    ui->lastCheckLbl->setVisible(shown);
    ui->btnCheckNow->setVisible(shown);
}
