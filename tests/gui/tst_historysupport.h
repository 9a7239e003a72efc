#pragma once

// What the history window suites share: a history of their own in a real
// SQLite file, and runs built field by field (no product function judges
// their readings, so the suites check the window against known verdicts).

#include "core/history/location.h"
#include "core/history/run.h"
#include "core/history/store.h"

#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>
#include <QTextDocument>

#include <memory>

namespace historytest
{

// The windows of tip 1 (pS/m), as a person reads them off the tip's label.
inline constexpr double kHighLow = 465;
inline constexpr double kHighHigh = 585;
inline constexpr double kLowLow = 175;
inline constexpr double kLowHigh = 225;

inline history::Reading reading(const QString &text, double low, double high)
{
    history::Reading r;
    r.text = text;
    r.value = text.toDouble();
    r.windowLow = low;
    r.windowHigh = high;
    r.verdict = r.value >= low && r.value <= high ? history::Verdict::Pass : history::Verdict::Fail;
    return r;
}
inline history::Reading high(const QString &text)
{
    return reading(text, kHighLow, kHighHigh);
}
inline history::Reading low(const QString &text)
{
    return reading(text, kLowLow, kLowHigh);
}

// Noon UTC, so that the local date is the same in any time zone a few hours
// either side.
inline QDateTime noon(const QDate &date)
{
    return QDateTime(date, QTime(12, 0), Qt::UTC);
}

// A finished validation of a tip-1 sensor.
inline history::Run validation(const QString &serial, const QDate &date, const QString &highText,
                               const QString &lowText, const QString &slope = "0.002500",
                               const QString &offset = "-12.50000")
{
    history::Run run;
    run.key = QStringLiteral("run-%1-%2").arg(serial, date.toString(Qt::ISODate));
    run.revision = 2;
    run.started = noon(date);
    run.ended = run.started.addSecs(600);
    run.station = QStringLiteral("bench-1");
    run.sensorType = QStringLiteral("RT-5K-MQ");
    run.serialNumber = serial;
    run.firmware = QStringLiteral("Version 2.12");
    run.range = QStringLiteral("2000");
    run.tipKind = 1;
    run.unit = QStringLiteral("pS/m");
    run.oldSlope = slope;
    run.oldOffset = offset;
    run.foundHigh = high(highText);
    run.foundLow = low(lowText);
    run.outcome = history::Outcome::ValidatedDateSet;
    return run;
}

// The same run, then new constants saved and verified.
inline history::Run recalibration(history::Run run, const QString &newSlope,
                                  const QString &newOffset, const QString &leftHigh,
                                  const QString &leftLow)
{
    run.newSlope = newSlope;
    run.newOffset = newOffset;
    run.meanCounts = 210000;
    run.leftHigh = high(leftHigh);
    run.leftLow = low(leftLow);
    run.outcome = history::Outcome::Recalibrated;
    return run;
}

// A serial number that is markup: shown as markup, it would read "ALL PASS".
inline const QString kMarkupSerial =
    QStringLiteral("4711 <font color=\"green\" size=\"6\"><b>ALL PASS</b></font>");

// What a person reads in a tooltip (markup when it might be markup, as
// QToolTip decides) or in text drawn as markup (a chart's title).
inline QString readAsMarkup(const QString &html)
{
    QTextDocument document;
    document.setHtml(html);
    return document.toPlainText();
}
inline QString readToolTip(const QString &tip)
{
    return Qt::mightBeRichText(tip) ? readAsMarkup(tip) : tip;
}

// The window's reads have come back and what they read is shown; false
// when they have not within the timeout.
// (A template: suites without widgets share this header.)
template <typename HistoryWindow> bool loaded(const HistoryWindow *window, int timeoutMs = 20000)
{
    return QTest::qWaitFor([window] { return !window->isReading(); }, timeoutMs);
}

// A history in a fresh SQLite file of the test's own.
class TempHistory
{
public:
    TempHistory()
    {
        location_.kind = history::Location::Kind::SQLite;
        location_.path = dir_.filePath(QStringLiteral("history.sqlite"));
        store_ = std::make_unique<history::Store>(location_);
        ok_ = dir_.isValid() && store_->open(&error_);
    }
    bool ok() const { return ok_; }
    QString error() const { return error_; }
    history::Location location() const { return location_; }
    history::Store &store() { return *store_; }
    QString folder() const { return dir_.path(); }
    QString pendingFolder() const { return dir_.filePath(QStringLiteral("pending")); }

    // False with the reason in error().
    bool write(const QList<history::Run> &runs)
    {
        for (const history::Run &run : runs) {
            if (!store_->write(run, &error_))
                return false;
        }
        return true;
    }

private:
    QTemporaryDir dir_;
    history::Location location_;
    std::unique_ptr<history::Store> store_;
    QString error_;
    bool ok_ = false;
};

} // namespace historytest
