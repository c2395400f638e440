// tests/platform/allocation_failure_test.cpp: every platform family survives running
// out of memory at any allocation
//
// This process replaces the global allocation functions, so that the platform
// library's own allocations come here too, and fails the N-th one for N = 1, 2, ...
// until an operation runs through. Each run must end in a result code (never an
// escaped exception, which the platform's noexcept would turn into a crash), leave
// nothing allocated behind and, for the registry, nothing half-written.

#include "tests/support/recording_doubles.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/variant_args.h"

#include "orvik/orvik_i.h"
#include "orvik/platform/ref.h"

#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <functional>
#include <new>
#include <string>

namespace {

std::atomic<long> g_failAt{0};     // 0: no failure armed
std::atomic<long> g_seen{0};       // allocations since arming
std::atomic<long> g_live{0};       // blocks allocated and not yet freed
std::atomic<bool> g_failed{false}; // the armed failure happened

void* allocate(std::size_t size) {
    long failAt = g_failAt.load(std::memory_order_relaxed);
    if (failAt && ++g_seen == failAt) {
        g_failed = true;
        return nullptr;
    }
    void* p = std::malloc(size ? size : 1);
    if (p)
        ++g_live;
    return p;
}

void release(void* p) {
    if (p) {
        --g_live;
        std::free(p);
    }
}

} // namespace

