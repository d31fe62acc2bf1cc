#include "base/Clock.h"
#include "history/History.h"
#include "history/HistoryCommand.h"
#include "history/HistoryExport.h"
#include "history/HistoryStats.h"
#include "history/HistoryStore.h"
#include "history/StatsCommand.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QtTest>

#include <future>

#include <unistd.h>

namespace {

using Access = HistoryStore::Access;

MeasurementResult sweep(MeasType type, int stepIndex, float nominal = 0, float offset = 0)
{
    MeasurementResult r;
    r.type = type;
    r.stepIndex = stepIndex;
    r.stepMult = r.reference.stepMult = 1 << stepIndex;
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
    r.reference.taken = QDateTime(QDate(2024, 3, 5), QTime(9, 0), Qt::UTC);
    r.started = r.reference.taken.addSecs(120);
    r.ended = r.started.addSecs(75);
    return r;
}

RunContext context(bool simulated = false, const QString& dutId = {})
{
    const auto via = simulated ? BenchInterface::Simulated : BenchInterface::Board;
    const BenchInfo bench{"2712", "ID SIMULATED,2712,V1.04", via, "GPIB0::1"};
    return {bench, "tech", "1.4", StartedFrom::Window, dutId, "after repair"};
}

PrintRow print(const QString& dutId, const QVector<MeasuredPoint>& cells)
{
    const QDateTime printed(QDate(2024, 3, 9), QTime(8, 0), Qt::UTC);
    return {{}, "Termination", dutId, "re-checked", "5.3", "100 MHz", cells, "/tmp/a.pdf", printed};
}

// A value as compared below: numbers to the last bit, points as MHz:dB.
QString text(const QVariant& value)
{
    return value.toString();
}

QString text(const QVector<MeasuredPoint>& points)
{
    QStringList pairs;
    for (const MeasuredPoint& p : points)
        pairs << text(p.frequencyMHz) + ':' + text(p.value);
    return pairs.join(' ');
}

// Every field the store keeps, each named, so that a comparison points at the one read back wrong.
QStringList fields(const HistoryRecord& h)
{
    const MeasurementResult& r = h.result;
    const BenchInfo& b = h.context.bench;
    const RunContext& c = h.context;
    QStringList f;
    f << "id " + text(h.id) << "type " + text(int(r.type)) << "stepIndex " + text(r.stepIndex)
      << "stepMult " + text(r.stepMult) << "nominalDb " + text(r.nominalDb)
      << "customAttnText " + r.customAttnText << "customLimits " + text(r.customLimits)
      << "limitsShown " + text(r.limitsShown) << "limitDb " + text(r.limitDb)
      << "points " + text(r.points) << "refLevel " + text(r.reference.level)
      << "refStepMult " + text(r.reference.stepMult) << "refPoints " + text(r.reference.points)
      << "refTaken " + text(r.reference.taken) << "started " + text(r.started)
      << "ended " + text(r.ended) << "analyserName " + r.analyserName
      << "unattended " + text(r.unattended) << "analyserModel " + b.analyserModel
      << "idAnswer " + b.idAnswer << "interface " + text(int(b.interface)) << "address " + b.address
      << "operator " + c.operatorLogin << "programVersion " + c.programVersion
      << "startedFrom " + text(int(c.startedFrom)) << "dutId " + c.dutId << "comments " + c.comments
      << "outcome " + text(int(h.verdict.outcome)) << "marginDb " + text(h.verdict.marginDb)
      << "marginMHz " + text(h.verdict.frequencyMHz);
    for (const PrintRow& p : h.prints) {
        f << "print id " + text(p.id) << "print dutDescription " + p.dutDescription
          << "print dutId " + p.dutId << "print comments " + p.comments
          << "print dateText " + p.dateText << "print stepText " + p.stepText
          << "print cells " + text(p.cells) << "print destination " + p.destination
          << "print printed " + text(p.printed) << "print layout " + text(int(p.layout));
    }
    return f;
}

// A line of the history list.
QStringList fields(const RecordSummary& s)
{
    return QStringList() << text(s.id) << text(s.ended) << s.dutId << text(int(s.type)) << s.device
                         << text(int(s.verdict.outcome)) << text(s.verdict.marginDb)
                         << text(s.verdict.frequencyMHz) << text(s.simulated) << text(s.prints);
}

// A row as any other program reading the database sees it: each column by its name, blobs in hex.
QStringList stored(const HistoryStore& store, const char* table, const QUuid& id)
{
    QSqlQuery query(store.connection());
    query.prepare(QString("SELECT * FROM %1 WHERE id = ?").arg(table));
    query.addBindValue(id.toString(QUuid::WithoutBraces));
    QStringList row;
    if (!query.exec() || !query.next())
        return row;
    const QSqlRecord columns = query.record();
    for (int i = 0; i < columns.count(); ++i) {
        const QVariant value = columns.value(i);
        row << columns.fieldName(i) + '=' +
                   (query.isNull(i)                           ? QString("NULL")
                    : value.typeId() == QMetaType::QByteArray ? value.toByteArray().toHex()
                                                              : text(value));
    }
    return row;
}

// 11111111-1111-1111-1111-111111111111 for 1
QString uuid(int digit)
{
    const QChar d('0' + digit);
    return QString("%1-%2-%2-%2-%1%2").arg(QString(8, d), QString(4, d));
}

// A file path, or a postgresql:// address.
bool openAt(HistoryStore& store, const QString& where, Access access = Access::ReadWrite)
{
    return where.startsWith("postgresql:") ? store.openShared(DatabaseTarget::parse(where), access)
                                           : store.openLocal(where, access);
}

int countAt(const QString& where)
{
    HistoryStore store;
    return openAt(store, where, Access::ReadOnly) ? store.recordCount().value_or(-1) : -1;
}

// The files as an RF tool or a spreadsheet reads them, strictly: comment lines ("!" in
// Touchstone 1.1, "# key: value" before the header in CSV), the option line or the header, then
// rows of C-locale numbers (not a number: NaN), which the caller counts and compares.
struct ReadBack {
    QStringList comments;
    QString head;
    QVector<QVector<double>> rows;
};

ReadBack readBack(const QString& text, bool csv)
{
    ReadBack r;
    for (const QString& line : text.split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith(csv ? "# " : "!") && (!csv || r.head.isEmpty())) {
            r.comments << line.mid(csv ? 2 : 1).trimmed();
        } else if (r.head.isEmpty()) {
            r.head = line;
        } else {
            QVector<double> row;
            for (const QString& field :
                 line.split(csv ? "," : " ", csv ? Qt::KeepEmptyParts : Qt::SkipEmptyParts)) {
                bool ok = false;
                const double value = QLocale::c().toDouble(field, &ok);
                row << (ok ? value : qQNaN());
            }
            r.rows << row;
        }
    }
    return r;
}

// A PostgreSQL server of its own on a Unix socket, run as the postgres user when root: the
// server refuses to run as root. Every role's password is "pw"; the intruder's file has another.
struct PgServer {
    QTemporaryDir dir;
    QString error;

