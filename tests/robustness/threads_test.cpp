// Controls on several threads at once: two apartments with their own controls, About boxes and subclassed
// forms, a pointer passed between apartments, a thread without COM and one in the multithreaded apartment.
#include "support/dispatch_call.h"
#include "support/ocx.h"
#include "support/published.h"
#include "support/window_closer.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// Places in _Zorvane (entry 489 + place) and DISPIDs of the methods used here.
enum place : int {
    get_temp_dir = 4,
    set_cursor_position = 25,
    windows_platform = 30,
    windows_major_version = 32,
    get_total_memory = 36,
    get_free_memory = 37,
    get_processor_type = 42,
    hide_focus = 46,
    show_focus = 47,
    stop_resize = 50,
    show_about = 57,
};
DISPID dispid_of(place p) {
    switch (p) {
    case get_temp_dir: return 0x60030004;
    case set_cursor_position: return 0x6003001A;
    case windows_platform: return 0x6003001F;
    case windows_major_version: return 0x60030021;
    case get_total_memory: return 0x60030025;
    case get_free_memory: return 0x60030026;
    case get_processor_type: return 0x6003002B;
    case hide_focus: return 0x6003002F;
    case show_focus: return 0x60030030;
    case stop_resize: return 0x60030033;
    case show_about: return -552;
    }
    return 0;
}

const wchar_t about_caption[] = L"О контроле...";
const wchar_t form_class[] = L"zv thread form";

enum class apartment { single, multi, none };

// A thread of its own that runs the tasks given to it, answering messages sent to its windows in between.
class worker final {
public:
    explicit worker(apartment kind) : kind_(kind), thread_([this] { loop(); }) {
        std::unique_lock<std::mutex> guard(lock_);
        started_.wait(guard, [this] { return thread_id_ != 0; });
    }
    worker(const worker&) = delete;
    worker& operator=(const worker&) = delete;
    ~worker() {
        {
            std::lock_guard<std::mutex> guard(lock_);
            stop_ = true;
        }
        SetEvent(wake_);
        thread_.join();
        CloseHandle(wake_);
    }

    // Runs `f` on the thread; the answer comes through the future.
    template <typename F>
    auto start(F f) -> std::future<decltype(f())> {
        auto task = std::make_shared<std::packaged_task<decltype(f())()>>(std::move(f));
        auto answer = task->get_future();
        {
            std::lock_guard<std::mutex> guard(lock_);
            tasks_.push_back([task] { (*task)(); });
        }
        SetEvent(wake_);
        return answer;
    }
    // Runs `f` on the thread and waits for it (at most 20 s: a lost task fails instead of hanging).
    template <typename F>
    auto run(F f) -> decltype(f()) {
        auto answer = start(std::move(f));
        if (answer.wait_for(std::chrono::seconds(20)) != std::future_status::ready)
            throw std::runtime_error("the worker did not answer");
        return answer.get();
    }

    DWORD id() const noexcept { return thread_id_; }
    HRESULT initialized() const noexcept { return initialized_; }

private:
    void loop() {
        if (kind_ == apartment::single) initialized_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (kind_ == apartment::multi) initialized_ = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        {
            std::lock_guard<std::mutex> guard(lock_);
            thread_id_ = GetCurrentThreadId();
        }
        started_.notify_all();
        for (;;) {
            MsgWaitForMultipleObjectsEx(1, &wake_, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
            MSG m;
            while (PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&m);
                DispatchMessageW(&m);
            }
            std::deque<std::function<void()>> due;
            {
                std::lock_guard<std::mutex> guard(lock_);
                due.swap(tasks_);
                if (stop_ && due.empty()) break;
            }
            for (auto& task : due) task();
        }
        if (kind_ != apartment::none && SUCCEEDED(initialized_)) CoUninitialize();
    }

    const apartment kind_;
    HANDLE wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::mutex lock_;
    std::condition_variable started_;
    std::deque<std::function<void()>> tasks_;
    bool stop_ = false;
    DWORD thread_id_ = 0;
    HRESULT initialized_ = S_FALSE;
    std::thread thread_;  // last: starts once everything above exists
};

void* entry(IDispatch* dual, int which) { return (*reinterpret_cast<void***>(dual))[489 + which]; }

std::wstring text_of(BSTR b) { return b ? std::wstring(b, SysStringLen(b)) : L"(null)"; }

