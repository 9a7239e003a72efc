// The history window on a large history (500 sensors, 10,000 runs in a real
// SQLite file): the sensor list shows every sensor, and a picked sensor's
// runs and chart follow. How fast is measured by bench/run.sh
// (zolvex_bench_history), not here: times asserted on a loaded machine fail
// for no fault of the window.

#include "gui/history/driftchart.h"
#include "gui/history/historywindow.h"
#include "gui/history/sample/samplehistory.h"
#include "gui/history/sensorlistmodel.h"
#include "tests/support/guisuite.h"
#include "tests/support/modalanswerer.h"
#include "tst_historysupport.h"

#include <QChart>
#include <QTableView>
#include <QtTest>

#include <memory>

using namespace historytest;

namespace
{

constexpr int kSensors = 500;
constexpr int kRunsPerSensor = 20; // each
// The sample history of this seed has exactly 10,000 runs, as bench/run.sh's.
constexpr quint32 kSeed = 32;
constexpr int kPicks = 15;

} // namespace

class HistoryScaleTest : public GuiSuite
{
    Q_OBJECT

private slots:
    void initTestCase();
    void listShowsEverySensor();
    void pickingASensorShowsItsRunsAndChart();

private:
    // Shown and opened on the history, or null.
    std::unique_ptr<history::HistoryWindow> openWindow();

    TempHistory history_;
    int runs_ = 0;
};

void HistoryScaleTest::initTestCase()
{
    QVERIFY2(history_.ok(), qPrintable(history_.error()));
    history::SampleShape shape;
    shape.sensors = kSensors;
    shape.runsPerSensor = kRunsPerSensor;
    shape.seed = kSeed;
    QString error;
    runs_ = history::fillSampleHistory(&history_.store(), shape, &error);
    QVERIFY2(runs_ > 0, qPrintable(error));
    QCOMPARE(runs_, kSensors * kRunsPerSensor);
}

std::unique_ptr<history::HistoryWindow> HistoryScaleTest::openWindow()
{
    history::WindowOptions options;
    options.location = history_.location();
    options.pendingFolder = history_.pendingFolder();
    auto window = std::make_unique<history::HistoryWindow>(options);
    window->show();
    if (!window->openHistory() || !QTest::qWaitForWindowExposed(window.get()) ||
        !historytest::loaded(window.get()))
        return nullptr;
    return window;
}

void HistoryScaleTest::listShowsEverySensor()
{
    ModalAnswerer answers;
    for (int i = 0; i < 3; ++i) {
        const std::unique_ptr<history::HistoryWindow> window = openWindow();
        QVERIFY(window);
        QTableView *sensors = window->findChild<QTableView *>("sensors");
        // Drawn, not only loaded.
        sensors->viewport()->repaint();
        QCOMPARE(sensors->model()->rowCount(), kSensors);
        QVERIFY(!window->currentSerial().isEmpty());
    }
}

void HistoryScaleTest::pickingASensorShowsItsRunsAndChart()
{
    ModalAnswerer answers;
    const std::unique_ptr<history::HistoryWindow> window = openWindow();
    QVERIFY(window);
    QTableView *sensors = window->findChild<QTableView *>("sensors");
    QTableView *runs = window->findChild<QTableView *>("runs");
    auto *chart = window->findChild<history::DriftChart *>("chart");

    for (int i = 0; i < kPicks; ++i) {
        const QModelIndex index = sensors->model()->index((i * 37) % kSensors, 0);
        sensors->setCurrentIndex(index);
        QVERIFY(historytest::loaded(window.get()));
        runs->viewport()->repaint();
        chart->viewport()->repaint();
        QCOMPARE(window->currentSerial(), index.data().toString());
        QVERIFY(runs->model()->rowCount() > 0);
        // Every run of the sensor, as many as the list says it has.
        QCOMPARE(runs->model()->rowCount(),
                 index.siblingAtColumn(history::SensorListModel::Runs).data().toInt());
        QVERIFY(chart->chart()->title().contains(index.data().toString()));
    }
}

QTEST_MAIN(HistoryScaleTest)
#include "tst_historyscale.moc"
