#pragma once

#include <windows.h>

namespace vlm::test {

// Runs this thread's messages until `done` holds or `ms` have passed; returns whether it holds.
template <typename Predicate> bool PumpUntil(Predicate done, int ms = 5000)
{
    const ULONGLONG end = GetTickCount64() + static_cast<ULONGLONG>(ms);
    while (!done()) {
        if (GetTickCount64() > end)
            return false;
        MSG message {};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        Sleep(5);
    }
    return true;
}

// Runs this thread's messages for `ms`.
inline void PumpFor(int ms)
{
    PumpUntil([] { return false; }, ms);
}

} // namespace vlm::test
