#include <QtTest>
class TestJXEnv : public QObject { Q_OBJECT };
QTEST_MAIN(TestJXEnv)
#include "tst_jxenv.moc"
