#include "core/history/sink.h"

namespace history
{

namespace
{
Sink *current = nullptr;
} // namespace

void installSink(Sink *sink)
{
    current = sink;
}

Sink *installedSink()
{
    return current;
}

} // namespace history
