#include "base/Clock.h"
#include "history/History.h"
#include "history/HistoryCommand.h"
#include "history/HistoryExport.h"
#include "history/HistoryStore.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <unistd.h>

namespace {

using Problem = HistoryStore::Problem;

MeasurementResult sweep(MeasType type, int stepIndex, float nominal = 0, float offset = 0)
{
    MeasurementResult r;
    r.type = type;
    r.stepIndex = stepIndex;
    r.stepMult = 1 << stepIndex;
    r.nominalDb = nominal ? nominal : measInfo(type).nominalDb;
    r.limitsShown = measInfo(type).limits != LimitSet::None;
    r.limitDb = measInfo(type).limitDb;
    const bool rl = kindOf(type) == MeasKind::ReturnLoss;
    for (int i = r.stepMult == 1 ? 2 : r.stepMult; i <= 80; i += r.stepMult) {
        r.points.append({i * 12.5, rl ? 30.0f - float(i) * 0.1f + offset
                                      : 0.01f * float(i % 7) - 0.02f + offset});
        r.reference.points.append({i * 12.5, -20.0f - float(i) * 0.05f});
    }
    r.reference.level = -10;
    r.reference.stepMult = r.stepMult;
    r.reference.taken = QDateTime(QDate(2024, 3, 5), QTime(9, 0), Qt::UTC);
    r.started = r.reference.taken.addSecs(120);
    r.ended = r.started.addSecs(75);
    r.analyserName = "2712";
    return r;
}

RunContext context(bool simulated = false, const QString& dutId = {})
{
    RunContext c;
    c.bench = {"2712", "ID TEK/2712,V81.1,TRACKING GEN",
               simulated ? BenchInterface::Simulated : BenchInterface::Board, "GPIB0::1"};
    c.operatorLogin = "tech";
    c.programVersion = "1.4";
    c.dutId = dutId;
    c.comments = "after repair";
    return c;
}

HistoryRecord fixed(const char* id, MeasurementResult r, const QString& dutId, int day,
                    bool simulated = false)
{
    r.ended = r.ended.addDays(day);
    HistoryRecord record = HistoryRecord::make(r, context(simulated, dutId));
    record.id = QUuid(id);
    return record;
}

PrintRow print(const QString& dutId, const QVector<MeasuredPoint>& cells)
{
    return {QUuid::createUuid(),
            "Termination",
            dutId,
            "re-checked",
            "5.3.2024",
            "100 MHz",
            cells,
            "/tmp/report.pdf",
            QDateTime(QDate(2024, 3, 9), QTime(8, 0), Qt::UTC)};
}

int writeRecords(const QString& where, int count)
{
    HistoryStore store;
    const bool open = where.startsWith("postgresql:")
                          ? store.openShared(DatabaseTarget::parse(where))
                          : store.openLocal(where);
    for (int i = 0; open && i < count; ++i) {
        const auto dut = QString("P%1-%2").arg(getpid()).arg(i);
        if (!store.writeRecord(HistoryRecord::make(sweep(MeasType::Att5X, 2), context(false, dut))))
            break;
        if (i == count - 1)
            return 0;
    }
    qWarning("%s", qPrintable(store.lastError()));
    return 1;
}

// Two benches at once: this program again, writing records.
void twoWriters(const QString& where)
{
    QProcess a, b;
    for (QProcess* p : {&a, &b})
        p->start(QCoreApplication::applicationFilePath(), {"--write-records", where, "100"});
    for (QProcess* p : {&a, &b}) {
        QVERIFY(p->waitForFinished(120000));
        QVERIFY2(p->exitCode() == 0, p->readAllStandardError().constData());
    }
}

// Touchstone 1.1 as its rules state them: "!" starts a comment anywhere; one option line
// "# unit parameter format R n" before any data; then per frequency one line of 1 + 2 n^2
// numbers for n ports, frequencies strictly rising.
struct Touchstone {
    QStringList comments, option;
    QVector<QVector<double>> rows;
    QString error;
};

Touchstone readTouchstone(const QString& text, int ports)
{
    Touchstone t;
    for (QString line : text.split('\n')) {
        if (const qsizetype bang = line.indexOf('!'); bang >= 0) {
            t.comments << line.mid(bang + 1).trimmed();
            line.truncate(bang);
        }
        line = line.trimmed();
        if (line.isEmpty())
            continue;
        if (line.startsWith('#')) {
            if (!t.option.isEmpty() || !t.rows.isEmpty())
                return t.error = "option line out of place: " + line, t;
            t.option = line.mid(1).toUpper().split(' ', Qt::SkipEmptyParts);
            continue;
        }
        if (t.option.isEmpty())
            return t.error = "data before the option line", t;
        QVector<double> row;
        for (const QString& field : line.split(' ', Qt::SkipEmptyParts)) {
            bool ok = false;
            row << QLocale::c().toDouble(field, &ok);
            if (!ok)
                return t.error = "not a number: " + field, t;
        }
        if (row.size() != 1 + 2 * ports * ports)
            return t.error = "wrong column count: " + line, t;
        if (!t.rows.isEmpty() && row[0] <= t.rows.last()[0])
            return t.error = "frequency not rising: " + line, t;
        t.rows << row;
    }
    return t;
}

// The CSV as a spreadsheet takes it: "# key: value" lines, the header, two numbers a row.
QVector<MeasuredPoint> readCsv(const QString& text, QMap<QString, QString>& meta, QString& error)
{
    QVector<MeasuredPoint> points;
    bool header = false;
    static const QRegularExpression metaLine("^# ([a-z_]+): (.*)$");
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
        const auto m = metaLine.match(line);
        if (!header && m.hasMatch()) {
            meta[m.captured(1)] = m.captured(2);
        } else if (!header) {
            header = line == "frequency_mhz,value_db";
            if (!header)
                return error = "bad header: " + line, points;
        } else {
            const QStringList f = line.split(',');
            bool a = false, b = false;
            if (f.size() == 2)
                points.append({QLocale::c().toDouble(f[0], &a), QLocale::c().toFloat(f[1], &b)});
            if (!a || !b)
                return error = "bad row: " + line, points;
        }
    }
    return points;
}

