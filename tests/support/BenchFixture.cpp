#include "BenchFixture.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryFile>
#include <QTest>

#include <sys/wait.h>
#include <unistd.h>

namespace {

// Set in a forked child: the raster engine's helper threads were not forked along, so the
// child must not paint large areas or it waits on them for ever.
bool inChildProcess = false;

BenchScenario scenarioOf(const QString& words)
{
    const std::optional<BenchScenario> scenario = BenchScenario::parse(words);
    if (!scenario)
        qFatal("unknown bench scenario %s", qPrintable(words));
    return *scenario;
}

} // namespace

BenchFixture::BenchFixture(const QString& scenario) : bench(clock, scenarioOf(scenario))
{
    // Only a modal window (the intro) waits on the clock without anybody advancing it.
    clock.idleAdvance = [] { return QApplication::activeModalWidget() != nullptr; };
    form = std::make_unique<MainForm>(io, hands);
    if (inChildProcess)
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

ChildOutcome runInChild(const std::function<void(std::function<void(const QString&)>)>& body)
{
    QTemporaryFile logFile;
    logFile.open();
    const QString path = logFile.fileName();
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        alarm(120); // a child that hangs must not hang the suite
        inChildProcess = true;
        for (QWidget* window : QApplication::topLevelWidgets())
            window->setUpdatesEnabled(false);
        QFile out(path);
        out.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
        body([&out](const QString& line) {
            out.write(line.toUtf8() + '\n');
            out.flush();
        });
        out.close();
        std::fflush(nullptr);
        _exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ChildOutcome outcome;
    outcome.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    QFile in(path);
    in.open(QIODevice::ReadOnly);
    outcome.log = QString::fromUtf8(in.readAll());
    return outcome;
}