// A String method through its entry in the table of functions: "hr:text".
std::wstring by_vtable(IDispatch* dual, place p) {
    BSTR result = nullptr;
    const HRESULT hr = reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IDispatch*, BSTR*)>(entry(dual, p))(dual, &result);
    const std::wstring text = std::to_wstring(hr) + L":" + text_of(result);
    SysFreeString(result);
    return text;
}

// The same method through IDispatch::Invoke: "hr:text".
std::wstring by_invoke(IDispatch* dual, place p) {
    zvtest::dispatch_call call(zvtest::hand_result);
    const HRESULT hr = call.invoke(dual, dispid_of(p));
    return std::to_wstring(hr) + L":" +
           (V_VT(&call.result) == VT_BSTR ? text_of(V_BSTR(&call.result)) : L"(not a String)");
}

HRESULT window_call(IDispatch* dual, place p, HWND window) {
    LONG handle = static_cast<LONG>(reinterpret_cast<LONG_PTR>(window));
    return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IDispatch*, LONG*)>(entry(dual, p))(dual, &handle);
}

HRESULT stop_resizing(IDispatch* dual, HWND window, LONG width, SHORT height) {
    LONG handle = static_cast<LONG>(reinterpret_cast<LONG_PTR>(window));
    VARIANT w;
    V_VT(&w) = VT_I4;
    V_I4(&w) = width;
    using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, LONG*, VARIANT*, SHORT*);
    return reinterpret_cast<method>(entry(dual, stop_resize))(dual, &handle, &w, &height);
}

// SetCursorPosition with a Y that is no number: "hr:description" of the error the thread was left with.
std::wstring failing_call(IDispatch* dual) {
    VARIANT x;
    V_VT(&x) = VT_I4;
    V_I4(&x) = 1;
    BSTR y = SysAllocString(L"not a number");
    using method = HRESULT(STDMETHODCALLTYPE*)(IDispatch*, VARIANT*, BSTR*);
    const HRESULT hr = reinterpret_cast<method>(entry(dual, set_cursor_position))(dual, &x, &y);
    SysFreeString(y);
    return std::to_wstring(hr) + L":" + zvtest::take_error_description();
}

// The same failure through Invoke: "hr:description" as EXCEPINFO carries it.
std::wstring failing_invoke(IDispatch* dual) {
    zvtest::dispatch_call call(zvtest::hand_exception);
    const HRESULT hr = call.arg(1).arg(L"not a number").invoke(dual, dispid_of(set_cursor_position));
    return std::to_wstring(hr) + L":" + std::to_wstring(call.exception.scode) + L":" +
           text_of(call.exception.bstrDescription);
}
const std::wstring type_mismatch_raised = std::to_wstring(DISP_E_EXCEPTION) + L":" +
                                          std::to_wstring(static_cast<HRESULT>(0x800A000D)) + L":Type mismatch";

// A new control through the library's class factory, as its dual interface.
IDispatch* new_dual() {
    IClassFactory* factory = nullptr;
    if (FAILED(zvtest::get_class_object(zvtest::clsid_zorvane, IID_IClassFactory, reinterpret_cast<void**>(&factory))))
        return nullptr;
    IDispatch* dual = nullptr;
    factory->CreateInstance(nullptr, zvtest::iid_zorvane, reinterpret_cast<void**>(&dual));
    factory->Release();
    return dual;
}

// What one thread saw of its controls.
struct calls_seen {
    std::vector<std::wstring> vtable, invoke;  // per control: major version, total memory, processor type
    std::wstring free_memory, platform, temp_dir, failure;
    std::vector<ULONG> last_release;  // what the final Release of each control answered
    bool made_all = true;
};

calls_seen make_call_and_release(int controls) {
    calls_seen seen;
    std::vector<IDispatch*> duals;
    for (int i = 0; i < controls; ++i) {
        IDispatch* dual = new_dual();
        if (!dual) {
            seen.made_all = false;
            continue;
        }
        duals.push_back(dual);
    }
    for (IDispatch* dual : duals) {
        for (place p : {windows_major_version, get_total_memory, get_processor_type}) {
            seen.vtable.push_back(by_vtable(dual, p));
            seen.invoke.push_back(by_invoke(dual, p));
        }
    }
    if (!duals.empty()) {
        seen.free_memory = by_invoke(duals.front(), get_free_memory);
        seen.platform = by_vtable(duals.front(), windows_platform);
        seen.temp_dir = by_invoke(duals.back(), get_temp_dir);
        seen.failure = failing_call(duals.back());
    }
    for (IDispatch* dual : duals) seen.last_release.push_back(dual->Release());
    return seen;
}