// A PostgreSQL server of its own, on a Unix socket in a temporary directory.
struct PgServer {
    const QString bin = "/usr/lib/postgresql/15/bin/";
    QTemporaryDir dir, passDir;
    QString error;

    QString path(const char* name) const { return dir.filePath(name); }
    QString url(const QString& user, const QString& db) const
    {
        return QString("postgresql://%1@/%2?host=%3").arg(user, db, path("sock"));
    }
    // As the postgres user when root: the server refuses to run as root.
    QString run(const QString& tool, QStringList args) const
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        if (geteuid() == 0)
            p.start("runuser", QStringList{"-u", "postgres", "--", bin + tool} + args);
        else
            p.start(bin + tool, args);
        p.waitForFinished(120000);
        return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0
                   ? QString()
                   : tool + " failed: " + p.readAll();
    }
    QString start() const
    {
        return run("pg_ctl", {"start", "-w", "-D", path("data"), "-l", path("log"), "-o",
                              "-F -c listen_addresses='' -k " + path("sock")});
    }
    QString stop(const char* mode) const
    {
        return run("pg_ctl", {"stop", "-w", "-D", path("data"), "-m", mode});
    }
    QString admin(const QString& db, const QStringList& statements) const
    {
        // A fresh connection each time: the server may have restarted since the last.
        QSqlDatabase::removeDatabase("admin-" + db);
        QSqlDatabase c = QSqlDatabase::addDatabase("QPSQL", "admin-" + db);
        c.setHostName(path("sock"));
        c.setDatabaseName(db);
        c.setUserName("postgres");
        QString failure;
        if (!c.open())
            failure = c.lastError().text();
        for (const QString& s : statements) {
            QSqlQuery q(c);
            if (failure.isEmpty() && !q.exec(s))
                failure = s + ": " + q.lastError().text();
        }
        return failure;
    }
    int count(const QString& db) const
    {
        QSqlQuery q(QSqlDatabase::database("admin-" + db));
        return q.exec("SELECT count(*) FROM records") && q.next() ? q.value(0).toInt() : -1;
    }

    PgServer()
    {
        if (!QFile::exists(bin + "initdb")) {
            error = "no PostgreSQL 15 server in " + bin + " (Debian package postgresql-15)";
            return;
        }
        QDir(dir.path()).mkdir("sock");
        QFile pw(path("pw"));
        pw.open(QIODevice::WriteOnly);
        pw.write("secret\n");
        pw.close();
        QFile pass(passDir.filePath("pgpass"));
        pass.open(QIODevice::WriteOnly);
        pass.write("*:*:*:postgres:secret\n*:*:*:bench:benchpw\n*:*:*:visitor:visitorpw\n"
                   "*:*:*:intruder:wrong\n");
        pass.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        pass.close();
        qputenv("PGPASSFILE", QFile::encodeName(pass.fileName()));
        if (geteuid() == 0)
            QProcess::execute("chown", {"-R", "postgres:postgres", dir.path()});
        error = run("initdb", {"-D", path("data"), "-U", "postgres", "-A", "scram-sha-256",
                               "--pwfile", path("pw"), "-E", "UTF8", "--locale=C", "--no-sync"});
        if (error.isEmpty())
            error = start();
        if (error.isEmpty()) {
            error =
                admin("postgres",
                      {"CREATE ROLE bench LOGIN PASSWORD 'benchpw'",
                       "CREATE ROLE visitor LOGIN PASSWORD 'visitorpw'",
                       "CREATE ROLE intruder LOGIN PASSWORD 'right'",
                       "CREATE DATABASE velmora OWNER bench", "CREATE DATABASE benches OWNER bench",
                       "CREATE DATABASE newer OWNER bench", "CREATE DATABASE foreign_db"});
        }
    }
    ~PgServer()
    {
        if (error.isEmpty())
            stop("fast");
    }
};

} // namespace

