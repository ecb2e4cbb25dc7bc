#include <QApplication>

#include "jxenv.h"

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    JXEnv::getInstance()->init(QStringLiteral("both"), QStringLiteral("dorvupdate.log"));
    return 0;
}