    QString path(const char* name) const { return dir.filePath(name); }
    QString url(const QString& user, const QString& db) const
    {
        return QString("postgresql://%1@/%2?host=%3").arg(user, db, path("sock"));
    }
    bool run(const QString& tool, const QStringList& args)
    {
        QProcess p;
        p.setProcessChannelMode(QProcess::MergedChannels);
        const QString bin = "/usr/lib/postgresql/15/bin/" + tool;
        if (geteuid() == 0)
            p.start("runuser", QStringList{"-u", "postgres", "--", bin} + args);
        else
            p.start(bin, args);
        const bool ok = p.waitForFinished(120000) && p.exitStatus() == QProcess::NormalExit;
        return (ok && p.exitCode() == 0) || (error = tool + " failed: " + p.readAll(), false);
    }
    bool pgCtl(const QString& how)
    {
        return run("pg_ctl", {how, "-w", "-m", "immediate", "-D", path("data"), "-l", path("log"),
                              "-o", "-F -c listen_addresses='' -k " + path("sock")});
    }

    PgServer()
    {
        QDir(dir.path()).mkdir("sock");
        for (const auto& [name, text] :
             {std::pair{"pw", "pw\n"}, std::pair{"pass", "*:*:*:intruder:wrong\n*:*:*:*:pw\n"}}) {
            QFile file(path(name));
            file.open(QIODevice::WriteOnly);
            file.write(text);
            file.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        }
        qputenv("PGPASSFILE", QFile::encodeName(path("pass")));
        if (geteuid() == 0)
            QProcess::execute("chown", {"-R", "postgres:postgres", dir.path()});
        QStringList sql{"-h", path("sock"), "-U", "postgres", "-v", "ON_ERROR_STOP=1"};
        for (const char* s :
             {"ROLE bench LOGIN PASSWORD 'pw'", "ROLE visitor LOGIN PASSWORD 'pw'",
              "ROLE intruder LOGIN PASSWORD 'right'", "DATABASE velmora OWNER bench",
              "DATABASE benches OWNER bench", "DATABASE newer OWNER bench",
              "DATABASE roundtrip OWNER bench", "DATABASE stats OWNER bench",
              "DATABASE onedut OWNER bench", "DATABASE foreign_db"})
            sql << "-c" << QString("CREATE ") + s;
        run("initdb", {"-D", path("data"), "-U", "postgres", "-A", "scram-sha-256", "--pwfile",
                       path("pw"), "-E", "UTF8", "--locale=C", "--no-sync"}) &&
            pgCtl("start") && run("psql", sql);
    }
    ~PgServer()
    {
        if (error.isEmpty())
            pgCtl("stop");
    }
};

// The hand-worked records of the statistics test: verdict, margin and MHz as given.
void writeStatsTable(HistoryStore& store)
{
    struct Row {
        MeasType type;
        float nominal, limit; // 0: the device's own
        const char* dut;
        int day;
        Verdict::Outcome outcome;
        double margin, mhz;
        bool simulated = false;
    };
    using O = Verdict::Outcome;
    const Row rows[] = {
        {MeasType::Att2X, 0, 0, "D1", 1, O::Fail, -0.05, 100},
        {MeasType::Att2X, 0, 0, "D1", 3, O::Pass, 0.10, 200},
        {MeasType::Att2X, 0, 0, "D2", 2, O::Pass, 0.20, 300},
        {MeasType::Att2X, 0, 0, "D3", 2, O::Pass, 0.05, 400},
        {MeasType::Att2X, 0, 0, "", 4, O::Fail, -0.05, 500},
        {MeasType::Att2X, 0, 0.3f, "D4", 1, O::Fail, -0.12, 50},
        {MeasType::Att2X, 0, 0.3f, "D4", 2, O::Fail, -0.13, 60},
        {MeasType::CustomAtt, 12.25f, -1, "", 5, O::None, 0, 0},
        {MeasType::CustomAtt, 7.5f, 0.5f, "D5", 3, O::Pass, 0.20, 70},
        {MeasType::Termination, 0, 0, "T1", 6, O::Pass, 3.0, 1000},
        {MeasType::Termination, 0, 0, "T1", 7, O::Fail, -1.5, 900},
        {MeasType::Att2X, 0, 0, "D9", 2, O::Pass, 0.15, 800, true},
    };
    for (const Row& row : rows) {
        MeasurementResult result = sweep(row.type, 3, row.nominal);
        result.customLimits = row.limit > 0;
        result.limitsShown = row.limit >= 0 && (row.limit > 0 || result.limitsShown);
        if (row.limit > 0)
            result.limitDb = row.limit;
        // Noon, but for the return loss either side of midnight UTC.
        result.ended = row.type == MeasType::Termination
                           ? QDateTime(QDate(2025, 1, row.day), QTime(0, 0), Qt::UTC)
                                 .addMSecs(row.day == 6 ? 86399999 : 0)
                           : QDateTime(QDate(2025, 1, row.day), QTime(12, 0), Qt::UTC);
        HistoryRecord record = HistoryRecord::make(result, context(row.simulated, row.dut));
        record.verdict = {row.outcome, row.margin, row.mhz};
        QVERIFY2(store.writeRecord(record), qPrintable(store.lastError()));
        if (row.type == MeasType::CustomAtt && row.limit < 0)
            QVERIFY(store.writePrint(record.id, print("P1", result.points)));
    }
}

} // namespace

class TestHistory : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;
    QVector<HistoryRecord> m_records; // in the bench's file, for the command line
    PgServer m_pg;