void writeCommandLineRecords()
{
    HistoryStore store;
    QVERIFY(store.openLocal(DatabaseTarget::localPath()));
    const HistoryRecord b =
        fixed("22222222-2222-2222-2222-222222222222", sweep(MeasType::Termination, 3), "", 1);
    for (const HistoryRecord& r :
         {fixed("11111111-1111-1111-1111-111111111111", sweep(MeasType::Att2X, 1), "AT-7", 0), b,
          fixed("33333333-3333-3333-3333-333333333333", sweep(MeasType::CustomAtt, 2, 7.5f), "AT-7",
                2),
          fixed("44444444-4444-4444-4444-444444444444", sweep(MeasType::Termination, 0, 0, -2),
                "T-1", 3, true)})
        QVERIFY2(store.writeRecord(r), qPrintable(store.lastError()));
    QVERIFY(store.writePrint(b.id, print("T-1", b.result.points)));
}

class TestHistory : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;
    std::unique_ptr<PgServer> m_pg;

    PgServer& pg()
    {
        if (!m_pg)
            m_pg = std::make_unique<PgServer>();
        return *m_pg;
    }

private slots:
    void initTestCase()
    {
        // The command-line reads find the bench's file where every run would.
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path()));
        QCOMPARE(DatabaseTarget::localPath(), m_home.path() + "/Velmora/history.sqlite");
        writeCommandLineRecords();
    }
    void cleanupTestCase() { m_pg.reset(); }

    void databaseUrl_data();
    void databaseUrl();
    void recordsAndPrints();
    void commandLine_data();
    void commandLine();
    void exportFormats_data();
    void exportFormats();
    void twoProcessesOnOneFile();
    void localFaults();
    void serviceKeepsRecordsUntilTheFileWorks();
    void sharedFaults_data();
    void sharedFaults();
    void sharedOutageOnTheVirtualClock();
    void twoBenchesOnOneServer();
};

void TestHistory::databaseUrl_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("seen");
    QTest::newRow("local") << "local"
                           << "local";
    QTest::newRow("empty") << ""
                           << "local";
    QTest::newRow("tcp") << "postgresql://lab@db.example:5433/velmora?connect_timeout=3"
                         << "lab|db.example|5433|velmora|connect_timeout=3;keepalives=1;"
                            "keepalives_idle=10;keepalives_interval=5;keepalives_count=3";
    QTest::newRow("socket") << "postgresql://lab@/hist%20db?host=/run/postgresql"
                            << "lab|/run/postgresql|-1|hist db|connect_timeout=5";
    QTest::newRow("password") << "postgresql://lab:pw@db/velmora"
                              << "a password does not belong in the address; put it in ~/.pgpass";
    QTest::newRow("no user") << "postgresql://db/velmora"
                             << "it names no user (USER@)";
    QTest::newRow("no database") << "postgresql://lab@db"
                                 << "it names no database (/DBNAME)";
    QTest::newRow("scheme") << "mysql://lab@db/x"
                            << "it is neither \"local\" nor starts with postgresql://";
    QTest::newRow("port") << "postgresql://lab@db:99999/x"
                          << "the port \"99999\" is not a number from 1 to 65535";
    QTest::newRow("option") << "postgresql://lab@db/x?sslmode=disable"
                            << "the option \"sslmode=disable\" is not known here";
    QTest::newRow("no host") << "postgresql://lab@/x"
                             << "it names no host (@HOST, or ?host=/socket/dir)";
}

