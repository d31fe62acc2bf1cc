#pragma once

#include "session/BenchSession.h"

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

// Runs the application's event loop, as the program does, until something exits it (quitWhen()
// once one of its signals has come, or the program's own end), failing the test if nothing does
// within two minutes. The application's loop, not a local one: a program that ended has exited
// it, which a local loop started after that would take as its own exit.
inline void runApplication()
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        QTest::qFail("nothing ended the wait within 120 s", __FILE__, __LINE__);
        QCoreApplication::exit(0);
    });
    guard.start(120000);
    QCoreApplication::exec();
}

// Runs the event loop until the session's bus thread has done the work handed to it: the run,
// the start-up or the reset that a call started.
inline void settle(BenchSession& session)
{
    if (!session.working())
        return;
    const QMetaObject::Connection settled =
        QObject::connect(&session, &BenchSession::settled, [] { QCoreApplication::exit(0); });
    runApplication();
    QObject::disconnect(settled);
}
