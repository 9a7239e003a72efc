// The calibration procedure itself, driven as the screen drives it: bytes from
// the sensor, the 1 s and 5 s timers, the operator's answers, a lost link and
// closing the screen. On every input it checks what matters most:
//  - the sensor gets new constants only after the operator chose to change
//    them, and the date and the save command only after the operator chose to
//    save (a click, never Escape);
//  - the screen never closes with new constants in the sensor, neither saved
//    nor put back, unless the link was lost and the run's end said so.
// The sensor's constants are followed from the bytes on the wire, not from
// the procedure's own flags. Each listing the procedure reads is also parsed
// a second way, by byte loops.
//
// Input: two streams. Events come from the front, an opcode byte each (modulo
// kEventKinds):
//   0 bytes    a length byte n, then n bytes from the sensor
//   1 ticks    a count byte c: up to c + 1 ticks of the 1 s timer while it runs
//   2 sends    a count byte c: up to c + 1 ticks of the 5 s timer while it runs
//   3 lost     the port fails
//   4 close    the operator closes the screen
//   5 fail     the next write fails
//   6 connect  Connect is pressed again (only until the listing is accepted)
// Answers come from the back, one byte per prompt. With kUnderPrompt set, one
// event happens while the prompt is open (the timers keep running under it)
// and the next answer byte is read. Otherwise the byte modulo (buttons + 2)
// picks an offered button in Button order, Escape, or the link lost while the
// prompt is open. Escape that answers nothing leaves the prompt open. Out of
// answers, Escape answers where it does, else the first button. Once the
// input is used up the operator closes the screen.
//
// ZOLVEX_FUZZ_TRACE=1 prints the prompts, answers, writes and ends. The seeds
// in corpus/fuzz_receive/ come from seeds/fuzz_receive_seeds.py.

#include "core/listing.h"
#include "core/procedure.h"
#include "core/protocol.h"
#include "core/sequence.h"
#include "core/tipkind.h"
#include "fuzz/fuzzcheck.h"

#include <QByteArray>
#include <QDate>
#include <QList>
#include <QLoggingCategory>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <utility>

using procedure::Answer;
using procedure::Button;
using procedure::Buttons;
using procedure::Escape;
using procedure::Timer;

