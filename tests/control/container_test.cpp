// The control as containers use it: a recording site of our own, and the system's own ATL container.
#include "support/client_site.h"
#include "support/dispatch_call.h"
#include "support/ocx.h"
#include "support/published.h"
#include "support/window_messages.h"

#include <gtest/gtest.h>

#include <ocidl.h>
#include <olectl.h>

#include <map>
#include <string>

namespace {

const IID iid_object_safety = {0xCB5BDC81, 0x93C1, 0x11CF, {0x8F, 0x20, 0x00, 0x80, 0x5F, 0x2C, 0xD0, 0x64}};

template <typename T>
T* query(IUnknown* object, REFIID iid) {
    T* out = nullptr;
    return SUCCEEDED(object->QueryInterface(iid, reinterpret_cast<void**>(&out))) ? out : nullptr;
}

// A property bag that keeps what it is given.
class bag final : public IPropertyBag {
public:
    std::map<std::wstring, LONG> values;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyBag)) {
            *out = this;
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT* value, IErrorLog*) override {
        auto found = values.find(name);
        if (found == values.end()) return E_INVALIDARG;
        V_VT(value) = VT_I4;
        V_I4(value) = found->second;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR name, VARIANT* value) override {
        values[name] = V_VT(value) == VT_I4 ? V_I4(value) : -1;
        return S_OK;
    }
};

struct container : ::testing::Test {
    void SetUp() override {
        CoInitialize(nullptr);
        control = zvtest::new_control();
        ole = query<IOleObject>(control, IID_IOleObject);
        ASSERT_NE(nullptr, ole);
    }
    void TearDown() override {
        if (ole) {
            ole->Close(OLECLOSE_NOSAVE);
            ole->SetClientSite(nullptr);
            ole->Release();
        }
        if (control) control->Release();
        EXPECT_EQ(1u, host.references);  // every reference to the site given back
        EXPECT_EQ(S_OK, zvtest::can_unload_now());
        CoUninitialize();
    }
    IUnknown* control = nullptr;
    IOleObject* ole = nullptr;
    zvtest::client_site host;
};

TEST_F(container, fixed_extent_and_misc_status) {
    for (SIZEL asked : {SIZEL{3528, 1764} /* 2000 x 1000 twips */, SIZEL{2, 2} /* 1 x 1 */}) {
        EXPECT_EQ(S_OK, ole->SetExtent(DVASPECT_CONTENT, &asked));
        SIZEL now{};
        ASSERT_EQ(S_OK, ole->GetExtent(DVASPECT_CONTENT, &now));
        EXPECT_EQ(1111, now.cx);
        EXPECT_EQ(1111, now.cy);
    }
    DWORD status = 0;
    ASSERT_EQ(S_OK, ole->GetMiscStatus(DVASPECT_CONTENT, &status));
    EXPECT_EQ(132497u, status);
    IViewObject2* view = query<IViewObject2>(control, IID_IViewObject2);
    ASSERT_NE(nullptr, view);
    SIZEL extent{};
    EXPECT_EQ(S_OK, view->GetExtent(DVASPECT_CONTENT, -1, nullptr, &extent));
    EXPECT_EQ(1111, extent.cx);
    view->Release();
    // Never marked safe for scripting or initialisation.
    EXPECT_EQ(nullptr, query<IUnknown>(control, iid_object_safety));
}

