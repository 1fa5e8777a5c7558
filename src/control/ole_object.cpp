// The control as containers see it. It is a toolbox, not a visual element: a fixed 630 x 630 twip face
// drawn only while the container designs, no window at run time, only its extent persisted.
#include "control/ole_object.h"

#include "control/zorvane.h"
#include "library/module.h"
#include "library/resource_picture.h"
#include "library/resource_ids.h"

#include "zorvane_idl.h"

#include <algorithm>
#include <new>

namespace zorvane {
namespace {

const wchar_t face_class[] = L"ZorvaneLibFace";

void unregister_face_class() noexcept { UnregisterClassW(face_class, module::instance()); }

const wchar_t contents_stream[] = L"Contents";

LONG pixels_of(LONG himetric, int dpi) noexcept { return MulDiv(himetric, dpi, 2540); }

// The control's fixed extent in screen pixels; false when the screen's resolution cannot be read.
bool face_size(SIZE& size) noexcept {
    const unique_window_dc screen = window_dc();
    if (!screen) return false;
    size = {pixels_of(ole_object::extent_himetric, GetDeviceCaps(screen.get(), LOGPIXELSX)),
            pixels_of(ole_object::extent_himetric, GetDeviceCaps(screen.get(), LOGPIXELSY))};
    return true;
}

// One-item or empty enumerators of connection points and connections.
template <typename Enum, typename Item, const IID* Iid>
class enumerator final : public com_object<enumerator<Enum, Item, Iid>, Enum> {
public:
    explicit enumerator(std::vector<Item> items, size_t at = 0) : items_(std::move(items)), at_(at) {
        for (auto& item : items_) add_ref(item);
    }
    ~enumerator() {
        for (auto& item : items_) release(item);
    }
    static std::span<const interface_entry<enumerator>> interface_table() noexcept {
        static constexpr interface_entry<enumerator> table[] = {
            {&IID_IUnknown, &as<enumerator, Enum>},
            {Iid, &as<enumerator, Enum>},
        };
        return table;
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, Item* out, ULONG* fetched) noexcept override {
        if (!out || (count > 1 && !fetched)) return E_POINTER;
        ULONG given = 0;
        for (; given < count && at_ < items_.size(); ++given, ++at_) {
            out[given] = items_[at_];
            add_ref(out[given]);
        }
        if (fetched) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) noexcept override {
        // S_FALSE only when fewer than `count` items were left to skip.
        const size_t left = items_.size() - at_;
        at_ += std::min<size_t>(left, count);
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() noexcept override {
        at_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(Enum** out) noexcept override {
        if (!out) return E_POINTER;
        try {
            *out = new enumerator(items_, at_);
            return S_OK;
        } catch (...) {
            *out = nullptr;
            return E_OUTOFMEMORY;
        }
    }

private:
    static void add_ref(IConnectionPoint* p) noexcept { p->AddRef(); }
    static void release(IConnectionPoint* p) noexcept { p->Release(); }
    static void add_ref(CONNECTDATA& c) noexcept { c.pUnk->AddRef(); }
    static void release(CONNECTDATA& c) noexcept { c.pUnk->Release(); }

    std::vector<Item> items_;
    size_t at_ = 0;
};

using point_enumerator = enumerator<IEnumConnectionPoints, IConnectionPoint*, &IID_IEnumConnectionPoints>;
using connection_enumerator = enumerator<IEnumConnections, CONNECTDATA, &IID_IEnumConnections>;

} // namespace

void draw_face(HDC dc, const RECT& bounds) noexcept {
    FillRect(dc, &bounds, GetSysColorBrush(COLOR_BTNFACE));
    const com_ptr<IPicture> picture = picture_from_resource(ZV_FACE_JPEG);
    // The 38 x 38 emblem sits 2 pixels in from each side of the 42 x 42 frame, at any scale.
    const LONG w = bounds.right - bounds.left, h = bounds.bottom - bounds.top;
    render(picture.get(), dc, bounds.left + MulDiv(w, 2, 42), bounds.top + MulDiv(h, 2, 42), MulDiv(w, 38, 42),
           MulDiv(h, 38, 42));
}

ole_object::~ole_object() {
    if (face_window_) DestroyWindow(face_window_);
}

// Every method that calls the container, a sink, a stream or a bag holds the control (keep_alive) while it runs:
// a container may let go of its last reference inside any such call, and the method goes on with its members.

// ---- IOleObject -------------------------------------------------------------------------------------------------

HRESULT ole_object::SetClientSite(IOleClientSite* site) noexcept {
    const keep_alive<ole_object> alive(*this);
    site_ = com_ptr<IOleClientSite>::copy(site);
    read_ambient_user_mode();
    return S_OK;
}

HRESULT ole_object::GetClientSite(IOleClientSite** site) noexcept {
    const keep_alive<ole_object> alive(*this);
    if (!site) return E_POINTER;
    site_.copy_to(site);
    return S_OK;
}

HRESULT ole_object::SetHostNames(LPCOLESTR, LPCOLESTR) noexcept { return S_OK; }

HRESULT ole_object::Close(DWORD) noexcept {
    const keep_alive<ole_object> alive(*this);
    InPlaceDeactivate();
    if (advise_holder_) advise_holder_->SendOnClose();
    return S_OK;
}

HRESULT ole_object::SetMoniker(DWORD, IMoniker*) noexcept { return E_NOTIMPL; }  // no link source

HRESULT ole_object::GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) noexcept {
    const keep_alive<ole_object> alive(*this);
    if (!moniker) return E_POINTER;
    *moniker = nullptr;
    return site_ ? site_->GetMoniker(assign, which, moniker) : E_UNEXPECTED;
}

HRESULT ole_object::InitFromData(IDataObject*, BOOL, DWORD) noexcept { return E_NOTIMPL; }  // no data to take

HRESULT ole_object::GetClipboardData(DWORD, IDataObject** data) noexcept {
    if (data) *data = nullptr;
    return E_NOTIMPL;  // no data to give
}

HRESULT ole_object::DoVerb(LONG verb, LPMSG, IOleClientSite* site, LONG, HWND parent, LPCRECT position) noexcept {
    const keep_alive<ole_object> alive(*this);
    switch (verb) {
    case OLEIVERB_PRIMARY:
    case OLEIVERB_SHOW:
    case OLEIVERB_OPEN:
    case OLEIVERB_INPLACEACTIVATE:
    case OLEIVERB_UIACTIVATE:
        return activate(site ? site : site_.get(), parent, position);
    case OLEIVERB_HIDE:
        return InPlaceDeactivate();
    case OLEIVERB_DISCARDUNDOSTATE:
        return S_OK;
    default:
        if (verb > 0) {
            activate(site ? site : site_.get(), parent, position);
            return OLEOBJ_S_INVALIDVERB;
        }
        return E_NOTIMPL;  // a negative verb that this object does not know
    }
}

HRESULT ole_object::EnumVerbs(IEnumOLEVERB** verbs) noexcept {
    if (!verbs) return E_POINTER;
    return OleRegEnumVerbs(CLSID_Zorvane, verbs);
}

HRESULT ole_object::Update() noexcept { return S_OK; }
HRESULT ole_object::IsUpToDate() noexcept { return S_OK; }

HRESULT ole_object::GetUserClassID(CLSID* clsid) noexcept { return GetClassID(clsid); }

HRESULT ole_object::GetUserType(DWORD form, LPOLESTR* type) noexcept {
    if (!type) return E_POINTER;
    return OleRegGetUserType(CLSID_Zorvane, form, type);
}

HRESULT ole_object::SetExtent(DWORD aspect, SIZEL* size) noexcept {
    const keep_alive<ole_object> alive(*this);
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!size) return E_POINTER;
    // Whatever size is asked for, the control stays 630 x 630 twips; a container in place hears so.
    if (in_place_site_ && face_window_) {
        RECT now;
        GetWindowRect(face_window_, &now);
        MapWindowPoints(nullptr, GetParent(face_window_), reinterpret_cast<POINT*>(&now), 2);
        SIZE size{};
        if (!face_size(size)) return E_OUTOFMEMORY;
        const RECT fixed{now.left, now.top, now.left + size.cx, now.top + size.cy};
        in_place_site_->OnPosRectChange(&fixed);
    }
    return S_OK;
}

HRESULT ole_object::GetExtent(DWORD aspect, SIZEL* size) noexcept {
    if (!size) return E_POINTER;
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    size->cx = size->cy = extent_himetric;
    return S_OK;
}

HRESULT ole_object::Advise(IAdviseSink* sink, DWORD* cookie) noexcept {
    const keep_alive<ole_object> alive(*this);
    if (!sink || !cookie) return E_POINTER;
    if (!advise_holder_) {
        const HRESULT hr = CreateOleAdviseHolder(advise_holder_.put());
        if (FAILED(hr)) return hr;
    }
    return advise_holder_->Advise(sink, cookie);
}

HRESULT ole_object::Unadvise(DWORD cookie) noexcept {
    const keep_alive<ole_object> alive(*this);
    return advise_holder_ ? advise_holder_->Unadvise(cookie) : OLE_E_NOCONNECTION;
}

HRESULT ole_object::EnumAdvise(IEnumSTATDATA** advises) noexcept {
    const keep_alive<ole_object> alive(*this);
    if (!advises) return E_POINTER;
    *advises = nullptr;
    return advise_holder_ ? advise_holder_->EnumAdvise(advises) : S_OK;
}

HRESULT ole_object::GetMiscStatus(DWORD aspect, DWORD* status) noexcept {
    if (!status) return E_POINTER;
    *status = aspect == DVASPECT_CONTENT ? control_misc_status : 0;
    return S_OK;
}

HRESULT ole_object::SetColorScheme(LOGPALETTE*) noexcept { return E_NOTIMPL; }  // draws no colours of the host's

// ---- In-place activation ----------------------------------------------------------------------------------------

HRESULT ole_object::activate(IOleClientSite* site, HWND parent, LPCRECT position) noexcept {
    const HRESULT read = read_ambient_user_mode();
    if (FAILED(read)) return read;
    if (user_mode_) return S_OK;  // invisible at run time: nothing to show
    if (face_window_) return S_OK;
    if (!site) return E_UNEXPECTED;
    com_ptr<IOleInPlaceSite> in_place;
    if (FAILED(site->QueryInterface(IID_IOleInPlaceSite, in_place.put_void()))) return S_OK;
    if (in_place->CanInPlaceActivate() != S_OK) return S_OK;
    if (FAILED(in_place->OnInPlaceActivate())) return E_FAIL;
    in_place_site_ = in_place;

    RECT area{};
    if (position) area = *position;
    if (!parent || !position) {
        com_ptr<IOleInPlaceFrame> frame;
        com_ptr<IOleInPlaceUIWindow> document;
        RECT clip{};
        OLEINPLACEFRAMEINFO info{};
        info.cb = sizeof(info);
        if (!parent) in_place->GetWindow(&parent);
        // The accelerator table in `info` is the container's, which it goes on using: it is not ours to destroy.
        if (!position) in_place->GetWindowContext(frame.put(), document.put(), &area, &clip, &info);
    }
    const HRESULT shown = show_face_window(parent, area);
    if (FAILED(shown)) {
        // Not in place after all: the container hears so, as from a deactivation.
        in_place_site_.reset();
        in_place->OnInPlaceDeactivate();
    }
    return shown;
}

HRESULT ole_object::show_face_window(HWND parent, const RECT& position) noexcept {
    // Registered by the first face after each load (later ones find it), unregistered at unload.
    WNDCLASSW c{};
    c.lpfnWndProc = &face_procedure;
    c.hInstance = module::instance();
    c.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    c.lpszClassName = face_class;
    if (RegisterClassW(&c)) module::at_unload(&unregister_face_class);
    SIZE size{};
    if (!face_size(size)) return E_OUTOFMEMORY;
    face_window_ = CreateWindowExW(0, face_class, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, position.left,
                                   position.top, size.cx, size.cy, parent, nullptr, module::instance(), nullptr);
    if (face_window_) return S_OK;
    const DWORD code = GetLastError();
    return code ? HRESULT_FROM_WIN32(code) : E_OUTOFMEMORY;
}

LRESULT CALLBACK ole_object::face_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT area;
        GetClientRect(window, &area);
        draw_face(dc, area);
        EndPaint(window, &paint);
        return 0;
    }
    if (message == WM_ERASEBKGND) return 1;
    return DefWindowProcW(window, message, w, l);
}

