// Reading calibration records back: every record the screen writes reads to
// the run it was written from; damaged files and other bytes are refused.

#include "core/history/recordreader.h"
#include "core/record.h"
#include "core/tipkind.h"
#include "tests/support/records.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStringEncoder>
#include <QtTest>

using history::Verdict;
using readings::Position;

namespace
{

struct Case {
    int tip = 0;
    bool validationRun = true;
    QLocale::Language language = QLocale::English;
    QDate date;
    QString serialLine;
    QString serial; // as the history keeps it
    QString oldSlope, oldOffset;
    QString foundHigh, foundLow;
    Verdict foundHighVerdict = Verdict::None, foundLowVerdict = Verdict::None;
    QString newSlope, newOffset;
    QString leftHigh, leftLow;
    Verdict leftHighVerdict = Verdict::None, leftLowVerdict = Verdict::None;
};

// Constants kept. The screen still shows new constants and verification
// readings of an earlier attempt: the record must not carry them.
Case kept(int tip, QLocale::Language language, QDate date, const char *serialLine,
          const char *serial, const char *oldSlope, const char *oldOffset, const char *high,
          const char *low, Verdict highVerdict = Verdict::None, Verdict lowVerdict = Verdict::None)
{
    return {tip,        true,        language, date,  serialLine,    serial,
            oldSlope,   oldOffset,   high,     low,   highVerdict,   lowVerdict,
            "0.002692", "-13.46154", "525",    "200", Verdict::None, Verdict::None};
}

Case recalibrated(Case c, const char *newSlope, const char *newOffset, const char *high,
                  const char *low, Verdict highVerdict, Verdict lowVerdict)
{
    c.validationRun = false;
    c.newSlope = newSlope;
    c.newOffset = newOffset;
    c.leftHigh = high;
    c.leftLow = low;
    c.leftHighVerdict = highVerdict;
    c.leftLowVerdict = lowVerdict;
    return c;
}

record::Inputs inputsOf(const Case &c)
{
    record::Inputs in;
    in.date = c.date;
    in.locale = QLocale(c.language);
    in.serialLine = c.serialLine;
    in.oldSlope = c.oldSlope;
    in.oldOffset = c.oldOffset;
    in.validationHigh = c.foundHigh;
    in.validationLow = c.foundLow;
    // A validation run leaves these on the screen; the record must not carry them.
    in.newSlope = c.newSlope;
    in.newOffset = c.newOffset;
    in.verificationHigh = c.leftHigh;
    in.verificationLow = c.leftLow;
    in.tip = tipKindById(c.tip);
    in.validationRun = c.validationRun;
    return in;
}

const char kChildVariable[] = "ZOLVEX_TEST_SYSTEM_LOCALE_CHILD";

} // namespace

Q_DECLARE_METATYPE(Case)

class TestRecordReader : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void monthsOfEachLocale_data();
    void monthsOfEachLocale();
    void runDate_data();
    void runDate();
    void systemLocaleComesFirst();
    void damaged_data();
    void damaged();
    void everyPrefixIsRefused();
    void randomBytesAreRefused();
    void digest();
    void lineEndsGiveOneDigest_data();
    void lineEndsGiveOneDigest();
};