void expect_consistent(const calls_seen& seen, int controls, const std::wstring& major_expected) {
    EXPECT_TRUE(seen.made_all);
    ASSERT_EQ(static_cast<size_t>(controls) * 3, seen.vtable.size());
    EXPECT_EQ(seen.vtable, seen.invoke);  // the same answers through both ways
    for (size_t i = 0; i < seen.vtable.size(); ++i) {
        EXPECT_EQ(0u, seen.vtable[i].find(L"0:")) << std::string(seen.vtable[i].begin(), seen.vtable[i].end());
        EXPECT_EQ(seen.vtable[i % 3], seen.vtable[i]);  // every control answers alike
    }
    EXPECT_EQ(major_expected, seen.vtable[0]);
    EXPECT_NE(L"0:", seen.vtable[1]);
    EXPECT_EQ(0u, seen.free_memory.find(L"0:")) << std::string(seen.free_memory.begin(), seen.free_memory.end());
    EXPECT_EQ(L"0:Windows NT(XP)", seen.platform);
    EXPECT_GT(seen.temp_dir.size(), 3u);
    EXPECT_EQ(std::to_wstring(static_cast<HRESULT>(0x800A000D)) + L":Type mismatch", seen.failure);
    EXPECT_EQ(std::vector<ULONG>(static_cast<size_t>(controls), 0u), seen.last_release);
}

std::wstring major_version_here() {
    IDispatch* dual = new_dual();
    if (!dual) return L"(no control)";
    std::wstring text = by_vtable(dual, windows_major_version);
    dual->Release();
    return text;
}

// Counts WM_SETFOCUS in the window's user data: what the form's own procedure was told.
LRESULT CALLBACK form_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_SETFOCUS) SetWindowLongPtrW(window, GWLP_USERDATA, GetWindowLongPtrW(window, GWLP_USERDATA) + 1);
    return DefWindowProcW(window, message, w, l);
}

void register_form_class() {
    static const ATOM registered = [] {
        WNDCLASSW c{};
        c.lpfnWndProc = &form_procedure;
        c.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        c.lpszClassName = form_class;
        return RegisterClassW(&c);
    }();
    (void)registered;
}

HWND new_form(int x) {
    register_form_class();
    return CreateWindowExW(0, form_class, L"zv thread form", WS_OVERLAPPEDWINDOW | WS_VISIBLE, x, 100, 300, 250,
                           nullptr, nullptr, nullptr, nullptr);
}

LONG_PTR told_focus(HWND window) { return GetWindowLongPtrW(window, GWLP_USERDATA); }

POINT min_track(HWND window) {
    MINMAXINFO info{};
    info.ptMinTrackSize = {7, 8};
    SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    return info.ptMinTrackSize;
}

bool subclassed(HWND window) {
    return GetWindowLongPtrW(window, GWLP_WNDPROC) != reinterpret_cast<LONG_PTR>(&form_procedure);
}

template <typename Condition>
bool wait_until(Condition condition, int milliseconds = 5000) {
    for (int waited = 0; !condition(); waited += 10) {
        if (waited >= milliseconds) return false;
        Sleep(10);
    }
    return true;
}

BOOL CALLBACK find_about(HWND w, LPARAM found) {
    wchar_t text[64] = {};
    GetWindowTextW(w, text, 64);
    if (!IsWindowVisible(w) || lstrcmpW(text, about_caption)) return TRUE;
    *reinterpret_cast<HWND*>(found) = w;
    return FALSE;
}

// The visible About form of a thread, null when there is none.
HWND about_of(DWORD thread) {
    HWND found = nullptr;
    EnumThreadWindows(thread, &find_about, reinterpret_cast<LPARAM>(&found));
    return found;
}

// Whatever a test asserts, every About box of these threads is closed before the workers go.
struct about_guard {
    std::vector<DWORD> threads;
    ~about_guard() {
        for (int round = 0; round < 50; ++round)
            for (DWORD t : threads)
                if (HWND box = about_of(t)) PostMessageW(box, WM_CLOSE, 0, 0);
    }
};

