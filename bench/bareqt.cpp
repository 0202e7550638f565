// The floor for any Qt command-line tool: create the application object,
// parse an (empty) command line, exit.
#include <QCommandLineParser>
#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.process(app);
    return 0;
}
