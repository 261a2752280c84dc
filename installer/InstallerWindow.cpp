#include "installer/InstallerWindow.h"

#include "ui_MainWindow.h"

InstallerWindow::InstallerWindow(QWidget* parent)
    : QWidget(parent)
    , ui(std::make_unique<Ui::MainWindow>())
{
    ui->setupUi(this);
    connect(ui->instalButton, &QPushButton::clicked, this, &InstallerWindow::installAction);
}

InstallerWindow::~InstallerWindow() = default;

QString InstallerWindow::buttonTitle() const
{
    return ui->instalButton->text();
}

void InstallerWindow::setButtonTitle(const QString& title)
{
    ui->instalButton->setText(title);
    ui->instalButton->adjustSize();
}

void InstallerWindow::setButtonEnabled(bool enabled)
{
    ui->instalButton->setEnabled(enabled);
}
