#pragma once
// Scoped owners of Win32 handles: each releases its handle when its scope
// ends, on every way out, so no error path leaks one. Windows only.

#include <windows.h>

namespace platform {

// A kernel object (a process, a token, a file opened for one call):
// CloseHandle. Both nullptr and INVALID_HANDLE_VALUE mean "none".
class TScopedHandle {
public:
    explicit TScopedHandle(HANDLE handle = nullptr) : handle_(handle) {}
    ~TScopedHandle() {
        if (Valid()) ::CloseHandle(handle_);
    }
    TScopedHandle(const TScopedHandle&) = delete;
    TScopedHandle& operator=(const TScopedHandle&) = delete;

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    // For a function that hands a new handle out through a pointer; the
    // owner must be empty.
    HANDLE* Receive() { return &handle_; }

private:
    HANDLE handle_;
};

// The device context of a window (or of the screen for nullptr): GetDC,
// then ReleaseDC.
class TScopedGetDC {
public:
    explicit TScopedGetDC(HWND window) : window_(window), dc_(::GetDC(window)) {}
    ~TScopedGetDC() {
        if (dc_) ::ReleaseDC(window_, dc_);
    }
    TScopedGetDC(const TScopedGetDC&) = delete;
    TScopedGetDC& operator=(const TScopedGetDC&) = delete;

    operator HDC() const { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// An object selected into a device context; the one it replaced is
// selected back at the end, as a DC must hold its own objects when released.
class TScopedSelectObject {
public:
    TScopedSelectObject(HDC dc, HGDIOBJ object) : dc_(dc), previous_(::SelectObject(dc, object)) {}
    ~TScopedSelectObject() {
        if (previous_ && previous_ != HGDI_ERROR) ::SelectObject(dc_, previous_);
    }
    TScopedSelectObject(const TScopedSelectObject&) = delete;
    TScopedSelectObject& operator=(const TScopedSelectObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// An object this program created and must release with `Release`: a GDI
// object (TScopedGdiObject), an icon (TScopedIcon).
template <typename T, void (*Release)(T)>
class TScopedObject {
public:
    explicit TScopedObject(T object = nullptr) : object_(object) {}
    ~TScopedObject() { Reset(); }
    TScopedObject(const TScopedObject&) = delete;
    TScopedObject& operator=(const TScopedObject&) = delete;

    // Takes `object`, releasing the one held before.
    void Reset(T object = nullptr) {
        if (object_) Release(object_);
        object_ = object;
    }
    T Get() const { return object_; }
    operator T() const { return object_; }

private:
    T object_;
};

template <typename T>
void DeleteGdiObject(T object) {
    ::DeleteObject(object);
}
inline void DestroyIconHandle(HICON icon) { ::DestroyIcon(icon); }

// A font, a brush or another GDI object: DeleteObject.
template <typename T>
using TScopedGdiObject = TScopedObject<T, DeleteGdiObject<T>>;
// An icon loaded by LoadImage: DestroyIcon.
using TScopedIcon = TScopedObject<HICON, DestroyIconHandle>;

}  // namespace platform
