#include "reader/PictureQueue.h"

#include <new>

namespace {
// Flow control keeps the queue near 50 entries plus the few the library
// delivers before its pause takes effect.
constexpr size_t InitialSlots = 128;
}

CPictureQueue::CPictureQueue() {
    // Made inside the filter's Load, where nothing may throw; a queue left
    // without slots reserves them with the first picture.
    try {
        Slots.resize(InitialSlots);
    } catch (const std::bad_alloc&) {
        Slots.clear();
    }
}

bool CPictureQueue::MakeRoom() {
    const int32_t size = static_cast<int32_t>(Slots.size());
    if (Entries == size) {
        std::vector<QueuedPicture> larger;
        try {
            larger.resize(size > 0 ? Slots.size() * 2 : InitialSlots);
        } catch (const std::bad_alloc&) {
            return false;
        }
        for (int32_t i = 0; i < Entries; ++i) larger[i] = Slots[(Head + i) % size];
        Slots.swap(larger);
        Head = 0;
    }
    return true;
}

bool CPictureQueue::Append(const QueuedPicture& picture) {
    if (!MakeRoom()) return false;
    Slots[(Head + Entries) % static_cast<int32_t>(Slots.size())] = picture;
    ++Entries;
    return true;
}

void CPictureQueue::RemoveFront() {
    Head = (Head + 1) % static_cast<int32_t>(Slots.size());
    --Entries;
}

bool CPictureQueue::PutBack(const QueuedPicture& picture) {
    if (!MakeRoom()) return false;
    const int32_t size = static_cast<int32_t>(Slots.size());
    Head = (Head + size - 1) % size;
    Slots[Head] = picture;
    ++Entries;
    return true;
}