HRESULT ole_object::GetWindow(HWND* window) noexcept {
    if (!window) return E_POINTER;
    *window = face_window_;
    return face_window_ ? S_OK : E_FAIL;
}

HRESULT ole_object::ContextSensitiveHelp(BOOL) noexcept { return S_OK; }  // no help mode of its own

HRESULT ole_object::InPlaceDeactivate() noexcept {
    const keep_alive<ole_object> alive(*this);
    if (face_window_) {
        DestroyWindow(face_window_);
        face_window_ = nullptr;
    }
    if (in_place_site_) {
        in_place_site_->OnInPlaceDeactivate();
        in_place_site_.reset();
    }
    return S_OK;
}

HRESULT ole_object::UIDeactivate() noexcept { return S_OK; }

HRESULT ole_object::SetObjectRects(LPCRECT position, LPCRECT) noexcept {
    if (!position) return E_POINTER;
    if (face_window_) SetWindowPos(face_window_, nullptr, position->left, position->top, 0, 0,
                                   SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    return S_OK;
}

HRESULT ole_object::ReactivateAndUndo() noexcept { return INPLACE_E_NOTUNDOABLE; }
HRESULT ole_object::TranslateAccelerator(LPMSG) noexcept { return S_FALSE; }
HRESULT ole_object::OnFrameWindowActivate(BOOL) noexcept { return S_OK; }
HRESULT ole_object::OnDocWindowActivate(BOOL) noexcept { return S_OK; }
HRESULT ole_object::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) noexcept { return S_OK; }
HRESULT ole_object::EnableModeless(BOOL) noexcept { return S_OK; }

