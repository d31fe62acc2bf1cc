#include "chart/Chart.h"

#include <QCategoryAxis>
#include <QLineSeries>
#include <QValueAxis>
#include <QtTest>

namespace {

QLineSeries* line(Chart& chart, int column)
{
    return qobject_cast<QLineSeries*>(chart.chart()->series().value(column - 1));
}

void write(Chart& chart, int row, int column, const QString& text)
{
    chart.setColumn(column);
    chart.setRow(row);
    chart.setData(text);
}

} // namespace

class TestChart : public QObject {
    Q_OBJECT
private slots:
    void cellsAddressedFromOne();
    void writtenCellsDrawnAndKeptWhileHidden();
    void axesStayAsSet_data();
    void axesStayAsSet();
};

void TestChart::cellsAddressedFromOne()
{
    QCOMPARE(Chart(3).columnCount(), 3);
    Chart chart(6);
    QCOMPARE(chart.rowCount(), 80);
    write(chart, 1, 1, "21");
    write(chart, 80, 6, "-3.5");
    QCOMPARE(chart.cell(1, 1), "21");
    QCOMPARE(chart.cell(80, 6), "-3.5");
    QCOMPARE(chart.cell(2, 1), "");
    QCOMPARE(chart.cell(79, 6), "");
    // The selection stays in force: data() reads the cell last selected.
    chart.setColumn(4);
    chart.setRow(17);
    chart.setData("25.75");
    chart.setColumn(5);
    QCOMPARE(chart.data(), "");
    chart.setColumn(4);
    QCOMPARE(chart.data(), "25.75");
    // Chart::text gives back the same 32-bit value.
    for (float value : {-0.25f, -31.37f, 0.01f, 12.345678f, -1e-4f}) {
        chart.setData(Chart::text(value));
        QCOMPARE(chart.cell(17, 4).toFloat(), value);
    }
}

void TestChart::writtenCellsDrawnAndKeptWhileHidden()
{
    Chart chart(6);
    write(chart, 10, 6, "1.5");
    QCOMPARE(line(chart, 6)->points(), (QList<QPointF>{{10, 1.5}}));
    chart.setSeriesHidden(6, true);
    QVERIFY(!line(chart, 6)->isVisible());
    QVERIFY(line(chart, 5)->isVisible());
    // Written while hidden: kept, and drawn in row order once shown again; an overwrite
    // replaces its point.
    write(chart, 2, 6, "-0.5");
    write(chart, 10, 6, "0.25");
    QCOMPARE(chart.cell(2, 6), "-0.5");
    chart.setSeriesHidden(6, false);
    QVERIFY(line(chart, 6)->isVisible());
    QCOMPARE(line(chart, 6)->points(), (QList<QPointF>{{2, -0.5}, {10, 0.25}}));
    QCOMPARE(line(chart, 5)->count(), 0);
}

void TestChart::axesStayAsSet_data()
{
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<int>("major");
    QTest::newRow("return loss") << 10.0 << 40.0 << 6;
    QTest::newRow("attenuation") << -1.0 << 1.0 << 4;
}

void TestChart::axesStayAsSet()
{
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(int, major);
    Chart chart(6);
    chart.show();
    chart.setMaximum(maximum);
    chart.setMinimum(minimum);
    chart.setMajorDivision(major);
    chart.setMinorDivision(1);
    // Data far outside the scale must not move it.
    for (int row = 1; row <= 80; ++row)
        write(chart, row, 3, Chart::text(float(row * 10 - 400)));
    QCoreApplication::processEvents();
    auto* axis = qobject_cast<QValueAxis*>(chart.chart()->axes(Qt::Vertical).value(0));
    QVERIFY(axis);
    QCOMPARE(axis->titleText(), "dB");
    QCOMPARE(axis->min(), minimum);
    QCOMPARE(axis->max(), maximum);
    QCOMPARE(axis->tickCount(), major + 1); // a grid line at every major division
    QCOMPARE(axis->minorTickCount(), 0);

    auto* mhz = qobject_cast<QCategoryAxis*>(chart.chart()->axes(Qt::Horizontal).value(0));
    QVERIFY(mhz);
    QCOMPARE(mhz->titleText(), "MHz");
    QCOMPARE(mhz->categoriesLabels().size(), 20);
    // A label every fourth row: 50 MHz on row 4, 1000 MHz on row 80.
    QCOMPARE(mhz->endValue(QStringLiteral("50")), 4.0);
    QCOMPARE(mhz->endValue(QStringLiteral("1000")), 80.0);
}

QTEST_MAIN(TestChart)
#include "tst_chart.moc"
