// The chart of one sensor: the as-found readings are the points of their
// series, the window bands span their bounds over the whole time axis, the
// slope in force follows recalibrations only, and the chart draws.

#include "gui/history/driftchart.h"
#include "tst_historysupport.h"

#include <QAreaSeries>
#include <QDateTimeAxis>
#include <QGraphicsTextItem>
#include <QLineSeries>
#include <QScatterSeries>
#include <QSet>
#include <QValueAxis>
#include <QtTest>

using history::DriftChart;
using history::Outcome;
using history::Run;
using namespace historytest;

namespace
{

QAbstractSeries *series(DriftChart &chart, const QString &name)
{
    const QList<QAbstractSeries *> all = chart.chart()->series();
    for (QAbstractSeries *s : all) {
        if (s->objectName() == name)
            return s;
    }
    return nullptr;
}

QList<QPointF> points(DriftChart &chart, const QString &name)
{
    auto *xy = qobject_cast<QXYSeries *>(series(chart, name));
    return xy ? xy->points() : QList<QPointF>{{-1, -1}};
}

qreal at(const QDate &date)
{
    return qreal(noon(date).toMSecsSinceEpoch());
}

// The distinct y values of a band's edge.
QSet<qreal> edge(QAreaSeries *band, bool upper)
{
    QSet<qreal> values;
    QLineSeries *line = upper ? band->upperSeries() : band->lowerSeries();
    for (const QPointF &p : line->points())
        values.insert(p.y());
    return values;
}

// Three runs of one sensor drifting high: a pass, a fail put right by new
// constants, and a pass on the new constants.
QList<Run> drifting()
{
    return {validation("40317-00808", {2024, 3, 1}, "530.0", "202.0"),
            recalibration(validation("40317-00808", {2025, 2, 10}, "598.5", "228.0"), "0.002190",
                          "-10.95000", "525.2", "200.4"),
            validation("40317-00808", {2026, 1, 20}, "540.0", "206.5", "0.002190", "-10.95000")};
}

} // namespace

class HistoryChartTest : public QObject
{
    Q_OBJECT

private slots:
    void readingsAreThePoints();
    void oneDayOnePoint();
    void bandsSpanTheWindows();
    void bandStepsWhereTheWindowChanges();
    void slopeInForce();
    void runsWithoutReadingsAreLeftOut();
    void chartDraws();
    void anotherSensorReplacesTheSeries();
    void dateLabelsNeverRepeat_data();
    void dateLabelsNeverRepeat();
};

void HistoryChartTest::readingsAreThePoints()
{
    DriftChart chart;
    chart.setRuns(drifting());
    QCOMPARE(points(chart, "foundHigh"), (QList<QPointF>{{at({2024, 3, 1}), 530.0},
                                                         {at({2025, 2, 10}), 598.5},
                                                         {at({2026, 1, 20}), 540.0}}));
    QCOMPARE(points(chart, "foundLow"), (QList<QPointF>{{at({2024, 3, 1}), 202.0},
                                                        {at({2025, 2, 10}), 228.0},
                                                        {at({2026, 1, 20}), 206.5}}));
    // The two readings outside their windows are marked.
    QCOMPARE(points(chart, "outside"),
             (QList<QPointF>{{at({2025, 2, 10}), 598.5}, {at({2025, 2, 10}), 228.0}}));

    // Dates along the bottom, every run inside the time axis.
    auto *time = qobject_cast<QDateTimeAxis *>(
        chart.chart()->axes(Qt::Horizontal, series(chart, "foundHigh")).value(0));
    QVERIFY(time);
    QVERIFY(time->min() < noon({2024, 3, 1}));
    QVERIFY(time->max() > noon({2026, 1, 20}));
    // And every reading and window bound inside the reading axis.
    auto *values = qobject_cast<QValueAxis *>(
        chart.chart()->axes(Qt::Vertical, series(chart, "foundHigh")).value(0));
    QVERIFY(values);
    QVERIFY(values->min() < kLowLow);
    QVERIFY(values->max() > 598.5);
    QVERIFY(values->titleText().contains("pS/m"));
}

// Found failing, recalibrated, then validated again the same day: the day is
// one point, as the sensor came in, not a line straight up.
void HistoryChartTest::oneDayOnePoint()
{
    QList<Run> runs = drifting();
    runs.insert(2, validation("40317-00808", {2025, 2, 10}, "526.0", "201.0"));
    runs[2].started = runs[2].started.addSecs(3600);
    DriftChart chart;
    chart.setRuns(runs);
    QCOMPARE(points(chart, "foundHigh").at(1), QPointF(at({2025, 2, 10}), 598.5));
    QCOMPARE(points(chart, "foundHigh").size(), 3);
}

