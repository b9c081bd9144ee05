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

// A GDI object this program created (a font, a brush): DeleteObject.
template <typename T>
class TScopedGdiObject {
public:
    explicit TScopedGdiObject(T object = nullptr) : object_(object) {}
    ~TScopedGdiObject() { Reset(); }
    TScopedGdiObject(const TScopedGdiObject&) = delete;
    TScopedGdiObject& operator=(const TScopedGdiObject&) = delete;

    // Takes `object`, deleting the one held before.
    void Reset(T object = nullptr) {
        if (object_) ::DeleteObject(object_);
        object_ = object;
    }
    T Get() const { return object_; }
    operator T() const { return object_; }

private:
    T object_;
};

// An icon loaded or created by this program: DestroyIcon.
class TScopedIcon {
public:
    explicit TScopedIcon(HICON icon = nullptr) : icon_(icon) {}
    ~TScopedIcon() { Reset(); }
    TScopedIcon(const TScopedIcon&) = delete;
    TScopedIcon& operator=(const TScopedIcon&) = delete;

    // Takes `icon`, destroying the one held before.
    void Reset(HICON icon = nullptr) {
        if (icon_) ::DestroyIcon(icon_);
        icon_ = icon;
    }
    HICON Get() const { return icon_; }
    operator HICON() const { return icon_; }

private:
    HICON icon_;
};

}  // namespace platform