void* operator new(std::size_t size) {
    if (void* p = allocate(size))
        return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    return operator new(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}

namespace orvik::testing {
namespace {

// Runs operation with the N-th allocation failing, for every N until it runs
// through; check sees each failing run's answer and the state it left.
void failEachAllocation(const std::function<long()>& operation,
                        const std::function<void(long answer)>& check) {
    (void)operation(); // caches and first-use state are made outside the count
    for (long n = 1;; ++n) {
        long liveBefore = g_live;
        g_seen = 0;
        g_failed = false;
        g_failAt = n;
        long answer = operation();
        g_failAt = 0;
        long leaked = g_live - liveBefore;
        if (!g_failed)
            return;
        SCOPED_TRACE(::testing::Message() << "allocation " << n << " failed");
        EXPECT_EQ(leaked, 0) << "memory left behind";
        check(answer);
        ASSERT_LT(n, 100000) << "the operation never ran through";
    }
}

using AllocationFailure = RegistryTest;

TEST_F(AllocationFailure, RegistryCallsAnswerOutOfMemoryAndWriteNothingHalf) {
    auto gone = [](const char* path) {
        RegKey k;
        return RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, k.put()) == ERROR_FILE_NOT_FOUND;
    };
    // Raw calls only: the C++ helpers over them may throw, as C++ code does.
    // Creation under fault: a path is made whole or not at all.
    failEachAllocation(
        [] {
            HKEY k = nullptr;
            LONG e = RegCreateKeyExA(HKEY_CURRENT_USER, "Deep\\Path\\Made", 0, nullptr, 0,
                                     KEY_ALL_ACCESS, nullptr, &k, nullptr);
            g_failAt = 0;
            if (e == ERROR_SUCCESS) {
                RegCloseKey(k);
                EXPECT_EQ(regDeleteTree(HKEY_CURRENT_USER, "Deep"), ERROR_SUCCESS);
            }
            return long(e);
        },
        [&](long answer) {
            EXPECT_EQ(answer, ERROR_OUTOFMEMORY);
            EXPECT_TRUE(gone("Deep")) << "a path was created in part";
        });
    // Writing, closing and deleting under fault.
    failEachAllocation(
        [] {
            HKEY k = nullptr;
            LONG e = RegCreateKeyExA(HKEY_CURRENT_USER, "Deep\\Path", 0, nullptr, 0, KEY_ALL_ACCESS,
                                     nullptr, &k, nullptr);
            if (e != ERROR_SUCCESS)
                return long(e);
            e = RegSetValueExA(k, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 2);
            LONG closed = RegCloseKey(k);
            if (e == ERROR_SUCCESS)
                e = closed;
            if (e == ERROR_SUCCESS)
                e = RegDeleteKeyA(HKEY_CURRENT_USER, "Deep\\Path");
            if (e == ERROR_SUCCESS)
                e = RegDeleteKeyA(HKEY_CURRENT_USER, "Deep");
            return long(e);
        },
        [&](long answer) {
            EXPECT_EQ(answer, ERROR_OUTOFMEMORY);
            (void)regDeleteTree(HKEY_CURRENT_USER, "Deep");
        });

    RegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, "Read", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExA(key.get(), "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("text"), 5),
              ERROR_SUCCESS);
    RegKey child;
    ASSERT_EQ(RegCreateKeyExA(key.get(), "child", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              child.put(), nullptr),
              ERROR_SUCCESS);
    failEachAllocation(
        [&] {
            BYTE text[16];
            DWORD size = sizeof text;
            LONG e = RegQueryValueExA(key.get(), "v", nullptr, nullptr, text, &size);
            char name[16];
            size = sizeof name;
            if (e == ERROR_SUCCESS)
                e = RegEnumKeyExA(key.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr);
            size = sizeof name;
            if (e == ERROR_SUCCESS)
                e = RegEnumValueA(key.get(), 0, name, &size, nullptr, nullptr, nullptr, nullptr);
            if (e == ERROR_SUCCESS)
                e = RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
            return long(e);
        },
        [](long answer) { EXPECT_EQ(answer, ERROR_OUTOFMEMORY); });
}

// Each function is called twice in a run: fresh, then again while the library and
// its type information are held, so that the paths that find them cached meet the
// failure too.
TEST(AllocationFailureOfLibraries, LoadingAndEveryTypeInformationMethodAnswerACode) {
    auto useLibrary = [](Ref<ITypeLib>& lib) -> long {
        HRESULT hr = LoadTypeLib(u"" ORVIK_TLB_PATH, lib.put());
        if (FAILED(hr))
            return long(hr);
        Ref<ITypeInfo> info;
        if (FAILED(hr = lib->GetTypeInfoOfGuid(IID_IPoint, info.put())))
            return long(hr);
        TYPEATTR* attr = nullptr;
        if (FAILED(hr = info->GetTypeAttr(&attr)))
            return long(hr);
        UINT functions = attr->cFuncs;
        info->ReleaseTypeAttr(attr);
        for (UINT i = 0; i < functions; ++i) {
            FUNCDESC* desc = nullptr;
            if (FAILED(hr = info->GetFuncDesc(i, &desc)))
                return long(hr);
            BSTR names[8] = {};
            UINT count = 0;
            hr = info->GetNames(desc->memid, names, 8, &count);
            for (UINT n = 0; n < count; ++n)
                SysFreeString(names[n]);
            BSTR doc = nullptr;
            if (SUCCEEDED(hr))
                hr = info->GetDocumentation(desc->memid, nullptr, &doc, nullptr, nullptr);
            SysFreeString(doc);
            info->ReleaseFuncDesc(desc);
            if (FAILED(hr))
                return long(hr);
        }
        LPOLESTR name = const_cast<LPOLESTR>(u"invoke"); // found in the base interface
        MEMBERID id = 0;
        if (FAILED(hr = info->GetIDsOfNames(&name, 1, &id)))
            return long(hr);
        BOOL found = FALSE;
        OLECHAR search[] = u"IVECTOR";
        return long(lib->IsName(search, 0, &found));
    };
    failEachAllocation(
        [&] {
            Ref<ITypeLib> fresh, cached;
            long answer = useLibrary(fresh);
            return FAILED(answer) ? answer : useLibrary(cached);
        },
        [](long answer) { EXPECT_EQ(answer, E_OUTOFMEMORY); });
}

// Once a member's late-bound call is prepared, calling it takes nothing from the
// heap: numbers in, [out] arguments, an object argument, a property get, and an
// operation's failure reported to a caller without exception information; with
// arguments that are converted or passed by reference, too.
TEST(HeapUseOfLateBoundCalls, PreparedCallsAllocateNothing) {
    Ref<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLib(u"" ORVIK_TLB_PATH, lib.put()), S_OK);
    Ref<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IVector, info.put()), S_OK);
    auto idOf = [&](const char16_t* name) {
        LPOLESTR names[1] = {const_cast<LPOLESTR>(name)};
        MEMBERID id = MEMBERID_NIL;
        EXPECT_EQ(info->GetIDsOfNames(names, 1, &id), S_OK) << "name";
        return id;
    };
    RecordingVector vector, other;
    vector.calls.reserve(1000); // the double's own log is not the call's
    double x = 0, y = 0, z = 0, e = 0;
    VARIANT setArgs[4] = {real(0.5), real(3), real(2), real(1)};
    VARIANT getArgs[4];
    double* outs[4] = {&e, &z, &y, &x};
    for (int i = 0; i < 4; ++i) {
        VariantInit(&getArgs[i]);
        getArgs[i].vt = VT_BYREF | VT_R8;
        getArgs[i].pdblVal = outs[i];
    }
    VARIANT objectArg = object(&other);
    VARIANT integerArgs[4] = {integer(1), integer(3), integer(2), integer(1)};
    IDispatch* otherAsDispatch = &other;
    VARIANT objectByRef;
    VariantInit(&objectByRef);
    objectByRef.vt = VT_BYREF | VT_DISPATCH;
    objectByRef.ppdispVal = &otherAsDispatch;
    struct Call {
        MEMBERID id;
        WORD flags;
        DISPPARAMS params;
        HRESULT expected;
    } calls[] = {
        {idOf(u"Set"), DISPATCH_METHOD, {setArgs, nullptr, 4, 0}, S_OK},
        {idOf(u"Get"), DISPATCH_METHOD, {getArgs, nullptr, 4, 0}, S_OK},
        {idOf(u"X"), DISPATCH_PROPERTYGET, {nullptr, nullptr, 0, 0}, DISP_E_EXCEPTION},
        {idOf(u"SetAdd"), DISPATCH_METHOD, {&objectArg, nullptr, 1, 0}, DISP_E_EXCEPTION},
        {idOf(u"Set"), DISPATCH_METHOD, {integerArgs, nullptr, 4, 0}, S_OK},
        {idOf(u"SetAdd"), DISPATCH_METHOD, {&objectByRef, nullptr, 1, 0}, DISP_E_EXCEPTION},
    };
    for (Call& call : calls) {
        VARIANT result;
        VariantInit(&result);
        ASSERT_EQ(info->Invoke(static_cast<IVector*>(&vector), call.id, call.flags, &call.params,
                               &result, nullptr, nullptr),
                  call.expected)
            << "first call of " << call.id;
        g_seen = 0;
        g_failAt = LONG_MAX; // counts without failing
        for (int round = 0; round < 100; ++round)
            (void)info->Invoke(static_cast<IVector*>(&vector), call.id, call.flags, &call.params,
                               &result, nullptr, nullptr);
        g_failAt = 0;
        EXPECT_EQ(g_seen, 0) << "allocations in calls of member " << call.id;
        VariantClear(&result);
    }
    EXPECT_EQ(x, 1.0);
    EXPECT_EQ(e, 0.5);
    EXPECT_EQ(vector.value[3], 1.0) << "the integer arguments were converted";
    EXPECT_EQ(vector.refs, 1u);
    EXPECT_EQ(other.refs, 1u);
}

