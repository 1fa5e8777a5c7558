// clsMemorySnapshot, which no host can create: made by the library's own code, called through its
// vtable and its IDispatch, fed readings through this program's import of the memory status call.
#include "control/memory_snapshot.h"
#include "support/dispatch_call.h"
#include "support/iat_hook.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

MEMORYSTATUSEX fake{};
int calls = 0;

BOOL WINAPI fake_memory_status(MEMORYSTATUSEX* status) {
    ++calls;
    *status = fake;
    return TRUE;
}

struct memory_snapshot : ::testing::Test {
    void SetUp() override {
        fake = MEMORYSTATUSEX{};
        fake.dwLength = sizeof(fake);
        calls = 0;
        hook.emplace(GetModuleHandleW(nullptr), "kernel32.dll", "GlobalMemoryStatusEx",
                     reinterpret_cast<const void*>(&fake_memory_status));
    }
    void TearDown() override { hook.reset(); }

    static LONG property(IDispatch* object, DISPID id) {
        zvtest::dispatch_call get(zvtest::hand_result);
        EXPECT_EQ(S_OK, get.invoke(object, id, DISPATCH_PROPERTYGET));
        EXPECT_EQ(VT_I4, V_VT(&get.result));
        return V_I4(&get.result);
    }
    std::optional<zvtest::iat_hook> hook;
};

TEST_F(memory_snapshot, properties_hold_one_reading_and_saturate) {
    fake.ullAvailPhys = 1000;
    fake.ullTotalPhys = 6ull << 30;          // beyond 32 bits
    fake.ullTotalVirtual = 0x80000000ull;   // exactly 2^31
    fake.ullAvailVirtual = 0x7FFFFFFFull;
    auto snapshot = zorvane::memory_snapshot::create();
    EXPECT_EQ(1, calls);

    LONG value = 0;
    ASSERT_EQ(S_OK, snapshot->get_FreeMemory(&value));
    EXPECT_EQ(1000, value);
    ASSERT_EQ(S_OK, snapshot->get_TotalMemory(&value));
    EXPECT_EQ(2147483647, value);  // never negative, never wrapped
    ASSERT_EQ(S_OK, snapshot->get_TotalVirtualMemory(&value));
    EXPECT_EQ(2147483647, value);
    ASSERT_EQ(S_OK, snapshot->get_AvailableVirtualMemory(&value));
    EXPECT_EQ(2147483647, value);
    EXPECT_EQ(E_POINTER, snapshot->get_FreeMemory(nullptr));

    // Properties never call the system; Refresh does.
    fake.ullAvailPhys = 2000;
    ASSERT_EQ(S_OK, snapshot->get_FreeMemory(&value));
    EXPECT_EQ(1000, value);
    EXPECT_EQ(1, calls);
    ASSERT_EQ(S_OK, snapshot->Refresh());
    ASSERT_EQ(S_OK, snapshot->get_FreeMemory(&value));
    EXPECT_EQ(2000, value);
    EXPECT_EQ(2, calls);
}

TEST_F(memory_snapshot, late_bound_by_its_dispids) {
    fake.ullAvailPhys = 11;
    fake.ullTotalPhys = 22;
    fake.ullTotalVirtual = 33;
    fake.ullAvailVirtual = 44;
    auto snapshot = zorvane::memory_snapshot::create();
    IDispatch* object = nullptr;
    ASSERT_EQ(S_OK, snapshot->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&object)));
    EXPECT_EQ(11, property(object, 0x68030003));
    EXPECT_EQ(22, property(object, 0x68030002));
    EXPECT_EQ(33, property(object, 0x68030001));
    EXPECT_EQ(44, property(object, 0x68030000));

    LPOLESTR name = const_cast<LPOLESTR>(L"refresh");
    DISPID id = 0;
    ASSERT_EQ(S_OK, object->GetIDsOfNames(IID_NULL, &name, 1, 0, &id));
    EXPECT_EQ(0x60030005, id);
    fake.ullAvailPhys = 55;
    EXPECT_EQ(S_OK, zvtest::dispatch_call(zvtest::hand_nothing).invoke(object, id));
    EXPECT_EQ(55, property(object, 0x68030003));

    // Read-only: a property put is refused.
    VARIANT value;
    V_VT(&value) = VT_I4;
    V_I4(&value) = 1;
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS one{&value, &put, 1, 1};
    EXPECT_NE(S_OK, object->Invoke(0x68030003, IID_NULL, 0, DISPATCH_PROPERTYPUT, &one, nullptr, nullptr, nullptr));

    ISupportErrorInfo* errors = nullptr;
    ASSERT_EQ(S_OK, object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errors)));
    EXPECT_EQ(S_OK, errors->InterfaceSupportsErrorInfo(IID__clsMemorySnapshot));
    errors->Release();
    EXPECT_EQ(1u, object->Release());  // the com_ptr holds the other reference
}

} // namespace
