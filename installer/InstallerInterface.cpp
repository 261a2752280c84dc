#include "installer/InstallerInterface.h"

#include "ui_MainWindow.h"

std::unique_ptr<AppDelegate> buildInstallerInterface(
    InterfaceObjects& interface, AlertPresenter& alertPresenter, const Bundle& bundle)
{
    QWidget* window = interface.keep(std::make_unique<QWidget>());
    Ui::MainWindow ui;
    ui.setupUi(window);

    auto delegate = std::make_unique<AppDelegate>(alertPresenter, bundle);
    delegate->setWindow(window);
    delegate->setInstalButton(ui.instalButton);
    QPushButton* button = ui.instalButton;
    QObject::connect(button, &QPushButton::clicked, delegate.get(),
        [appDelegate = delegate.get(), button] { appDelegate->onInstall(button); });
    window->show();
    return delegate;
}
