// Watches for a message box with a given title, reads it and closes it, so no test waits for a person.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace zvtest {

struct message_box_seen {
    std::wstring text;
    bool has_ok = false;
    bool has_cancel = false;
};

class message_box_watcher final {
public:
    explicit message_box_watcher(std::wstring title);
    message_box_watcher(const message_box_watcher&) = delete;
    message_box_watcher& operator=(const message_box_watcher&) = delete;
    ~message_box_watcher();

    // The box that appeared within `milliseconds` (it has been closed), or nothing.
    std::optional<message_box_seen> wait(DWORD milliseconds = 10000);

private:
    static DWORD WINAPI watch(void* self);

    std::wstring title_;
    HANDLE stop_ = nullptr;
    HANDLE thread_ = nullptr;
    std::optional<message_box_seen> seen_;
    DWORD deadline_ = 0;
};

} // namespace zvtest