TEST_F(container, persists_only_its_extent) {
    IPersistStreamInit* stream_persist = query<IPersistStreamInit>(control, IID_IPersistStreamInit);
    ASSERT_NE(nullptr, stream_persist);
    IStream* stream = nullptr;
    ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, &stream));
    EXPECT_EQ(S_OK, stream_persist->InitNew());
    EXPECT_EQ(S_OK, stream_persist->Save(stream, TRUE));
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    EXPECT_EQ(8u, stat.cbSize.QuadPart);
    LARGE_INTEGER start{};
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    LONG saved[2] = {};
    stream->Read(saved, sizeof(saved), nullptr);
    EXPECT_EQ(1111, saved[0]);
    EXPECT_EQ(1111, saved[1]);
    stream->Seek(start, STREAM_SEEK_SET, nullptr);
    EXPECT_EQ(S_OK, stream_persist->Load(stream));
    CLSID clsid{};
    EXPECT_EQ(S_OK, stream_persist->GetClassID(&clsid));
    EXPECT_TRUE(IsEqualCLSID(zvtest::clsid_zorvane, clsid));
    stream->Release();
    stream_persist->Release();

    IPersistPropertyBag* bag_persist = query<IPersistPropertyBag>(control, IID_IPersistPropertyBag);
    ASSERT_NE(nullptr, bag_persist);
    bag properties;
    EXPECT_EQ(S_OK, bag_persist->Save(&properties, TRUE, TRUE));
    const std::map<std::wstring, LONG> expected = {{L"_extentx", 1111}, {L"_extenty", 1111}};
    EXPECT_EQ(expected, properties.values);
    properties.values = {{L"_extentx", 5000}, {L"_extenty", 9}};
    EXPECT_EQ(S_OK, bag_persist->Load(&properties, nullptr));
    SIZEL now{};
    ole->GetExtent(DVASPECT_CONTENT, &now);
    EXPECT_EQ(1111, now.cx);  // a stored size changes nothing
    bag empty;
    EXPECT_EQ(S_OK, bag_persist->Load(&empty, nullptr));
    bag_persist->Release();

    IPersistStorage* storage_persist = query<IPersistStorage>(control, IID_IPersistStorage);
    ASSERT_NE(nullptr, storage_persist);
    ILockBytes* bytes = nullptr;
    IStorage* storage = nullptr;
    ASSERT_EQ(S_OK, CreateILockBytesOnHGlobal(nullptr, TRUE, &bytes));
    ASSERT_EQ(S_OK, StgCreateDocfileOnILockBytes(bytes, STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                                                 &storage));
    EXPECT_EQ(S_OK, storage_persist->InitNew(storage));
    EXPECT_EQ(S_OK, storage_persist->Save(storage, TRUE));
    EXPECT_EQ(S_OK, storage_persist->SaveCompleted(nullptr));
    EXPECT_EQ(S_OK, storage_persist->Load(storage));
    storage->Release();
    bytes->Release();
    storage_persist->Release();
}

// Pixels of the control's view drawn into a 42 x 42 memory bitmap first filled with magenta.
struct drawing {
    COLORREF pixel[42][42] = {};
};

drawing draw(IUnknown* control) {
    drawing out;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, 42, 42);
    ReleaseDC(nullptr, screen);
    HGDIOBJ old = SelectObject(memory, bitmap);
    HBRUSH magenta = CreateSolidBrush(RGB(255, 0, 255));
    RECT all{0, 0, 42, 42};
    FillRect(memory, &all, magenta);
    DeleteObject(magenta);
    IViewObject2* view = query<IViewObject2>(control, IID_IViewObject2);
    const RECTL bounds{0, 0, 42, 42};
    EXPECT_EQ(S_OK, view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, memory, &bounds, nullptr, nullptr, 0));
    view->Release();
    for (int y = 0; y < 42; ++y)
        for (int x = 0; x < 42; ++x) out.pixel[y][x] = GetPixel(memory, x, y);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    return out;
}

bool close_to(COLORREF a, COLORREF b, int tolerance = 24) {
    return std::abs(GetRValue(a) - GetRValue(b)) <= tolerance && std::abs(GetGValue(a) - GetGValue(b)) <= tolerance &&
           std::abs(GetBValue(a) - GetBValue(b)) <= tolerance;
}

TEST_F(container, draws_its_face_only_in_design_mode) {
    host.user_mode = false;
    ASSERT_EQ(S_OK, ole->SetClientSite(&host));
    const drawing design = draw(control);
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), design.pixel[0][0]);      // the frame around the emblem
    EXPECT_TRUE(close_to(RGB(0x1f, 0x4f, 0xbf), design.pixel[4][4]));     // blue ground
    EXPECT_TRUE(close_to(RGB(0xf0, 0xf0, 0xf0), design.pixel[21][21]));   // the window's cross bars
    EXPECT_TRUE(close_to(RGB(0x9f, 0xd3, 0xff), design.pixel[15][15]));   // a pane

    host.user_mode = true;
    IOleControl* ole_control = query<IOleControl>(control, IID_IOleControl);
    ASSERT_NE(nullptr, ole_control);
    EXPECT_EQ(S_OK, ole_control->OnAmbientPropertyChange(DISPID_AMBIENT_USERMODE));
    ole_control->Release();
    const drawing run = draw(control);
    for (int y = 0; y < 42; ++y)
        for (int x = 0; x < 42; ++x) ASSERT_EQ(RGB(255, 0, 255), run.pixel[y][x]) << x << "," << y;
}

