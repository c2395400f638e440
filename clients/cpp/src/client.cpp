// clients/cpp/src/client.cpp: the C++ layer's paths that need the platform
//
// Creation, arrays and the words of a result code go through the platform's own
// functions; the layer's header does not include their declarations, so these are
// compiled here once.

#include "orvik/client.hpp"

#include "orvik/platform/activation.h"
#include "orvik/platform/error_description.h"
#include "orvik/platform/module_file.h"
#include "orvik/platform/result_text.h"
#include "orvik/platform/safearray.h"
#include "orvik/platform/text.h"

#include <cstring>

namespace orvik {

static_assert(sizeof(Guid) == sizeof(GUID) && alignof(Guid) == alignof(GUID),
              "orvik::Guid is laid out as the platform's GUID");
static_assert(sizeof(Result) == sizeof(HRESULT), "orvik::Result is a result code");

namespace {

const GUID& platformGuid(const Guid& guid) {
    return *reinterpret_cast<const GUID*>(&guid);
}

SAFEARRAY* platformArray(abi::SafeArray* array) {
    return reinterpret_cast<SAFEARRAY*>(array);
}

// Loads the module file at path into this process and calls its entry point, which
// takes no arguments and answers a result code.
void runModuleEntry(const std::string& path, const char* entry) {
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, 0);
    if (module == nullptr)
        throw ComError(HRESULT_FROM_WIN32(GetLastError()), entry, "cannot load " + path);
    struct Unload {
        HMODULE module;
        ~Unload() { FreeLibrary(module); }
    } unload{module};
    // The entry point's own type, through the generic one GetProcAddress returns.
    auto call =
        reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(module, entry)));
    if (call == nullptr)
        throw ComError(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), entry, path + " has no " + entry);
    HRESULT hr = call();
    // A registration script at fault says where and why in the thread's error
    // information.
    if (FAILED(hr))
        throw ComError(hr, entry, takeErrorDescription());
}

} // namespace

std::string describeResult(Result code) {
    std::string words(OrvikResultCodeWords(code, nullptr, 0), '\0');
    OrvikResultCodeWords(code, words.data(), static_cast<DWORD>(words.size() + 1));
    return words;
}

const char* ComError::name() const noexcept {
    const char* name = OrvikResultCodeName(m_code);
    return name != nullptr ? name : "";
}

void registerModule(const std::string& path) {
    runModuleEntry(path, "DllRegisterServer");
}

void unregisterModule(const std::string& path) {
    runModuleEntry(path, "DllUnregisterServer");
}

namespace detail {

void throwFailure(Result code, const char* member) {
    throw ComError(code, member);
}

std::vector<double> fromArray(abi::SafeArray* given, const char* member) {
    SAFEARRAY* array = platformArray(given);
    struct Destroy {
        SAFEARRAY* array;
        ~Destroy() { SafeArrayDestroy(array); }
    } destroy{array};
    VARTYPE type = VT_EMPTY;
    if (array == nullptr || SafeArrayGetDim(array) != 1 ||
        FAILED(SafeArrayGetVartype(array, &type)) || type != VT_R8)
        throw ComError(DISP_E_TYPEMISMATCH, member);
    LONG lower = 0, upper = -1;
    check(SafeArrayGetLBound(array, 1, &lower), member);
    check(SafeArrayGetUBound(array, 1, &upper), member);
    void* data = nullptr;
    check(SafeArrayAccessData(array, &data), member);
    const double* values = static_cast<const double*>(data);
    std::vector<double> out(values, values + (upper - lower + 1));
    SafeArrayUnaccessData(array);
    return out;
}

void destroyArray(abi::SafeArray* array) noexcept {
    SafeArrayDestroy(platformArray(array));
}

ArrayOf::ArrayOf(const std::vector<double>& values, const char* member)
    : m_array(reinterpret_cast<abi::SafeArray*>(
          SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(values.size())))) {
    void* data = nullptr;
    if (m_array == nullptr || FAILED(SafeArrayAccessData(platformArray(m_array), &data))) {
        destroyArray(m_array);
        throw ComError(E_OUTOFMEMORY, member);
    }
    if (!values.empty())
        std::memcpy(data, values.data(), values.size() * sizeof(double));
    SafeArrayUnaccessData(platformArray(m_array));
}

void* createByName(const char* name, const char* module, const Guid& iid) {
    std::vector<OLECHAR> wide(std::strlen(name) + 1);
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide.data(),
                            static_cast<int>(wide.size())) == 0)
        throw ComError(CO_E_CLASSSTRING, name, "the name is not UTF-8 text");
    void* object = nullptr;
    char report[2048];
    HRESULT hr = OrvikCreateInstanceByName(wide.data(), module, platformGuid(iid), &object, report,
                                           sizeof report);
    if (FAILED(hr))
        throw ComError(hr, name, report);
    return object;
}

void* createByClass(const Guid& clsid, const char* module, const Guid& iid) {
    OLECHAR text[CHARS_IN_GUID];
    StringFromGUID2(platformGuid(clsid), text, CHARS_IN_GUID);
    char name[CHARS_IN_GUID];
    for (int i = 0; i < CHARS_IN_GUID; ++i)
        name[i] = static_cast<char>(text[i]);
    return createByName(name, module, iid);
}

} // namespace detail

} // namespace orvik
