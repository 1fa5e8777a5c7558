// Owners for everything the library releases: handles, BSTRs, VARIANTs and COM references.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oleauto.h>

#include <string_view>
#include <utility>

namespace zorvane {

// One owner for every handle kind: Close is the function that releases it.
template <typename Handle, auto Close, Handle Invalid = Handle{}>
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
    explicit operator bool() const noexcept { return handle_ != Invalid; }
    Handle release() noexcept { return std::exchange(handle_, Invalid); }
    void reset(Handle h = Invalid) noexcept {
        if (handle_ != Invalid) Close(handle_);
        handle_ = h;
    }
    Handle* put() noexcept {
        reset();
        return &handle_;
    }

private:
    Handle handle_ = Invalid;
};

// Named releasers (not lambdas): owner types then mean the same in every translation unit.
inline void release_screen_dc(HDC dc) noexcept { ReleaseDC(nullptr, dc); }
inline void delete_bitmap(HBITMAP bitmap) noexcept { DeleteObject(bitmap); }
inline void delete_font(HFONT font) noexcept { DeleteObject(font); }

using unique_hkey = unique_any<HKEY, &RegCloseKey>;
using unique_handle = unique_any<HANDLE, &CloseHandle>;
using unique_hdc = unique_any<HDC, &DeleteDC>;
using unique_window_dc = unique_any<HDC, &release_screen_dc>;
using unique_hbitmap = unique_any<HBITMAP, &delete_bitmap>;
using unique_hfont = unique_any<HFONT, &delete_font>;
using unique_hmodule = unique_any<HMODULE, &FreeLibrary>;
using unique_window = unique_any<HWND, &DestroyWindow>;

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

class unique_bstr final {
public:
    unique_bstr() = default;
    explicit unique_bstr(BSTR b) noexcept : bstr_(b) {}
    unique_bstr(unique_bstr&& other) noexcept : bstr_(other.release()) {}
    unique_bstr& operator=(unique_bstr&& other) noexcept {
        reset(other.release());
        return *this;
    }
    unique_bstr(const unique_bstr&) = delete;
    unique_bstr& operator=(const unique_bstr&) = delete;
    ~unique_bstr() { reset(); }

    BSTR get() const noexcept { return bstr_; }
    BSTR release() noexcept { return std::exchange(bstr_, nullptr); }
    void reset(BSTR b = nullptr) noexcept {
        SysFreeString(bstr_);
        bstr_ = b;
    }
    BSTR* put() noexcept {
        reset();
        return &bstr_;
    }
    std::wstring_view view() const noexcept { return {bstr_ ? bstr_ : L"", SysStringLen(bstr_)}; }

private:
    BSTR bstr_ = nullptr;
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

// A single-threaded apartment for the scope where the calling thread has none (the shell and the imaging
// component want one), left again at its end; a thread already in an apartment keeps the one it has.
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