namespace
{

enum Event { Bytes, Ticks, Sends, Lost, Close, Fail, Connect, kEventKinds };
constexpr uint8_t kUnderPrompt = 0x80;
// Prompts within prompts, through events under them.
constexpr int kMaxNesting = 3;
// Timer ticks after the last event, for a restore before closing to finish.
constexpr int kSendsToClose = 64;

const char kPortName[] = "ttyFUZZ0";
const char kLostReason[] = "fuzzed port failure";
const char kTraceVariable[] = "ZOLVEX_FUZZ_TRACE";

// The buttons a prompt offers, in Button order.
constexpr Button kButtonOrder[] = {Button::Ok,    Button::Save,  Button::Yes,   Button::No,
                                   Button::Abort, Button::Retry, Button::Cancel};

bool tracing = false;

// Written out again rather than taken from the core, so a changed rule shows.
constexpr double kOldestAcceptedFirmware = 2.12;
constexpr int kLastTipId = 3;

constexpr char kLineFeed = '\n';
constexpr char kReturn = '\r';

QByteArray withoutReturns(const QByteArray &bytes)
{
    QByteArray kept;
    for (char c : bytes) {
        if (c != kReturn)
            kept.append(c);
    }
    return kept;
}

QByteArray withoutLeadingLineFeeds(const QByteArray &bytes)
{
    qsizetype start = 0;
    while (start < bytes.size() && bytes[start] == kLineFeed)
        ++start;
    return bytes.mid(start);
}

// The pieces between line feeds; the last is the unfinished tail.
QList<QByteArray> pieces(const QByteArray &bytes)
{
    QList<QByteArray> result(1);
    for (char c : bytes) {
        if (c == kLineFeed)
            result.append(QByteArray());
        else
            result.last().append(c);
    }
    return result;
}

// 8-bit text up to the first NUL byte.
QString upToNul(const QByteArray &bytes)
{
    QString text;
    for (char c : bytes) {
        if (c == '\0')
            break;
        text.append(QChar(uchar(c)));
    }
    return text;
}

// The line with every occurrence of needle taken out, left to right.
QString withoutEvery(const QString &line, const char *needle, Qt::CaseSensitivity cs)
{
    const QString n = QLatin1String(needle);
    QString kept;
    qsizetype at = 0;
    for (qsizetype hit = line.indexOf(n, 0, cs); hit >= 0; hit = line.indexOf(n, at, cs)) {
        kept += line.mid(at, hit - at);
        at = hit + n.size();
    }
    return kept + line.mid(at);
}

// -1 without "Version" (case-sensitive); else the rest after taking out every
// "Version " (any case) as a finite number, or 0.
double expectedFirmware(const QString &versionLine)
{
    if (!versionLine.contains(QLatin1String("Version"), Qt::CaseSensitive))
        return -1;
    bool ok = false;
    const double number = withoutEvery(versionLine, "Version ", Qt::CaseInsensitive).toDouble(&ok);
    return ok && std::isfinite(number) ? number : 0;
}

// The one table entry whose "-CM" flag and range fit the listing; 0 for none.
int expectedTipId(const QString &typeLine, const QString &rangeLine)
{
    const bool centimetre = typeLine.contains(QLatin1String("-CM"), Qt::CaseSensitive);
    const QString range = withoutEvery(rangeLine, "Maximum Conductivity = ", Qt::CaseSensitive);
    int found = kNoTipKind;
    for (int id = 1; id <= kLastTipId; ++id) {
        const TipKind *tip = tipKindById(id);
        FUZZ_CHECK(tip != nullptr && tip->id == id);
        if (tip->centimetreModel == centimetre && range == QLatin1String(tip->maxConductivity)) {
            FUZZ_CHECK(found == kNoTipKind); // no two tips for one sensor
            found = id;
        }
    }
    return found;
}

// The listing the procedure just read, split and judged a second way; the
// reading it reported must be the same.
void checkListing(const QByteArray &received, const listing::Reading &reported)
{
    QByteArray buffer = received;
    int segments = -1;
    const protocol::ReplyLines lines = listing::replyLines(buffer, &segments);

    FUZZ_CHECK(buffer == withoutLeadingLineFeeds(withoutReturns(received)));
    // The marker holds no carriage return and starts with no line feed.
    FUZZ_CHECK(buffer.contains(protocol::kListingEnd));
    const QList<QByteArray> parts = pieces(buffer);
    FUZZ_CHECK(segments == parts.size());
    for (int i = 0; i < protocol::kReplyLineCount; ++i) {
        const QString expected = i < parts.size() - 1 ? upToNul(parts[i]) : QString();
        FUZZ_CHECK(lines[size_t(i)] == expected);
    }

    const listing::Reading reading = listing::read(lines);
    const listing::Properties &p = reading.properties;
    FUZZ_CHECK(p.type == lines[protocol::kTypeLine]);
    FUZZ_CHECK(p.version == lines[protocol::kVersionLine]);
    FUZZ_CHECK(p.serialNumber ==
               withoutEvery(lines[protocol::kSerialLine], "serial number = ", Qt::CaseInsensitive));
    FUZZ_CHECK(p.slope ==
               withoutEvery(lines[protocol::kSlopeLine], "Cslope = ", Qt::CaseInsensitive));
    FUZZ_CHECK(p.offset ==
               withoutEvery(lines[protocol::kOffsetLine], "Coffset = ", Qt::CaseInsensitive));
    FUZZ_CHECK(p.range == withoutEvery(lines[protocol::kRangeLine],
                                       "Maximum Conductivity = ", Qt::CaseSensitive));

    const double firmware = expectedFirmware(lines[protocol::kVersionLine]);
    FUZZ_CHECK(reading.firmware == firmware);
    FUZZ_CHECK((reading.verdict == listing::Verdict::Unreadable) == (firmware <= 0));
    FUZZ_CHECK((reading.verdict == listing::Verdict::FirmwareTooOld) ==
               (firmware > 0 && firmware < kOldestAcceptedFirmware));
    if (reading.verdict != listing::Verdict::Accepted)
        FUZZ_CHECK(reading.tipKind == kNoTipKind);
    if (firmware >= kOldestAcceptedFirmware) {
        const int id = expectedTipId(lines[protocol::kTypeLine], lines[protocol::kRangeLine]);
        FUZZ_CHECK(reading.verdict ==
                   (id == kNoTipKind ? listing::Verdict::UnknownTip : listing::Verdict::Accepted));
        FUZZ_CHECK(reading.tipKind == id);
    }
    if (reading.verdict == listing::Verdict::Accepted) {
        const TipKind *tip = tipKindById(reading.tipKind);
        FUZZ_CHECK(tip != nullptr);
        FUZZ_CHECK(tip->centimetreModel ==
                   p.type.contains(QLatin1String("-CM"), Qt::CaseSensitive));
        FUZZ_CHECK(p.range == QLatin1String(tip->maxConductivity));
    }

    const listing::Properties &r = reported.properties;
    FUZZ_CHECK(reported.verdict == reading.verdict);
    FUZZ_CHECK(reported.tipKind == reading.tipKind);
    FUZZ_CHECK(reported.firmware == firmware);
    FUZZ_CHECK(r.type == p.type && r.version == p.version && r.serialNumber == p.serialNumber &&
               r.slope == p.slope && r.offset == p.offset && r.range == p.range);
}

// An invariant about the sensor: says which and shows the command.
void require(bool condition, const char *what, const QByteArray &command)
{
    if (condition)
        return;
    std::fprintf(stderr, "safety broken: %s (command \"%s\")\n", what,
                 command.toPercentEncoding().constData());
    std::abort();
}

// Front and back of one input.
class Input
{
public:
    Input(const uint8_t *data, size_t size) : data_(data), back_(size) {}