TEST_F(container, in_place_window_at_design_time_only) {
    host.window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 600, 500, nullptr, nullptr, nullptr,
                                  nullptr);
    host.user_mode = true;
    ASSERT_EQ(S_OK, ole->SetClientSite(&host));
    EXPECT_EQ(S_OK, ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &host, 0, host.window, nullptr));
    EXPECT_EQ(0, host.activated);
    EXPECT_EQ(nullptr, GetWindow(host.window, GW_CHILD));  // nothing at run time

    host.user_mode = false;
    ASSERT_EQ(S_OK, ole->SetClientSite(&host));
    const RECT where{10, 20, 500, 400};
    EXPECT_EQ(S_OK, ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &host, 0, host.window, &where));
    EXPECT_EQ(1, host.activated);
    HWND face = GetWindow(host.window, GW_CHILD);
    ASSERT_NE(nullptr, face);
    RECT area;
    GetWindowRect(face, &area);
    HDC screen = GetDC(nullptr);
    const int expected = MulDiv(1111, GetDeviceCaps(screen, LOGPIXELSX), 2540);
    ReleaseDC(nullptr, screen);
    EXPECT_EQ(expected, area.right - area.left);  // 42 at 96 dpi
    EXPECT_EQ(expected, area.bottom - area.top);
    // scripts/screenshots.sh asks for a picture of the design-time face for the documentation.
    wchar_t folder[MAX_PATH] = {};
    if (GetEnvironmentVariableW(L"ZV_SCREENSHOT_DIR", folder, MAX_PATH)) {
        ASSERT_TRUE(zvtest::wait_painted_on_screen(face));
        IDispatch* dispatch = query<IDispatch>(control, IID_IDispatch);
        {
            zvtest::dispatch_call capture(zvtest::hand_result);  // CaptureHwnd(window, file)
            capture.arg(static_cast<LONG>(reinterpret_cast<LONG_PTR>(face)));
            EXPECT_EQ(S_OK, capture.arg(std::wstring(folder) + L"\\face.bmp").invoke(dispatch, 0x60030005));
        }
        dispatch->Release();
    }
    SIZEL asked{5000, 5000};
    EXPECT_EQ(S_OK, ole->SetExtent(DVASPECT_CONTENT, &asked));
    EXPECT_EQ(expected, host.position_change.right - host.position_change.left);

    EXPECT_EQ(S_OK, ole->Close(OLECLOSE_NOSAVE));
    EXPECT_EQ(1, host.deactivated);
    EXPECT_FALSE(IsWindow(face));
    DestroyWindow(host.window);
}