void TestHistory::databaseUrl()
{
    QFETCH(QString, text);
    const DatabaseTarget t = DatabaseTarget::parse(text);
    const QString seen = !t.isShared() ? QString("local")
                         : !t.valid()  ? t.error
                                       : QString("%1|%2|%3|%4|%5")
                                            .arg(t.user, t.host)
                                            .arg(t.port)
                                            .arg(t.database, t.connectOptions);
    QTEST(seen, "seen");
}

void TestHistory::recordsAndPrints()
{
    QTemporaryDir dir;
    HistoryStore store;
    QVERIFY2(store.openLocal(dir.filePath("h.sqlite")), qPrintable(store.lastError()));
    MeasurementResult custom = sweep(MeasType::CustomAtt, 0, 7.5f);
    custom.customAttnText = "7.5";
    custom.unattended = true;
    HistoryRecord a = HistoryRecord::make(custom, context(true, "AT-7"));
    a.context.startedFrom = StartedFrom::Batch;
    HistoryRecord b = HistoryRecord::make(sweep(MeasType::Termination, 3), context());
    QVERIFY(HistoryRecord::make(sweep(MeasType::RlReference, 1), context()).id.isNull());
    QVERIFY2(store.writeRecord(a) && store.writeRecord(b), qPrintable(store.lastError()));
    // The page shows the 12.5 MHz column of another sweep, not this one's.
    const PrintRow first = print("T-1", sweep(MeasType::Termination, 0).points);
    PrintRow second = print("T-1b", b.result.points);
    second.printed = first.printed.addSecs(60);
    QVERIFY(store.writePrint(b.id, first) && store.writePrint(b.id, second));

    const auto loaded = store.load(a.id);
    QVERIFY(loaded);
    QCOMPARE(loaded->result.points.size(), 79);
    QCOMPARE(loaded->result.points, a.result.points);
    QCOMPARE(loaded->result.reference.points, a.result.reference.points);
    QCOMPARE(loaded->result.reference.taken, a.result.reference.taken);
    QCOMPARE(loaded->result.ended, a.result.ended);
    QCOMPARE(loaded->result.nominalDb, 7.5f);
    QCOMPARE(loaded->result.customAttnText, "7.5");
    QVERIFY(loaded->result.unattended && loaded->simulated());
    QCOMPARE(loaded->context.bench.idAnswer, "ID TEK/2712,V81.1,TRACKING GEN");
    QCOMPARE(loaded->context.startedFrom, StartedFrom::Batch);
    QCOMPARE(loaded->context.comments, "after repair");

    const auto withPrints = store.load(b.id);
    QCOMPARE(withPrints->prints.size(), 2);
    QCOMPARE(withPrints->prints[0].cells, first.cells);
    QCOMPARE(withPrints->prints[1].dutId, "T-1b");
    QCOMPARE(withPrints->dutId(), "T-1b");
    QCOMPARE(withPrints->verdict.text(), Verdict::of(b.result).text());

    HistoryFilter filter;
    filter.dutId = "T-1";
    QCOMPARE(store.query(filter)->size(), 1);
    filter.dutId.clear();
    filter.kind = MeasKind::Attenuation;
    QCOMPARE(store.query(filter)->value(0).device, "7.5");
    filter.kind.reset();
    filter.outcome = Verdict::Outcome::Pass;
    filter.to = b.result.ended;
    QCOMPARE(store.query(filter)->value(0).prints, 2);
    filter.from = b.result.ended.addSecs(1);
    QCOMPARE(store.query(filter)->size(), 0);
}

