#include <QtTest>

#include <QDeadlineTimer>
#include <QElapsedTimer>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "jxprogressthread.h"

namespace {

// Every distinct value the estimator showed, in the order seen. Each value stays for a whole step (a second or
// more) while the sampling runs every few milliseconds; a missed value only shortens the list.
struct ProgressTrail
{
    std::vector<float> values{0.0f};

    void sample(const JXProgressThread& estimator)
    {
        const float progress = estimator.getProress();
        if (progress != values.back())
            values.push_back(progress);
    }
};

// True when every seen value after the initial 0 is one of expected, in expected's order.
bool followsInOrder(const std::vector<float>& seen, const std::vector<float>& expected)
{
    auto next = expected.begin();
    for (size_t i = 1; i < seen.size(); ++i) {
        next = std::find(next, expected.end(), seen[i]);
        if (next == expected.end())
            return false;
        ++next;
    }
    return true;
}

QByteArray describe(const std::vector<float>& values)
{
    QByteArray text;
    for (float value : values)
        text += QByteArray::number(value, 'g', 9) + ' ';
    return text;
}

} // namespace

class TestJXProgressThread : public QObject
{
    Q_OBJECT

private slots:
    void examplesRiseAndEnd();
    void pauseHoldsTheElapsedTime();
    void newEstimateKeepsTheElapsedTime();
    void setProgressIsOverwrittenAtTheNextRise();
    void unusualRates_data();
    void unusualRates();
    void stopInterruptsTheSleep();
    void destructorInterruptsTheSleep();
    void terminateLeavesTheEstimatorUsable();
};

// Both examples run side by side to keep the test short: 20 s for the longer one.
void TestJXProgressThread::examplesRiseAndEnd()
{
    JXProgressThread twentySeconds(20, 1);
    JXProgressThread tenSecondsInThrees(10, 3);
    ProgressTrail twentyTrail;
    ProgressTrail tenTrail;

    twentySeconds.start();
    tenSecondsInThrees.start();
    const QDeadlineTimer giveUp(120000);
    while ((!twentySeconds.isFinished() || !tenSecondsInThrees.isFinished()) && !giveUp.hasExpired()) {
        twentyTrail.sample(twentySeconds);
        tenTrail.sample(tenSecondsInThrees);
        QTest::qWait(5);
    }
    twentyTrail.sample(twentySeconds);
    tenTrail.sample(tenSecondsInThrees);
    QVERIFY(twentySeconds.isFinished());
    QVERIFY(tenSecondsInThrees.isFinished());

    // 19/20 is stored as 0.949999988, below 0.95, so that rise does not end the run: the next one does, at 1.0.
    const std::vector<float> twentyExpected{0.05f, 0.1f, 0.15f, 0.2f, 0.25f, 0.3f, 0.35f, 0.4f, 0.45f, 0.5f,
                                            0.55f, 0.6f, 0.65f, 0.7f, 0.75f, 0.8f, 0.85f, 0.9f, 0.95f, 1.0f};
    QVERIFY2(followsInOrder(twentyTrail.values, twentyExpected), describe(twentyTrail.values));
    QCOMPARE(twentyTrail.values.back(), 1.0f);
    QVERIFY(twentyTrail.values.size() > 10);

    // Not limited to 1.
    const std::vector<float> tenExpected{0.3f, 0.6f, 0.9f, 1.2f};
    QVERIFY2(followsInOrder(tenTrail.values, tenExpected), describe(tenTrail.values));
    QCOMPARE(tenTrail.values.back(), 1.2f);

    // The last value stays after the end.
    QCOMPARE(tenSecondsInThrees.getProress(), 1.2f);
}

void TestJXProgressThread::pauseHoldsTheElapsedTime()
{
    JXProgressThread estimator(4, 1);
    estimator.start();
    estimator.pause();
    QVERIFY(estimator.isPaused());

    // Two and a half steps pass without a rise, and the thread keeps going.
    QTest::qWait(2500);
    QCOMPARE(estimator.getProress(), 0.0f);
    QVERIFY(estimator.isRunning());

    // Only the steps after resuming count: 1 s of 4 (2 s if this thread was held up), where counting the paused
    // steps too would give 0.75 or more.
    estimator.resume();
    QVERIFY(!estimator.isPaused());
    QTRY_VERIFY_WITH_TIMEOUT(estimator.getProress() != 0.0f, 30000);
    const float progress = estimator.getProress();
    QVERIFY2(progress == 0.25f || progress == 0.5f, QByteArray::number(progress));

    estimator.pause();
    estimator.stop(30000, false);
    QVERIFY(estimator.isFinished());
}

