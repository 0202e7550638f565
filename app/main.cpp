#include "app/cmdagent.h"
#include "app/consoletext.h"
#include "store/corvanecore.h"
#include "store/programfolder.h"
#include "store/rfcardparser.h"

#include <QCoreApplication>
#include <QDebug>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    ConsoleText::useUtf8();
    QCoreApplication::setApplicationVersion(QStringLiteral("version " RFCARD_VERSION));
    // Settings live beside the executable, wherever the tool is started from
    // (the store finds them there by itself; a relative --com is taken from
    // there too). Entered by the folder's own bytes, whatever its name.
    ProgramFolder::enter();
    qDebug() << "path =" << QCoreApplication::applicationDirPath();

    RFCardParser::instance()->init();
    CmdAgent::instance()->init();
    CmdAgent::instance()->process(app);
    Corvane::Core::Instance()->saveConfig(false);
    return 0;
}
