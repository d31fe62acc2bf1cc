#include "base/Clock.h"
#include "gpib/LinuxGpibDriver.h"
#include "gpib/TracingDriver.h"

#include <QtTest>

#include <dlfcn.h>

using namespace Ni488;

class TestBinding : public QObject {
    Q_OBJECT

private slots:
    // Every call reaches the library with its arguments, and its outcome comes back into
    // the status, as the trace shows it.
    void passesEveryCallThrough_data()
    {
        QTest::addColumn<QString>("library");
        QTest::newRow("per-thread status") << QStringLiteral(FAKE_GPIB);
        QTest::newRow("global status only") << QStringLiteral(FAKE_GPIB_GLOBALS);
    }
    void passesEveryCallThrough()
    {
        QFETCH(QString, library);
        QString error;
        const std::unique_ptr<LinuxGpibDriver> driver = LinuxGpibDriver::load(library, &error);
        QVERIFY2(driver, qPrintable(error));
        // A second handle reaches the same library state, to script it and read its record
        // of calls, arguments as the library received them.
        const std::unique_ptr<void, int (*)(void*)> fake(
            dlopen(QFile::encodeName(library).constData(), RTLD_NOW | RTLD_LOCAL), dlclose);
        const auto wide = reinterpret_cast<void (*)()>(dlsym(fake.get(), "fake_gpib_wide"));
        const auto calls =
            reinterpret_cast<const char* (*)()>(dlsym(fake.get(), "fake_gpib_calls"));
        VirtualClock clock(100.0);
        // Read back while still open: a program that ends abruptly leaves every line.
        QTemporaryDir dir;
        QFile out(dir.filePath(QStringLiteral("bus.trc")));
        QVERIFY(out.open(QIODevice::WriteOnly | QIODevice::Text));
        TracingDriver d(*driver, clock, out);

        d.ibdev(0, 5, 0, T3s, 1, 0x140a);
        wide(); // the low 16 bits alone would read as a failed descriptor
        d.ibdev(0, 5, 0, T3s, 1, 0);
        clock.advance(0.1534);
        d.ibwrt(1, "ID?");
        QByteArray buffer(8, 'x');
        d.ibrd(1, buffer);
        buffer.fill('.', 12);
        d.ibrd(1, buffer);
        QCOMPARE(buffer, QByteArray("\"7\"\r\n.......")); // the rest keeps its bytes
        int value = -1;
        char spr = 0;
        // Each call ends otherwise than the one before, so its own outcome shows.
        d.ibtmo(1, T10s);
        d.ibask(1, 0x7f, &value);
        d.ibask(1, IbaTMO, &value);
        d.ibrsp(1, &spr);
        d.ibwait(1, RQS | TIMO);
        d.ibclr(1);
        d.ibpad(1, 31);
        d.SendIFC(0);
        QVector<short> results{99};
        d.FindLstn(0, {5}, results, 4); // no end marker from the caller: the driver adds one
        d.FindLstn(0, {5, NOADDR}, results, 0);
        d.ibsre(0, 1);

        QCOMPARE(QString::fromLatin1(calls()).split(u'\n', Qt::SkipEmptyParts),
                 QStringList({"ibdev 0 5 0 12 1 5130", "ibdev 0 5 0 12 1 0", "ibwrt 1 ID?",
                              "ibrd 1 8", "ibrd 1 12", "ibtmo 1 13", "ibask 1 127", "ibask 1 3",
                              "ibrsp 1", "ibwait 1 0x4800", "ibclr 1", "ibpad 1 31", "SendIFC 0",
                              "FindLstn 0 4", "FindLstn 0 0", "ibsre 0 1"}));
        QFile reader(out.fileName());
        QVERIFY(reader.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromLatin1(reader.readAll()).split(u'\n'),
                 QStringList({
                     "0.000 ibdev ud=1 pad=5 tmo=12 ibsta=0x100 iberr=0 ibcnt=0",
                     "0.000 ibdev ud=98304 pad=5 tmo=12 ibsta=0x100 iberr=0 ibcnt=0",
                     "0.153 ibwrt ud=1 \"ID?\" ibsta=0x100 iberr=0 ibcnt=3",
                     "0.153 ibrd ud=1 \"FAKE SA,\" ibsta=0x100 iberr=0 ibcnt=8",
                     "0.153 ibrd ud=1 \"\\\"7\\\"\\r\\n\" ibsta=0x2100 iberr=0 ibcnt=5",
                     "0.153 ibtmo ud=1 tmo=13 ibsta=0x100 iberr=0 ibcnt=0",
                     "0.153 ibask ud=1 option=127 value=-1 ibsta=0x8000 iberr=4 ibcnt=0",
                     "0.153 ibask ud=1 option=3 value=13 ibsta=0x100 iberr=0 ibcnt=0",
                     "0.153 ibrsp ud=1 spr=0xd0 ibsta=0x100 iberr=0 ibcnt=1",
                     "0.153 ibwait ud=1 mask=0x4800 ibsta=0x900 iberr=0 ibcnt=0",
                     "0.153 ibclr ud=1 ibsta=0x100 iberr=0 ibcnt=0",
                     "0.153 ibpad ud=1 pad=31 ibsta=0x8000 iberr=4 ibcnt=0",
                     "0.153 SendIFC ud=0 ibsta=0x100 iberr=0 ibcnt=0",
                     "0.153 FindLstn ud=0 found=5 ibsta=0x100 iberr=0 ibcnt=1",
                     "0.153 FindLstn ud=0 found= ibsta=0x8000 iberr=20 ibcnt=0",
                     "0.153 ibsre ud=0 v=1 ibsta=0x100 iberr=0 ibcnt=0",
                     "",
                 }));
    }

    void loadFailuresSayWhy()
    {
        const auto fails = [](const QString& path, const QString& why) {
            QString error;
            QVERIFY(!LinuxGpibDriver::load(path, &error));
            QVERIFY2(error.contains(path) && error.contains(why), qPrintable(error));
        };
        fails(QStringLiteral("/nonexistent/libgpib.so.0"), QStringLiteral("No such file"));
        fails(QStringLiteral(FAKE_GPIB_NO_FINDLSTN), QStringLiteral("FindLstn"));
        if (LinuxGpibDriver::load())
            QSKIP("a real linux-gpib library is installed");
        fails({}, QStringLiteral("libgpib.so.0"));
    }

    void traceEscapesData()
    {
        QCOMPARE(TracingDriver::escaped(QByteArray("CF 1.5;\t\\\0\x7f\x80", 12)),
                 QByteArray("CF 1.5;\\t\\\\\\x00\\x7f\\x80"));
    }
};

QTEST_GUILESS_MAIN(TestBinding)
#include "tst_binding.moc"