private slots:
    // The records the command line reads, in the bench's file where every run would find it.
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_home.path()));
        HistoryStore store;
        QVERIFY(store.openLocal(DatabaseTarget::localPath()));
        MeasurementResult custom = sweep(MeasType::CustomAtt, 0, 7.5f);
        custom.customAttnText = "7.5";
        custom.unattended = true;
        const MeasurementResult results[] = {
            sweep(MeasType::Att2X, 1), sweep(MeasType::Termination, 3), custom,
            sweep(MeasType::Termination, 0, 0, -2), sweep(MeasType::Termination, 3)};
        for (int day = 0; day < 5; ++day) {
            HistoryRecord r =
                HistoryRecord::make(results[day], context(day >= 2, day % 2 ? "T-1" : "AT-7"));
            r.id = QUuid(uuid(day + 1));
            r.result.ended = r.result.ended.addDays(day);
            r.context.startedFrom = day == 2 ? StartedFrom::Batch : StartedFrom::Window;
            r.context.dutId = day == 1 ? "" : r.context.dutId;
            // Written by a bench that did not clean its texts.
            if (day == 4) {
                r.context.dutId = "a\\b\tc\r\nd\x01\u0085\u2028e";
                r.context.comments = "c,=\"1+2\"\n@x";
            }
            QVERIFY2(store.writeRecord(r), qPrintable(store.lastError()));
            m_records << r;
        }
        // The first page shows the 12.5 MHz column of another sweep, not this one's.
        PrintRow first = print("T-1", sweep(MeasType::Termination, 0).points);
        PrintRow second = print("T-1b", m_records[1].result.points);
        second.printed = first.printed.addSecs(60);
        QVERIFY(store.writePrint(m_records[1].id, first) &&
                store.writePrint(m_records[1].id, second));
    }

    // A lab's address as the settings take it; the socket form is the one the server here has.
    void databaseUrl()
    {
        const DatabaseTarget t =
            DatabaseTarget::parse("postgresql://lab@db.example:5433/hist%20db?connect_timeout=3");
        QCOMPARE(
            QStringList({t.user, t.host, QString::number(t.port), t.database, t.connectOptions})
                .join('|'),
            "lab|db.example|5433|hist db|connect_timeout=3;keepalives=1;keepalives_idle=10;"
            "keepalives_interval=5;keepalives_count=3");
        const auto error = [](const char* url) { return DatabaseTarget::parse(url).error; };
        QCOMPARE(error("postgresql://lab:pw@db/x"),
                 "a password does not belong in the address; put it in ~/.pgpass");
        QCOMPARE(error("mysql://lab@db/x"),
                 "it is neither \"local\" nor starts with postgresql://");
        QCOMPARE(error("postgresql://lab@db:99999/x"),
                 "the port \"99999\" is not a number from 1 to 65535");
        QCOMPARE(error("postgresql://lab@db/x?sslmode=disable"),
                 "the option \"sslmode\" is not known here");
        QCOMPARE(error("postgresql://lab@/x"), "it names no host (@HOST, or ?host=/socket/dir)");
    }

    void recordsAndPrints()
    {
        HistoryStore store;
        QVERIFY(store.openLocal(DatabaseTarget::localPath(), Access::ReadOnly));
        // Every field the export shows, each point to the last bit, then what it does not show.
        const HistoryRecord& custom = m_records[2];
        const auto loaded = store.load(custom.id);
        QVERIFY(loaded && loaded->result.points.size() == 79);
        QCOMPARE(HistoryExport::write(*loaded, HistoryExport::Format::Csv),
                 HistoryExport::write(custom, HistoryExport::Format::Csv));
        QCOMPARE(loaded->result.reference.points, custom.result.reference.points);
        QCOMPARE(loaded->result.customAttnText, "7.5");
        QVERIFY(HistoryRecord::make(sweep(MeasType::RlReference, 1), context()).id.isNull());
        const auto printed = store.load(m_records[1].id);
        QCOMPARE(printed->prints.size(), 2);
        QCOMPARE(printed->prints[0].cells, sweep(MeasType::Termination, 0).points);
        QCOMPARE(printed->dutId(), "T-1b");

        // The history window's filters, newest first: the records' first digits.
        const auto found = [&](const HistoryFilter& filter) {
            QString digits;
            for (const RecordSummary& r : store.query(filter).value_or(QVector<RecordSummary>()))
                digits += r.id.toString().at(1);
            return digits;
        };
        const QDateTime second = m_records[1].result.ended;
        QCOMPARE(found({"T-1", {}, {}, {}, {}}), "42");
        QCOMPARE(found({{}, {}, {}, MeasKind::Attenuation, {}}), "31");
        QCOMPARE(found({{}, {}, second, {}, Verdict::Outcome::Pass}), "21");
        QCOMPARE(found({{}, second.addSecs(1), {}, {}, {}}), "543");

        // Every field apart from its default and from the others of its type, in a file and in a
        // lab's database: read back, in the list, and each column as any other program sees it,
        // since a value written to the wrong column reads back right. Of the three flags no two
        // are alike in both records.
        QVERIFY2(m_pg.error.isEmpty(), qPrintable(m_pg.error));
        QTemporaryDir dir;
        for (const QString& where : {dir.filePath("h.sqlite"), m_pg.url("bench", "roundtrip")}) {
            HistoryStore rw;
            HistoryRecord last;
            QVERIFY2(openAt(rw, where), qPrintable(rw.lastError()));
            for (const bool second : {false, true}) {
                HistoryRecord h = HistoryRecord::make(sweep(MeasType::CustomAtt, 2, 7.25f),
                                                      context(false, second ? "RT-2" : "RT-1"));
                MeasurementResult& r = h.result;
                r.customAttnText = "7.250";
                r.reference.stepMult = 8;
                r.limitDb = 0.5f;
                r.analyserName = h.context.bench.analyserModel; // one column for both
                r.customLimits = true;
                r.limitsShown = !second;
                r.unattended = second;
                h.context.bench.interface = BenchInterface::Adapter;
                h.context.startedFrom = StartedFrom::Remote;
                h.verdict = {Verdict::Outcome::Fail, -0.125, 912.5};
                h.prints = {print("RT-9", sweep(MeasType::Termination, 1).points)};
                h.prints[0].id = QUuid::createUuid();
                h.prints[0].layout = second ? PageLayout::VerdictLine : PageLayout::Basic;
                QVERIFY(rw.writeRecord(h) && rw.writePrint(h.id, h.prints[0]));
                QCOMPARE(fields(rw.load(h.id).value()), fields(h));
                const auto list = rw.query({h.context.dutId, {}, {}, {}, {}});
                QVERIFY(list && list->size() == 1);
                QCOMPARE(fields(list->first()),
                         fields(RecordSummary{h.id, r.ended, h.dutId(), r.type, "7.25", h.verdict,
                                              false, 1}));
                const auto ms = [](const QDateTime& t) {
                    return QString::number(t.toMSecsSinceEpoch());
                };
                const QStringList records =
                    QString("id=%1|dut_id=%2|comments=after repair|meas_type=9|kind=0|device=7.25|"
                            "step_index=2|step_mult=4|nominal_db=7.25|custom_attn_text=7.250|"
                            "custom_limits=1|%3|limit_db=0.5|verdict=FAIL|margin_db=-0.125|"
                            "margin_mhz=912.5|points=%4|ref_level=-10|ref_step_mult=8|"
                            "ref_points=%5|ref_taken_ms=%6|started_ms=%7|ended_ms=%8|"
                            "analyser_model=2712|analyser_id=ID SIMULATED,2712,V1.04|"
                            "bench_interface=adapter|bench_address=GPIB0::1|simulated=0|"
                            "operator=tech|program_version=1.4|started_from=remote|unattended=%9")
                        .arg(h.id.toString(QUuid::WithoutBraces), h.context.dutId,
                             second ? "limits_shown=0|limit_set=NONE"
                                    : "limits_shown=1|limit_set=CUSTOM",
                             encodePoints(r.points).toHex(),
                             encodePoints(r.reference.points).toHex(), ms(r.reference.taken),
                             ms(r.started), ms(r.ended), second ? "1" : "0")
                        .split('|');
                QCOMPARE(stored(rw, "records", h.id), records);
                const PrintRow& p = h.prints[0];
                const QStringList prints =
                    QString("id=%1|record_id=%2|dut_description=Termination|dut_id=RT-9|"
                            "comments=re-checked|date_text=5.3|step_text=100 MHz|cells=%3|"
                            "destination=/tmp/a.pdf|printed_ms=%4|page_layout=%5")
                        .arg(p.id.toString(QUuid::WithoutBraces),
                             h.id.toString(QUuid::WithoutBraces), encodePoints(p.cells).toHex(),
                             ms(p.printed), second ? "1" : "NULL")
                        .split('|');
                QCOMPARE(stored(rw, "prints", p.id), prints);
                last = h;
            }
            // Taken back to the tables before prints kept their page: read as it is, then
            // brought up to date by the next bench that writes, its prints the basic page, and
            // still of the version a bench not yet updated takes.
            QVERIFY(QSqlQuery(rw.connection()).exec("ALTER TABLE prints DROP COLUMN page_layout"));
            rw.close();
            for (const Access access : {Access::ReadOnly, Access::ReadWrite}) {
                HistoryStore again;
                QVERIFY2(openAt(again, where, access), qPrintable(again.lastError()));
                HistoryRecord before = last;
                before.prints[0].layout = PageLayout::Basic;
                QCOMPARE(fields(again.load(last.id).value()), fields(before));
                QSqlQuery version(again.connection());
                QVERIFY(version.exec("SELECT version FROM schema_version") && version.next());
                QCOMPARE(version.value(0).toInt(), 1);
            }
        }
    }

    // No message shows a password written into an address, plain or percent-encoded: not one
    // run of four of its characters. An address that holds one is refused.
    void passwordsNeverShown_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("password");
        QTest::newRow("user-info") << "postgresql://lab:sekret123@/velmora?host=/nonexistent"
                                   << "sekret123";
        QTest::newRow("encoded colon") << "postgresql://lab%3Asekret@db.example/velmora"
                                       << "sekret";
        QTest::newRow("slash in it") << "postgres://lab:se/cr@et9@db.example:5433/velmora"
                                     << "se/cr@et9";
        QTest::newRow("option") << "postgresql://lab@/velmora?host=/nonexistent&password=hush42"
                                << "hush42";
        QTest::newRow("encoded option") << "postgresql://lab@db.example/velmora?pass%77ord=p%40ss99"
                                        << "p@ss99";
    }
    void passwordsNeverShown()
    {
        QFETCH(QString, address);
        QFETCH(QString, password);
        const DatabaseTarget target = DatabaseTarget::parse(address, true);
        QVERIFY(!target.valid());
        HistoryStore store;
        QVERIFY(!store.openShared(target));
        const QString seen = target.error + u'\n' + target.displayName() + u'\n' +
                             store.lastError() + u'\n' + DatabaseTarget::masked(address);
        const QString encoded = QString::fromLatin1(QUrl::toPercentEncoding(password));
        for (const QString& secret : {password, encoded}) {
            for (qsizetype i = 0; i + 4 <= secret.size(); ++i)
                QVERIFY2(!seen.contains(secret.mid(i, 4)), qPrintable(seen));
        }
    }

    // Export file names from any DUT ID: no path, no hidden or option-like name, bounded, every
    // letter kept, and never a file overwritten.
    void exportNames_data()
    {
        QTest::addColumn<QString>("dutId");
        QTest::addColumn<QString>("stem"); // before _ATT_20240305T090315.csv
        QTest::newRow("plain") << "AT-1234.b_c"
                               << "AT-1234.b_c";
        QTest::newRow("none") << ""
                              << "record";
        QTest::newRow("dot") << "."
                             << "_";
        QTest::newRow("dots") << ".."
                              << "_.";
        QTest::newRow("path") << "../../etc/evil"
                              << "_._.._etc_evil";
        QTest::newRow("option-like") << "-2+3"
                                     << "_2_3";
        QTest::newRow("letters") << "Ωμέγα 7 \U0001D400"
                                 << "Ωμέγα_7_\U0001D400";
        QTest::newRow("10 kB") << QString(10000, u'x') << QString(40, u'x');
    }
    void exportNames()
    {
        QFETCH(QString, dutId);
        QFETCH(QString, stem);
        QTemporaryDir folder;
        const QDateTime ended = m_records[0].result.ended;
        QStringList taken;
        const auto path = [&] {
            return HistoryExport::exportPath(dutId, MeasKind::Attenuation, ended, "csv",
                                             folder.path(), taken);
        };
        const QString first = path();
        QCOMPARE(first, folder.filePath(stem + "_ATT_20240305T090315.csv"));
        QCOMPARE(path(), folder.filePath(stem + "_ATT_20240305T090315_2.csv"));
        QFile(first).open(QIODevice::WriteOnly);
        taken.clear();
        QCOMPARE(path(), folder.filePath(stem + "_ATT_20240305T090315_2.csv"));
    }

    // An export whose texts hold commas, quotes and line breaks reads back as Python's csv
    // module and a reader that skips "#" lines read it: one field per metadata line, then only
    // the points. Touchstone comments keep to their lines.
    void exportsReadBack()
    {
        for (const QString format : {"csv", "s1p"}) {
            QString out, err;
            QTextStream o(&out), e(&err);
            QCOMPARE(HistoryCommand::exportRecord(uuid(5), format, {}, o, e), 0);
            o.flush();
            QTemporaryFile file;
            QVERIFY(file.open());
            file.write(out.toUtf8());
            file.close();
            QProcess python;
            python.start(
                "/usr/bin/python3",
                {"-c",
                 "import csv, sys\n"
                 "lines = open(sys.argv[1], newline='').read().split('\\n')[:-1]\n"
                 "if sys.argv[2] == 'csv':\n"
                 "    rows = list(csv.reader(lines))\n"
                 "    meta = [r for r in rows if r[0].startswith('#')]\n"
                 "    assert all(len(r) == 1 for r in meta), meta\n"
                 "    data = [l for l in lines if not l.startswith('#')]\n"
                 "    print(len(meta), len(data) - 1, all(len(r.split(',')) == 2 for r in data))\n"
                 "else:\n"
                 "    print(all(l.startswith(('!', '#')) or l[0].isdigit() for l in lines))\n",
                 file.fileName(), format});
            QVERIFY(python.waitForFinished(30000));
            const QString said = python.readAll() + python.readAllStandardError();
            QCOMPARE(said,
                     format == "csv"
                         ? QStringLiteral("20 %1 True\n").arg(m_records[4].result.points.size())
                         : QStringLiteral("True\n"));
        }
    }

    // Each run as a script sees it: standard output and error, and the exit code, with an
    // operator's decimal comma set: it must not reach the files. An exported record is read back
    // strictly; out then has comment lines it must carry, its id first.
    void commandLine_data()
    {
        QTest::addColumn<QString>("args"); // list|DUT|database or export|ID|FORMAT|database
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("out");
        QTest::addColumn<QString>("err");
        const auto row = [](const char* name, const QString& args, int exit, const QString& out,
                            const QString& err) {
            QTest::newRow(name) << args << exit << out << err;
        };
        const QString two = uuid(2) + "\t2024-03-06T09:03:15Z\t%1\tRL\tTERM\tPASS\t1.00\t1000\n";
        const QString four = uuid(4) + "\t2024-03-08T09:03:15Z\tT-1\tRL\tTERM\tFAIL\t-1.00\t1000\n";
        row("all", "list||", 0,
            uuid(1) + "\t2024-03-05T09:03:15Z\tAT-7\tATT\tX2\tPASS\t0.26\t75\n" + two.arg("T-1b") +
                uuid(3) + "\t2024-03-07T09:03:15Z\tAT-7\tATT\t7.5\tNONE\t\t\n" + four +
                // One line of eight fields, whatever the DUT ID holds.
                uuid(5) +
                "\t2024-03-09T09:03:15Z\ta\\\\b\\tc\\r\\nd\\x01\\x85\\u2028e\tRL\tTERM\tPASS\t1."
                "00\t1000\n",
            "");
        row("an earlier print's DUT ID", "list|T-1|local", 0, two.arg("T-1") + four, "");
        row("csv of a DUT's latest", "export|AT-7||", 0,
            "record: " + uuid(3) + "\ndut_id: AT-7\nverdict: NONE (no limits)\nsimulated: yes", "");
        row("s1p by id", "export|" + uuid(2) + "|s1p|", 0,
            "record: " + uuid(2) +
                "\nVelmora measurement record, Touchstone 1.1\ndut_id: T-1b\nverdict: PASS 1.00 dB "
                "at 1000 MHz\nPhase was not measured: every angle is 0.",
            "");
        row("s2p", "export|" + uuid(1) + "|s2p|", 0,
            "record: " + uuid(1) +
                "\nverdict: PASS 0.26 dB at 75 MHz\nReflection was not measured: S11 and S22 are "
                "-200 dB.",
            "");
        row("wrong kind", "export|T-1|s2p|", 2, "",
            "velmora: record " + uuid(4) + " is a return loss: write it as csv or s1p, not s2p.\n");
        row("unknown id", "export|" + uuid(6) + "||", 2, "",
            "velmora: there is no record with the ID or DUT ID \"" + uuid(6) + "\".\n");
        row("format", "export|AT-7|xls|", 2, "",
            "velmora: the export format \"xls\" is not known: use csv, s1p or s2p.\n");
        row("unreachable", "list||postgresql://bench@/velmora?host=/nonexistent", 0, "",
            "velmora: postgresql://bench@/velmora?host=/nonexistent did not answer in 5 s; "
            "listing this bench's copy only\n");
    }
    void commandLine()
    {
        QFETCH(QString, args);
        QFETCH(QString, out);
        const QStringList a = args.split('|');
        QString outText, errText;
        QTextStream o(&outText), e(&errText);
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        HistoryFilter dut;
        dut.dutId = a[1];
        const int exit = a[0] == "list" ? HistoryCommand::list(dut, a[2], o, e)
                                        : HistoryCommand::exportRecord(a[1], a[2], a[3], o, e);
        QLocale::setDefault(QLocale::c());
        QTEST(errText, "err");
        QTEST(exit, "exit");
        if (a[0] == "list" || exit != 0) {
            QCOMPARE(outText, out);
            return;
        }
        const bool csv = a[2].isEmpty(), s2p = a[2] == "s2p";
        const ReadBack file = readBack(outText, csv);
        QCOMPARE(file.head, csv ? "frequency_mhz,value_db" : "# MHz S DB R 50");
        for (const QString& line : out.split('\n'))
            QVERIFY2(file.comments.contains(line), qPrintable(outText));
        const MeasurementResult& result = m_records[out.at(8).digitValue() - 1].result;
        QCOMPARE(file.rows.size(), result.points.size());
        for (int i = 0; i < file.rows.size(); ++i) {
            const double f = result.points[i].frequencyMHz, v = result.points[i].value;
            const double s21 = -(result.nominalDb + v);
            const QVector<double> want = csv ? QVector<double>{f, v}
                                         : s2p
                                             ? QVector<double>{f, -200, 0, s21, 0, s21, 0, -200, 0}
                                             : QVector<double>{f, -v, 0};
            QCOMPARE(file.rows[i].size(), want.size());
            for (int k = 0; k < want.size(); ++k)
                QVERIFY2(qAbs(file.rows[i][k] - want[k]) < 0.001, qPrintable(outText));
        }
    }

    void localFaults()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("h.sqlite"), shared = "postgresql://lab@db/h";
        const auto record = [] {
            return HistoryRecord::make(sweep(MeasType::Att2X, 0), context());
        };
        HistoryStore writer, reader;
        QVERIFY(writer.openLocal(path) && writer.writeRecord(record(), shared));
        QVERIFY(reader.openLocal(path, Access::ReadOnly) && !reader.writeRecord(record()));
        QCOMPARE(reader.lastError(), "The history file " + path +
                                         " cannot be written (attempt to write a readonly "
                                         "database). Make the file and its folder writable for "
                                         "this user.");

        // A full disk in the middle of a record and its outbox entry leaves neither behind.
        QSqlQuery pages(writer.connection());
        QVERIFY(pages.exec("PRAGMA page_count") && pages.next());
        QVERIFY(pages.exec(QString("PRAGMA max_page_count = %1").arg(pages.value(0).toInt())));
        int written = 0;
        while (written < 50 && writer.writeRecord(record(), shared))
            ++written;
        QCOMPARE(writer.lastError(), "The history file " + path +
                                         " is full: the disk has no room left (database or disk "
                                         "is full). Free some space on that disk.");
        QCOMPARE(reader.recordCount(), 1 + written);
        QCOMPARE(reader.pendingOutbox({shared})->size(), 1 + written);
        QVERIFY(pages.exec("PRAGMA max_page_count = 1000000") && writer.writeRecord(record()));

        // A bench opening a new file while another is switching it to WAL waits for that one.
        QSqlDatabase first = QSqlDatabase::addDatabase("QSQLITE", "first");
        first.setDatabaseName(dir.filePath("new.sqlite"));
        QVERIFY(first.open() && QSqlQuery(first).exec("BEGIN IMMEDIATE"));
        auto second = std::async(std::launch::async, [path = first.databaseName()] {
            HistoryStore store;
            return store.openLocal(path) ? QString() : store.lastError();
        });
        QCOMPARE(second.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
        QVERIFY(QSqlQuery(first).exec("COMMIT"));
        QCOMPARE(second.get(), QString());
    }

    // The program's history goes on through what the file's owner has to put right.
    void serviceRecovers_data()
    {
        QTest::addColumn<QString>("inTheWay"); // 4 KiB of garbage there
        QTest::addColumn<QString>("outage");
        QTest::addColumn<QString>("again"); // how the restored message starts
        QTest::newRow("folder cannot be made")
            << "blocked"
            << "The folder of the history file %1 cannot be made. Make sure this user may write "
               "there. Until then records are kept in memory; they are lost if the program ends "
               "first."
            << "The history file %1 is written again.";
        QTest::newRow("damaged file")
            << "blocked/history.sqlite"
            << "The history file %1 is damaged (file is not a database). Move it aside; a new one "
               "is started with the next record."
            << "A new history file %1 was started; the damaged one is kept as %1.damaged-";
    }
    void serviceRecovers()
    {
        QFETCH(QString, inTheWay);
        QTemporaryDir dir;
        QDir(dir.path()).mkpath(QFileInfo(dir.filePath(inTheWay)).path());
        QFile garbage(dir.filePath(inTheWay));
        QVERIFY(garbage.open(QIODevice::WriteOnly) && garbage.write(QByteArray(4096, 'x')));
        garbage.close();
        const QString path = dir.filePath("blocked/history.sqlite");
        VirtualClock clock;
        History history(clock, DatabaseTarget(), path);
        QSignalSpy outage(&history, &History::outage), restored(&history, &History::restored);
        for (MeasType type : {MeasType::Termination, MeasType::Att5X})
            QVERIFY(!history.record(sweep(type, 3), context()).isNull());
        history.drain();
        QTEST(outage.value(0).value(0).toString().replace(path, "%1"), "outage");
        QFile::remove(dir.filePath("blocked"));
        clock.advance(History::RetrySeconds);
        history.drain();
        QCOMPARE(outage.size() + restored.size(), 2);
        const QString back = restored.value(0).value(0).toString();
        QFETCH(QString, again);
        QVERIFY2(back.startsWith(again.replace("%1", path)), qPrintable(back));
        // The damaged file is kept as it was.
        if (const QString kept = back.section(" kept as ", 1); !kept.isEmpty()) {
            QFile file(kept.chopped(1));
            QVERIFY(file.open(QIODevice::ReadOnly) && file.readAll() == QByteArray(4096, 'x'));
        }
        HistoryStore store;
        QVERIFY(store.openLocal(path, Access::ReadOnly));
        QCOMPARE(store.recordCount(), 2);
    }

    void sharedFaults()
    {
        QVERIFY2(m_pg.error.isEmpty(), qPrintable(m_pg.error));
        const std::tuple<QString, QString, QString> cases[] = {
            {"intruder", "velmora",
             "refused the user intruder (connection to server on socket \"%1/.s.PGSQL.5432\" "
             "failed: FATAL: password authentication failed for user \"intruder\" password "
             "retrieved from file \"%2\"). Check the user and database names, and put the "
             "password in ~/.pgpass (mode 0600)."},
            {"visitor", "foreign_db",
             "does not let the user visitor make or write the history tables (ERROR: permission "
             "denied for schema public LINE 1: CREATE TABLE schema_version (version INTEGER NOT "
             "NULL) ^ (42501)). The database must be owned by the lab's role: ALTER DATABASE name "
             "OWNER TO visitor."},
            {"bench", "newer",
             "was written by a newer Velmora (schema 99; this one knows up to 1). Update Velmora "
             "on this bench."}};
        for (auto [user, database, error] : cases) {
            HistoryStore store;
            const QString url = m_pg.url(user, database);
            if (database == "newer")
                QVERIFY(
                    store.openShared(DatabaseTarget::parse(url)) &&
                    QSqlQuery(store.connection()).exec("UPDATE schema_version SET version = 99"));
            QVERIFY(!store.openShared(DatabaseTarget::parse(url)));
            error.replace("%1", m_pg.path("sock"))
                .replace("%2", qEnvironmentVariable("PGPASSFILE"));
            QVERIFY2(store.lastError().endsWith(url + " " + error), qPrintable(store.lastError()));
        }
    }

    void sharedOutageOnTheVirtualClock()
    {
        QVERIFY2(m_pg.error.isEmpty(), qPrintable(m_pg.error));
        const QString url = m_pg.url("bench", "velmora");
        QTemporaryDir dir;
        VirtualClock clock;
        History history(clock, DatabaseTarget::parse(url), dir.filePath("h.sqlite"));
        QSignalSpy outage(&history, &History::outage), restored(&history, &History::restored);
        const auto record = [&](int n, bool simulated = false) {
            for (int i = 0; i < n; ++i)
                history.record(sweep(MeasType::Att2p5X, i % 4), context(simulated, "O-1"));
        };
        record(5);
        history.drain();
        QCOMPARE(countAt(url), 5);

        // The server dies while records are on their way, and comes back on the same socket.
        record(3);
        QVERIFY2(m_pg.pgCtl("stop"), qPrintable(m_pg.error));
        record(2);
        record(1,
               true); // a simulated bench's record stays here: this run did not name the database
        history.drain();
        QVERIFY(outage.value(0).value(0).toString().endsWith(
            " Records are kept on this bench and sent when it answers again."));
        QVERIFY2(m_pg.pgCtl("start"), qPrintable(m_pg.error));
        HistoryStore file;
        QVERIFY(file.openLocal(dir.filePath("h.sqlite"), Access::ReadOnly));
        const qsizetype waiting = file.pendingOutbox({url})->size();
        QVERIFY(waiting >= 2);
        QCOMPARE(countAt(url), 10 - waiting);
        clock.advance(History::RetrySeconds - 1);
        history.drain();
        QCOMPARE(countAt(url), 10 - waiting);
        clock.advance(1);
        history.drain();
        QCOMPARE(countAt(url), 10);
        QCOMPARE(file.pendingOutbox({url})->size(), 0);
        QCOMPARE(file.recordCount(), 11);
        QCOMPARE(outage.size() + restored.size(), 2);
        QCOMPARE(restored.value(0).value(0), "The shared history database " + url +
                                                 " answers again. " + QString::number(waiting) +
                                                 " waiting entries were sent.");

        // The window lists what is still on its way, without this bench's simulated run.
        QVERIFY2(m_pg.pgCtl("stop"), qPrintable(m_pg.error));
        record(2);
        history.drain();
        QVERIFY2(m_pg.pgCtl("start"), qPrintable(m_pg.error));
        QVector<RecordSummary> seen;
        history.query({"O-1", {}, {}, {}, {}}, this,
                      [&](const QVector<RecordSummary>& list, auto) { seen = list; });
        history.drain();
        QTRY_COMPARE(seen.size(), 12);
    }

    // A script reads what this bench measured for a lab's database, whether it is down, back
    // up, or named another way: the outbox is sent first, and nothing is listed twice.
    void outboxReadable()
    {
        QVERIFY2(m_pg.error.isEmpty(), qPrintable(m_pg.error));
        const QString url = m_pg.url("bench", "velmora");
        const QString sameDatabase =
            QString("postgresql://bench@/velmora?host=%1/&port=5432").arg(m_pg.path("sock"));
        QVERIFY2(m_pg.pgCtl("stop"), qPrintable(m_pg.error));
        HistoryRecord waiting =
            HistoryRecord::make(sweep(MeasType::Att10X, 2), context(false, "OB-1"));
        {
            HistoryStore bench;
            QVERIFY(bench.openLocal(DatabaseTarget::localPath()) &&
                    bench.writeRecord(waiting, sameDatabase) &&
                    bench.writeRecord(
                        HistoryRecord::make(sweep(MeasType::Att10X, 2), context(false, "OB-1")),
                        "postgresql://bench@/velmora?host=/elsewhere"));
        }
        const QString line = waiting.id.toString(QUuid::WithoutBraces) +
                             "\t2024-03-05T09:03:15Z\tOB-1\tATT\tX10\tPASS\t0.36\t250\n";
        const auto run = [&](bool list) {
            QString out, err;
            QTextStream o(&out), e(&err);
            HistoryFilter dut;
            dut.dutId = "OB-1";
            const int exit = list ? HistoryCommand::list(dut, url, o, e)
                                  : HistoryCommand::exportRecord("OB-1", "csv", url, o, e);
            return QStringList{QString::number(exit), list ? out : out.section('\n', 0, 0), err};
        };
        const QString alone =
            "velmora: " + url + " did not answer in 5 s; listing this bench's copy only\n";
        QCOMPARE(run(true), QStringList({"0", line, alone}));
        QCOMPARE(
            run(false),
            QStringList({"0", "# record: " + waiting.id.toString(QUuid::WithoutBraces), alone}));
        QVERIFY2(m_pg.pgCtl("start"), qPrintable(m_pg.error));
        for (const bool list : {true, true, false})
            QCOMPARE(
                run(list).join('|'),
                (list ? QStringList{"0", line, ""}
                      : QStringList{"0", "# record: " + waiting.id.toString(QUuid::WithoutBraces),
                                    ""})
                    .join('|'));
        HistoryStore lab;
        QVERIFY(openAt(lab, url, Access::ReadOnly));
        QCOMPARE(lab.load(waiting.id)->dutId(), "OB-1");
    }

    // Two benches at once: this program again, twice, each writing 100 records; on the server
    // neither finds the tables and both make them at once.
    // Records with verdicts and margins set by hand, written through the store in 2025 (the
    // records above are of 2024). Group X2 0.3 default: D1 fails, then passes after repair;
    // one record has no DUT ID and ties the worst margin later. Custom values: a custom
    // 0.3 dB limit on X2, the nominals 7.5 and 12.25 (ordered as numbers), one without limits
    // whose DUT ID is only printed. Return loss on both sides of midnight UTC; one simulated run.
    void statistics_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("words"); // dut|from|to|kind|device|verdict|simulated
        QTest::addColumn<int>("exit");
        QTest::addColumn<QString>("out"); // lines after the header, or the error
        const QString x2 = "ATT\tX2\t0.3\tdefault\t";
        const QString x2Custom =
            "ATT\tX2\t0.3\tcustom\t2\t1\t0\t2\t0\t0.0\t0.0\t0.0\t-0.13\t-0.13\t"
            "60\t2025-01-01T12:00:00Z\t2025-01-02T12:00:00Z\n";
        const QString att75 = "ATT\t7.5\t0.5\tcustom\t1\t1\t1\t0\t0\t100.0\t100.0\t100.0\t0.20\t0."
                              "20\t70\t2025-01-03T12:00:00Z\t2025-01-03T12:00:00Z\n";
        const QString att1225 =
            "ATT\t12.25\t\tdefault\t1\t1\t0\t0\t1\t\t\t\t\t\t\t2025-01-05T12:00:00Z\t2025-01-05T12:"
            "00:00Z\n";
        for (const QString where : {"sqlite", "postgresql"}) {
            const auto row = [&](const char* name, const QString& words, int exit,
                                 const QString& out) {
                QTest::addRow("%s %s", qPrintable(where), name) << where << words << exit << out;
            };
            row("all", "|2025-01-01|||||", 0,
                x2 +
                    "5\t3\t3\t2\t0\t60.0\t66.7\t100.0\t0.05\t-0.05\t500\t2025-01-01T12:00:"
                    "00Z\t2025-"
                    "01-04T12:00:00Z\n" +
                    x2Custom + att75 + att1225 +
                    "RL\tTERM\t21\tdefault\t2\t1\t1\t1\t0\t50.0\t100.0\t0.0\t0.75\t-1."
                    "50\t900\t2025-"
                    "01-06T23:59:59Z\t2025-01-07T00:00:00Z\n");
            row("prefix, simulated too", "D*|2025-01-01|||||1", 0,
                x2 +
                    "5\t4\t4\t1\t0\t80.0\t75.0\t100.0\t0.10\t-0.05\t100\t2025-01-01T12:00:"
                    "00Z\t2025-"
                    "01-03T12:00:00Z\n" +
                    x2Custom + att75);
            row("prefix is case-sensitive", "d*|2025-01-01|||||1", 0, "");
            row("a printed DUT ID", "P*|2025-01-01|||||", 0, att1225);
            row("to a UTC day", "|2025-01-01|2025-01-06|rl|||", 0,
                "RL\tTERM\t21\tdefault\t1\t1\t1\t0\t0\t100.0\t100.0\t100.0\t3.00\t3.00\t1000\t2025-"
                "01-06T23:59:59Z\t2025-01-06T23:59:59Z\n");
            row("device and verdict", "|2025-01-01||att|x2|fail|", 0,
                x2 +
                    "2\t1\t0\t2\t0\t0.0\t0.0\t0.0\t-0.05\t-0.05\t500\t2025-01-01T12:00:00Z\t2025-"
                    "01-04T12:00:00Z\n" +
                    x2Custom);
        }
        const auto refused = [](const char* name, const QString& words, const QString& error) {
            QTest::newRow(name) << "sqlite" << words << 2 << "velmora: " + error + "\n";
        };
        refused("no such day", "|2025-02-30|||||",
                "--from takes a date YYYY-MM-DD, not \"2025-02-30\".");
        refused("reversed", "|2025-01-02|2025-01-01||||",
                "--from 2025-01-02 is after --to 2025-01-01.");
        refused("verdict", "|||||ok|", "--verdict takes pass, fail or none, not \"ok\".");
        refused("device of another kind", "|||rl|X2||",
                "--device takes X1, X2, X2P5, X5, X10, TERM, PAD or an attenuation in dB of that "
                "--kind, not \"X2\".");
    }
    void statistics()
    {
        QFETCH(QString, where);
        QFETCH(QString, words);
        QFETCH(QString, out);
        const bool pg = where == "postgresql";
        QVERIFY2(!pg || m_pg.error.isEmpty(), qPrintable(m_pg.error));
        const QString database = pg ? m_pg.url("bench", "stats") : QString();
        static QStringList written;
        if (!written.contains(where)) {
            HistoryStore store;
            QVERIFY(openAt(store, pg ? database : DatabaseTarget::localPath()));
            writeStatsTable(store);
            written << where;
        }
        const QStringList w = words.split('|');
        QString error, outText, errText;
        QTextStream o(&outText), e(&errText);
        int exit = 2;
        if (const auto filter = filterOf({w[0], w[1], w[2], w[3], w[4], w[5], w[6] == "1"}, &error))
            exit = StatsCommand::stats(*filter, database, o, e);
        else
            e << "velmora: " << error << "\n";
        e.flush();
        QTEST(exit, "exit");
        QCOMPARE(exit ? errText : outText,
                 exit ? out : HistoryStats::header().join('\t') + '\n' + out);
    }

    // A DUT counts once in its group whether its ID is its own or printed, and a group without
    // limit lines is one group whatever limit its records carry.
    void statisticsOfOneDut()
    {
        QVERIFY2(m_pg.error.isEmpty(), qPrintable(m_pg.error));
        QTemporaryDir dir;
        for (const QString& where : {dir.filePath("h.sqlite"), m_pg.url("bench", "onedut")}) {
            HistoryStore store;
            QVERIFY2(openAt(store, where), qPrintable(store.lastError()));
            using O = Verdict::Outcome;
            const struct {
                MeasType type;
                const char *dut, *printed;
                float limit;
                O outcome;
            } rows[] = {{MeasType::Att2X, "D7", "", 0.3f, O::Fail},
                        {MeasType::Att2X, "", "D7", 0.3f, O::Pass},
                        {MeasType::CustomAtt, "N1", "", 0.3f, O::None},
                        {MeasType::CustomAtt, "N1", "", 0.5f, O::None}};
            int day = 0;
            for (const auto& row : rows) {
                MeasurementResult result = sweep(row.type, 3, 12.25f);
                result.limitDb = row.limit;
                result.ended = QDateTime(QDate(2025, 3, ++day), QTime(12, 0), Qt::UTC);
                HistoryRecord record = HistoryRecord::make(result, context(false, row.dut));
                record.verdict = {row.outcome, row.outcome == O::Fail ? -0.1 : 0.1, 100};
                QVERIFY2(store.writeRecord(record), qPrintable(store.lastError()));
                if (*row.printed)
                    QVERIFY(store.writePrint(record.id, print(row.printed, result.points)));
            }
            const auto groups = HistoryStats::groups(store, HistoryFilter());
            QVERIFY2(groups, qPrintable(store.lastError()));
            QStringList seen;
            for (const HistoryStats::Group& g : *groups)
                seen << QStringLiteral("%1: %2 DUT, first %3/%4, final %5/%6")
                            .arg(g.name())
                            .arg(g.duts)
                            .arg(g.firstPass)
                            .arg(g.firstCounted)
                            .arg(g.finalPass)
                            .arg(g.finalCounted);
            QCOMPARE(seen, QStringList({"ATT X2 0.3 dB (default): 1 DUT, first 0/1, final 1/1",
                                        "ATT 12.25: 1 DUT, first 0/0, final 0/0"}));
        }
    }

    // The file's running totals give the figures that counting its records gives, whether the
    // trigger kept them record by record or the first writing open made them from the records
    // there. Records arrive out of time order, tie on their end time, are simulated or not,
    // carry a DUT ID of their own or a printed one, or several limits without limit lines.
    void totalsAgreeWithRecords()
    {
        QTemporaryDir dir;
        const QString kept = dir.filePath("kept.sqlite"), made = dir.filePath("made.sqlite");
        {
            HistoryStore k, m;
            QVERIFY(k.openLocal(kept) && m.openLocal(made));
            for (const char* drop : {"DROP TRIGGER records_totals", "DROP TABLE totals_groups",
                                     "DROP TABLE totals_duts"})
                QVERIFY(QSqlQuery(m.connection()).exec(drop));
            QRandomGenerator random(7);
            const MeasType types[] = {MeasType::Att2X, MeasType::CustomAtt, MeasType::Termination};
            const QDateTime start(QDate(2025, 6, 1), QTime(8, 0), Qt::UTC);
            for (int i = 0; i < 160; ++i) {
                MeasurementResult result = sweep(types[random.bounded(3)], 3, 7.5f);
                result.customLimits = result.type == MeasType::CustomAtt && random.bounded(2);
                result.limitsShown = result.type != MeasType::CustomAtt || result.customLimits;
                if (result.kind() == MeasKind::Attenuation)
                    result.limitDb = 0.3f + 0.1f * float(random.bounded(2));
                result.ended = start.addSecs(3600 * random.bounded(12));
                const QString dut = random.bounded(8) ? QString("D%1").arg(random.bounded(6)) : "";
                HistoryRecord record =
                    HistoryRecord::make(result, context(random.bounded(4) == 0, dut));
                const int outcome = random.bounded(3);
                record.verdict = {Verdict::Outcome(outcome), 0.01 * random.bounded(-20, 20),
                                  12.5 * random.bounded(1, 80)};
                for (HistoryStore* store : {&k, &m}) {
                    QVERIFY(store->writeRecord(record));
                    if (dut.isEmpty() && i % 2)
                        QVERIFY(store->writePrint(record.id, print("D1", result.points)));
                }
            }
        }
        for (const QString& path : {kept, made}) {
            HistoryStore store;
            QVERIFY(store.openLocal(path) && store.hasTotals());
            for (const char* words : {"", "s", "k", "sk", "d", "sd"}) {
                HistoryFilter filter;
                filter.includeSimulated = QByteArray(words).contains('s');
                if (QByteArray(words).contains('k'))
                    filter.kind = MeasKind::Attenuation;
                if (QByteArray(words).contains('d'))
                    filter.device = "X2";
                HistoryFilter counted = filter;
                counted.from = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
                QStringList lines[2];
                for (int i : {0, 1}) {
                    const auto groups = HistoryStats::groups(store, i ? counted : filter);
                    QVERIFY2(groups, qPrintable(store.lastError()));
                    for (const auto& g : *groups)
                        lines[i] << HistoryStats::fields(g).join(' ');
                }
                QVERIFY(lines[0].size() >= (filter.device.isEmpty() ? 3 : 2));
                QCOMPARE(lines[0], lines[1]);
            }
        }
    }

    // Figures from a lab's database count what this bench still holds for it, sent first; a
    // database that does not answer gives none, lest one bench's figures pass for the lab's.
    void statisticsRefused()
    {
        QVERIFY2(m_pg.error.isEmpty(), qPrintable(m_pg.error));
        const QString lab = m_pg.url("bench", "stats");
        const HistoryRecord waiting = HistoryRecord::make(sweep(MeasType::Att2X, 3), context());
        {
            HistoryStore store;
            QVERIFY(store.openLocal(DatabaseTarget::localPath()) &&
                    store.writeRecord(waiting, lab));
        }
        const QString down = "postgresql://bench@/velmora?host=/nonexistent";
        for (const QString& database : {down, lab}) {
            QString outText, errText;
            QTextStream o(&outText), e(&errText);
            QCOMPARE(StatsCommand::stats(HistoryFilter(), database, o, e), database == lab ? 0 : 2);
            e.flush();
            QCOMPARE(errText, database == lab ? ""
                                              : "velmora: " + down +
                                                    " did not answer in 5 s: the lab's figures "
                                                    "cannot be had now; --database local gives "
                                                    "this bench's own figures.\n");
        }
        HistoryStore shared;
        QVERIFY(openAt(shared, lab, Access::ReadOnly));
        QCOMPARE(shared.load(waiting.id)->id, waiting.id);
    }

    void twoBenchesAtOnce_data()
    {
        QTest::addColumn<bool>("shared");
        QTest::newRow("one SQLite file") << false;
        QTest::newRow("one PostgreSQL server") << true;
    }
    void twoBenchesAtOnce()
    {
        QFETCH(bool, shared);
        QTemporaryDir dir;
        QVERIFY2(!shared || m_pg.error.isEmpty(), qPrintable(m_pg.error));
        const QString where = shared ? m_pg.url("bench", "benches") : dir.filePath("h.sqlite");
        QProcess a, b;
        for (QProcess* p : {&a, &b})
            p->start(QCoreApplication::applicationFilePath(), {"--write-records", where});
        for (QProcess* p : {&a, &b})
            QVERIFY2(p->waitForFinished(120000) && p->exitCode() == 0,
                     p->readAllStandardError().constData());
        QCOMPARE(countAt(where), 200);
    }
};

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("Velmora");
    if (argc < 3 || qstrcmp(argv[1], "--write-records") != 0) {
        TestHistory test;
        return QTest::qExec(&test, argc, argv);
    }
    HistoryStore store;
    bool ok = openAt(store, QString::fromLocal8Bit(argv[2]));
    for (int i = 0; ok && i < 100; ++i)
        ok = store.writeRecord(HistoryRecord::make(sweep(MeasType::Att5X, 2), context()));
    return ok ? 0 : (qWarning("%s", qPrintable(store.lastError())), 1);
}

#include "tst_history.moc"