TEST_F(container, quick_activation_and_the_silent_source) {
    IQuickActivate* quick = query<IQuickActivate>(control, IID_IQuickActivate);
    ASSERT_NE(nullptr, quick);
    QACONTAINER qa{};
    qa.cbSize = sizeof(qa);
    qa.pClientSite = &host;
    qa.dwAmbientFlags = QACONTAINER_USERMODE;
    QACONTROL answer{};
    answer.cbSize = sizeof(answer);
    EXPECT_EQ(S_OK, quick->QuickActivate(&qa, &answer));
    EXPECT_EQ(132497u, answer.dwMiscStatus);
    SIZEL extent{};
    EXPECT_EQ(S_OK, quick->GetContentExtent(&extent));
    EXPECT_EQ(1111, extent.cx);
    quick->Release();

    IConnectionPointContainer* points = query<IConnectionPointContainer>(control, IID_IConnectionPointContainer);
    ASSERT_NE(nullptr, points);
    IConnectionPoint* point = nullptr;
    EXPECT_EQ(CONNECT_E_NOCONNECTION, points->FindConnectionPoint(IID_IPropertyNotifySink, &point));
    ASSERT_EQ(S_OK, points->FindConnectionPoint(zvtest::diid_source, &point));
    IID iid{};
    point->GetConnectionInterface(&iid);
    EXPECT_TRUE(IsEqualIID(zvtest::diid_source, iid));
    DWORD cookie = 0;
    ASSERT_EQ(S_OK, point->Advise(static_cast<IDispatch*>(&host), &cookie));
    EXPECT_NE(0u, cookie);
    IEnumConnections* connections = nullptr;
    ASSERT_EQ(S_OK, point->EnumConnections(&connections));
    CONNECTDATA data{};
    ULONG fetched = 0;
    EXPECT_EQ(S_OK, connections->Next(1, &data, &fetched));
    EXPECT_EQ(cookie, data.dwCookie);
    data.pUnk->Release();
    connections->Release();
    EXPECT_EQ(S_OK, point->Unadvise(cookie));
    EXPECT_EQ(CONNECT_E_NOCONNECTION, point->Unadvise(cookie));
    point->Release();

    // The enumerator of its one connection point, walked with out-values seeded: what it does not give stays.
    IEnumConnectionPoints* all = nullptr;
    ASSERT_EQ(S_OK, points->EnumConnectionPoints(&all));
    auto* const seed = reinterpret_cast<IConnectionPoint*>(static_cast<ULONG_PTR>(0x5EED));
    IConnectionPoint* found[2] = {seed, seed};
    fetched = 77;
    EXPECT_EQ(S_FALSE, all->Next(2, found, &fetched));
    EXPECT_EQ(1u, fetched);
    EXPECT_EQ(seed, found[1]);
    found[0]->Release();
    found[0] = seed;
    fetched = 77;
    EXPECT_EQ(S_FALSE, all->Next(1, found, &fetched));  // at the end
    EXPECT_EQ(0u, fetched);
    EXPECT_EQ(seed, found[0]);
    EXPECT_EQ(E_POINTER, all->Next(2, found, nullptr));
    EXPECT_EQ(S_OK, all->Reset());
    EXPECT_EQ(S_OK, all->Skip(0));
    EXPECT_EQ(S_OK, all->Skip(1));  // exactly to the end
    EXPECT_EQ(S_FALSE, all->Skip(1));
    EXPECT_EQ(S_OK, all->Reset());
    EXPECT_EQ(S_FALSE, all->Skip(2));  // past it: as far as there is
    EXPECT_EQ(S_FALSE, all->Next(1, found, nullptr));
    IEnumConnectionPoints* copy = nullptr;
    EXPECT_EQ(E_POINTER, all->Clone(nullptr));
    ASSERT_EQ(S_OK, all->Clone(&copy));  // where the original stands: at the end
    EXPECT_EQ(S_FALSE, copy->Next(1, found, nullptr));
    EXPECT_EQ(seed, found[0]);
    EXPECT_EQ(S_OK, copy->Reset());
    EXPECT_EQ(S_OK, copy->Next(1, found, nullptr));
    ASSERT_NE(seed, found[0]);
    IUnknown* unknown = reinterpret_cast<IUnknown*>(seed);
    EXPECT_EQ(E_NOINTERFACE, found[0]->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&unknown)));
    EXPECT_EQ(nullptr, unknown);
    EXPECT_EQ(S_OK, found[0]->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown)));  // its own
    unknown->Release();
    found[0]->Release();
    unknown = reinterpret_cast<IUnknown*>(seed);
    EXPECT_EQ(E_NOINTERFACE, copy->QueryInterface(IID_IEnumConnections, reinterpret_cast<void**>(&unknown)));
    EXPECT_EQ(nullptr, unknown);
    copy->Release();
    all->Release();
    points->Release();
}

// ---- A container's callbacks ----------------------------------------------------------------------------------