// ---- IOleControl ------------------------------------------------------------------------------------------------

HRESULT ole_object::GetControlInfo(CONTROLINFO* info) noexcept {
    if (!info) return E_POINTER;
    info->cb = sizeof(CONTROLINFO);
    info->hAccel = nullptr;
    info->cAccel = 0;
    info->dwFlags = 0;
    return S_OK;
}

HRESULT ole_object::OnMnemonic(MSG*) noexcept { return S_OK; }

HRESULT ole_object::OnAmbientPropertyChange(DISPID id) noexcept {
    const keep_alive<ole_object> alive(*this);
    if (id == DISPID_AMBIENT_USERMODE || id == DISPID_UNKNOWN) {
        read_ambient_user_mode();
        if (user_mode_) InPlaceDeactivate();
        if (view_sink_) view_sink_->OnViewChange(DVASPECT_CONTENT, -1);
    }
    return S_OK;
}

HRESULT ole_object::FreezeEvents(BOOL) noexcept { return S_OK; }

HRESULT ole_object::read_ambient_user_mode() noexcept {
    user_mode_ = true;
    if (!site_) return S_OK;
    com_ptr<IDispatch> ambient;
    if (FAILED(site_->QueryInterface(IID_IDispatch, ambient.put_void()))) return S_OK;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    unique_variant value;
    if (FAILED(ambient->Invoke(DISPID_AMBIENT_USERMODE, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                               value.get(), nullptr, nullptr)))
        return S_OK;  // a container without the ambient property: run time
    unique_variant flag;
    const HRESULT converted = VariantChangeType(flag.get(), value.get(), 0, VT_BOOL);
    if (SUCCEEDED(converted)) user_mode_ = V_BOOL(flag.get()) != VARIANT_FALSE;
    return converted == E_OUTOFMEMORY ? converted : S_OK;  // a value of no truth: run time as well
}

