#include "EngineBench.h"

#include <QCoreApplication>

BenchScenario scenarioOf(const QString& words)
{
    const std::optional<BenchScenario> scenario = BenchScenario::parse(words);
    if (!scenario)
        qFatal("unknown bench scenario %s", qPrintable(words));
    return *scenario;
}

EngineBench::EngineBench(const QString& scenario) : bench(clock, scenarioOf(scenario))
{
    engine.FindAnalyser();
    engine.CheckTrackingGenerator();
    forget();
}

void EngineBench::run(MeasType type, int step)
{
    engine.Globals.MeasType = type;
    view.step = step;
    engine.run();
}

void EngineBench::forget()
{
    bench.clearReceived();
    dialogs.clear();
}

void EngineBench::afterPrompt(double seconds, std::function<void()> action)
{
    dialogs.onMessage = [=, this](const ScriptedDialogs::Shown& shown) {
        if (shown.kind == MsgKind::ConnectionPrompt)
            clock.schedule(seconds, action);
        return std::optional<MsgResult>();
    };
}
