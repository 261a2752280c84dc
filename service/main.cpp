#include "service/CommandLine.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvendesk-service"));
    return CommandLine::run(QCoreApplication::arguments());
}
