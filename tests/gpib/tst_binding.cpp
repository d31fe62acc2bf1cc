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
    explicit FakeLibrary(const char* path)
    {
        driver = LinuxGpibDriver::load(QString::fromLocal8Bit(path), &error);
        handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        control = reinterpret_cast<void (*)(const char*)>(dlsym(handle, "fake_gpib_control"));
        lastCall = reinterpret_cast<const char* (*)()>(dlsym(handle, "fake_gpib_last_call"));
        control("reset");
    }
    ~FakeLibrary()
    {
        driver.reset();
        dlclose(handle);
    }

    std::unique_ptr<LinuxGpibDriver> driver;
    QString error;
    void* handle = nullptr;
    void (*control)(const char*) = nullptr;
    const char* (*lastCall)() = nullptr;
};

// Scripted answers for the trace tests; each call reports the status set in next.
class StubDriver : public GpibDriver {
public:
    QString name() const override { return QStringLiteral("stub"); }
    int ibdev(int, int, int, int, int, int) override { return report(), 0x18000; }
    int ibpad(int, int) override { return report(); }
    int ibclr(int) override { return report(); }
    int ibrsp(int, char* spr) override { return *spr = char(0xd0), report(); }
    int ibwrt(int, const QByteArray&) override { return report(); }
    int ibrd(int, QByteArray& buffer) override
    {
        buffer.replace(0, reply.size(), reply);
        return report();
    }
    int ibtmo(int, int) override { return report(); }
    int ibask(int, int, int* value) override { return *value = 13, report(); }
    int ibwait(int, int) override { return report(); }
    int ibsre(int, int) override { return report(); }
    void SendIFC(int) override { report(); }
    void FindLstn(int, const QVector<short>&, QVector<short>& results, int) override
    {
        results = {5, 17};
        report();
    }
    GpibStatus status() const override { return current; }

    GpibStatus next{CMPL, 0, 0};
    QByteArray reply;

private:
    int report() { return (current = next).ibsta; }
    GpibStatus current;
};

} // namespace

// Stops the test at the first mismatch and reports the caller's line.
#define EXPECT_STATUS(...)                                                                         \
    do {                                                                                           \
        expect(__VA_ARGS__);                                                                       \
        if (QTest::currentTestFailed())                                                            \
            QFAIL("status or arguments differ");                                                   \
    } while (false)

class TestBinding : public QObject {
    Q_OBJECT

    void expect(const FakeLibrary& fake, int ibsta, int iberr, long ibcntl, const char* call)
    {
        const GpibStatus s = fake.driver->status();
        QCOMPARE(s.ibsta, ibsta);
        QCOMPARE(s.iberr, iberr);
        QCOMPARE(s.ibcntl, ibcntl);
        QCOMPARE(fake.lastCall(), call);
    }

private slots:
    void linuxGpibPassesEveryCallThrough()
    {
        FakeLibrary fake(FAKE_GPIB);
        QVERIFY2(fake.driver, qPrintable(fake.error));
        LinuxGpibDriver& d = *fake.driver;
        QCOMPARE(d.name(), QStringLiteral("linux-gpib"));

        QCOMPARE(d.ibdev(0, 5, 0, T3s, 1, 0x140a), 1);
        EXPECT_STATUS(fake, CMPL, 0, 0, "ibdev 0 5 0 12 1 5130");
        QCOMPARE(d.ibwrt(1, "ID?"), CMPL);
        EXPECT_STATUS(fake, CMPL, 0, 3, "ibwrt 1 ID?");

        // Reads fill only the front of the buffer; the rest keeps its bytes.
        QByteArray buffer(8, 'x');
        QCOMPARE(d.ibrd(1, buffer), CMPL);
        EXPECT_STATUS(fake, CMPL, 0, 8, "ibrd 1 8");
        QCOMPARE(buffer, QByteArray("FAKE SA,"));
        buffer.fill('.', 12);
        QCOMPARE(d.ibrd(1, buffer), END | CMPL);
        EXPECT_STATUS(fake, END | CMPL, 0, 5, "ibrd 1 12");
        QCOMPARE(buffer, QByteArray("\"7\"\r\n......."));
        QCOMPARE(d.ibrd(1, buffer), ERR | TIMO | CMPL);
        EXPECT_STATUS(fake, ERR | TIMO | CMPL, EABO, 0, "ibrd 1 12");

        int value = -1;
        QCOMPARE(d.ibtmo(1, T10s), CMPL);
        EXPECT_STATUS(fake, CMPL, 0, 0, "ibtmo 1 13");
        QCOMPARE(d.ibask(1, IbaTMO, &value), CMPL);
        QCOMPARE(value, T10s);
        QCOMPARE(d.ibask(1, 0x7f, &value), ERR);
        EXPECT_STATUS(fake, ERR, EARG, 0, "ibask 1 127");

        char spr = 0;
        QCOMPARE(d.ibrsp(1, &spr), CMPL);
        QCOMPARE(uchar(spr), uchar(0xd0));
        EXPECT_STATUS(fake, CMPL, 0, 1, "ibrsp 1");
        QCOMPARE(d.ibwait(1, RQS | TIMO), CMPL | RQS);
        EXPECT_STATUS(fake, CMPL | RQS, 0, 0, "ibwait 1 0x4800");
        QCOMPARE(d.ibclr(1), CMPL);
        EXPECT_STATUS(fake, CMPL, 0, 0, "ibclr 1");
        QCOMPARE(d.ibpad(1, 31), ERR);
        EXPECT_STATUS(fake, ERR, EARG, 0, "ibpad 1 31");
        QCOMPARE(d.ibsre(0, 1), CMPL);
        EXPECT_STATUS(fake, CMPL, 0, 0, "ibsre 0 1");
        d.SendIFC(0);
        EXPECT_STATUS(fake, CMPL, 0, 0, "SendIFC 0");
    }

