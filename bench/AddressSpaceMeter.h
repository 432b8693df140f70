// How much of this process's address space is in use, taken by walking it
// with VirtualQuery: every region the process reserved or committed counts,
// private, mapped or image, since a 32-bit process runs out of addresses, not
// of memory. Wine's page-file counters miss large blocks, so they are not
// used. Wine reports the addresses it has not set aside for Windows
// allocations (left to its Unix side, about 1.5 GB of a 2 GB process here)
// as reserved with no access, although a later allocation may still be
// placed there (measured: a bare process gets 1984 MB in 4 MB blocks while
// 1522 MB show so at its start). Regions reserved with no access are
// therefore not counted but given apart; the module and the platform reserve
// their buffers, heaps and stacks readable. Beside the walk, the working set
// from the process's memory counters. Keeps the peaks of the samples taken.
//
// Used on one thread (the many-files run's main thread); owns no handles.
#pragma once

#include <windows.h>

#include <cstdint>

struct AddressSpaceUse {
    uint64_t InUse = 0;           // reserved + committed bytes
    uint64_t Committed = 0;       // of which committed
    uint64_t NoAccessReserve = 0; // reserved with no access, not in InUse
    uint64_t WorkingSet = 0;
};

class CAddressSpaceMeter {
public:
    // One walk, noted for the peaks.
    AddressSpaceUse Sample();
    // The highest of each field seen; the platform's own peak working set
    // counts as well.
    const AddressSpaceUse& Peak() const { return Highs; }

    static AddressSpaceUse Walk();
    // Bytes of address space a program of this process may use.
    static uint64_t Limit();
    // Whether the executable asks for more than 2 GB of address space.
    static bool LargeAddressAware();

private:
    AddressSpaceUse Highs;
};
