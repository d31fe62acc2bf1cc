#include "app/CommandLine.h"

#include <QCoreApplication>

QStringList withOptionalValues(QStringList arguments)
{
    for (QString& argument : arguments) {
        if (argument == QLatin1String("--simulate") || argument == QLatin1String("--remote"))
            argument += u'=';
    }
    return arguments;
}

void nameProgram()
{
    QCoreApplication::setOrganizationName(QStringLiteral("Velmora"));
    QCoreApplication::setApplicationName(QStringLiteral("Velmora"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELMORA_VERSION));
}

void describe(QCommandLineParser& parser, const Options& options)
{
    parser.setApplicationDescription(
        QStringLiteral("Checks coaxial terminations and attenuators with a spectrum analyser and "
                       "its tracking generator on a GPIB bus."));
    parser.addHelpOption();
    parser.addVersionOption();
    options.addTo(parser);
}

bool asked(int argc, char* argv[], std::initializer_list<const char*> options)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray argument(argv[i]);
        for (const char* option : options) {
            if (argument == option || argument.startsWith(QByteArray(option) + '='))
                return true;
        }
    }
    return false;
}
