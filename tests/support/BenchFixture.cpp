#include "BenchFixture.h"

#include <QApplication>
#include <QTest>

BenchScenario scenarioOf(const QString& words);

BenchFixture::BenchFixture(const QString& scenario) : bench(clock, scenarioOf(scenario))
{
    // Only a modal window (the intro) waits on the clock without anybody advancing it.
    clock.idleAdvance = [] { return QApplication::activeModalWidget() != nullptr; };
    form = std::make_unique<MainForm>(io, hands);
    // A forked child lacks the raster engine's helper threads: painting would wait for ever.
    if (inChildProcess())
        form->setUpdatesEnabled(false);
}

void BenchFixture::startUp()
{
    form->Form_Load();
    form->show();
    for (int turn = 0; turn < 1000 && !form->activated(); ++turn)
        QCoreApplication::processEvents();
    // Let the blink of the hint finish.
    clock.advance(2);
}
