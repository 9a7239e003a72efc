#pragma once

// The writers of the history's PDF files (certificates, the due report),
// handed to the history's actions (core/history/paper.h).

#include "core/history/paper.h"

namespace history
{

PdfWriters paperWriters();
// Hands them in, once, for the actions of this program.
void installPaperWriters();

} // namespace history