// A container may let go of its last reference inside any call the control makes to it (here: the ambient
// UserMode read during activation, and OnInPlaceDeactivate during Close). The control and the library stay until
// the control's own method has returned. The accelerator table the container hands over stays the container's.
TEST(container_callbacks, the_container_may_let_go_of_the_control_inside_them) {
    CoInitialize(nullptr);
    ACCEL keys[] = {{FVIRTKEY | FCONTROL, 'S', 100}, {FVIRTKEY, VK_F1, 101}};
    HACCEL accelerators = CreateAcceleratorTableW(keys, 2);
    ASSERT_NE(nullptr, accelerators);
    for (const bool in_close : {false, true}) {
        SCOPED_TRACE(in_close ? "OnInPlaceDeactivate during Close" : "the ambient UserMode during DoVerb");
        ASSERT_EQ(S_OK, zvtest::can_unload_now());  // nothing else of the library alive
        IUnknown* object = zvtest::new_control();
        IOleObject* ole = query<IOleObject>(object, IID_IOleObject);
        object->Release();
        ASSERT_NE(nullptr, ole);
        zvtest::client_site site;
        site.user_mode = false;
        site.accelerators = accelerators;
        site.window = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 300, 300, nullptr, nullptr,
                                      nullptr, nullptr);
        ASSERT_EQ(S_OK, ole->SetClientSite(&site));
        HRESULT inside = E_FAIL;
        bool released = false;
        auto let_go = [&] {
            if (released) return;
            released = true;
            ole->Release();
            inside = zvtest::can_unload_now();
        };
        if (in_close) {
            // In place without a position: the control asks for the window context, accelerators included.
            ASSERT_EQ(S_OK, ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.window, nullptr));
            ASSERT_NE(nullptr, GetWindow(site.window, GW_CHILD));
            site.on_deactivated = let_go;
            EXPECT_EQ(S_OK, ole->Close(OLECLOSE_NOSAVE));
        } else {
            site.on_ambient = let_go;
            EXPECT_EQ(S_OK, ole->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, &site, 0, site.window, nullptr));
        }
        EXPECT_EQ(S_FALSE, inside) << "the control went while its own method still ran";
        EXPECT_EQ(S_OK, zvtest::can_unload_now()) << "the control stayed after its method returned";
        EXPECT_EQ(nullptr, GetWindow(site.window, GW_CHILD));  // its face went with it
        EXPECT_EQ(1u, site.references);
        EXPECT_EQ(2, CopyAcceleratorTableW(accelerators, nullptr, 0)) << "the container's accelerators were destroyed";
        DestroyWindow(site.window);
    }
    DestroyAcceleratorTable(accelerators);
    CoUninitialize();
}

// ---- The system's ATL container -------------------------------------------------------------------------------

TEST(atl_container, hosts_the_control_invisibly_and_calls_it) {
    CoInitialize(nullptr);
    HMODULE atl = LoadLibraryW(L"atl.dll");
    ASSERT_NE(nullptr, atl);
    auto init = reinterpret_cast<BOOL(WINAPI*)()>(reinterpret_cast<void (*)()>(GetProcAddress(atl, "AtlAxWinInit")));
    auto get_control = reinterpret_cast<HRESULT(WINAPI*)(HWND, IUnknown**)>(
        reinterpret_cast<void (*)()>(GetProcAddress(atl, "AtlAxGetControl")));
    ASSERT_TRUE(init && get_control && init());
    HWND parent = CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_VISIBLE, 0, 0, 300, 300, nullptr, nullptr,
                                  nullptr, nullptr);
    HWND host = CreateWindowExW(0, L"AtlAxWin", zvtest::prog_id, WS_CHILD | WS_VISIBLE, 0, 0, 200, 100, parent,
                                nullptr, nullptr, nullptr);
    ASSERT_NE(nullptr, host);
    IUnknown* object = nullptr;
    ASSERT_EQ(S_OK, get_control(host, &object));
    IDispatch* dispatch = query<IDispatch>(object, IID_IDispatch);
    ASSERT_NE(nullptr, dispatch);
    {
        zvtest::dispatch_call call(zvtest::hand_result);
        EXPECT_EQ(S_OK, call.invoke(dispatch, L"WindowsMajorVersion"));
        EXPECT_EQ(VT_BSTR, V_VT(&call.result));
    }
    // Run time: no window of the control's own inside the container.
    EXPECT_EQ(nullptr, FindWindowExW(host, nullptr, L"ZorvaneLibFace", nullptr));
    SIZEL extent{};
    IOleObject* ole = query<IOleObject>(object, IID_IOleObject);
    ASSERT_NE(nullptr, ole);
    ole->GetExtent(DVASPECT_CONTENT, &extent);
    EXPECT_EQ(1111, extent.cx);
    ole->Release();
    dispatch->Release();
    object->Release();
    DestroyWindow(parent);
    MSG m;
    while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&m);
    CoUninitialize();
}

} // namespace