// One apartment's share of the test: its controls, its forms, what it saw.
struct apartment_side {
    explicit apartment_side(apartment kind = apartment::single) : thread(kind) {}
    worker thread;
    IDispatch* dual = nullptr;
    HWND focus_and_size = nullptr, focus_only = nullptr;
};

HRESULT about_by_vtable(IDispatch* dual) {
    return reinterpret_cast<HRESULT(STDMETHODCALLTYPE*)(IDispatch*)>(entry(dual, show_about))(dual);
}
HRESULT about_by_invoke(IDispatch* dual) {
    return zvtest::dispatch_call(zvtest::hand_nothing).invoke(dual, dispid_of(show_about));
}

// Passing a control between apartments needs the type library registered for the machine (its interfaces are
// marshalled by the automation marshaller); other tests in the same prefix register and unregister, so this
// program registers afresh instead of relying on what they left.
struct machine_registration : ::testing::Environment {
    void SetUp() override { ASSERT_EQ(S_OK, zvtest::register_server()); }
};
const auto* const registration = ::testing::AddGlobalTestEnvironment(new machine_registration);

struct threads : ::testing::Test {
    void TearDown() override { EXPECT_EQ(S_OK, zvtest::can_unload_now()); }
};

TEST_F(threads, two_apartments_make_call_and_release_their_own_controls) {
    const std::wstring major = major_version_here();
    ASSERT_EQ(0u, major.find(L"0:"));
    constexpr int controls = 4;
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        worker a(apartment::single), b(apartment::single);
        ASSERT_EQ(S_OK, a.initialized());
        ASSERT_EQ(S_OK, b.initialized());
        auto seen_a = a.start([] { return make_call_and_release(controls); });
        auto seen_b = b.start([] { return make_call_and_release(controls); });
        ASSERT_EQ(std::future_status::ready, seen_a.wait_for(std::chrono::seconds(20)));
        ASSERT_EQ(std::future_status::ready, seen_b.wait_for(std::chrono::seconds(20)));
        expect_consistent(seen_a.get(), controls, major);
        expect_consistent(seen_b.get(), controls, major);
        EXPECT_EQ(S_OK, zvtest::can_unload_now());
    }
}