// ---- IViewObject2 -----------------------------------------------------------------------------------------------

HRESULT ole_object::Draw(DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc, LPCRECTL bounds, LPCRECTL,
                         BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR) noexcept {
    if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
    if (!dc || !bounds) return E_INVALIDARG;
    if (user_mode_) return S_OK;  // nothing at run time
    const RECT area{bounds->left, bounds->top, bounds->right, bounds->bottom};
    draw_face(dc, area);
    return S_OK;
}

HRESULT ole_object::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE** colours) noexcept {
    if (colours) *colours = nullptr;
    return S_FALSE;
}

HRESULT ole_object::Freeze(DWORD, LONG, void*, DWORD* freeze) noexcept {
    if (freeze) *freeze = 0;
    return S_OK;  // the face never changes while frozen
}

HRESULT ole_object::Unfreeze(DWORD) noexcept { return S_OK; }

HRESULT ole_object::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) noexcept {
    const keep_alive<ole_object> alive(*this);
    view_aspects_ = aspects;
    view_flags_ = flags;
    view_sink_ = com_ptr<IAdviseSink>::copy(sink);
    return S_OK;
}

HRESULT ole_object::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) noexcept {
    const keep_alive<ole_object> alive(*this);
    if (aspects) *aspects = view_aspects_;
    if (flags) *flags = view_flags_;
    if (sink) view_sink_.copy_to(sink);
    return S_OK;
}