void TestHistory::commandLine_data()
{
    QTest::addColumn<QStringList>("args"); // list DUT or export ID FORMAT, then the database
    QTest::addColumn<int>("exit");
    QTest::addColumn<QString>("out"); // the whole output, or its first line after "^"
    QTest::addColumn<QString>("err");
    const QString a = "11111111-1111-1111-1111-111111111111\t2024-03-05T09:03:15Z\t";
    const QString d = "44444444-4444-4444-4444-444444444444\t2024-03-08T09:03:15Z\tT-1\t";
    QTest::newRow("all") << QStringList{"list", "", ""} << 0
                         << a +
                                "AT-7\tATT\tX2\tPASS\t0.26\t75\n"
                                "22222222-2222-2222-2222-222222222222\t2024-03-06T09:03:15Z\tT-1\t"
                                "RL\tTERM\tPASS\t1.00\t1000\n"
                                "33333333-3333-3333-3333-333333333333\t2024-03-07T09:03:15Z\tAT-7\t"
                                "ATT\t7.5\tNONE\t\t\n" +
                                d + "RL\tTERM\tFAIL\t-1.00\t1000\n"
                         << "";
    QTest::newRow("printed DUT ID") << QStringList{"list", "T-1", "local"} << 0
                                    << "22222222-2222-2222-2222-222222222222\t2024-03-06T09:03:15Z"
                                       "\tT-1\tRL\tTERM\tPASS\t1.00\t1000\n" +
                                           d + "RL\tTERM\tFAIL\t-1.00\t1000\n"
                                    << "";
    QTest::newRow("unknown DUT") << QStringList{"list", "T-10", ""} << 0 << ""
                                 << "";
    QTest::newRow("latest of a DUT") << QStringList{"export", "AT-7", "", ""} << 0
                                     << "^# record: 33333333-3333-3333-3333-333333333333"
                                     << "";
    QTest::newRow("by id") << QStringList{"export", "22222222-2222-2222-2222-222222222222", "s1p",
                                          ""}
                           << 0 << "^! Velmora measurement record, Touchstone 1.1"
                           << "";
    QTest::newRow("wrong kind")
        << QStringList{"export", "T-1", "s2p", ""} << 2 << ""
        << "velmora: record 44444444-4444-4444-4444-444444444444 is a return loss: write it as "
           "csv or s1p, not s2p.\n";
    QTest::newRow("unknown id") << QStringList{"export", "55555555-5555-5555-5555-555555555555", "",
                                               ""}
                                << 2 << ""
                                << "velmora: there is no record with the ID or DUT ID "
                                   "\"55555555-5555-5555-5555-555555555555\".\n";
    QTest::newRow("format") << QStringList{"export", "AT-7", "xls", ""} << 2 << ""
                            << "velmora: the export format \"xls\" is not known: use csv, s1p or "
                               "s2p.\n";
    QTest::newRow("unreachable")
        << QStringList{"list", "", "postgresql://bench@/velmora?host=/nonexistent"} << 2 << ""
        << "velmora: The shared history database postgresql://bench@/velmora?host=/nonexistent "
           "cannot be reached (connection to server on socket \"/nonexistent/.s.PGSQL.5432\" "
           "failed: No such file or directory Is the server running locally and accepting "
           "connections on that socket?). Check the network and that "
           "the database server runs.\n";
}

void TestHistory::commandLine()
{
    QFETCH(QStringList, args);
    QFETCH(QString, out);
    QString outText, errText;
    QTextStream o(&outText), e(&errText);
    const int exit = args[0] == "list"
                         ? HistoryCommand::list(args[1], args[2], o, e)
                         : HistoryCommand::exportRecord(args[1], args[2], args[3], o, e);
    QTEST(errText, "err");
    QTEST(exit, "exit");
    if (out.startsWith('^'))
        QCOMPARE(outText.section('\n', 0, 0), out.mid(1));
    else
        QCOMPARE(outText, out);
}

void TestHistory::exportFormats_data()
{
    QTest::addColumn<MeasurementResult>("result");
    QTest::addColumn<QString>("format");
    QTest::newRow("return loss s1p") << sweep(MeasType::Termination, 1) << "s1p";
    QTest::newRow("attenuation s2p") << sweep(MeasType::Att10X, 0, 0, 0.137f) << "s2p";
    QTest::newRow("return loss csv") << sweep(MeasType::AttenuatorRl, 2) << "csv";
    QTest::newRow("custom csv") << sweep(MeasType::CustomAtt, 3, 12.25f) << "csv";
}