// Each apartment subclasses its own forms and opens its own About box, alone and both at once; the boxes are
// closed from other threads. Afterwards nothing of the library is left on either thread.
TEST_F(threads, about_boxes_and_subclassed_forms_in_two_apartments) {
    apartment_side sides[2];
    about_guard guard{{sides[0].thread.id(), sides[1].thread.id()}};
    const LONG widths[2] = {260, 280};
    const SHORT heights[2] = {180, 190};
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        auto& s = sides[i];
        ASSERT_EQ(S_OK, s.thread.initialized());
        const std::vector<HRESULT> answers = s.thread.run([&s, i, &widths, &heights] {
            s.dual = new_dual();
            s.focus_and_size = new_form(40 + 400 * i);
            s.focus_only = new_form(60 + 400 * i);
            if (!s.dual) return std::vector<HRESULT>{E_FAIL};
            return std::vector<HRESULT>{window_call(s.dual, hide_focus, s.focus_and_size),
                                        stop_resizing(s.dual, s.focus_and_size, widths[i], heights[i]),
                                        window_call(s.dual, hide_focus, s.focus_only)};
        });
        ASSERT_EQ((std::vector<HRESULT>{S_OK, S_OK, S_OK}), answers);
    }

    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        auto& s = sides[i];
        EXPECT_TRUE(subclassed(s.focus_and_size));
        EXPECT_TRUE(subclassed(s.focus_only));
        // Each form keeps its own thread's minimum, asked from the form's thread and from this one.
        const POINT here = min_track(s.focus_and_size);
        const POINT there = s.thread.run([&s] { return min_track(s.focus_and_size); });
        EXPECT_EQ(widths[i], here.x);
        EXPECT_EQ(heights[i], here.y);
        EXPECT_EQ(widths[i], there.x);
        EXPECT_EQ(heights[i], there.y);
        // The focus comes without the form being told.
        const auto focus = s.thread.run([&s] {
            SetForegroundWindow(s.focus_only);
            SetFocus(s.focus_only);
            SetWindowLongPtrW(s.focus_and_size, GWLP_USERDATA, 0);  // what they were told when created
            SetWindowLongPtrW(s.focus_only, GWLP_USERDATA, 0);
            SetFocus(s.focus_and_size);
            return std::make_pair(GetFocus() == s.focus_and_size, told_focus(s.focus_and_size) + told_focus(s.focus_only));
        });
        EXPECT_TRUE(focus.first);
        EXPECT_EQ(0, focus.second);
    }

    // One box at a time, each closed by a closer on its own thread; the first through the table of functions,
    // the second through Invoke.
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        auto& s = sides[i];
        auto& other = sides[1 - i];
        auto shown = s.thread.start([&s, i] { return i == 0 ? about_by_vtable(s.dual) : about_by_invoke(s.dual); });
        ASSERT_TRUE(wait_until([&] { return about_of(s.thread.id()) != nullptr; }));
        // The box disables only its own thread's windows.
        EXPECT_FALSE(IsWindowEnabled(s.focus_and_size));
        EXPECT_TRUE(IsWindowEnabled(other.focus_and_size));
        EXPECT_EQ(nullptr, about_of(other.thread.id()));
        std::atomic<bool> closed{false};
        std::thread closer([&] {
            if (HWND box = about_of(s.thread.id())) closed = PostMessageW(box, WM_CLOSE, 0, 0) != FALSE;
        });
        closer.join();
        EXPECT_TRUE(closed.load());
        ASSERT_EQ(std::future_status::ready, shown.wait_for(std::chrono::seconds(10)));
        EXPECT_EQ(S_OK, shown.get());
        EXPECT_TRUE(IsWindowEnabled(s.focus_and_size));
    }

    // Both at the same time: each thread runs its own modal loop; one closer closes both.
    auto shown_0 = sides[0].thread.start([&] { return about_by_invoke(sides[0].dual); });
    auto shown_1 = sides[1].thread.start([&] { return about_by_vtable(sides[1].dual); });
    HWND boxes[2] = {};
    ASSERT_TRUE(wait_until([&] {
        boxes[0] = about_of(sides[0].thread.id());
        boxes[1] = about_of(sides[1].thread.id());
        return boxes[0] && boxes[1];
    })) << "both boxes never open at once";
    EXPECT_NE(boxes[0], boxes[1]);
    EXPECT_FALSE(IsWindowEnabled(sides[0].focus_only));
    EXPECT_FALSE(IsWindowEnabled(sides[1].focus_only));
    std::thread closer([&] {
        PostMessageW(boxes[1], WM_CLOSE, 0, 0);
        PostMessageW(boxes[0], WM_CLOSE, 0, 0);
    });
    closer.join();
    ASSERT_EQ(std::future_status::ready, shown_0.wait_for(std::chrono::seconds(10)));
    ASSERT_EQ(std::future_status::ready, shown_1.wait_for(std::chrono::seconds(10)));
    EXPECT_EQ(S_OK, shown_0.get());
    EXPECT_EQ(S_OK, shown_1.get());
    EXPECT_FALSE(IsWindow(boxes[0]));
    EXPECT_FALSE(IsWindow(boxes[1]));

    // Giving the focus back unsubclasses the form that was only hidden; the other keeps its minimum.
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        auto& s = sides[i];
        EXPECT_TRUE(IsWindowEnabled(s.focus_and_size));
        EXPECT_TRUE(IsWindowEnabled(s.focus_only));
        const auto shown = s.thread.run([&s] {
            const HRESULT hr = window_call(s.dual, show_focus, s.focus_only);
            SetFocus(s.focus_and_size);
            SetWindowLongPtrW(s.focus_only, GWLP_USERDATA, 0);
            SetFocus(s.focus_only);
            return std::make_pair(hr, told_focus(s.focus_only));
        });
        EXPECT_EQ(S_OK, shown.first);
        EXPECT_EQ(1, shown.second);
        EXPECT_FALSE(subclassed(s.focus_only));
        EXPECT_TRUE(subclassed(s.focus_and_size));
        EXPECT_EQ(0u, s.thread.run([&s] { return s.dual->Release(); }));
        s.dual = nullptr;
    }
    // The forms still sized by the library keep it loaded until they are destroyed on their threads.
    EXPECT_EQ(S_FALSE, zvtest::can_unload_now());
    for (auto& s : sides) {
        EXPECT_EQ(widths[&s - sides], min_track(s.focus_and_size).x);
        EXPECT_TRUE(s.thread.run([&s] { return DestroyWindow(s.focus_and_size) && DestroyWindow(s.focus_only); }));
        EXPECT_FALSE(IsWindow(s.focus_and_size));
    }
    EXPECT_EQ(S_OK, zvtest::can_unload_now());
}