void TestRecordReader::roundTrip_data()
{
    QTest::addColumn<Case>("c");
    const auto P = Verdict::Pass;
    const auto F = Verdict::Fail;
    const auto N = Verdict::None;
    const auto row = [](const char *name, const Case &c) { QTest::newRow(name) << c; };

    row("tip 1, kept, pass",
        kept(1, QLocale::English, QDate(2026, 12, 6), "serial number = 40317-20415", "40317-20415",
             " 0.002701 ", "-13.50000", "524.7", "200.4", P, P));
    row("tip 1, new constants, fail then pass",
        recalibrated(kept(1, QLocale::German, QDate(2027, 3, 1), "SERIAL NUMBER = 40317-00815",
                          "40317-00815", "0.002701", "\t-13.50000 ", "604.1", "230.2", F, F),
                     " 0.002348", "-11.73913 ", "525.3", " 199.8 ", P, P));
    row("tip 2, kept, window bounds",
        kept(2, QLocale::French, QDate(2026, 2, 28), "Serial Number =  40317-1 ", "40317-1",
             "0.002550", "-12.75000", "484.9", "245", F, P));
    row("tip 2, new constants, no validation readings",
        recalibrated(kept(2, QLocale::English, QDate(2028, 2, 29), "serial number = 40317-7",
                          "40317-7", "0.002550", "-12.75000", "", " "),
                     "0.002725", "0.00000", "545", "220", P, P));
    row("tip 3, kept, not a number and negative",
        kept(3, QLocale::Spanish, QDate(2026, 5, 31), "serial number = 77", "77", "1", "0", "abc",
             "-5", F, F));
    row("tip 3, new constants, bounds",
        recalibrated(kept(3, QLocale::Swedish, QDate(1999, 12, 31), "serial number = 9", "9",
                          "0.0001", "2", "1115", "79.99", P, F),
                     "0.0002", "-1", "995", "130.0001", P, F));
    row("no tip, kept", kept(0, QLocale::English, QDate(2026, 1, 1), "40317-99", "40317-99", "0.1",
                             "0.2", "12", ""));
    row("no tip, new constants", recalibrated(kept(0, QLocale::Italian, QDate(2026, 8, 15),
                                                   "serial number = x", "x", "", "", " 5 ", "6"),
                                              "", "", "7", "abc", N, N));
    // A sensor's reading field may hold the row's own separators.
    row("separators inside the readings",
        recalibrated(kept(2, QLocale::English, QDate(2026, 6, 6), "serial number = s", "s", "1",
                          "2", "1  \t2", "3  \t\t 4", F, F),
                     "5", "6", "inf", "nan", F, F));
    row("exponents and signs",
        recalibrated(kept(1, QLocale::Dutch, QDate(2026, 10, 3), "serial number = s", "s", "+1e-3",
                          "-0", "5.25e2", "+200", P, P),
                     "1E3", ".5", "-525", "2e2", F, P));
    // Not Latin-1: read from the system's encoding only.
    row("Polish month, accented serial",
        kept(1, QLocale::Polish, QDate(2026, 10, 9), "serial number = ŁÓDŹ-1", "ŁÓDŹ-1", "1", "2",
             "525", "200", P, P));
}

