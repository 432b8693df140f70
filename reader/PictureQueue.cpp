#include "reader/PictureQueue.h"

#include <new>

namespace {
// Flow control keeps the queue near 50 entries plus the few the library
// delivers before its pause takes effect.
constexpr size_t InitialSlots = 128;
}

CPictureQueue::CPictureQueue() : Slots(InitialSlots) {}

bool CPictureQueue::Append(const QueuedPicture& picture) {
    const int32_t size = static_cast<int32_t>(Slots.size());
    if (Entries == size) {
        std::vector<QueuedPicture> larger;
        try {
            larger.resize(Slots.size() * 2);
        } catch (const std::bad_alloc&) {
            return false;
        }
        for (int32_t i = 0; i < Entries; ++i) larger[i] = Slots[(Head + i) % size];
        Slots.swap(larger);
        Head = 0;
    }
    Slots[(Head + Entries) % static_cast<int32_t>(Slots.size())] = picture;
    ++Entries;
    return true;
}

void CPictureQueue::RemoveFront() {
    Head = (Head + 1) % static_cast<int32_t>(Slots.size());
    --Entries;
}
