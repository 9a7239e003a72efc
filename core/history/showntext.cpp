#include "core/history/showntext.h"

#include <QList>

namespace history
{

QString shown(const QString &text)
{
    QString out;
    out.reserve(text.size());
    // By code point: a character outside the first plane (a tag, say) is
    // judged whole; a lone half of a pair is replaced too.
    for (const uint code : text.toUcs4()) {
        const char32_t c = code;
        if (QChar::isPrint(c) || c == U' ')
            out += QString::fromUcs4(&c, 1);
        else
            out += QChar(QChar::ReplacementCharacter);
    }
    return out;
}

} // namespace history
