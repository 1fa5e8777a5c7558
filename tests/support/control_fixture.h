// A test with one new control, seen through its dual interface; at the end the library must be unloadable.
#pragma once

#include "support/ocx.h"

#include <gtest/gtest.h>

namespace zvtest {

inline const IID iid_zorvane_dual = {0x8003362e, 0x8df0, 0x4fc8, {0xb2, 0xbb, 0x2f, 0xb0, 0x20, 0x2a, 0x52, 0xa3}};

struct control_fixture : ::testing::Test {
    void SetUp() override {
        IUnknown* object = new_control();
        ASSERT_EQ(S_OK, object->QueryInterface(iid_zorvane_dual, reinterpret_cast<void**>(&dual)));
        object->Release();
    }
    void TearDown() override {
        if (dual) dual->Release();
        dual = nullptr;
        EXPECT_EQ(S_OK, can_unload_now());
    }
    IDispatch* dual = nullptr;
};

} // namespace zvtest
