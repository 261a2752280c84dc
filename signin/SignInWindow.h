#pragma once

// The sign-in window: the elements of its interface resource, which it keeps
// to itself, and the views the controller asks for in its own terms. The
// elements keep the object names the tests find them by.

#include <QWidget>
#include <memory>
#include <optional>

namespace Ui {
class SignInWindow;
}

enum class SignInField
{
    UserName,
    Password
};

class SignInWindow : public QWidget
{
    Q_OBJECT

public:
    explicit SignInWindow(QWidget* parent = nullptr);
    ~SignInWindow() override;

    // The two fields and the sign-in button under the title "Sign In".
    void showSignIn();
    // The status line alone, with the sign-out button or without it.
    void showStatus(bool canSignOut);
    void setStatusText(const QString& text);
    // The button that asks the keyring to unlock, under the status line; the
    // other views hide it.
    void showUnlockKeyring(bool shown);
    bool isShowingSignIn() const;

    QString typedText(SignInField field) const;
    void focus(SignInField field);
    void emptyTextFields();

    qint32 selectedFrequency() const;
    qint32 frequencyCount() const;
    bool isNotificationChecked() const;
    // A frequency of -1 leaves none selected; no notification choice leaves
    // the box as it is.
    void showSettings(qint32 frequency, std::optional<bool> notification);

    // The busy bar, running or hidden.
    void setBusy(bool busy);

    // The notifier's last check with a button for another, in the signed-in
    // view, for a desktop where no tray shows the notifier; a null text
    // takes them away.
    void showLastCheck(const QString& text);

protected:
    bool event(QEvent* event) override;

signals:
    // Only a user's own choices; the program setting the elements sends none.
    void signInAction();
    void signOutAction();
    void frequencyChange();
    void notificationChange();
    void unlockKeyringAction();
    void checkNowAction();

private:
    void updateLastCheck();

    std::unique_ptr<Ui::SignInWindow> ui;
    QString m_lastCheck;
};
