#include "gpib/Clock.h"
#include "gpib/LinuxGpibDriver.h"
#include "gpib/TracingDriver.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>

using namespace Ni488;

namespace {

// One stand-in library, opened by the driver and, for scripting, by the test: both handles
// reach the same library state.
struct FakeLibrary {
    explicit FakeLibrary(const QString& path)
    {
        driver = LinuxGpibDriver::load(path, &error);
        handle = dlopen(QFile::encodeName(path).constData(), RTLD_NOW | RTLD_LOCAL);
        control = reinterpret_cast<void (*)(const char*)>(dlsym(handle, "fake_gpib_control"));
        record = reinterpret_cast<const char* (*)()>(dlsym(handle, "fake_gpib_calls"));
        control("reset");
    }
    ~FakeLibrary()
    {
        driver.reset();
        dlclose(handle);
    }
    // Every call since the reset, arguments as the library received them.
    QStringList calls() const
    {
        return QString::fromLatin1(record()).split(u'\n', Qt::SkipEmptyParts);
    }

    std::unique_ptr<LinuxGpibDriver> driver;
    QString error;
    void* handle = nullptr;
    void (*control)(const char*) = nullptr;
    const char* (*record)() = nullptr;
};

} // namespace

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
        FakeLibrary fake(library);
        QVERIFY2(fake.driver, qPrintable(fake.error));
        QCOMPARE(fake.driver->name(), QStringLiteral("linux-gpib"));
        VirtualClock clock(100.0);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        TracingDriver d(*fake.driver, clock, out);

        d.ibdev(0, 5, 0, T3s, 1, 0x140a);
        d.ibdev(0, 31, 0, T3s, 1, 0);
        fake.control("wide"); // the low 16 bits alone would read as a failed descriptor
        d.ibdev(0, 5, 0, T3s, 1, 0);
        clock.advance(0.1534);
        d.ibwrt(1, "ID?");
        QByteArray buffer(8, 'x');
        d.ibrd(1, buffer);
        buffer.fill('.', 12);
        d.ibrd(1, buffer);
        QCOMPARE(buffer, QByteArray("\"7\"\r\n.......")); // the rest keeps its bytes
        d.ibrd(1, buffer);
        int value = -1;
        char spr = 0;
        d.ibtmo(1, T10s);
        d.ibask(1, IbaTMO, &value);
        d.ibask(1, 0x7f, &value);
        d.ibrsp(1, &spr);
        d.ibwait(1, RQS | TIMO);
        d.ibclr(1);
        d.ibpad(1, 31);
        d.ibsre(0, 1);
        d.SendIFC(0);
        QVector<short> results{99};
        d.FindLstn(0, {1, 5, 9, NOADDR}, results, 4);
        d.FindLstn(0, {5}, results, 4); // no end marker from the caller: the driver adds one
        d.FindLstn(0, {5, NOADDR}, results, 0);
        fake.control("ebus");
        d.FindLstn(0, {1, 5, NOADDR}, results, 4);

        QCOMPARE(fake.calls(), QStringList({"ibdev 0 5 0 12 1 5130",
                                            "ibdev 0 31 0 12 1 0",
                                            "ibdev 0 5 0 12 1 0",
                                            "ibwrt 1 ID?",
                                            "ibrd 1 8",
                                            "ibrd 1 12",
                                            "ibrd 1 12",
                                            "ibtmo 1 13",
                                            "ibask 1 3",
                                            "ibask 1 127",
                                            "ibrsp 1",
                                            "ibwait 1 0x4800",
                                            "ibclr 1",
                                            "ibpad 1 31",
                                            "ibsre 0 1",
                                            "SendIFC 0",
                                            "FindLstn 0 4",
                                            "FindLstn 0 4",
                                            "FindLstn 0 0",
                                            "FindLstn 0 4"}));
        QCOMPARE(QString::fromLatin1(out.data()).split(u'\n'),
                 QStringList({
                     "0.000 ibdev ud=1 pad=5 tmo=12 ibsta=0x100 iberr=0 ibcnt=0",
                     "0.000 ibdev ud=-1 pad=31 tmo=12 ibsta=0x8000 iberr=4 ibcnt=0",
                     "0.000 ibdev ud=98304 pad=5 tmo=12 ibsta=0x100 iberr=0 ibcnt=0",
                     "0.153 ibwrt ud=1 \"ID?\" ibsta=0x100 iberr=0 ibcnt=3",
                     "0.153 ibrd ud=1 \"FAKE SA,\" ibsta=0x100 iberr=0 ibcnt=8",
                     "0.153 ibrd ud=1 \"\\\"7\\\"\\r\\n\" ibsta=0x2100 iberr=0 ibcnt=5",
                     "0.153 ibrd ud=1 \"\" ibsta=0xc100 iberr=6 ibcnt=0",
                     "0.153 ibtmo ud=1 tmo=13 ibsta=0x100 iberr=0 ibcnt=0",
                     "0.153 ibask ud=1 option=3 value=13 ibsta=0x100 iberr=0 ibcnt=0",
                     "0.153 ibask ud=1 option=127 value=13 ibsta=0x8000 iberr=4 ibcnt=0",
                     "0.153 ibrsp ud=1 spr=0xd0 ibsta=0x100 iberr=0 ibcnt=1",
                     "0.153 ibwait ud=1 mask=0x4800 ibsta=0x900 iberr=0 ibcnt=0",
                     "0.153 ibclr ud=1 ibsta=0x100 iberr=0 ibcnt=0",
                     "0.153 ibpad ud=1 pad=31 ibsta=0x8000 iberr=4 ibcnt=0",
                     "0.153 ibsre ud=0 v=1 ibsta=0x100 iberr=0 ibcnt=0",
                     "0.153 SendIFC ud=0 ibsta=0x100 iberr=0 ibcnt=0",
                     "0.153 FindLstn ud=0 found=5 ibsta=0x100 iberr=0 ibcnt=1",
                     "0.153 FindLstn ud=0 found=5 ibsta=0x100 iberr=0 ibcnt=1",
                     "0.153 FindLstn ud=0 found= ibsta=0x8000 iberr=20 ibcnt=0",
                     "0.153 FindLstn ud=0 found= ibsta=0x8000 iberr=14 ibcnt=0",
                     "",
                 }));
    }

    void loadFailuresSayWhy()
    {
        QString error;
        QVERIFY(!LinuxGpibDriver::load(QStringLiteral("/nonexistent/libgpib.so.0"), &error));
        QVERIFY2(error.contains(QStringLiteral("/nonexistent/libgpib.so.0")), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("No such file")), qPrintable(error));

        QVERIFY(!LinuxGpibDriver::load(QStringLiteral(FAKE_GPIB_NO_FINDLSTN), &error));
        QVERIFY2(error.contains(QStringLiteral(FAKE_GPIB_NO_FINDLSTN)), qPrintable(error));
        QVERIFY2(error.contains(QStringLiteral("FindLstn")), qPrintable(error));

        if (auto system = LinuxGpibDriver::load(QString(), &error))
            QSKIP("a real linux-gpib library is installed");
        QVERIFY2(error.contains(QStringLiteral("libgpib.so.0")), qPrintable(error));
    }

    void traceEscapesData_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("plain") << QByteArray("CF 1.5GHZ;") << QByteArray("CF 1.5GHZ;");
        QTest::newRow("tab") << QByteArray("a\tb") << QByteArray("a\\tb");
        QTest::newRow("backslash") << QByteArray("a\\b") << QByteArray("a\\\\b");
        QTest::newRow("nul") << QByteArray("\0A", 2) << QByteArray("\\x00A");
        QTest::newRow("del and high") << QByteArray("\x7f\x80") << QByteArray("\\x7f\\x80");
    }
    void traceEscapesData()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, text);
        QCOMPARE(TracingDriver::escaped(bytes), text);
    }

    // A program that ends abruptly still leaves every line.
    void traceFileIsCompleteAfterEveryLine()
    {
        QTemporaryDir dir;
        FakeLibrary fake(QStringLiteral(FAKE_GPIB));
        VirtualClock clock;
        QFile file(dir.filePath(QStringLiteral("bus.trc")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Text));
        TracingDriver(*fake.driver, clock, file).SendIFC(0);
        QFile reader(file.fileName());
        QVERIFY(reader.open(QIODevice::ReadOnly));
        QCOMPARE(reader.readAll(), QByteArray("0.000 SendIFC ud=0 ibsta=0x100 iberr=0 ibcnt=0\n"));
    }
};

QTEST_GUILESS_MAIN(TestBinding)
#include "tst_binding.moc"
