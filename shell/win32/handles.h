#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <utility>

namespace vlm::win32 {

// Owns one handle of a kind and frees it the way that kind is freed; moves, never copies.
template <typename Traits> class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle)
        : m_handle(handle)
    {
    }
    UniqueHandle(UniqueHandle&& other) noexcept
        : m_handle(other.Release())
    {
    }
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { Reset(); }

    Handle Get() const { return m_handle; }
    explicit operator bool() const { return m_handle != Traits::Invalid(); }

    void Reset(Handle handle = Traits::Invalid())
    {
        if (m_handle != Traits::Invalid() && m_handle != handle)
            Traits::Free(m_handle);
        m_handle = handle;
    }
    Handle Release() { return std::exchange(m_handle, Traits::Invalid()); }

private:
    Handle m_handle = Traits::Invalid();
};

struct WindowTraits {
    using Handle = HWND;
    static Handle Invalid() { return nullptr; }
    static void Free(Handle handle) { DestroyWindow(handle); }
};

struct MenuTraits {
    using Handle = HMENU;
    static Handle Invalid() { return nullptr; }
    static void Free(Handle handle) { DestroyMenu(handle); }
};

struct IconTraits {
    using Handle = HICON;
    static Handle Invalid() { return nullptr; }
    static void Free(Handle handle) { DestroyIcon(handle); }
};

template <typename GdiHandle> struct GdiTraits {
    using Handle = GdiHandle;
    static Handle Invalid() { return nullptr; }
    static void Free(Handle handle) { DeleteObject(handle); }
};

struct RegistryKeyTraits {
    using Handle = HKEY;
    static Handle Invalid() { return nullptr; }
    static void Free(Handle handle) { RegCloseKey(handle); }
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return nullptr; }
    static void Free(Handle handle) { CloseHandle(handle); }
};

using Window = UniqueHandle<WindowTraits>;
using Menu = UniqueHandle<MenuTraits>;
using Icon = UniqueHandle<IconTraits>;
using Font = UniqueHandle<GdiTraits<HFONT>>;
using Brush = UniqueHandle<GdiTraits<HBRUSH>>;
using RegistryKey = UniqueHandle<RegistryKeyTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;

} // namespace vlm::win32
