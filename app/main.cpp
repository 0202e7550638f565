#include "app/cmdagent.h"
#include "store/corvanecore.h"
#include "store/rfcardparser.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral("version " RFCARD_VERSION));
    // Settings live beside the executable, wherever the tool is started from.
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    qDebug() << "path =" << QCoreApplication::applicationDirPath();

    RFCardParser::instance()->init();
    CmdAgent::instance()->init();
    CmdAgent::instance()->process(app);
    Corvane::Core::Instance()->saveConfig(false);
    return 0;
}
