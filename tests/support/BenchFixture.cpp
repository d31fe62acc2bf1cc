#include "BenchFixture.h"

#include "chart/Chart.h"

#include <QtTest>
#include <QtWidgets>

BenchScenario scenarioOf(const QString& words);

BenchFixture::BenchFixture(const QString& scenario) : bench(clock, scenarioOf(scenario))
{
    form = std::make_unique<MainForm>(session, hands);
}

void BenchFixture::startProgram(MainForm& form, VirtualClock& clock)
{
    // Only a modal window (the intro) waits on the clock without anybody advancing it.
    clock.idleAdvance = [] { return QApplication::activeModalWidget() != nullptr; };
    form.Form_Load([] { QCoreApplication::exit(0); });
    runApplication();
    if (form.session().programEnded())
        return;
    const QMetaObject::Connection activated =
        QObject::connect(&form.session(), &BenchSession::settled, [&form] {
            if (form.activated())
                QCoreApplication::exit(0);
        });
    form.show();
    runApplication();
    QObject::disconnect(activated);
    // Let the blink of the hint finish.
    clock.advance(2);
}

void click(QWidget* widget)
{
    QTest::mouseClick(widget, Qt::LeftButton);
    if (auto* form = qobject_cast<MainForm*>(widget->window()))
        settle(form->session());
}

void clickFrame(QWidget* frame)
{
    const QPoint surface(frame->width() - 4, frame->height() - 4);
    QVERIFY2(!frame->childAt(surface), "a control covers the frame's surface");
    QTest::mouseClick(frame, Qt::LeftButton, {}, surface);
}

void chooseStep(QComboBox* list, int index)
{
    QVERIFY(list->isEnabled());
    while (list->currentIndex() < index)
        QTest::keyClick(list, Qt::Key_Down);
    while (list->currentIndex() > index)
        QTest::keyClick(list, Qt::Key_Up);
}

void measure(MainForm& w, MeasKind kind, int step, QWidget* device)
{
    clickFrame(kind == MeasKind::Attenuation ? w.Frame_Attn : w.Frame_Refl);
    chooseStep(w.Combo_FreqStep, step);
    click(w.Command_Run);
    if (!device)
        return;
    QTest::mouseClick(device, Qt::LeftButton);
    click(w.Command_Run);
}

WindowOver::WindowOver(GpibDriver& driver, VirtualClock& clock)
    : session(driver, clock, dialogs), io(session.io()), form(session, dialogs)
{
    BenchFixture::startProgram(form, clock);
}

QStringList checkBoth(MainForm& w)
{
    QStringList charts;
    for (const MeasKind kind : {MeasKind::ReturnLoss, MeasKind::Attenuation}) {
        measure(w, kind, 2,
                kind == MeasKind::Attenuation ? static_cast<QWidget*>(w.Option_Attn[2])
                                              : w.Option_Refl[1]);
        QString cells;
        for (int cell = 0; cell < ResultGrid::Rows * 6; ++cell)
            cells += w.MSChart1->grid().cell(cell / 6 + 1, cell % 6 + 1) + u'|';
        charts << cells;
    }
    return charts;
}