void TestRecordReader::roundTrip()
{
    QFETCH(Case, c);
    const record::Inputs in = inputsOf(c);
    const QString text = record::text(in);
    QList<QByteArray> encodings{testrecords::fileBytes(in)};
    if (QString::fromLatin1(text.toLatin1()) == text)
        encodings.append(text.toLatin1());

    const TipKind *tip = tipKindById(c.tip);
    const auto check = [tip](const history::Reading &r, Position position, const QString &input,
                             Verdict verdict) {
        QCOMPARE(r.text, input.trimmed());
        QCOMPARE(r.value, input.trimmed().toDouble());
        QCOMPARE(r.verdict, verdict);
        // Judged against the tip's window when there is a reading and a tip.
        Window<double> window{0, 0};
        if (tip && !r.text.isEmpty())
            window = position == Position::High ? tip->highWindow : tip->lowWindow;
        QCOMPARE(r.windowLow, window.low);
        QCOMPARE(r.windowHigh, window.high);
    };

    for (const QByteArray &bytes : encodings) {
        const QString path = QStringLiteral("/records/%1.txt").arg(QTest::currentDataTag());
        const history::RecordReading reading = history::readRecord(bytes, path);
        QVERIFY2(reading.ok, qPrintable(reading.error));
        QVERIFY(reading.error.isEmpty());
        const history::Run &run = reading.run;
        QCOMPARE(run.source, history::Source::Import);
        QCOMPARE(run.recordDigest, history::recordDigest(bytes));
        QCOMPARE(run.key, QStringLiteral("record:") + history::recordDigest(bytes));
        QCOMPARE(run.recordPath, path);
        // A date, not a time: placed at the start of that day where it is read.
        QCOMPARE(run.date, c.date);
        QCOMPARE(run.started, c.date.startOfDay(Qt::LocalTime).toUTC());
        QCOMPARE(run.ended, run.started);
        QVERIFY(run.station.isEmpty() && run.sensorType.isEmpty() && run.firmware.isEmpty() &&
                run.range.isEmpty() && !run.meanCounts && run.outcomeDetail.isEmpty());
        QCOMPARE(run.serialNumber, c.serial);
        QCOMPARE(run.tipKind, c.tip);
        QCOMPARE(run.unit, tip ? QString(tip->unit) : QString());
        QCOMPARE(run.oldSlope, c.oldSlope.trimmed());
        QCOMPARE(run.oldOffset, c.oldOffset.trimmed());
        check(run.foundHigh, Position::High, c.foundHigh, c.foundHighVerdict);
        check(run.foundLow, Position::Low, c.foundLow, c.foundLowVerdict);
        if (QTest::currentTestFailed())
            return;
        if (c.validationRun) {
            QCOMPARE(run.outcome, history::Outcome::ValidatedDateSet);
            QVERIFY(run.newSlope.isEmpty() && run.newOffset.isEmpty());
            QVERIFY(!run.leftHigh.taken() && !run.leftLow.taken());
        } else {
            QCOMPARE(run.outcome, history::Outcome::Recalibrated);
            QCOMPARE(run.newSlope, c.newSlope.trimmed());
            QCOMPARE(run.newOffset, c.newOffset.trimmed());
            check(run.leftHigh, Position::High, c.leftHigh, c.leftHighVerdict);
            check(run.leftLow, Position::Low, c.leftLow, c.leftLowVerdict);
        }
        if (QTest::currentTestFailed())
            return;
    }
}

void TestRecordReader::monthsOfEachLocale_data()
{
    QTest::addColumn<QLocale::Language>("language");
    for (const QLocale::Language language :
         {QLocale::C, QLocale::English, QLocale::German, QLocale::French, QLocale::Spanish,
          QLocale::Italian, QLocale::Dutch, QLocale::Portuguese, QLocale::Swedish, QLocale::Danish,
          QLocale::NorwegianBokmal, QLocale::Finnish, QLocale::Polish, QLocale::Czech})
        QTest::newRow(qPrintable(QLocale::languageToString(language))) << language;
}

void TestRecordReader::monthsOfEachLocale()
{
    QFETCH(QLocale::Language, language);
    for (int month = 1; month <= 12; ++month) {
        record::Inputs in;
        in.date = QDate(2026, month, month + 10);
        in.locale = QLocale(language);
        const history::RecordReading reading = history::readRecord(testrecords::fileBytes(in));
        QVERIFY2(reading.ok, qPrintable(record::runDate(in.date, in.locale) + reading.error));
        QCOMPARE(reading.run.date, in.date);
    }
}

void TestRecordReader::runDate_data()
{
    QTest::addColumn<QString>("date");
    QTest::addColumn<QDate>("expected"); // invalid: refused

    // Abbreviations of other locale data than this Qt's, standing alone or without their stop.
    QTest::newRow("English") << "06/Dec/2026" << QDate(2026, 12, 6);
    QTest::newRow("German, standing alone") << "01/Mär/2027" << QDate(2027, 3, 1);
    QTest::newRow("German, no stop") << "24/Dez/2026" << QDate(2026, 12, 24);
    QTest::newRow("French, no stop") << "24/déc/2026" << QDate(2026, 12, 24);
    QTest::newRow("one-digit day") << "6/Dec/2026" << QDate();
    QTest::newRow("two-digit year") << "06/Dec/26" << QDate();
    QTest::newRow("misspelt month") << "06/Dce/2026" << QDate();
    QTest::newRow("no such day") << "30/Feb/2026" << QDate();
    QTest::newRow("dashes") << "06-Dec-2026" << QDate();
    QTest::newRow("nothing") << "" << QDate();
}