    bool empty() const { return front_ >= back_; }
    uint8_t next() { return data_[front_++]; }
    uint8_t answer() { return data_[--back_]; }
    QByteArray take(size_t count)
    {
        count = std::min(count, back_ - front_);
        const QByteArray bytes(reinterpret_cast<const char *>(data_ + front_), qsizetype(count));
        front_ += count;
        return bytes;
    }

private:
    const uint8_t *data_;
    size_t front_ = 0;
    size_t back_;
};

// What a prompt offers the operator.
enum class Offer { Other, Change, SaveDate };

// What a command does to the sensor.
enum class Effect { Query, Restore, NewConstants, Date, Save, Unknown };

// The screen around the procedure, the port and the sensor behind it, and the
// operator: each answer is remembered with the prompt it answered.
class Screen : public procedure::Asker, public procedure::Port, public procedure::Clock
{
public:
    explicit Screen(Input &input) : input_(input), model_(*this, *this, *this)
    {
        QObject::connect(&model_, &Procedure::identified,
                         [this](const listing::Reading &r) { identified(r); });
        QObject::connect(&model_, &Procedure::connectionFixed, [this] { fixed_ = true; });
        QObject::connect(
            &model_, &Procedure::ended,
            [this](history::Outcome outcome, const QString &detail) { ended(outcome, detail); });
        QObject::connect(&model_, &Procedure::closeRequested, [this] { done(); });
    }

    void run()
    {
        model_.start(QLatin1String(kPortName));
        while (!input_.empty() && !closed_)
            event(false);
        if (!closed_) {
            done();
            for (int i = 0; i < kSendsToClose && !closed_ && active_[int(Timer::Send)]; ++i)
                model_.sendTick();
        }
        FUZZ_CHECK(closed_); // the screen can always be closed
    }

    // --- The operator ---------------------------------------------------------

