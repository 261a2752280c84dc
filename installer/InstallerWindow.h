#pragma once

// The installer's window: the interface resource's one button, kept to
// itself, whose title is the installer's state and whose press is the
// installer's one action. The button keeps its object name for the tests.

#include <QWidget>
#include <memory>

namespace Ui {
class MainWindow;
}

class InstallerWindow : public QWidget
{
    Q_OBJECT

public:
    explicit InstallerWindow(QWidget* parent = nullptr);
    ~InstallerWindow() override;

    QString buttonTitle() const;
    // The button is resized to fit its new title.
    void setButtonTitle(const QString& title);
    void setButtonEnabled(bool enabled);

signals:
    void installAction();

private:
    std::unique_ptr<Ui::MainWindow> ui;
};
