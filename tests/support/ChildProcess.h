#pragma once

#include <QString>

#include <functional>

// Runs body in a child process and returns its exit status (-1 if it did not exit by
// itself). What the child shows and sends is written to the returned log through report.
struct ChildOutcome {
    int exitStatus = -1;
    QString log;
};
ChildOutcome
runInChild(const std::function<void(std::function<void(const QString&)> report)>& body);
bool inChildProcess();
