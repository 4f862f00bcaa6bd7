#include "processor/LinkSlot.h"

void clearSlotMeasurement (SectionSlot& slot) noexcept
{
    slot.done.store (false);
    slot.lufs.store (-120.0f);
    slot.elapsedSeconds.store (0.0f);
    slot.history.store (nullptr);
    slot.frames.store (nullptr);
    slot.customFrames.store (nullptr);
}

void LinkSlot::signalStop() noexcept
{
    stopEndsStart.store (startCounter.load());
    stopCounter.fetch_add (1);
}

void LinkSlot::cancelByCounter() noexcept
{
    stopEndsStart.store (startCounter.load());
    auto s = stopCounter.load();

    for (;;)
    {
        cancelMarker.store (s + 1);

        if (stopCounter.compare_exchange_weak (s, s + 1))
            return;
    }
}