// A closer watching by caption closes the boxes of both threads, one after the other, while each thread's box
// is opened by the thread itself.
TEST_F(threads, a_closer_thread_closes_the_box_of_each_apartment) {
    worker a(apartment::single), b(apartment::single);
    about_guard guard{{a.id(), b.id()}};
    zvtest::window_closer closer(about_caption);
    auto shown_a = a.start([] {
        IDispatch* dual = new_dual();
        const HRESULT hr = dual ? about_by_invoke(dual) : E_FAIL;
        return std::make_pair(hr, dual ? dual->Release() : 99u);
    });
    auto shown_b = b.start([] {
        IDispatch* dual = new_dual();
        const HRESULT hr = dual ? about_by_vtable(dual) : E_FAIL;
        return std::make_pair(hr, dual ? dual->Release() : 99u);
    });
    ASSERT_EQ(std::future_status::ready, shown_a.wait_for(std::chrono::seconds(15)));
    ASSERT_EQ(std::future_status::ready, shown_b.wait_for(std::chrono::seconds(15)));
    const auto a_answer = shown_a.get(), b_answer = shown_b.get();
    EXPECT_EQ(S_OK, a_answer.first);
    EXPECT_EQ(0u, a_answer.second);
    EXPECT_EQ(S_OK, b_answer.first);
    EXPECT_EQ(0u, b_answer.second);
    EXPECT_EQ(2, closer.closed());
}

// A control made in one apartment, called from another through CoMarshalInterThreadInterfaceInStream.
TEST_F(threads, a_control_called_from_another_apartment) {
    worker owner(apartment::single), caller(apartment::single);
    struct made {
        IDispatch* dual = nullptr;
        IStream* as_dual = nullptr;
        IStream* as_dispatch = nullptr;
        HRESULT marshalled[2] = {E_FAIL, E_FAIL};
        DWORD thread = 0;
    };
    const made m = owner.run([] {
        made m;
        m.dual = new_dual();
        if (!m.dual) return m;
        m.thread = GetCurrentThreadId();
        m.marshalled[0] = CoMarshalInterThreadInterfaceInStream(zvtest::iid_zorvane, m.dual, &m.as_dual);
        m.marshalled[1] = CoMarshalInterThreadInterfaceInStream(IID_IDispatch, m.dual, &m.as_dispatch);
        return m;
    });
    ASSERT_NE(nullptr, m.dual);
    ASSERT_EQ(S_OK, m.marshalled[0]);
    ASSERT_EQ(S_OK, m.marshalled[1]);
    const std::wstring expected = owner.run([&m] { return by_vtable(m.dual, windows_major_version); });
    ASSERT_EQ(0u, expected.find(L"0:"));

    struct called {
        HRESULT unmarshalled[2] = {E_FAIL, E_FAIL};
        std::wstring invoke_dual, invoke_dispatch, vtable, memory, failure, failure_invoked;
        bool is_proxy = false;
        ULONG released[2] = {99, 99};
    };
    const called c = caller.run([&m] {
        called c;
        IDispatch* dual = nullptr;
        IDispatch* dispatch = nullptr;
        c.unmarshalled[0] =
            CoGetInterfaceAndReleaseStream(m.as_dual, zvtest::iid_zorvane, reinterpret_cast<void**>(&dual));
        c.unmarshalled[1] =
            CoGetInterfaceAndReleaseStream(m.as_dispatch, IID_IDispatch, reinterpret_cast<void**>(&dispatch));
        if (!dual || !dispatch) return c;
        c.is_proxy = dual != m.dual;
        c.invoke_dual = by_invoke(dual, windows_major_version);
        c.invoke_dispatch = by_invoke(dispatch, windows_major_version);
        c.vtable = by_vtable(dual, windows_major_version);
        c.memory = by_invoke(dispatch, get_total_memory);
        c.failure = failing_call(dual);
        c.failure_invoked = failing_invoke(dual);
        c.released[0] = dispatch->Release();
        c.released[1] = dual->Release();
        return c;
    });
    EXPECT_EQ(S_OK, c.unmarshalled[0]);
    EXPECT_EQ(S_OK, c.unmarshalled[1]);
    EXPECT_TRUE(c.is_proxy);
    EXPECT_EQ(expected, c.invoke_dual);
    EXPECT_EQ(expected, c.invoke_dispatch);
    EXPECT_EQ(expected, c.vtable);
    EXPECT_EQ(0u, c.memory.find(L"0:")) << std::string(c.memory.begin(), c.memory.end());
    // The error's number crosses the apartments; its description travels in EXCEPINFO (Wine's proxies do not
    // carry the thread's IErrorInfo across).
    EXPECT_EQ(0u, c.failure.find(std::to_wstring(static_cast<HRESULT>(0x800A000D)) + L":"));
    EXPECT_EQ(type_mismatch_raised, c.failure_invoked);
    EXPECT_EQ(1u, c.released[0]);  // both proxies share one proxy manager
    EXPECT_EQ(0u, c.released[1]);
    // The proxies are gone: the owner's reference is the last.
    EXPECT_EQ(S_FALSE, zvtest::can_unload_now());
    EXPECT_EQ(0u, owner.run([&m] { return m.dual->Release(); }));
}

