#include "service/CommandLine.h"

#include "common/UnknownOption.h"
#include "service/CertificateMaker.h"
#include "service/PasswordReader.h"
#include "service/ServeCommand.h"
#include "service/UserStore.h"

#include <QCommandLineParser>
#include <QRegularExpression>
#include <algorithm>
#include <cstdio>

namespace {

constexpr qsizetype maxTitleSize = 1024;
const QString programName = QStringLiteral("tarvendesk-service");

int addUser(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.addOption({ QStringLiteral("db"), {}, QStringLiteral("FILE") });
    int exitCode = 0;
    if (!CommandLine::parse(
            parser, arguments, { QStringLiteral("db") }, { QStringLiteral("NAME") }, &exitCode))
        return exitCode;
    const QString name = parser.positionalArguments().at(0);
    if (!CommandLine::isPrintableText(name, UserStore::maxNameSize))
        return CommandLine::complain(CommandLine::badArgument,
            QStringLiteral("the user name must be 1 to %1 bytes of printable text")
                .arg(UserStore::maxNameSize));

    QString why;
    const auto password = PasswordReader::read(UserStore::maxPasswordSize, &why);
    if (!password)
        return CommandLine::complain(CommandLine::badArgument, why);

    UserStore store;
    if (!store.open(parser.value(QStringLiteral("db")), &why))
        return CommandLine::complain(CommandLine::badArgument, why);
    if (!store.setUser(name, *password, &why))
        return CommandLine::complain(CommandLine::failure, why);
    return 0;
}

int addDocument(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.addOption({ QStringLiteral("db"), {}, QStringLiteral("FILE") });
    int exitCode = 0;
    if (!CommandLine::parse(parser, arguments, { QStringLiteral("db") },
            { QStringLiteral("NAME"), QStringLiteral("TITLE"), QStringLiteral("YYYY-MM-DD") },
            &exitCode))
        return exitCode;
    const QStringList values = parser.positionalArguments();
    if (!CommandLine::isPrintableText(values.at(1), maxTitleSize))
        return CommandLine::complain(CommandLine::badArgument,
            QStringLiteral("the title must be 1 to %1 bytes of printable text").arg(maxTitleSize));
    const auto expiry = CommandLine::parseDate(values.at(2));
    if (!expiry)
        return CommandLine::complain(CommandLine::badArgument,
            QStringLiteral("\"%1\" is not a valid date of the form YYYY-MM-DD").arg(values.at(2)));

    QString why;
    UserStore store;
    if (!store.open(parser.value(QStringLiteral("db")), &why))
        return CommandLine::complain(CommandLine::badArgument, why);
    const auto known = store.hasUser(values.at(0), &why);
    if (!known)
        return CommandLine::complain(CommandLine::failure, why);
    if (!*known)
        return CommandLine::complain(
            CommandLine::badArgument, QStringLiteral("no user is named \"%1\"").arg(values.at(0)));
    if (!store.addDocument(values.at(0), values.at(1), *expiry, &why))
        return CommandLine::complain(CommandLine::failure, why);
    return 0;
}

int makeCert(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.addOption({ QStringLiteral("out"), {}, QStringLiteral("DIR") });
    int exitCode = 0;
    if (!CommandLine::parse(parser, arguments, { QStringLiteral("out") }, {}, &exitCode))
        return exitCode;
    QString why;
    if (!CertificateMaker::make(parser.value(QStringLiteral("out")), &why))
        return CommandLine::complain(CommandLine::failure, why);
    return 0;
}

} // namespace

int CommandLine::run(const QStringList& arguments)
{
    const QString command = arguments.value(1);
    if (command == u"serve")
        return ServeCommand::run(arguments);
    if (command == u"add-user")
        return addUser(arguments);
    if (command == u"add-document")
        return addDocument(arguments);
    if (command == u"make-cert")
        return makeCert(arguments);
    if (command == u"--help" || command == u"-h" || command == u"help") {
        std::fputs(qPrintable(usage()), stdout);
        return 0;
    }
    if (command == u"--version") {
        std::fputs("tarvendesk-service " TARVENDESK_VERSION "\n", stdout);
        return 0;
    }
    if (command.startsWith(u'-')) {
        std::fputs(qPrintable(unknownOptionText(programName, command.section(u'=', 0, 0))), stderr);
        return badArgument;
    }
    if (command.isEmpty())
        return complain(badArgument, QStringLiteral("no command given (see --help)"));
    return complain(
        badArgument, QStringLiteral("unknown command \"%1\" (see --help)").arg(command));
}