    void linuxGpibKeepsTheWholeDescriptor()
    {
        FakeLibrary fake(FAKE_GPIB);
        fake.control("wide");
        // The low 16 bits alone would read as a negative, failed descriptor.
        QCOMPARE(fake.driver->ibdev(0, 5, 0, T3s, 1, 0), 0x18000);
        QCOMPARE(fake.driver->ibdev(0, 31, 0, T3s, 1, 0), -1);
        EXPECT_STATUS(fake, ERR, EARG, 0, "ibdev 0 31 0 12 1 0");
    }

    void linuxGpibFindsListeners()
    {
        FakeLibrary fake(FAKE_GPIB);
        QVector<short> results{99};
        fake.driver->FindLstn(0, {1, 5, 9, NOADDR}, results, 4);
        QCOMPARE(results, QVector<short>{5});
        EXPECT_STATUS(fake, CMPL, 0, 1, "FindLstn 0 4");

        // No end marker from the caller: the driver adds one.
        fake.driver->FindLstn(0, {5}, results, 4);
        QCOMPARE(results, QVector<short>{5});

        fake.driver->FindLstn(0, {5, NOADDR}, results, 0);
        QCOMPARE(results, QVector<short>{});
        EXPECT_STATUS(fake, ERR, ETAB, 0, "FindLstn 0 0");

        fake.control("ebus");
        fake.driver->FindLstn(0, {1, 5, NOADDR}, results, 4);
        QCOMPARE(results, QVector<short>{});
        EXPECT_STATUS(fake, ERR, EBUS, 0, "FindLstn 0 4");
    }

    void linuxGpibFallsBackToGlobalStatus()
    {
        FakeLibrary fake(FAKE_GPIB_GLOBALS);
        QVERIFY2(fake.driver, qPrintable(fake.error));
        QCOMPARE(fake.driver->ibwrt(1, "ID?"), CMPL);
        EXPECT_STATUS(fake, CMPL, 0, 3, "ibwrt 1 ID?");
        QByteArray buffer(64, 0);
        QCOMPARE(fake.driver->ibrd(1, buffer), END | CMPL);
        EXPECT_STATUS(fake, END | CMPL, 0, 13, "ibrd 1 64");
        QCOMPARE(fake.driver->ibrd(1, buffer), ERR | TIMO | CMPL);
        EXPECT_STATUS(fake, ERR | TIMO | CMPL, EABO, 0, "ibrd 1 64");
    }

    void linuxGpibLoadFailuresSayWhy()
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

