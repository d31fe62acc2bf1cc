#include "ChildProcess.h"

#include <QTemporaryFile>

#include <sys/wait.h>
#include <unistd.h>

namespace {
bool childProcess = false;
}

bool inChildProcess()
{
    return childProcess;
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
        childProcess = true;
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
