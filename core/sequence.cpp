#include "core/sequence.h"

#include "core/protocol.h"

namespace sequence
{

namespace
{
// Ranges of commandStep that tell the sequences apart.
constexpr int kSaveSequencesEnd = 10;
constexpr int kVerificationSequenceEnd = 20;
constexpr int kRestoreSequenceEnd = 30;
} // namespace

Kind kindOf(int step)
{
    if (step >= kSaveConstantsStep && step < kSaveSequencesEnd)
        return Kind::Save;
    if (step >= kSendForVerificationStep && step < kVerificationSequenceEnd)
        return Kind::SendForVerification;
    if (step >= kRestoreStep && step < kRestoreSequenceEnd)
        return Kind::Restore;
    return Kind::None;
}

QByteArray command(int step, const Texts &texts)
{
    using namespace protocol;
    switch (step) {
    case kSaveConstantsStep:
    case kSendForVerificationStep:
        return composeCommand(kSlopeCommand, texts.newSlope);
    case kRestoreStep:
        return composeCommand(kSlopeCommand, texts.oldSlope);
    case kSaveConstantsStep + 1:
    case kSendForVerificationStep + 1:
        return composeCommand(kOffsetCommand, texts.newOffset);
    case kRestoreStep + 1:
        return composeCommand(kOffsetCommand, texts.oldOffset);
    case kSaveDateStep:
        return dateCommand(texts.date);
    case kSaveDateStep + 1:
        return QByteArray(kSaveCommand);
    default:
        return QByteArray();
    }
}

bool unsavedAfter(int step, bool unsavedBefore)
{
    if (step == kSendForVerificationStep || step == kSaveConstantsStep)
        return true;
    if (step == kSaveDateStep + 1 || step == kRestoreStep + 1)
        return false;
    return unsavedBefore;
}

} // namespace sequence