HRESULT ole_object::GetExtent(DWORD aspect, LONG, DVTARGETDEVICE*, LPSIZEL size) noexcept {
    return GetExtent(aspect, size);
}

// ---- Persistence: the extent alone ------------------------------------------------------------------------------

HRESULT ole_object::GetClassID(CLSID* clsid) noexcept {
    if (!clsid) return E_POINTER;
    *clsid = CLSID_Zorvane;
    return S_OK;
}

HRESULT ole_object::IsDirty() noexcept { return S_FALSE; }

HRESULT ole_object::Load(IStream* stream) noexcept {
    const keep_alive<ole_object> alive(*this);
    if (!stream) return E_POINTER;
    LONG extent[2] = {};
    ULONG read = 0;
    const HRESULT hr = stream->Read(extent, sizeof(extent), &read);
    return FAILED(hr) ? hr : S_OK;  // the size is fixed: what was stored changes nothing
}

HRESULT ole_object::Save(IStream* stream, BOOL) noexcept {
    const keep_alive<ole_object> alive(*this);
    if (!stream) return E_POINTER;
    const LONG extent[2] = {extent_himetric, extent_himetric};
    ULONG written = 0;
    const HRESULT hr = stream->Write(extent, sizeof(extent), &written);
    if (FAILED(hr)) return hr;
    return written == sizeof(extent) ? S_OK : STG_E_MEDIUMFULL;
}

HRESULT ole_object::GetSizeMax(ULARGE_INTEGER* size) noexcept {
    if (!size) return E_POINTER;
    size->QuadPart = 2 * sizeof(LONG);
    return S_OK;
}

HRESULT ole_object::InitNew() noexcept { return S_OK; }

HRESULT ole_object::Load(IPropertyBag* bag, IErrorLog* log) noexcept {
    const keep_alive<ole_object> alive(*this);
    if (!bag) return E_POINTER;
    for (const wchar_t* name : {L"_extentx", L"_extenty"}) {
        unique_variant value;
        V_VT(value.get()) = VT_I4;
        bag->Read(name, value.get(), log);  // a missing or odd value changes nothing either
    }
    return S_OK;
}

HRESULT ole_object::Save(IPropertyBag* bag, BOOL, BOOL) noexcept {
    const keep_alive<ole_object> alive(*this);
    if (!bag) return E_POINTER;
    for (const wchar_t* name : {L"_extentx", L"_extenty"}) {
        VARIANT value;
        V_VT(&value) = VT_I4;
        V_I4(&value) = extent_himetric;
        const HRESULT hr = bag->Write(name, &value);
        if (FAILED(hr)) return hr;
    }
    return S_OK;
}

HRESULT ole_object::InitNew(IStorage* storage) noexcept { return storage ? S_OK : E_POINTER; }

HRESULT ole_object::Load(IStorage* storage) noexcept {
    const keep_alive<ole_object> alive(*this);
    if (!storage) return E_POINTER;
    com_ptr<IStream> stream;
    if (FAILED(storage->OpenStream(contents_stream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.put())))
        return S_OK;  // nothing stored: the fixed size needs nothing
    return Load(stream.get());
}

HRESULT ole_object::Save(IStorage* storage, BOOL) noexcept {
    const keep_alive<ole_object> alive(*this);
    if (!storage) return E_POINTER;
    com_ptr<IStream> stream;
    const HRESULT hr = storage->CreateStream(contents_stream, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                             stream.put());
    return FAILED(hr) ? hr : Save(stream.get(), TRUE);
}

HRESULT ole_object::SaveCompleted(IStorage*) noexcept { return S_OK; }
HRESULT ole_object::HandsOffStorage() noexcept { return S_OK; }

// ---- IQuickActivate ---------------------------------------------------------------------------------------------

