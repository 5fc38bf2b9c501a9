// Owners for every kind of handle the actions open, so that each one is
// released on every way out of an action.
#pragma once

#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <utility>

namespace kvil {

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : handle_(handle) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    Handle get() const { return handle_; }
    explicit operator bool() const { return !Traits::isNull(handle_); }
    Handle release() { return std::exchange(handle_, Traits::null()); }
    void reset(Handle handle = Traits::null())
    {
        if (!Traits::isNull(handle_))
            Traits::close(handle_);
        handle_ = handle;
    }
    // For out-parameters of the Win32 and MSI calls that open a handle.
    Handle* receive()
    {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = Traits::null();
};

struct MsiHandleTraits {
    using Handle = MSIHANDLE;
    static Handle null() { return 0; }
    static bool isNull(Handle h) { return h == 0; }
    static void close(Handle h) { MsiCloseHandle(h); }
};

struct RegKeyTraits {
    using Handle = HKEY;
    static Handle null() { return nullptr; }
    static bool isNull(Handle h) { return h == nullptr; }
    static void close(Handle h) { RegCloseKey(h); }
};

struct ServiceHandleTraits {
    using Handle = SC_HANDLE;
    static Handle null() { return nullptr; }
    static bool isNull(Handle h) { return h == nullptr; }
    static void close(Handle h) { CloseServiceHandle(h); }
};

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle null() { return INVALID_HANDLE_VALUE; }
    static bool isNull(Handle h) { return h == INVALID_HANDLE_VALUE; }
    static void close(Handle h) { FindClose(h); }
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle null() { return nullptr; }
    static bool isNull(Handle h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
    static void close(Handle h) { CloseHandle(h); }
};

struct ModuleTraits {
    using Handle = HMODULE;
    static Handle null() { return nullptr; }
    static bool isNull(Handle h) { return h == nullptr; }
    static void close(Handle h) { FreeLibrary(h); }
};

using MsiHandle = UniqueHandle<MsiHandleTraits>;
using RegKey = UniqueHandle<RegKeyTraits>;
using ServiceHandle = UniqueHandle<ServiceHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using Module = UniqueHandle<ModuleTraits>;

}  // namespace kvil