void HistoryChartTest::bandsSpanTheWindows()
{
    DriftChart chart;
    chart.setRuns(drifting());
    auto *highBand = qobject_cast<QAreaSeries *>(series(chart, "highWindow"));
    auto *lowBand = qobject_cast<QAreaSeries *>(series(chart, "lowWindow"));
    QVERIFY(highBand);
    QVERIFY(lowBand);
    QCOMPARE(edge(highBand, true), QSet<qreal>{kHighHigh});
    QCOMPARE(edge(highBand, false), QSet<qreal>{kHighLow});
    QCOMPARE(edge(lowBand, true), QSet<qreal>{kLowHigh});
    QCOMPARE(edge(lowBand, false), QSet<qreal>{kLowLow});

    // From one edge of the time axis to the other.
    auto *time = qobject_cast<QDateTimeAxis *>(chart.chart()->axes(Qt::Horizontal).value(0));
    QVERIFY(time);
    const QList<QPointF> upper = highBand->upperSeries()->points();
    QCOMPARE(upper.first().x(), qreal(time->min().toMSecsSinceEpoch()));
    QCOMPARE(upper.last().x(), qreal(time->max().toMSecsSinceEpoch()));
}

void HistoryChartTest::bandStepsWhereTheWindowChanges()
{
    QList<Run> runs = drifting();
    // The last run judged against a narrower window.
    runs[2].foundHigh = reading("540.0", 500, 550);
    DriftChart chart;
    chart.setRuns(runs);
    auto *highBand = qobject_cast<QAreaSeries *>(series(chart, "highWindow"));
    QVERIFY(highBand);
    QCOMPARE(edge(highBand, true), (QSet<qreal>{kHighHigh, 550}));
    QCOMPARE(edge(highBand, false), (QSet<qreal>{kHighLow, 500}));
    // The old window up to the run that changed it, the new one from there on.
    const QList<QPointF> upper = highBand->upperSeries()->points();
    for (const QPointF &p : upper) {
        if (p.x() < at({2026, 1, 20}))
            QCOMPARE(p.y(), kHighHigh);
        else if (p.x() > at({2026, 1, 20}))
            QCOMPARE(p.y(), 550.0);
    }
}

void HistoryChartTest::slopeInForce()
{
    QList<Run> runs = drifting();
    // New constants sent and then taken back do not count.
    Run abandoned = recalibration(
        validation("40317-00808", {2026, 5, 5}, "541.0", "207.0", "0.002190", "-10.95000"),
        "0.002100", "-10.50000", "520.0", "199.0");
    abandoned.outcome = Outcome::RecalibrationAbandoned;
    runs << abandoned;
    DriftChart chart;
    chart.setRuns(runs);
    // A step: the old slope up to the recalibration, the new one from there.
    QCOMPARE(points(chart, "slope"), (QList<QPointF>{{at({2024, 3, 1}), 0.0025},
                                                     {at({2025, 2, 10}), 0.0025},
                                                     {at({2025, 2, 10}), 0.00219},
                                                     {at({2026, 1, 20}), 0.00219},
                                                     {at({2026, 5, 5}), 0.00219}}));
    // On an axis of its own, on the right.
    const QList<QAbstractAxis *> axes = chart.chart()->axes(Qt::Vertical, series(chart, "slope"));
    QCOMPARE(axes.size(), 1);
    QCOMPARE(axes.first()->alignment(), Qt::AlignRight);
    auto *slopeAxis = qobject_cast<QValueAxis *>(axes.first());
    QVERIFY(slopeAxis->min() < 0.00219 && slopeAxis->max() > 0.0025);
}

void HistoryChartTest::runsWithoutReadingsAreLeftOut()
{
    QList<Run> runs = drifting();
    Run lost = validation("40317-00808", {2026, 3, 3}, "", "");
    lost.foundHigh = history::Reading();
    lost.foundLow = history::Reading();
    lost.outcome = Outcome::LinkLost;
    Run garbled = validation("40317-00808", {2026, 4, 4}, "5x1", "200.0");
    runs << lost << garbled;
    DriftChart chart;
    chart.setRuns(runs);
    QCOMPARE(points(chart, "foundHigh").size(), 3); // neither the lost nor the garbled one
    QCOMPARE(points(chart, "foundLow").size(), 4);  // the garbled run's low one counts
}

