// First-in, first-out queue of decoded pictures waiting for the video worker.
// Entries live in a ring of slots reserved up front (grown by doubling only
// when the queue outruns it), so appending and taking never allocate in
// steady state.
//
// Not thread-safe: every call, Count included, is made with the owning
// CKXFile's QueueLock held. Owns no buffers: an entry's buffer belongs to
// the entry until the caller takes it out and returns it to the pool.
#pragma once

#include <cstdint>
#include <vector>

struct QueuedPicture {
    int32_t Length;   // bytes of the picture in Data (at most the pool's buffer size)
    uint8_t* Data;    // a pool buffer
};

class CPictureQueue {
public:
    CPictureQueue();

    // Appends at the back; false only when memory for more slots is exhausted.
    bool Append(const QueuedPicture& picture);
    // The oldest entry; only when Count() > 0.
    const QueuedPicture& Front() const { return Slots[Head]; }
    // Removes the oldest entry; only when Count() > 0.
    void RemoveFront();
    // Puts an entry back in front, as the oldest; false only when memory for
    // more slots is exhausted.
    bool PutBack(const QueuedPicture& picture);
    int32_t Count() const { return Entries; }

private:
    // Room for one more entry; false when memory is exhausted.
    bool MakeRoom();

    std::vector<QueuedPicture> Slots;
    int32_t Head = 0;
    int32_t Entries = 0;
};