void TestHistory::exportFormats()
{
    QFETCH(MeasurementResult, result);
    QFETCH(QString, format);
    // An operator's decimal comma must not reach the files.
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const HistoryRecord record = HistoryRecord::make(result, context(true, "DUT 9"));
    const QString text = HistoryExport::write(record, *HistoryExport::formatOf(format));
    QLocale::setDefault(QLocale::c());
    const auto& points = result.points;

    if (format == "csv") {
        QMap<QString, QString> meta;
        QString error;
        const QVector<MeasuredPoint> read = readCsv(text, meta, error);
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(read.size(), points.size());
        for (int i = 0; i < points.size(); ++i) {
            QCOMPARE(read[i].frequencyMHz, points[i].frequencyMHz);
            QVERIFY(qAbs(read[i].value - points[i].value) < 0.001f);
        }
        QCOMPARE(meta["dut_id"], "DUT 9");
        QCOMPARE(meta["verdict"], record.verdict.text());
        QCOMPARE(meta["simulated"], "yes");
        return;
    }
    const int ports = format == "s1p" ? 1 : 2;
    const Touchstone t = readTouchstone(text, ports);
    QVERIFY2(t.error.isEmpty(), qPrintable(t.error));
    QCOMPARE(t.option.join(' '), "MHZ S DB R 50");
    QVERIFY(t.comments.contains("dut_id: DUT 9") && t.comments.contains("simulated: yes"));
    QVERIFY(t.comments.contains("verdict: " + record.verdict.text()));
    QVERIFY(t.comments.join('\n').contains("Phase was not measured"));
    QCOMPARE(t.comments.join('\n').contains("Reflection was not measured"), ports == 2);
    QCOMPARE(t.rows.size(), points.size());
    for (int i = 0; i < points.size(); ++i) {
        const QVector<double>& row = t.rows[i];
        QCOMPARE(row[0], points[i].frequencyMHz);
        for (int angle = 2; angle < row.size(); angle += 2)
            QCOMPARE(row[angle], 0.0);
        if (ports == 1) {
            QVERIFY(qAbs(row[1] + points[i].value) < 0.001);
        } else {
            const double s21 = -(20.0 + points[i].value);
            QVERIFY(qAbs(row[3] - s21) < 0.001 && qAbs(row[5] - s21) < 0.001);
            QVERIFY(row[1] == -200 && row[7] == -200);
        }
    }
}

void TestHistory::twoProcessesOnOneFile()
{
    QTemporaryDir dir;
    twoWriters(dir.filePath("shared.sqlite"));
    HistoryStore store;
    QVERIFY(store.openLocal(dir.filePath("shared.sqlite"), HistoryStore::Access::ReadOnly));
    QCOMPARE(store.recordCount(), 200);
}

void TestHistory::localFaults()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("h.sqlite");
    const HistoryRecord record = HistoryRecord::make(sweep(MeasType::Att2X, 1), context());
    HistoryStore writer, reader;
    QVERIFY(writer.openLocal(path) && writer.writeRecord(record, "postgresql://lab@db/h"));

    QVERIFY(reader.openLocal(path, HistoryStore::Access::ReadOnly));
    QVERIFY(!reader.writeRecord(HistoryRecord::make(sweep(MeasType::Att2X, 1), context())));
    QCOMPARE(reader.lastProblem(), Problem::ReadOnly);
    QCOMPARE(reader.lastError(), "The history file " + path +
                                     " cannot be written (attempt to "
                                     "write a readonly database). Make the file and its folder "
                                     "writable for this user.");

    // A full disk in the middle of a record and its outbox entry leaves neither behind.
    QSqlQuery pages(writer.connection());
    QVERIFY(pages.exec("PRAGMA page_count") && pages.next());
    QVERIFY(pages.exec(QString("PRAGMA max_page_count = %1").arg(pages.value(0).toInt())));
    const HistoryRecord big = HistoryRecord::make(sweep(MeasType::Att2X, 0), context());
    int written = 0;
    while (written < 50 &&
           writer.writeRecord(big.id.isNull() ? big : HistoryRecord::make(big.result, big.context),
                              "postgresql://lab@db/h"))
        ++written;
    QCOMPARE(writer.lastProblem(), Problem::Full);
    QVERIFY(writer.lastError().startsWith("The history file " + path +
                                          " is full: the disk has "
                                          "no room left (database or disk is full)."));
    QCOMPARE(reader.recordCount(), 1 + written);
    QCOMPARE(reader.pendingOutbox("postgresql://lab@db/h")->size(), 1 + written);
    QVERIFY(pages.exec("PRAGMA max_page_count = 1000000"));
    QVERIFY(writer.writeRecord(big));
    writer.close();
    reader.close();

    QSqlDatabase raw = QSqlDatabase::addDatabase("QSQLITE", "raw");
    raw.setDatabaseName(path);
    QVERIFY(raw.open() && QSqlQuery(raw).exec("UPDATE schema_version SET version = 99"));
    raw.close();
    QVERIFY(!writer.openLocal(path));
    QCOMPARE(writer.lastError(), "The history database " + path +
                                     " was written by a newer "
                                     "Velmora (schema 99; this one knows up to 1). Update Velmora "
                                     "on this bench.");

    // A damaged file: the command line says so and touches nothing; the program sets it aside.
    QFile::remove(path + "-wal");
    QFile garbage(path);
    QVERIFY(garbage.open(QIODevice::WriteOnly | QIODevice::Truncate));
    garbage.write(QByteArray(4096, 'x'));
    garbage.close();
    qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path()));
    QDir(dir.path()).mkdir("Velmora");
    QFile::copy(path, DatabaseTarget::localPath());
    QString out, err;
    QTextStream o(&out), e(&err);
    QCOMPARE(HistoryCommand::list("", "local", o, e), 2);
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path()));
    QCOMPARE(err, "velmora: The history file " + dir.filePath("Velmora/history.sqlite") +
                      " is damaged (file is not a database). Move it aside; a new one is started "
                      "with the next record.\n");

    VirtualClock clock;
    History history(clock, DatabaseTarget(), path);
    QSignalSpy outage(&history, &History::outage), restored(&history, &History::restored);
    history.record(sweep(MeasType::Termination, 2), context());
    history.drain();
    QCOMPARE(outage.size(), 1);
    QCOMPARE(restored.size(), 1);
    const QString aside = restored[0][0].toString().section(" kept as ", 1).chopped(1);
    QCOMPARE(restored[0][0].toString(), "A new history file " + path +
                                            " was started; the damaged one is kept as " + aside +
                                            ".");
    QFile kept(aside);
    QVERIFY(kept.open(QIODevice::ReadOnly) && kept.readAll() == QByteArray(4096, 'x'));
    QVERIFY(reader.openLocal(path, HistoryStore::Access::ReadOnly));
    QCOMPARE(reader.recordCount(), 1);
}

