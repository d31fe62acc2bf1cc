#include "app/Chart.h"

#include <QCategoryAxis>
#include <QLineSeries>
#include <QValueAxis>
#include <QtTest>

namespace {

QValueAxis* valueAxis(Chart& chart)
{
    const QList<QAbstractAxis*> axes = chart.chart()->axes(Qt::Vertical);
    return axes.size() == 1 ? qobject_cast<QValueAxis*>(axes[0]) : nullptr;
}

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
    void gridFromOne();
    void cellsReadBackAsWritten();
    void eachWrittenCellIsDrawn();
    void hiddenSeriesKeepCells();
    void valueAxisStaysAsSet_data();
    void valueAxisStaysAsSet();
    void designTimeAxes();
    void valueText_data();
    void valueText();
};

void TestChart::gridFromOne()
{
    Chart results(6);
    QCOMPARE(results.rowCount(), 80);
    QCOMPARE(results.columnCount(), 6);
    QCOMPARE(results.chart()->series().size(), 6);
    for (int column = 1; column <= 6; ++column)
        QCOMPARE(results.chart()->series()[column - 1]->name(), QStringLiteral("C%1").arg(column));
    Chart report(3);
    QCOMPARE(report.columnCount(), 3);

    // Every cell is empty until written; the corners address the first and last cells.
    for (int row = 1; row <= 80; ++row)
        for (int column = 1; column <= 6; ++column)
            QVERIFY(results.cell(row, column).isEmpty());
    write(results, 1, 1, "21");
    write(results, 80, 6, "-3.5");
    QCOMPARE(results.cell(1, 1), "21");
    QCOMPARE(results.cell(80, 6), "-3.5");
    QCOMPARE(results.cell(2, 1), "");
    QCOMPARE(results.cell(1, 2), "");
    QCOMPARE(results.cell(79, 6), "");
}

void TestChart::cellsReadBackAsWritten()
{
    Chart chart(6);
    // The selection stays in force until the next one: write, then read the same cell.
    chart.setColumn(4);
    chart.setRow(17);
    QCOMPARE(chart.data(), "");
    chart.setData("25.75");
    QCOMPARE(chart.data(), "25.75");
    chart.setRow(18);
    QCOMPARE(chart.data(), "");
    chart.setColumn(5);
    chart.setRow(17);
    QCOMPARE(chart.data(), "");
    chart.setColumn(4);
    QCOMPARE(chart.data(), "25.75");
    // Overwriting replaces the text.
    chart.setData(Chart::text(-0.125f));
    QCOMPARE(chart.cell(17, 4), "-0.125");
}

void TestChart::eachWrittenCellIsDrawn()
{
    Chart chart(6);
    QCOMPARE(line(chart, 3)->count(), 0);
    write(chart, 10, 3, "1.5");
    QCOMPARE(line(chart, 3)->count(), 1);
    QCOMPARE(line(chart, 3)->at(0), QPointF(10, 1.5));
    write(chart, 2, 3, "-0.5");
    write(chart, 10, 3, "0.25");
    QCOMPARE(line(chart, 3)->points(), (QList<QPointF>{{2, -0.5}, {10, 0.25}}));
    QCOMPARE(line(chart, 4)->count(), 0);
}

void TestChart::hiddenSeriesKeepCells()
{
    Chart chart(6);
    write(chart, 8, 6, "12");
    chart.setSeriesHidden(6, true);
    QVERIFY(chart.seriesHidden(6));
    QVERIFY(!line(chart, 6)->isVisible());
    QVERIFY(!chart.seriesHidden(5));
    QCOMPARE(chart.cell(8, 6), "12");
    // Written while hidden: kept, and drawn once shown again.
    write(chart, 16, 6, "13");
    QCOMPARE(chart.cell(16, 6), "13");
    chart.setSeriesHidden(6, false);
    QVERIFY(!chart.seriesHidden(6));
    QVERIFY(line(chart, 6)->isVisible());
    QCOMPARE(line(chart, 6)->points(), (QList<QPointF>{{8, 12}, {16, 13}}));
}

void TestChart::valueAxisStaysAsSet_data()
{
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::newRow("return loss") << 10.0 << 40.0 << 6 << 1;
    QTest::newRow("attenuation") << -1.0 << 1.0 << 4 << 1;
}

void TestChart::valueAxisStaysAsSet()
{
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(int, major);
    QFETCH(int, minor);
    Chart chart(6);
    chart.show();
    chart.setMaximum(maximum);
    chart.setMinimum(minimum);
    chart.setMajorDivision(major);
    chart.setMinorDivision(minor);
    // Data far outside the scale must not move it.
    for (int row = 1; row <= 80; ++row)
        write(chart, row, 3, Chart::text(float(row * 10 - 400)));
    write(chart, 1, 1, "1000");
    QCoreApplication::processEvents();
    QCOMPARE(chart.maximum(), maximum);
    QCOMPARE(chart.minimum(), minimum);
    QCOMPARE(chart.majorDivision(), major);
    QCOMPARE(chart.minorDivision(), minor);
    QValueAxis* axis = valueAxis(chart);
    QVERIFY(axis);
    QCOMPARE(axis->min(), minimum);
    QCOMPARE(axis->max(), maximum);
    QCOMPARE(axis->tickCount(), major + 1); // a grid line at every major division
    QCOMPARE(axis->minorTickCount(), minor - 1);
}

void TestChart::designTimeAxes()
{
    Chart chart(6);
    QCOMPARE(valueAxis(chart)->titleText(), "dB");
    const QList<QAbstractAxis*> horizontal = chart.chart()->axes(Qt::Horizontal);
    QCOMPARE(horizontal.size(), 1);
    auto* categories = qobject_cast<QCategoryAxis*>(horizontal[0]);
    QVERIFY(categories);
    QCOMPARE(categories->titleText(), "MHz");
    QStringList expected;
    for (int mhz = 50; mhz <= 1000; mhz += 50)
        expected << QString::number(mhz);
    QCOMPARE(categories->categoriesLabels(), expected);
    // Each label sits on its row: 50 MHz on row 4, 1000 MHz on row 80.
    QCOMPARE(categories->endValue(QStringLiteral("50")), 4.0);
    QCOMPARE(categories->endValue(QStringLiteral("1000")), 80.0);
}

void TestChart::valueText_data()
{
    QTest::addColumn<float>("value");
    for (float value : {0.0f, 21.0f, -0.25f, -31.37f, 0.01f, 12.345678f, -1e-4f})
        QTest::addRow("%g", double(value)) << value;
}

void TestChart::valueText()
{
    // Any text serves that gives the same 32-bit value back.
    QFETCH(float, value);
    Chart chart(1);
    write(chart, 5, 1, Chart::text(value));
    QCOMPARE(chart.cell(5, 1).toFloat(), value);
    QCOMPARE(line(chart, 1)->at(0).y(), double(value));
}

QTEST_MAIN(TestChart)
#include "tst_chart.moc"