void TestRecordReader::runDate()
{
    QFETCH(QString, date);
    QFETCH(QDate, expected);
    record::Inputs in;
    in.date = QDate(2026, 12, 6);
    in.locale = QLocale(QLocale::English);
    QString text = record::text(in);
    text.replace(QStringLiteral("06/Dec/2026"), date);
    const history::RecordReading reading = history::readRecord(text.toUtf8());
    QCOMPARE(reading.ok, expected.isValid());
    if (expected.isValid())
        QCOMPARE(reading.run.date, expected);
    else
        QVERIFY2(reading.error.contains(QStringLiteral("run date")), qPrintable(reading.error));
}

// Croatian "lis" is October, Polish "lis" November: the writing system's
// locale must win over the fallbacks. The system locale is fixed at start,
// so this runs again in a child process with a Croatian environment.
void TestRecordReader::systemLocaleComesFirst()
{
    if (qEnvironmentVariableIsSet(kChildVariable)) {
        QCOMPARE(QLocale::system().language(), QLocale::Croatian);
        record::Inputs in;
        in.date = QDate(2026, 10, 6);
        in.locale = QLocale::system();
        QVERIFY(record::text(in).contains(QStringLiteral("06/lis/2026")));
        const history::RecordReading reading = history::readRecord(testrecords::fileBytes(in));
        QVERIFY2(reading.ok, qPrintable(reading.error));
        QCOMPARE(reading.run.date, in.date);
        return;
    }
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QLatin1String(kChildVariable), QStringLiteral("1"));
    environment.insert(QStringLiteral("LC_ALL"), QStringLiteral("hr_HR.UTF-8"));
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QCoreApplication::applicationFilePath(), {QTest::currentTestFunction()});
    QVERIFY(child.waitForFinished(60000));
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             child.readAll().constData());
}