void TestHistory::serviceKeepsRecordsUntilTheFileWorks()
{
    // The application-data folder cannot be made: a file is in the way.
    QTemporaryDir dir;
    QFile blocker(dir.filePath("blocked"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const QString path = dir.filePath("blocked/history.sqlite");
    VirtualClock clock;
    History history(clock, DatabaseTarget(), path);
    QSignalSpy outage(&history, &History::outage), restored(&history, &History::restored);
    history.drain();
    for (MeasType type : {MeasType::Termination, MeasType::Att5X})
        QVERIFY(!history.record(sweep(type, 3), context()).isNull());
    history.drain();
    QCOMPARE(outage.size(), 1);
    QCOMPARE(outage[0][0].toString(),
             "The folder of the history file " + path +
                 " cannot be made. Make sure this user may "
                 "write there. Until then records are kept in memory; they are lost if the program "
                 "ends first.");
    QVERIFY(QFile::remove(dir.filePath("blocked")));
    clock.advance(History::RetrySeconds);
    history.drain();
    QCOMPARE(restored.size(), 1);
    QCOMPARE(restored[0][0].toString(), "The history file " + path + " is written again.");
    HistoryStore store;
    QVERIFY(store.openLocal(path, HistoryStore::Access::ReadOnly));
    QCOMPARE(store.recordCount(), 2);
}

void TestHistory::sharedFaults_data()
{
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("error");
    QTest::newRow("lab's own database") << "bench"
                                        << "velmora"
                                        << "";
    QTest::newRow("wrong password")
        << "intruder"
        << "velmora"
        << "refused the user intruder (connection to server on socket \"%1/.s.PGSQL.5432\" "
           "failed: FATAL: password authentication failed for user \"intruder\" password "
           "retrieved from file \"%2\"). Check the user and database names, and put the "
           "password in ~/.pgpass (mode 0600).";
    QTest::newRow("no such database")
        << "bench"
        << "nodb"
        << "refused the user bench (connection to server on socket \"%1/.s.PGSQL.5432\" failed: "
           "FATAL: database \"nodb\" does not exist).";
    QTest::newRow("not the owner")
        << "visitor"
        << "foreign_db"
        << "does not let the user visitor make or write the history tables (ERROR: permission "
           "denied for schema public LINE 1: CREATE TABLE schema_version (version INTEGER NOT "
           "NULL) ^ (42501)). The database must be owned by the lab's role: ALTER DATABASE name "
           "OWNER TO visitor.";
    QTest::newRow("newer schema") << "bench"
                                  << "newer"
                                  << "was written by a newer Velmora (schema 99; this one knows "
                                     "up to 1). Update Velmora on this bench.";
}

void TestHistory::sharedFaults()
{
    QVERIFY2(pg().error.isEmpty(), qPrintable(pg().error));
    QFETCH(QString, user);
    QFETCH(QString, database);
    QFETCH(QString, error);
    if (database == "newer") {
        HistoryStore store;
        QVERIFY(store.openShared(DatabaseTarget::parse(pg().url(user, database))));
        QCOMPARE(pg().admin(database, {"UPDATE schema_version SET version = 99"}), QString());
    }
    HistoryStore store;
    const bool opened = store.openShared(DatabaseTarget::parse(pg().url(user, database)));
    QCOMPARE(opened, error.isEmpty());
    error.replace("%1", pg().path("sock")).replace("%2", qEnvironmentVariable("PGPASSFILE"));
    QVERIFY2(store.lastError().contains(error), qPrintable(store.lastError()));
    if (opened)
        QVERIFY(store.writeRecord(HistoryRecord::make(sweep(MeasType::Cable, 1), context())));
}

void TestHistory::sharedOutageOnTheVirtualClock()
{
    QVERIFY2(pg().error.isEmpty(), qPrintable(pg().error));
    const QString url = pg().url("bench", "velmora");
    HistoryStore made; // the tables, whichever test runs first
    QVERIFY(made.openShared(DatabaseTarget::parse(url)));
    QCOMPARE(pg().admin("velmora", {}), QString());
    const int before = pg().count("velmora");
    QTemporaryDir dir;
    const QString path = dir.filePath("h.sqlite");
    VirtualClock clock;
    History history(clock, DatabaseTarget::parse(url), path);
    QSignalSpy outage(&history, &History::outage), restored(&history, &History::restored);
    auto record = [&](int n) {
        for (int i = 0; i < n; ++i)
            history.record(sweep(MeasType::Att2p5X, i % 4), context(false, "O-1"));
    };
    record(5);
    history.drain();
    QCOMPARE(pg().count("velmora"), before + 5);

    // The server dies while records are on their way, and comes back on the same socket.
    record(3);
    QCOMPARE(pg().stop("immediate"), QString());
    record(2);
    // A simulated bench's record stays here: this run did not name the database.
    history.record(sweep(MeasType::Termination, 1), context(true, "O-1"));
    history.drain();
    QCOMPARE(outage.size(), 1);
    QVERIFY2(outage[0][0].toString().contains(" cannot be reached (") &&
                 outage[0][0].toString().endsWith(" Records are kept on this bench and sent when "
                                                  "it answers again."),
             qPrintable(outage[0][0].toString()));
    QCOMPARE(pg().start(), QString());
    QCOMPARE(pg().admin("velmora", {}), QString());
    HistoryStore file;
    QVERIFY(file.openLocal(path, HistoryStore::Access::ReadOnly));
    const qsizetype waiting = file.pendingOutbox(url)->size();
    QVERIFY(waiting >= 2);
    QCOMPARE(pg().count("velmora"), before + 10 - waiting);

    clock.advance(History::RetrySeconds - 1);
    history.drain();
    QCOMPARE(pg().count("velmora"), before + 10 - waiting);
    clock.advance(1);
    history.drain();
    QCOMPARE(pg().count("velmora"), before + 10);
    QCOMPARE(file.pendingOutbox(url)->size(), 0);
    QCOMPARE(file.recordCount(), 11);
    QCOMPARE(outage.size(), 1);
    QCOMPARE(restored.size(), 1);
    QCOMPARE(restored[0][0].toString(), QString("The shared history database %1 answers again. "
                                                "%2 waiting entries were sent.")
                                            .arg(url)
                                            .arg(waiting));

    // The window's reads come from the shared database.
    QVector<RecordSummary> seen;
    history.query({"O-1", {}, {}, {}, {}, true, 0}, this,
                  [&](const QVector<RecordSummary>& list, const QString&) { seen = list; });
    history.drain();
    QTRY_COMPARE(seen.size(), 10);
    QString out, err;
    QTextStream o(&out), e(&err);
    QCOMPARE(HistoryCommand::list("O-1", url, o, e), 0);
    QCOMPARE(out.count('\n'), 10);
}

void TestHistory::twoBenchesOnOneServer()
{
    QVERIFY2(pg().error.isEmpty(), qPrintable(pg().error));
    // Neither finds the tables: both make them at once.
    twoWriters(pg().url("bench", "benches"));
    QCOMPARE(pg().admin("benches", {}), QString());
    QCOMPARE(pg().count("benches"), 200);
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("Velmora");
    if (argc == 4 && qstrcmp(argv[1], "--write-records") == 0)
        return writeRecords(QString::fromLocal8Bit(argv[2]), atoi(argv[3]));
    TestHistory test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_history.moc"