    Answer ask(const procedure::Prompt &prompt) override
    {
        // The two Yes/No prompts come one after the other: the first offers
        // to change the constants (No), the second to set the date and save
        // (Yes). Known by their place, not by what Escape answers there.
        const bool yesOrNo = prompt.buttons == (Button::Yes | Button::No);
        yesNoInARow_ = yesOrNo ? yesNoInARow_ + 1 : 0;
        const Offer offer = !yesOrNo            ? Offer::Other
                            : yesNoInARow_ == 1 ? Offer::Change
                            : yesNoInARow_ == 2 ? Offer::SaveDate
                                                : Offer::Other;
        QList<Button> offered;
        const Buttons buttons =
            prompt.buttons == Button::None ? Buttons(Button::Ok) : prompt.buttons;
        for (Button b : kButtonOrder) {
            if (buttons.testFlag(b))
                offered << b;
        }
        if (tracing)
            std::fprintf(stderr, "prompt: %s\n", qPrintable(prompt.title));
        const int choices = int(offered.size()) + 2;
        while (!input_.empty()) {
            const uint8_t byte = input_.answer();
            if (byte & kUnderPrompt) {
                if (nesting_ < kMaxNesting) {
                    ++nesting_;
                    event(true);
                    --nesting_;
                }
                continue;
            }
            const int choice = byte % choices;
            if (choice < offered.size())
                return click(prompt, offer, offered[choice]);
            if (choice == offered.size()) {
                if (const std::optional<Button> escaped = escapeAnswer(prompt, buttons)) {
                    trace("escape", *escaped);
                    return *escaped;
                }
                continue; // the prompt stays open
            }
            if (loseLink())
                return std::nullopt;
        }
        if (const std::optional<Button> escaped = escapeAnswer(prompt, buttons)) {
            trace("escape", *escaped);
            return *escaped;
        }
        return click(prompt, offer, offered.first());
    }

    // --- The port ---------------------------------------------------------------

    bool write(const QByteArray &bytes) override
    {
        if (!usable())
            return false;
        if (failNextWrite_) {
            failNextWrite_ = false;
            model_.linkLost(QLatin1String(kLostReason), QLatin1String(kLostReason));
            return false;
        }
        if (tracing)
            std::fprintf(stderr, "write: %s\n", bytes.toPercentEncoding().constData());
        if (bytes == protocol::kReadConstantsCommand)
            received_.clear(); // the listing comes after this
        sensorReceives(bytes);
        return true;
    }
    bool usable() const override { return open_ && !model_.isLinkLost(); }
    void release(bool) override { open_ = false; }

    // --- The timers -------------------------------------------------------------

    void start(Timer timer, int) override { active_[int(timer)] = true; }
    void stop(Timer timer) override { active_[int(timer)] = false; }
    bool isActive(Timer timer) const override { return active_[int(timer)]; }

private:
    void trace(const char *how, Button button) const
    {
        if (tracing)
            std::fprintf(stderr, "  %s: %u\n", how, unsigned(button));
    }

    // What the operator chose, by the prompt that offered it.
    Button click(const procedure::Prompt &prompt, Offer offer, Button button)
    {
        trace("click", button);
        const bool saveOrAbort = prompt.buttons.testFlag(Button::Save);
        if (offer == Offer::Change && button == Button::No)
            changeChosen_ = true;
        if (offer == Offer::SaveDate && button == Button::Yes)
            saveChosen_ = true;
        if (saveOrAbort && button == Button::Save)
            saveChosen_ = true;
        // Abort puts the previous constants back: the new ones are refused.
        if (saveOrAbort && button == Button::Abort)
            changeChosen_ = false;
        return button;
    }

    // What Escape answers, as the toolkit decides it: the Cancel button, the
    // only button, the one rejecting button (Abort), the one No button.
    static std::optional<Button> escapeAnswer(const procedure::Prompt &prompt, Buttons buttons)
    {
        switch (prompt.escape) {
        case Escape::AnswersYes:
            return buttons.testFlag(Button::Yes) ? std::optional<Button>(Button::Yes)
                                                 : std::nullopt;
        case Escape::Ignored:
            return std::nullopt;
        case Escape::Default:
            break;
        }
        if (buttons.testFlag(Button::Cancel))
            return Button::Cancel;
        for (Button b : kButtonOrder) {
            if (buttons == b)
                return b;
        }
        if (buttons.testFlag(Button::Abort))
            return Button::Abort;
        if (buttons.testFlag(Button::No))
            return Button::No;
        return std::nullopt;
    }

    // --- Events -----------------------------------------------------------------