    void traceWritesOneLinePerCall()
    {
        StubDriver stub;
        VirtualClock clock(100.0);
        QBuffer out;
        out.open(QIODevice::WriteOnly);
        TracingDriver trace(stub, clock, out);
        QCOMPARE(trace.name(), QStringLiteral("stub"));

        QCOMPARE(trace.ibdev(0, 5, 0, T3s, 1, 0), 0x18000);
        clock.advance(0.1534);
        stub.next = {CMPL, 0, 3};
        QCOMPARE(trace.ibwrt(0x18000, "ID?"), CMPL);
        clock.advance(1.25);
        // Only the bytes actually read are shown, however large the buffer.
        stub.reply = QByteArray("A\t\"b\"\\\x1b\xff\r\n", 10);
        stub.next = {END | CMPL, 0, 9};
        QByteArray buffer(64, 'x');
        QCOMPARE(trace.ibrd(1, buffer), END | CMPL);
        QCOMPARE(trace.status().ibcntl, 9L);
        stub.next = {ERR | TIMO | CMPL, EABO, 0};
        trace.ibrd(1, buffer);
        stub.next = {CMPL, 0, 0};
        char spr = 0;
        int value = 0;
        QVector<short> results;
        trace.ibpad(1, 7);
        trace.ibclr(1);
        trace.ibrsp(1, &spr);
        trace.ibtmo(1, T10s);
        trace.ibask(1, IbaTMO, &value);
        trace.ibwait(1, RQS | TIMO);
        trace.ibsre(0, 1);
        trace.SendIFC(0);
        stub.next = {ERR | CMPL, EBUS, 2};
        trace.FindLstn(0, {5, 17, NOADDR}, results, 31);

        const QByteArrayList expected{
            "0.000 ibdev ud=98304 pad=5 tmo=12 ibsta=0x100 iberr=0 ibcnt=0",
            "0.153 ibwrt ud=98304 \"ID?\" ibsta=0x100 iberr=0 ibcnt=3",
            "1.403 ibrd ud=1 \"A\\t\\\"b\\\"\\\\\\x1b\\xff\\r\" ibsta=0x2100 iberr=0 ibcnt=9",
            "1.403 ibrd ud=1 \"\" ibsta=0xc100 iberr=6 ibcnt=0",
            "1.403 ibpad ud=1 pad=7 ibsta=0x100 iberr=0 ibcnt=0",
            "1.403 ibclr ud=1 ibsta=0x100 iberr=0 ibcnt=0",
            "1.403 ibrsp ud=1 spr=0xd0 ibsta=0x100 iberr=0 ibcnt=0",
            "1.403 ibtmo ud=1 tmo=13 ibsta=0x100 iberr=0 ibcnt=0",
            "1.403 ibask ud=1 option=3 value=13 ibsta=0x100 iberr=0 ibcnt=0",
            "1.403 ibwait ud=1 mask=0x4800 ibsta=0x100 iberr=0 ibcnt=0",
            "1.403 ibsre ud=0 v=1 ibsta=0x100 iberr=0 ibcnt=0",
            "1.403 SendIFC ud=0 ibsta=0x100 iberr=0 ibcnt=0",
            "1.403 FindLstn ud=0 found=5,17 ibsta=0x8100 iberr=14 ibcnt=2",
        };
        const QByteArrayList lines = out.data().split('\n');
        QCOMPARE(lines.size(), expected.size() + 1);
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(lines[i], expected[i]);
        QCOMPARE(lines.last(), QByteArray());
    }

    void traceEscapesData_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("plain") << QByteArray("CF 1.5GHZ;") << QByteArray("CF 1.5GHZ;");
        QTest::newRow("line ends") << QByteArray("\r\n") << QByteArray("\\r\\n");
        QTest::newRow("tab") << QByteArray("a\tb") << QByteArray("a\\tb");
        QTest::newRow("quote") << QByteArray("\"x\"") << QByteArray("\\\"x\\\"");
        QTest::newRow("backslash") << QByteArray("a\\b") << QByteArray("a\\\\b");
        QTest::newRow("nul") << QByteArray("\0A", 2) << QByteArray("\\x00A");
        QTest::newRow("del and high") << QByteArray("\x7f\x80") << QByteArray("\\x7f\\x80");
        QTest::newRow("empty") << QByteArray() << QByteArray();
    }

    void traceEscapesData()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QByteArray, text);
        QCOMPARE(TracingDriver::escaped(bytes), text);
    }

    void traceFileIsCompleteAfterEveryLine()
    {
        QTemporaryDir dir;
        StubDriver stub;
        VirtualClock clock;
        QFile file(dir.filePath(QStringLiteral("bus.trc")));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Text));
        TracingDriver trace(stub, clock, file);
        trace.SendIFC(0);

        // A second reader sees the line while the trace file is still open.
        QFile reader(file.fileName());
        QVERIFY(reader.open(QIODevice::ReadOnly));
        QCOMPARE(reader.readAll(), QByteArray("0.000 SendIFC ud=0 ibsta=0x100 iberr=0 ibcnt=0\n"));
    }
};

QTEST_GUILESS_MAIN(TestBinding)
#include "tst_binding.moc"