void TestRecordReader::damaged_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("error"); // empty: read

    record::Inputs in = inputsOf(
        recalibrated(kept(2, QLocale::English, QDate(2026, 12, 6), "serial number = 40317-00815",
                          "", "0.002550", "-12.75000", "600.2", "219"),
                     "0.002725", "0.00000", "545", "219.5", Verdict::None, Verdict::None));
    const QByteArray good = testrecords::fileBytes(in);
    in.tip = tipKindById(3);
    const QList<QByteArray> otherTip = testrecords::fileBytes(in).split('\n');
    const auto edited = [&good](const char *from, const char *to) {
        QByteArray bytes = good;
        Q_ASSERT(bytes.count(from) == 1);
        return bytes.replace(from, to);
    };
    const auto row = [](const char *name, const QByteArray &bytes, const char *error) {
        QTest::newRow(name) << bytes << QString(error);
    };

    // What a person or a tool may do without changing the meaning.
    row("as written", good, "");
    row("CR LF after the last line", good + "\r\n", "");
    row("LF after the last line", good + "\n", "");
    row("every CR removed", QByteArray(good).replace("\r", ""), "");
    row("CR LF made LF, the date's own CR kept", QByteArray(good).replace("\r\n", "\n"), "");
    row("byte-order mark", "\xEF\xBB\xBF" + good, "");

    row("two line ends after the last line", good + "\r\n\r\n", "text after the end");
    row("one line end made LF", edited("cslp=0.002550\r\n", "cslp=0.002550\n"),
        "line 10 ends in a bare line feed");
    row("stray CR", edited("coff=-12.75000", "coff=-12.75\r000"), "stray carriage return");
    row("High DELTA of the validation", edited("600.2  \t\t -55.2", "600.2  \t\t -55.3"),
        "DELTA of the High row of the validation values (line 15)");
    row("Low DELTA of the verification", edited("219.5  \t\t 0.5", "219.5  \t\t 0"),
        "DELTA of the Low row of the verification values (line 25)");
    row("unit of another tip", edited("Validation Values (pS/cm)", "Validation Values (pS/m)"),
        "match no verification tip");
    row("standard of another tip",
        edited("High\t   545  \t600.2  \t\t -55.2", "High\t   525  \t600.2  \t\t -75.2"),
        "match no verification tip");
    row("unknown unit with standards",
        edited("Verification Values (pS/cm)", "Verification Values (unknown)"),
        "match no verification tip");
    QList<QByteArray> spliced = good.split('\n');
    for (int i = 21; i <= 24; ++i)
        spliced[i] = otherTip.at(i);
    row("verification of another tip", spliced.join('\n'), "another tip");
    row("blank before a reading", edited("\t600.2  ", "\t 600.2  "), "line 15 should read");
    row("row cut short", edited("High\t   545  \t600.2  \t\t -55.2", "High\t   545  \t600.2"),
        "High row of the validation values is incomplete");
    row("maker changed", edited("Orvane Incorporated", "Orvane Inc"), "not a calibration record");
    row("no run date line", edited("Verification Software Run Date:", "Run Date:"),
        "no 'Verification Software Run Date' line");
    row("kind line changed", edited("New Constants", "Newer Constants"), "line 18 should read");
    row("disclaimer edited", edited("electronic accuracy", "accuracy"), "line 29 should read");
    QByteArray withNul = good;
    withNul[withNul.indexOf("40317")] = '\0';
    row("NUL byte", withNul, "binary");
    row("empty", QByteArray(), "empty");
    row("too large", good + QByteArray(history::kMaxRecordSize, ' '), "too large");
    row("a text file", "Dear operator,\r\nplease calibrate.\r\n", "not a calibration record");
}

void TestRecordReader::damaged()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, error);
    const history::RecordReading reading = history::readRecord(bytes);
    if (error.isEmpty()) {
        QVERIFY2(reading.ok, qPrintable(reading.error));
        QCOMPARE(reading.run.foundHigh.text, QStringLiteral("600.2"));
        QCOMPARE(reading.run.leftLow.text, QStringLiteral("219.5"));
    } else {
        QVERIFY(!reading.ok);
        QVERIFY2(reading.error.contains(error), qPrintable(reading.error));
    }
}

// Truncated anywhere, a record of any kind and tip is refused, with a reason.
void TestRecordReader::everyPrefixIsRefused()
{
    for (int tip = 0; tip <= 3; ++tip) {
        for (const bool validationRun : {true, false}) {
            Case c = kept(tip, QLocale::German, QDate(2026, 3, 6), "serial number = 1", "", "1",
                          "2", "500", "200");
            if (!validationRun)
                c = recalibrated(c, "3", "4", "501", "201", Verdict::None, Verdict::None);
            const record::Inputs in = inputsOf(c);
            const QByteArray bytes = testrecords::fileBytes(in);
            QVERIFY(history::readRecord(bytes).ok);
            for (qsizetype size = 0; size < bytes.size(); ++size) {
                const history::RecordReading reading = history::readRecord(bytes.left(size));
                if (reading.ok || reading.error.isEmpty())
                    QFAIL(qPrintable(QStringLiteral("tip %1, %2 bytes of %3 read")
                                         .arg(tip)
                                         .arg(size)
                                         .arg(bytes.size())));
            }
        }
    }
}