    // One event from the front; under a prompt only what can happen there.
    void event(bool underPrompt)
    {
        switch (Event(input_.next() % kEventKinds)) {
        case Bytes: {
            const size_t length = input_.empty() ? 0 : input_.next();
            pending_ += input_.take(length);
            deliver();
            break;
        }
        case Ticks: {
            const int count = input_.empty() ? 1 : input_.next() + 1;
            for (int i = 0; i < count && !closed_ && active_[int(Timer::Tick)]; ++i)
                model_.tick();
            break;
        }
        case Sends: {
            const int count = input_.empty() ? 1 : input_.next() + 1;
            for (int i = 0; i < count && !closed_ && active_[int(Timer::Send)]; ++i)
                model_.sendTick();
            break;
        }
        case Lost:
            loseLink();
            break;
        case Close:
            // The prompts are modal: the screen cannot be closed under one.
            if (!underPrompt)
                done();
            break;
        case Fail:
            failNextWrite_ = true;
            break;
        case Connect:
            if (!underPrompt && !fixed_ && !closed_)
                connectAgain();
            break;
        case kEventKinds:
            break;
        }
    }

    // The port hands over what it holds while the 1 s timer runs.
    void deliver()
    {
        if (closed_ || !usable() || pending_.isEmpty() || !active_[int(Timer::Tick)])
            return;
        const QByteArray bytes = std::exchange(pending_, QByteArray());
        received_ += bytes;
        model_.receive(bytes);
    }

    bool loseLink()
    {
        if (closed_ || !open_ || model_.isLinkLost())
            return false;
        model_.linkLost(QLatin1String(kLostReason), QLatin1String(kLostReason));
        return true;
    }

    void connectAgain()
    {
        model_.clearReceived();
        received_.clear();
        if (active_[int(Timer::Tick)])
            model_.stopWaiting();
        open_ = false;
        pending_.clear();
        model_.resetLink();
        open_ = true;
        model_.start(QLatin1String(kPortName));
    }

    // The screen's done(): unsaved constants go back first.
    void done()
    {
        if (closed_)
            return;
        if (model_.hasUnsavedConstants() && usable()) {
            model_.beginRestoreBeforeClose();
            return;
        }
        model_.closing();
        model_.stopTimers();
        open_ = false;
        closed_ = true;
        if (tracing)
            std::fprintf(stderr, "closed\n");
        require(!sensorUnsaved() || lostWhileUnsaved_,
                "the screen closes with new constants neither saved nor restored",
                slope_ + offset_);
    }

    // --- What the procedure reports ---------------------------------------------

    void identified(const listing::Reading &reading)
    {
        checkListing(received_, reading);
        if (reading.verdict != listing::Verdict::Accepted)
            return;
        // Connect again after a lost link under the first prompts identifies
        // anew; nothing may have been written to the sensor by then.
        FUZZ_CHECK(!identified_ || changes_ == 0);
        identified_ = true;
        oldSlope_ = reading.properties.slope;
        oldOffset_ = reading.properties.offset;
        slope_ = savedSlope_ = oldSlope_.toLatin1();
        offset_ = savedOffset_ = oldOffset_.toLatin1();
    }

    void ended(history::Outcome outcome, const QString &)
    {
        if (tracing)
            std::fprintf(stderr, "ended: %d\n", int(outcome));
        const QByteArray constants = slope_ + offset_;
        switch (outcome) {
        case history::Outcome::LinkLost:
            // The history keeps this flag with the lost link.
            require(!sensorUnsaved() || model_.hasUnsavedConstants(),
                    "a lost link with new constants in the sensor does not say so", constants);
            if (sensorUnsaved())
                lostWhileUnsaved_ = true;
            break;
        case history::Outcome::Recalibrated:
        case history::Outcome::ValidatedDateSet:
            require(saves_ > 0 && !sensorUnsaved(), "saved without a save command", constants);
            break;
        case history::Outcome::RecalibrationAbandoned:
            require(!sensorUnsaved(), "abandoned with new constants in the sensor", constants);
            break;
        case history::Outcome::ValidatedNoRecord:
            require(changes_ == 0, "nothing written, yet the sensor was changed", constants);
            break;
        default:
            break;
        }
    }