// A thread that never initialised COM uses controls made by the library's own class factory.
TEST_F(threads, a_thread_without_com) {
    const std::wstring major = major_version_here();
    worker bare(apartment::none);
    const auto seen = bare.run([] { return make_call_and_release(3); });
    expect_consistent(seen, 3, major);
    // Still no apartment on that thread afterwards: the library never entered one for it.
    const HRESULT apartment_after = bare.run([] {
        APTTYPE type{};
        APTTYPEQUALIFIER qualifier{};
        return CoGetApartmentType(&type, &qualifier);
    });
    EXPECT_EQ(CO_E_NOTINITIALIZED, apartment_after);
}

// The multithreaded apartment: controls from the class factory, used directly by two threads at once.
TEST_F(threads, the_multithreaded_apartment) {
    const std::wstring major = major_version_here();
    worker a(apartment::multi), b(apartment::multi);
    ASSERT_EQ(S_OK, a.initialized());
    ASSERT_EQ(S_OK, b.initialized());
    // Both threads at once, each with its own controls from the class factory.
    auto seen_a = a.start([] { return make_call_and_release(3); });
    auto seen_b = b.start([] { return make_call_and_release(3); });
    ASSERT_EQ(std::future_status::ready, seen_a.wait_for(std::chrono::seconds(20)));
    ASSERT_EQ(std::future_status::ready, seen_b.wait_for(std::chrono::seconds(20)));
    expect_consistent(seen_a.get(), 3, major);
    expect_consistent(seen_b.get(), 3, major);
}

// CoCreateInstance from the multithreaded apartment: the system makes the control in a host apartment of the
// class's model and hands out a proxy. Last in the program: Wine 8's host apartment keeps the class object it
// asked for (it never releases its own reference after marshalling it), so the library stays in use after this.
TEST(threads_last, a_control_made_for_the_multithreaded_apartment_by_the_system) {
    const std::wstring major = major_version_here();
    worker a(apartment::multi);
    ASSERT_EQ(S_OK, a.initialized());
    struct created {
        HRESULT hr = E_FAIL;
        std::wstring invoke, vtable, failure, failure_invoked;
        ULONG released = 99;
    };
    const created c = a.run([] {
        created c;
        IDispatch* dual = nullptr;
        c.hr = CoCreateInstance(zvtest::clsid_zorvane, nullptr, CLSCTX_INPROC_SERVER, zvtest::iid_zorvane,
                                reinterpret_cast<void**>(&dual));
        if (!dual) return c;
        c.invoke = by_invoke(dual, windows_major_version);
        c.vtable = by_vtable(dual, windows_major_version);
        c.failure = failing_call(dual);
        c.failure_invoked = failing_invoke(dual);
        c.released = dual->Release();
        return c;
    });
    EXPECT_EQ(S_OK, c.hr);
    EXPECT_EQ(major, c.invoke);
    EXPECT_EQ(major, c.vtable);
    EXPECT_EQ(0u, c.failure.find(std::to_wstring(static_cast<HRESULT>(0x800A000D)) + L":"));
    EXPECT_EQ(type_mismatch_raised, c.failure_invoked);
    EXPECT_EQ(0u, c.released);
}

} // namespace