void HistoryChartTest::chartDraws()
{
    DriftChart chart;
    chart.resize(800, 400);
    chart.setRuns(drifting());
    chart.show();
    QVERIFY(QTest::qWaitForWindowExposed(&chart));
    const QImage image = chart.grab().toImage();
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(800, 400) * image.devicePixelRatio());
    // Lines, bands, marks and text: far more than the few colours of an
    // empty chart's background and frame.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    }
    QVERIFY2(colours.size() > 50, qPrintable(QString::number(colours.size())));
    // The red marks of the failed readings are drawn.
    int red = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            red += c.red() > 200 && c.green() < 60 && c.blue() < 60 ? 1 : 0;
        }
    }
    QVERIFY2(red > 20, qPrintable(QString::number(red)));

    // As narrow as the window lets it be, it draws every legend entry whole.
    chart.resize(chart.minimumSizeHint().width(), 400);
    const auto cut = [&chart] {
        QStringList drawn;
        for (const QGraphicsItem *item : chart.scene()->items()) {
            if (const auto *text = qgraphicsitem_cast<const QGraphicsTextItem *>(item))
                drawn << text->toPlainText();
        }
        QStringList missing{"High window", "Low window",     "High reading",
                            "Low reading", "Outside window", "Slope"};
        missing.removeIf([&drawn](const QString &label) { return drawn.contains(label); });
        return missing;
    };
    QTRY_VERIFY2(cut().isEmpty(), qPrintable(cut().join('|')));
}

void HistoryChartTest::anotherSensorReplacesTheSeries()
{
    DriftChart chart;
    chart.setRuns(drifting());
    const int count = int(chart.chart()->series().size());
    const int axes = int(chart.chart()->axes().size());
    chart.setRuns({validation("40317-00909", {2026, 2, 2}, "515.0", "199.5")});
    QCOMPARE(int(chart.chart()->series().size()), count);
    QCOMPARE(int(chart.chart()->axes().size()), axes);
    QCOMPARE(points(chart, "foundHigh"), (QList<QPointF>{{at({2026, 2, 2}), 515.0}}));
    QVERIFY(chart.chart()->title().contains("40317-00909"));
    chart.setRuns({});
    QVERIFY(chart.chart()->series().isEmpty());
}

void HistoryChartTest::dateLabelsNeverRepeat_data()
{
    QTest::addColumn<QList<QDate>>("dates");
    QTest::addColumn<QString>("coarsest"); // a format every label must read as, or none

    QTest::newRow("one run") << QList<QDate>{{2026, 11, 28}} << QString();
    QTest::newRow("days apart") << QList<QDate>{{2026, 11, 28}, {2026, 12, 1}, {2026, 12, 4}}
                                << QString("yyyy-MM-dd");
    QTest::newRow("across a new year")
        << QList<QDate>{{2026, 12, 30}, {2027, 1, 2}} << QString("yyyy-MM-dd");
    QTest::newRow("months apart") << QList<QDate>{{2026, 1, 5}, {2026, 7, 5}} << QString();
    QTest::newRow("years apart") << QList<QDate>{{2019, 3, 1}, {2022, 6, 1}, {2026, 11, 1}}
                                 << QString("yyyy-MM");
}

// As the axis draws them: its ticks spread evenly from its start to its end.
void HistoryChartTest::dateLabelsNeverRepeat()
{
    QFETCH(QList<QDate>, dates);
    QFETCH(QString, coarsest);
    QList<Run> runs;
    for (const QDate &date : dates)
        runs << validation("40317-00808", date, "530.0", "202.0");
    DriftChart chart;
    chart.setRuns(runs);
    auto *time = qobject_cast<QDateTimeAxis *>(
        chart.chart()->axes(Qt::Horizontal, series(chart, "foundHigh")).value(0));
    QVERIFY(time);
    const int ticks = time->tickCount();
    QVERIFY(ticks >= 2);
    const qint64 from = time->min().toMSecsSinceEpoch();
    const qint64 to = time->max().toMSecsSinceEpoch();
    QStringList labels;
    for (int i = 0; i < ticks; ++i)
        labels << QLocale().toString(
            QDateTime::fromMSecsSinceEpoch(from + i * (to - from) / (ticks - 1)), time->format());
    for (int i = 1; i < labels.size(); ++i)
        QVERIFY2(labels.at(i) != labels.at(i - 1), qPrintable(labels.join(", ")));
    if (!coarsest.isEmpty()) {
        for (const QString &label : labels)
            QVERIFY2(QDateTime::fromString(label, coarsest).isValid(),
                     qPrintable(labels.join(", ")));
    }
}

QTEST_MAIN(HistoryChartTest)
#include "tst_historychart.moc"