QString CommandLine::usage()
{
    return QStringLiteral(
        "Usage:\n"
        "  tarvendesk-service serve --listen ADDRESS:PORT --db FILE --cert CERT.pem --key KEY.pem "
        "[--today YYYY-MM-DD]\n"
        "        [--concurrent-checks N] [--check-queue N]\n"
        "  tarvendesk-service add-user --db FILE NAME        (reads the password from standard "
        "input)\n"
        "  tarvendesk-service add-document --db FILE NAME TITLE YYYY-MM-DD\n"
        "  tarvendesk-service make-cert --out DIR            (writes ca.pem, cert.pem and "
        "key.pem)\n"
        "  tarvendesk-service --help | --version\n"
        "\n"
        "serve answers POST /ex-libs/get-severity-count over HTTPS. ADDRESS is a loopback\n"
        "address (127.0.0.1, [::1]) or localhost (both); PORT 0 picks a free port.\n"
        "--today fixes the date the documents are counted from (default: today).\n"
        "--concurrent-checks: password hashes computed at a time (default: one a core);\n"
        "--check-queue: requests waiting for one (default 16); past that the answer is 503.\n");
}

int CommandLine::complain(int exitCode, const QString& problem)
{
    std::fprintf(stderr, "tarvendesk-service: %s\n", qPrintable(problem));
    return exitCode;
}

bool CommandLine::parse(QCommandLineParser& parser, const QStringList& arguments,
    const QStringList& requiredOptions, const QStringList& positionalNames, int* exitCode)
{
    const QString command = arguments.value(1);
    parser.addOption({ { QStringLiteral("h"), QStringLiteral("help") }, {} });
    // The command itself is dropped: what follows it is the command's own.
    QStringList own = arguments.mid(2);
    own.prepend(arguments.value(0));
    const bool parsed = parser.parse(own);
    if (!parsed && !parser.unknownOptionNames().isEmpty()) {
        std::fputs(qPrintable(unknownOptionText(
                       programName, typedOption(own, parser.unknownOptionNames().constFirst()))),
            stderr);
        *exitCode = badArgument;
        return false;
    }
    if (!parsed) {
        *exitCode
            = complain(badArgument, QStringLiteral("%1: %2").arg(command, parser.errorText()));
        return false;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(usage()), stdout);
        *exitCode = 0;
        return false;
    }
    for (const QString& name : parser.optionNames()) {
        if (parser.values(name).size() > 1) {
            *exitCode = complain(
                badArgument, QStringLiteral("%1: --%2 is given more than once").arg(command, name));
            return false;
        }
    }
    for (const QString& name : requiredOptions) {
        if (parser.value(name).isEmpty()) {
            *exitCode
                = complain(badArgument, QStringLiteral("%1: --%2 is missing").arg(command, name));
            return false;
        }
    }
    if (parser.positionalArguments().size() != positionalNames.size()) {
        const QString wanted = positionalNames.isEmpty() ? QStringLiteral("no further arguments")
                                                         : positionalNames.join(u' ');
        *exitCode = complain(badArgument, QStringLiteral("%1 takes %2").arg(command, wanted));
        return false;
    }
    return true;
}

std::optional<QDate> CommandLine::parseDate(const QString& text)
{
    static const QRegularExpression form(QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}$"));
    if (!form.match(text).hasMatch())
        return std::nullopt;
    const QDate date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    return date.isValid() ? std::optional(date) : std::nullopt;
}

bool CommandLine::isPrintableText(const QString& text, qsizetype maxUtf8Size)
{
    const auto isControl = [](QChar c) { return c.category() == QChar::Other_Control; };
    return !text.isEmpty() && text.toUtf8().size() <= maxUtf8Size
        && std::none_of(text.begin(), text.end(), isControl);
}