void TestJXProgressThread::newEstimateKeepsTheElapsedTime()
{
    JXProgressThread estimator(100, 1);
    estimator.start();
    QTRY_COMPARE_WITH_TIMEOUT(estimator.getProress(), 0.02f, 30000);

    estimator.setEstimateTime(10);
    QCOMPARE(estimator.getProress(), 0.0f);

    // The run's elapsed time (at least 3 s by the next rise) over the new estimate; a reset would give 0.1.
    QTRY_VERIFY_WITH_TIMEOUT(estimator.getProress() != 0.0f, 30000);
    const float progress = estimator.getProress();
    QVERIFY2(progress >= 0.3f, QByteArray::number(progress));
    const float tenths = progress * 10;
    QVERIFY2(std::fabs(tenths - std::round(tenths)) < 1e-4f, QByteArray::number(progress));

    estimator.stop(30000, false);
    QVERIFY(estimator.isFinished());
}

void TestJXProgressThread::setProgressIsOverwrittenAtTheNextRise()
{
    JXProgressThread estimator(100, 1);
    estimator.start();
    estimator.setProgress(0.5f);
    QCOMPARE(estimator.getProress(), 0.5f);

    QTRY_VERIFY_WITH_TIMEOUT(estimator.getProress() != 0.5f, 30000);
    const float progress = estimator.getProress();
    QVERIFY2(progress > 0.0f && progress < 0.1f, QByteArray::number(progress));

    estimator.stop(30000, false);
    QVERIFY(estimator.isFinished());
}

void TestJXProgressThread::unusualRates_data()
{
    QTest::addColumn<int>("estimate");
    QTest::addColumn<int>("step");
    QTest::addColumn<float>("awaited");
    QTest::addColumn<bool>("endsByItself");

    const float infinity = std::numeric_limits<float>::infinity();
    QTest::newRow("estimate 0 ends at the first rise") << 0 << 1 << infinity << true;
    QTest::newRow("negative estimate runs until stopped") << -4 << 1 << -0.5f << false;
    // A step of 0 or less would spin at 0 for ever (or give 0/0 with an estimate of 0); one second is used.
    QTest::newRow("step 0") << 2 << 0 << 1.0f << true;
    QTest::newRow("negative step") << 2 << -5 << 1.0f << true;
    QTest::newRow("step 0 and estimate 0") << 0 << 0 << infinity << true;
}

void TestJXProgressThread::unusualRates()
{
    QFETCH(int, estimate);
    QFETCH(int, step);
    QFETCH(float, awaited);
    QFETCH(bool, endsByItself);

    JXProgressThread estimator(estimate, step);
    estimator.start();
    if (endsByItself) {
        QTRY_VERIFY_WITH_TIMEOUT(estimator.isFinished(), 30000);
        const float progress = estimator.getProress();
        QVERIFY(!std::isnan(progress));
        QVERIFY2(progress == awaited, QByteArray::number(progress));
    } else {
        QTRY_VERIFY_WITH_TIMEOUT(estimator.getProress() == awaited, 30000);
        QVERIFY(estimator.isRunning());
        estimator.stop(30000, false);
        QVERIFY(estimator.isFinished());
    }
}

// With a ten-minute step, stop could only return in time if it cuts the sleep short.
void TestJXProgressThread::stopInterruptsTheSleep()
{
    JXProgressThread estimator(1000, 600);
    QSignalSpy finished(&estimator, &QThread::finished);
    estimator.start();
    QVERIFY(estimator.isRunning());
    QTest::qWait(300); // most likely asleep by now; if not, stop is seen before the sleep

    estimator.stop(30000, false);
    QVERIFY(estimator.isFinished());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(estimator.getProress(), 0.0f);
}

void TestJXProgressThread::destructorInterruptsTheSleep()
{
    auto estimator = std::make_unique<JXProgressThread>(1000, 600);
    estimator->start();
    QVERIFY(estimator->isRunning());
    QTest::qWait(300); // most likely asleep by now

    QElapsedTimer clock;
    clock.start();
    estimator.reset();
    QVERIFY2(clock.elapsed() < 30000, QByteArray::number(clock.elapsed()));
}

// A forced end must not leave a lock taken: the estimator is read, set, restarted and stopped again afterwards.
void TestJXProgressThread::terminateLeavesTheEstimatorUsable()
{
    JXProgressThread estimator(1000, 600);
    estimator.start();
    QVERIFY(estimator.isRunning());
    QTest::qWait(300); // most likely asleep by now; if not, stop is seen before the sleep

    estimator.stop(0, true);
    QTRY_VERIFY_WITH_TIMEOUT(estimator.isFinished(), 30000);

    estimator.setProgress(0.5f);
    QCOMPARE(estimator.getProress(), 0.5f);
    estimator.pause();
    QVERIFY(estimator.isPaused());

    estimator.start();
    QCOMPARE(estimator.getProress(), 0.0f);
    QVERIFY(!estimator.isPaused());
    QVERIFY(estimator.isRunning());
    QTest::qWait(300); // most likely asleep by now; if not, stop is seen before the sleep
    estimator.stop(30000, false);
    QVERIFY(estimator.isFinished());
}

QTEST_GUILESS_MAIN(TestJXProgressThread)
#include "tst_jxprogressthread.moc"
