// Owners for everything the library releases: handles, BSTRs, VARIANTs and COM references.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <string_view>
#include <utility>

namespace zorvane {

// The value that owns nothing, for handle kinds whose null is their invalid value.
template <typename Handle>
constexpr Handle null_value() noexcept {
    return Handle{};
}

// File handles own nothing as INVALID_HANDLE_VALUE, not as null.
inline HANDLE invalid_handle_value() noexcept { return INVALID_HANDLE_VALUE; }

// One owner for every handle kind: Close is the function that releases it, Invalid the one that gives the value
// that owns nothing.
template <typename Handle, auto Close, auto Invalid = &null_value<Handle>>
class unique_any final {
public:
    unique_any() = default;
    explicit unique_any(Handle h) noexcept : handle_(h) {}
    unique_any(unique_any&& other) noexcept : handle_(other.release()) {}
    unique_any& operator=(unique_any&& other) noexcept {
        reset(other.release());
        return *this;
    }
    unique_any(const unique_any&) = delete;
    unique_any& operator=(const unique_any&) = delete;
    ~unique_any() { reset(); }

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Invalid(); }
    Handle release() noexcept { return std::exchange(handle_, Invalid()); }
    void reset(Handle h = Invalid()) noexcept {
        if (handle_ != Invalid()) Close(handle_);
        handle_ = h;
    }
    Handle* put() noexcept {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = Invalid();
};

// Named releasers (not lambdas): owner types then mean the same in every translation unit.
inline void delete_bitmap(HBITMAP bitmap) noexcept { DeleteObject(bitmap); }
inline void delete_font(HFONT font) noexcept { DeleteObject(font); }

using unique_hkey = unique_any<HKEY, &RegCloseKey>;
using unique_handle = unique_any<HANDLE, &CloseHandle>;                         // processes, threads, tokens
using unique_file = unique_any<HANDLE, &CloseHandle, &invalid_handle_value>;  // CreateFileW's
using unique_hdc = unique_any<HDC, &DeleteDC>;
using unique_hbitmap = unique_any<HBITMAP, &delete_bitmap>;
using unique_hfont = unique_any<HFONT, &delete_font>;
using unique_hmodule = unique_any<HMODULE, &FreeLibrary>;
using unique_window = unique_any<HWND, &DestroyWindow>;
using unique_bstr = unique_any<BSTR, &SysFreeString>;

// A BSTR's text (a null BSTR is the empty text).
inline std::wstring_view view_of(BSTR b) noexcept { return {b ? b : L"", SysStringLen(b)}; }

// A device context of a window (the screen's for null), given back to that window.
class unique_window_dc final {
public:
    unique_window_dc() = default;
    unique_window_dc(unique_window_dc&& other) noexcept
        : window_(other.window_), dc_(std::exchange(other.dc_, nullptr)) {}
    unique_window_dc& operator=(unique_window_dc&& other) noexcept {
        reset();
        window_ = other.window_;
        dc_ = std::exchange(other.dc_, nullptr);
        return *this;
    }
    unique_window_dc(const unique_window_dc&) = delete;
    unique_window_dc& operator=(const unique_window_dc&) = delete;
    ~unique_window_dc() { reset(); }

    HDC get() const noexcept { return dc_; }
    explicit operator bool() const noexcept { return dc_ != nullptr; }
    void reset() noexcept {
        if (dc_) ReleaseDC(window_, std::exchange(dc_, nullptr));
    }

private:
    friend unique_window_dc window_dc(HWND window) noexcept;
    unique_window_dc(HWND window, HDC dc) noexcept : window_(window), dc_(dc) {}
    HWND window_ = nullptr;
    HDC dc_ = nullptr;
};

// GetDC(window), owned: empty when the system gives none.
inline unique_window_dc window_dc(HWND window = nullptr) noexcept { return {window, GetDC(window)}; }

// Puts a GDI object into a DC and puts the previous one back when it goes.
class selected_object final {
public:
    selected_object(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(SelectObject(dc, object)) {}
    selected_object(const selected_object&) = delete;
    selected_object& operator=(const selected_object&) = delete;
    ~selected_object() {
        if (took()) SelectObject(dc_, previous_);
    }
    bool took() const noexcept { return previous_ && previous_ != HGDI_ERROR; }

private:
    HDC dc_;
    HGDIOBJ previous_;
};

class unique_variant final {
public:
    unique_variant() noexcept { VariantInit(&value_); }
    unique_variant(const unique_variant&) = delete;
    unique_variant& operator=(const unique_variant&) = delete;
    ~unique_variant() { VariantClear(&value_); }

    VARIANT* get() noexcept { return &value_; }
    const VARIANT* get() const noexcept { return &value_; }
    VARIANT* operator->() noexcept { return &value_; }
    // Hands the value over and leaves this one empty.
    VARIANT release() noexcept {
        VARIANT out = value_;
        VariantInit(&value_);
        return out;
    }

private:
    VARIANT value_;
};

// The scoped COM initialisation: a single-threaded apartment for the scope where the calling thread has none (the
// shell and the imaging component want one), left again at its end; a thread already in an apartment keeps the
// one it has.
class borrowed_apartment final {
public:
    borrowed_apartment() noexcept : joined_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)) {}
    borrowed_apartment(const borrowed_apartment&) = delete;
    borrowed_apartment& operator=(const borrowed_apartment&) = delete;
    ~borrowed_apartment() {
        if (SUCCEEDED(joined_)) CoUninitialize();
    }

private:
    HRESULT joined_;
};

// Holds a reference on `object` for as long as a call that may re-enter its host runs: a host that lets go of
// its last reference meanwhile leaves the object (and the library, which it keeps loaded) to go when the call
// returns.
template <typename Object>
class keep_alive final {
public:
    explicit keep_alive(Object& object) noexcept : object_(object) { object_.AddRef(); }
    keep_alive(const keep_alive&) = delete;
    keep_alive& operator=(const keep_alive&) = delete;
    ~keep_alive() { object_.Release(); }

private:
    Object& object_;
};

template <typename T>
class com_ptr final {
public:
    com_ptr() = default;
    com_ptr(std::nullptr_t) noexcept {}
    // Takes over a reference the caller already owns.
    static com_ptr attach(T* p) noexcept {
        com_ptr out;
        out.p_ = p;
        return out;
    }
    // Adds a reference of its own to `p`, which the caller keeps.
    static com_ptr copy(T* p) noexcept {
        if (p) p->AddRef();
        return attach(p);
    }
    // Hands a new reference to an out-parameter (null for none).
    void copy_to(T** out) const noexcept {
        if (p_) p_->AddRef();
        *out = p_;
    }
    com_ptr(const com_ptr& other) noexcept : p_(other.p_) {
        if (p_) p_->AddRef();
    }
    com_ptr(com_ptr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
    com_ptr& operator=(com_ptr other) noexcept {
        std::swap(p_, other.p_);
        return *this;
    }
    ~com_ptr() { reset(); }

    T* get() const noexcept { return p_; }
    T* operator->() const noexcept { return p_; }
    explicit operator bool() const noexcept { return p_ != nullptr; }
    T* detach() noexcept { return std::exchange(p_, nullptr); }
    void reset() noexcept {
        if (auto* p = std::exchange(p_, nullptr)) p->Release();
    }
    T** put() noexcept {
        reset();
        return &p_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

private:
    T* p_ = nullptr;
};

} // namespace zorvane