void TestRecordReader::randomBytesAreRefused()
{
    QRandomGenerator random(20261207);
    for (int i = 0; i < 200; ++i) {
        QByteArray bytes(random.bounded(1, 4000), Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(random.bounded(256));
        const history::RecordReading reading = history::readRecord(bytes);
        QVERIFY(!reading.ok && !reading.error.isEmpty());
    }
}

void TestRecordReader::digest()
{
    QCOMPARE(history::recordDigest("abc"),
             QStringLiteral("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    QCOMPARE(history::recordDigest(QByteArray()),
             QStringLiteral("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    // Every carriage return is dropped first; the raw digest keeps them.
    QCOMPARE(history::recordDigest("a\r\nb"), history::rawRecordDigest("a\nb"));
    QCOMPARE(history::recordDigest("a\r\r\nb\r"), history::rawRecordDigest("a\nb"));
    QCOMPARE(history::rawRecordDigest("a\nb"),
             QStringLiteral("7e18f737311b2dc3b2f269dd78396b0351f14fb66efa879f768cb23181883c78"));
    QVERIFY(history::rawRecordDigest("a\r\nb") != history::rawRecordDigest("a\nb"));
}

void TestRecordReader::lineEndsGiveOneDigest_data()
{
    QTest::addColumn<QByteArray>("copy");
    QTest::addColumn<bool>("readable");

    const QByteArray crlf = testrecords::fileBytes(
        inputsOf(kept(1, QLocale::English, QDate(2026, 2, 3), "serial number = 40317-20415",
                      "40317-20415", "0.002701", "-13.50000", "524.7", "200.4")));
    QVERIFY(crlf.contains("\r\r\n")); // the run date's own carriage return
    QByteArray lf = crlf;
    lf.replace("\r\n", "\n"); // as dos2unix leaves it: the date keeps its CR
    QByteArray noCr = crlf;
    noCr.replace('\r', QByteArray());
    QByteArray crcrlf = crlf;
    crcrlf.replace("\r\n", "\r\r\n"); // CR LF written again through a text-mode copy

    QTest::newRow("CR LF, as written") << crlf << true;
    QTest::newRow("LF") << lf << true;
    QTest::newRow("LF, no CR at all") << noCr << true;
    QTest::newRow("LF and a final line end") << lf + "\n" << true;
    QTest::newRow("CR LF and a final line end") << crlf + "\r\n" << true;
    QTest::newRow("CR CR LF") << crcrlf << false;
}

// Copies of one record whose line ends differ are one record: one digest,
// and each copy is known by the raw digest an older history kept of the
// record as written.
void TestRecordReader::lineEndsGiveOneDigest()
{
    QFETCH(QByteArray, copy);
    QFETCH(bool, readable);
    const QByteArray original = testrecords::fileBytes(
        inputsOf(kept(1, QLocale::English, QDate(2026, 2, 3), "serial number = 40317-20415",
                      "40317-20415", "0.002701", "-13.50000", "524.7", "200.4")));
    QCOMPARE(history::recordDigest(copy), history::recordDigest(original));
    const QStringList known = history::knownDigests(copy);
    QCOMPARE(known.first(), history::recordDigest(original));
    QVERIFY(known.contains(history::rawRecordDigest(copy)));
    QVERIFY(known.contains(history::rawRecordDigest(original)));
    QCOMPARE(known.size(), QSet<QString>(known.begin(), known.end()).size());

    const history::RecordReading reading = history::readRecord(copy);
    QCOMPARE(reading.ok, readable);
    if (readable) {
        QCOMPARE(reading.run.recordDigest, history::recordDigest(original));
        QCOMPARE(reading.run.key, "record:" + history::recordDigest(original));
    }

    // Another record is another digest, whatever its line ends.
    QByteArray other = copy;
    other.replace("524.7", "524.8");
    QVERIFY(history::recordDigest(other) != history::recordDigest(original));
    for (const QString &digest : history::knownDigests(other))
        QVERIFY(!known.contains(digest));
}

QTEST_GUILESS_MAIN(TestRecordReader)
#include "tst_recordreader.moc"
