// A test with one new control, seen through its dual interface; at the end the library must be unloadable.
#pragma once

#include "support/ocx.h"
#include "support/published.h"

#include <gtest/gtest.h>

namespace zvtest {

struct control_fixture : ::testing::Test {
    void SetUp() override {
        IUnknown* object = new_control();
        ASSERT_EQ(S_OK, object->QueryInterface(iid_zorvane, reinterpret_cast<void**>(&dual)));
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
