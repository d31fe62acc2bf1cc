#include "chart/Chart.h"

#include <QtCharts>
#include <QtTest>

namespace {

QLineSeries* line(Chart& chart, int column)
{
    return qobject_cast<QLineSeries*>(chart.chart()->series().value(column - 1));
}

void write(Chart& chart, int row, int column, const QString& text)
{
    chart.grid().setColumn(column);
    chart.grid().setRow(row);
    chart.grid().setData(text);
}

} // namespace

class TestChart : public QObject {
    Q_OBJECT
private slots:
    // Only written cells are drawn, in row order; a hidden line keeps what is written to it,
    // an overwrite replaces its point, and a cell's text gives back the 32-bit value.
    void writtenCellsDrawn()
    {
        Chart chart(6);
        write(chart, 80, 6, "1.5");
        chart.grid().setSeriesHidden(6, true);
        write(chart, 1, 6, ResultGrid::text(-31.37f));
        write(chart, 80, 6, ResultGrid::text(12.345678f));
        QVERIFY(!line(chart, 6)->isVisible() && line(chart, 5)->isVisible());
        chart.grid().setSeriesHidden(6, false);
        QVERIFY(line(chart, 6)->isVisible());
        QCOMPARE(line(chart, 6)->points(), (QList<QPointF>{{1, -31.37f}, {80, 12.345678f}}));
        QCOMPARE(line(chart, 5)->count(), 0);
        QCOMPARE(chart.grid().cell(2, 6) + '|' + chart.grid().data(), "|12.345678");
    }

    // Data far outside the scale must not move it.
    void axesStayAsSet()
    {
        Chart chart(6);
        chart.show();
        chart.grid().setMaximum(1);
        chart.grid().setMinimum(-1);
        chart.grid().setMajorDivision(4);
        chart.grid().setMinorDivision(2);
        for (int row = 1; row <= 80; ++row)
            write(chart, row, 3, ResultGrid::text(float(row * 10 - 400)));
        QCoreApplication::processEvents();
        auto* dB = qobject_cast<QValueAxis*>(chart.chart()->axes(Qt::Vertical).value(0));
        auto* mhz = qobject_cast<QCategoryAxis*>(chart.chart()->axes(Qt::Horizontal).value(0));
        QCOMPARE(dB->titleText() + ' ' + mhz->titleText(), "dB MHz");
        QCOMPARE(QList<double>(
                     {dB->min(), dB->max(), double(dB->tickCount()), double(dB->minorTickCount())}),
                 QList<double>({-1, 1, 5, 1}));
    }
};

QTEST_MAIN(TestChart)
#include "tst_chart.moc"