HRESULT ole_object::QuickActivate(QACONTAINER* container, QACONTROL* control) noexcept {
    const keep_alive<ole_object> alive(*this);
    if (!container || !control) return E_POINTER;
    if (container->cbSize < sizeof(QACONTAINER) || control->cbSize < sizeof(QACONTROL)) return E_INVALIDARG;
    SetClientSite(container->pClientSite);
    user_mode_ = (container->dwAmbientFlags & QACONTAINER_USERMODE) != 0;
    if (container->pAdviseSink) SetAdvise(DVASPECT_CONTENT, 0, container->pAdviseSink);
    control->dwMiscStatus = control_misc_status;
    control->dwViewStatus = 0;
    control->dwEventCookie = 0;
    control->dwPropNotifyCookie = 0;
    control->dwPointerActivationPolicy = 0;
    // A sink the control has no memory to keep fails the quick activation (the container then sites it the usual
    // way); one that cannot take its events is left unconnected, as before.
    if (container->pUnkEventSink &&
        source_.Advise(container->pUnkEventSink, &control->dwEventCookie) == E_OUTOFMEMORY)
        return E_OUTOFMEMORY;
    return S_OK;
}

HRESULT ole_object::SetContentExtent(LPSIZEL size) noexcept { return size ? S_OK : E_POINTER; }

HRESULT ole_object::GetContentExtent(LPSIZEL size) noexcept {
    if (!size) return E_POINTER;
    size->cx = size->cy = extent_himetric;
    return S_OK;
}

// ---- Connection points ------------------------------------------------------------------------------------------

HRESULT ole_object::EnumConnectionPoints(IEnumConnectionPoints** points) noexcept {
    if (!points) return E_POINTER;
    *points = nullptr;
    try {
        *points = new point_enumerator({static_cast<IConnectionPoint*>(&source_)});
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

HRESULT ole_object::FindConnectionPoint(REFIID iid, IConnectionPoint** point) noexcept {
    if (!point) return E_POINTER;
    *point = nullptr;
    if (!IsEqualIID(iid, DIID___Zorvane)) return CONNECT_E_NOCONNECTION;
    *point = &source_;
    source_.AddRef();
    return S_OK;
}

std::span<const interface_entry<ole_object::source_point>> ole_object::source_point::interface_table() noexcept {
    static constexpr interface_entry<source_point> table[] = {
        {&IID_IUnknown, &as<source_point, IConnectionPoint>},
        {&IID_IConnectionPoint, &as<source_point, IConnectionPoint>},
    };
    return table;
}

HRESULT ole_object::source_point::GetConnectionInterface(IID* iid) noexcept {
    if (!iid) return E_POINTER;
    *iid = DIID___Zorvane;
    return S_OK;
}

HRESULT ole_object::source_point::GetConnectionPointContainer(IConnectionPointContainer** container) noexcept {
    if (!container) return E_POINTER;
    *container = &owner_;
    owner_.AddRef();
    return S_OK;
}

HRESULT ole_object::source_point::Advise(IUnknown* sink, DWORD* cookie) noexcept {
    const keep_alive<ole_object> alive(owner_);
    if (!sink || !cookie) return E_POINTER;
    *cookie = 0;
    com_ptr<IUnknown> held;
    if (FAILED(sink->QueryInterface(DIID___Zorvane, held.put_void())) &&
        FAILED(sink->QueryInterface(IID_IDispatch, held.put_void())))
        return CONNECT_E_CANNOTCONNECT;
    try {
        sinks_.emplace_back(next_cookie_, std::move(held));
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    *cookie = next_cookie_++;
    return S_OK;
}

HRESULT ole_object::source_point::Unadvise(DWORD cookie) noexcept {
    const keep_alive<ole_object> alive(owner_);
    auto found = std::find_if(sinks_.begin(), sinks_.end(), [&](const auto& s) { return s.first == cookie; });
    if (found == sinks_.end()) return CONNECT_E_NOCONNECTION;
    sinks_.erase(found);
    return S_OK;
}

HRESULT ole_object::source_point::EnumConnections(IEnumConnections** connections) noexcept {
    const keep_alive<ole_object> alive(owner_);
    if (!connections) return E_POINTER;
    *connections = nullptr;
    try {
        std::vector<CONNECTDATA> data;
        for (const auto& s : sinks_) data.push_back({s.second.get(), s.first});
        *connections = new connection_enumerator(std::move(data));
        return S_OK;
    } catch (...) {
        return E_OUTOFMEMORY;
    }
}

} // namespace zorvane
