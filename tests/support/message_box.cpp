// A thread that finds a dialog by title, reads its text and buttons, and presses OK.
#include "support/message_box.h"

namespace zvtest {

message_box_watcher::message_box_watcher(std::wstring title) : title_(std::move(title)) {
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    thread_ = CreateThread(nullptr, 0, &watch, this, 0, nullptr);
}

message_box_watcher::~message_box_watcher() {
    SetEvent(stop_);
    WaitForSingleObject(thread_, INFINITE);
    CloseHandle(thread_);
    CloseHandle(stop_);
}

DWORD WINAPI message_box_watcher::watch(void* p) {
    auto* self = static_cast<message_box_watcher*>(p);
    while (WaitForSingleObject(self->stop_, 20) == WAIT_TIMEOUT) {
        HWND box = FindWindowW(L"#32770", self->title_.c_str());
        if (!box || !IsWindowVisible(box)) continue;
        message_box_seen seen;
        wchar_t text[1024] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 1024);
        seen.text = text;
        seen.has_ok = GetDlgItem(box, IDOK) != nullptr;
        seen.has_cancel = GetDlgItem(box, IDCANCEL) != nullptr && IsWindowVisible(GetDlgItem(box, IDCANCEL));
        self->seen_ = seen;
        PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
        return 0;
    }
    return 0;
}

std::optional<message_box_seen> message_box_watcher::wait(DWORD milliseconds) {
    if (WaitForSingleObject(thread_, milliseconds) == WAIT_TIMEOUT) {
        SetEvent(stop_);
        WaitForSingleObject(thread_, INFINITE);
    }
    return seen_;
}

} // namespace zvtest