TEST(AllocationFailureOfModuleFiles, LoadingAndFindingResourcesAnswerAnError) {
    failEachAllocation(
        [] {
            HMODULE module = LoadLibraryExA(ORVIK_MODULE_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
            if (!module)
                return long(GetLastError());
            HRSRC script = FindResourceA(module, MAKEINTRESOURCEA(101), "REGISTRY");
            long answer =
                script && SizeofResource(module, script) == 593 ? 0 : long(GetLastError());
            char path[512];
            if (answer == 0 && GetModuleFileNameA(module, path, sizeof path) == 0)
                answer = long(GetLastError());
            FreeLibrary(module);
            if (answer == 0) {
                Ref<ITypeLib> lib; // the library inside the module file
                answer = LoadTypeLib(u"" ORVIK_MODULE_PATH, lib.put());
            }
            return answer;
        },
        [](long answer) {
            EXPECT_TRUE(answer == ERROR_NOT_ENOUGH_MEMORY || answer == E_OUTOFMEMORY) << answer;
        });
}

TEST_F(AllocationFailure, LibraryRegistrationIsWholeOrTakenBack) {
    Ref<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLib(u"" ORVIK_TLB_PATH, lib.put()), S_OK);
    auto before = dumpRoot(HKEY_CLASSES_ROOT);
    failEachAllocation(
        [&] {
            HRESULT hr = RegisterTypeLib(lib.get(), u"/opt/orvik.tlb", u"/opt/");
            g_failAt = 0;
            if (SUCCEEDED(hr)) {
                EXPECT_EQ(UnRegisterTypeLib(LIBID_ORVIKLib, 1, 0, 0x0409, SYS_WIN32), S_OK);
            }
            return long(hr);
        },
        [&](long answer) {
            // A registry call that ran out of memory is a registry failure here.
            EXPECT_TRUE(answer == E_OUTOFMEMORY || answer == TYPE_E_REGISTRYACCESS) << answer;
            auto after = dumpRoot(HKEY_CLASSES_ROOT);
            after.erase("\\TypeLib");
            after.erase("\\Interface");
            EXPECT_EQ(after, before) << "a library was left registered in part";
        });
}

TEST(AllocationFailureOfValues, TextAndVariantConversionsAnswerACode) {
    failEachAllocation(
        [] {
            OLECHAR wide[32];
            if (MultiByteToWideChar(CP_UTF8, 0, "1.5e3", -1, wide, 32) == 0)
                return long(GetLastError());
            char narrow[32];
            if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, narrow, 32, nullptr, nullptr) == 0)
                return long(GetLastError());
            VARIANT in, out;
            VariantInit(&in);
            VariantInit(&out);
            in.vt = VT_BSTR;
            in.bstrVal = SysAllocString(wide);
            HRESULT hr = VariantChangeType(&out, &in, 0, VT_R8);
            VariantClear(&in);
            VariantClear(&out);
            return long(hr);
        },
        [](long answer) { EXPECT_EQ(answer, ERROR_OUTOFMEMORY); });
}

} // namespace
} // namespace orvik::testing
