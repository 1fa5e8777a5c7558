// Closes the first top-level window with a given caption as soon as it appears, so no test waits for a person.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

namespace zvtest {

class window_closer final {
public:
    explicit window_closer(std::wstring caption) : caption_(std::move(caption)), thread_([this] { watch(); }) {}
    window_closer(const window_closer&) = delete;
    window_closer& operator=(const window_closer&) = delete;
    ~window_closer() {
        stop_ = true;
        thread_.join();
    }
    int closed() const noexcept { return closed_; }

private:
    void watch() {
        while (!stop_) {
            if (HWND window = FindWindowW(nullptr, caption_.c_str())) {
                if (IsWindowVisible(window)) {
                    PostMessageW(window, WM_CLOSE, 0, 0);
                    ++closed_;
                    while (!stop_ && IsWindow(window)) Sleep(5);
                }
            }
            Sleep(10);
        }
    }
    std::wstring caption_;
    std::atomic<bool> stop_{false};
    std::atomic<int> closed_{0};
    std::thread thread_;
};

} // namespace zvtest
