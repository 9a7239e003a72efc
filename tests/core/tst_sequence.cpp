// The command sequences: what each step sends, which sequence a step belongs
// to, and when the sensor holds constants that were never saved.

#include "core/sequence.h"

#include <QtTest>

using sequence::Kind;
Q_DECLARE_METATYPE(sequence::Kind)

namespace
{
sequence::Texts texts()
{
    sequence::Texts t;
    t.newSlope = "0.002500";
    t.newOffset = "-12.50000";
    t.oldSlope = "0.002875";
    t.oldOffset = "-14.37500";
    t.date = QDate(2026, 12, 7);
    return t;
}

// The bytes a whole sequence sends from its first step until the step that
// sends nothing, and the unsaved flag after each step.
QByteArray run(int first, bool unsavedBefore, QList<bool> *unsaved)
{
    QByteArray wire;
    bool flag = unsavedBefore;
    for (int step = first;; ++step) {
        const QByteArray command = sequence::command(step, texts());
        if (command.isEmpty())
            break;
        wire += command;
        flag = sequence::unsavedAfter(step, flag);
        unsaved->append(flag);
    }
    return wire;
}
} // namespace

class TestSequence : public QObject
{
    Q_OBJECT

private slots:
    void wholeSequences_data();
    void wholeSequences();
    void kinds_data();
    void kinds();
};

void TestSequence::wholeSequences_data()
{
    QTest::addColumn<int>("first");
    QTest::addColumn<bool>("unsavedBefore");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<QList<bool>>("unsaved");

    QTest::newRow("save new constants")
        << sequence::kSaveConstantsStep << true
        << QByteArray("Cslp=0.002500\rCoff=-12.50000\rcdate=12/07/26\r***e\r")
        << QList<bool>{true, true, true, false};
    QTest::newRow("save the date only")
        << sequence::kSaveDateStep << false << QByteArray("cdate=12/07/26\r***e\r")
        << QList<bool>{false, false};
    QTest::newRow("send for verification")
        << sequence::kSendForVerificationStep << false
        << QByteArray("Cslp=0.002500\rCoff=-12.50000\r") << QList<bool>{true, true};
    QTest::newRow("restore previous")
        << sequence::kRestoreStep << true << QByteArray("Cslp=0.002875\rCoff=-14.37500\r")
        << QList<bool>{true, false};
}

void TestSequence::wholeSequences()
{
    QFETCH(int, first);
    QFETCH(bool, unsavedBefore);
    QFETCH(QByteArray, wire);
    QFETCH(QList<bool>, unsaved);
    QList<bool> flags;
    QCOMPARE(run(first, unsavedBefore, &flags), wire);
    QCOMPARE(flags, unsaved);
}

void TestSequence::kinds_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<Kind>("kind");
    const QList<QPair<int, Kind>> rows = {
        {0, Kind::None},
        {2, Kind::None},
        {3, Kind::Save},
        {7, Kind::Save},
        {9, Kind::Save},
        {10, Kind::None},
        {12, Kind::None},
        {13, Kind::SendForVerification},
        {15, Kind::SendForVerification},
        {19, Kind::SendForVerification},
        {20, Kind::None},
        {23, Kind::Restore},
        {25, Kind::Restore},
        {29, Kind::Restore},
        {30, Kind::None},
    };
    for (const auto &row : rows)
        QTest::addRow("step %d", row.first) << row.first << row.second;
}

// The step that ends a sequence tells what follows: the record, the
// verification run or the end of a restore.
void TestSequence::kinds()
{
    QFETCH(int, step);
    QFETCH(Kind, kind);
    QCOMPARE(sequence::kindOf(step), kind);
}

QTEST_GUILESS_MAIN(TestSequence)
#include "tst_sequence.moc"