    // --- The sensor -------------------------------------------------------------

    bool sensorUnsaved() const { return slope_ != savedSlope_ || offset_ != savedOffset_; }

    // The commands of the sequence that starts at step, with these texts.
    static QList<QByteArray> sequenceCommands(int step, const sequence::Texts &texts)
    {
        QList<QByteArray> commands;
        for (QByteArray c = sequence::command(step, texts); !c.isEmpty();
             c = sequence::command(++step, texts))
            commands << c;
        return commands;
    }

    Effect effectOf(const QByteArray &command) const
    {
        if (command == protocol::kTimeoutCommand || command == protocol::kReadConstantsCommand)
            return Effect::Query;
        sequence::Texts texts;
        texts.oldSlope = oldSlope_;
        texts.oldOffset = oldOffset_;
        texts.newSlope = model_.field(procedure::Field::NewSlope);
        texts.newOffset = model_.field(procedure::Field::NewOffset);
        // Putting back what the sensor had is harmless, even when it equals the new.
        if (identified_ && sequenceCommands(sequence::kRestoreStep, texts).contains(command))
            return Effect::Restore;
        if (sequenceCommands(sequence::kSendForVerificationStep, texts).contains(command))
            return Effect::NewConstants;
        // The date is that of the tick that sends it: today, or yesterday
        // just after midnight.
        const QDate today = QDate::currentDate();
        for (const QDate &date : {today, today.addDays(-1)}) {
            texts.date = date;
            const QList<QByteArray> saving = sequenceCommands(sequence::kSaveDateStep, texts);
            if (!saving.isEmpty() && command == saving.last())
                return Effect::Save;
            if (saving.contains(command))
                return Effect::Date;
        }
        return Effect::Unknown;
    }

    // One command reaches the sensor.
    void sensorReceives(const QByteArray &command)
    {
        const Effect effect = effectOf(command);
        switch (effect) {
        case Effect::Query:
            return;
        case Effect::Unknown:
            require(false, "a command the procedure never sends", command);
            return;
        case Effect::NewConstants:
            require(identified_, "constants before the sensor was identified", command);
            require(changeChosen_, "new constants the operator did not choose", command);
            break;
        case Effect::Date:
            require(saveChosen_, "a calibration date the operator did not choose", command);
            break;
        case Effect::Save:
            require(saveChosen_, "a save the operator did not choose", command);
            saveChosen_ = false; // one save a choice
            ++saves_;
            savedSlope_ = slope_;
            savedOffset_ = offset_;
            break;
        case Effect::Restore:
            break;
        }
        ++changes_;
        const QByteArray value = command.chopped(1); // the command's end
        if (command.startsWith(protocol::kSlopeCommand))
            slope_ = value.mid(qsizetype(std::strlen(protocol::kSlopeCommand)));
        else if (command.startsWith(protocol::kOffsetCommand))
            offset_ = value.mid(qsizetype(std::strlen(protocol::kOffsetCommand)));
    }

    Input &input_;
    Procedure model_;
    bool active_[2] = {false, false};
    bool open_ = true;
    bool closed_ = false;
    bool fixed_ = false;
    bool failNextWrite_ = false;
    int nesting_ = 0;
    int yesNoInARow_ = 0;
    QByteArray pending_;  // in the port, not yet handed over
    QByteArray received_; // handed over since the listing was asked for

    bool changeChosen_ = false;
    bool saveChosen_ = false;
    bool lostWhileUnsaved_ = false;

    bool identified_ = false;
    QString oldSlope_;
    QString oldOffset_;
    QByteArray slope_, offset_;           // in the sensor's working memory
    QByteArray savedSlope_, savedOffset_; // as the sensor keeps them
    int saves_ = 0;
    int changes_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The procedure's traces would drown the fuzzer's own output.
    QLoggingCategory::setFilterRules(QStringLiteral("zolvex.calibration.debug=false"));
    tracing = std::getenv(kTraceVariable) != nullptr;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Input input(data, size);
    Screen screen(input);
    screen.run();
    return 0;
}
