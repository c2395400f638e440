// fuzz/dispatch_fuzzer.cpp: late-bound calls with arbitrary members and arguments
//
// The bytes choose, call after call, an object from a pool (one of every class, and
// the objects calls have handed back), one of its members by the interface library's
// description, the flags, and the arguments as variants of any type: numbers,
// strings, booleans, missing arguments, objects from the pool, arrays, and
// references to cells the fuzzer owns. Each call must end in a result code; a
// result or an [out] cell that holds an object or a string is freed as a client
// frees it. Once the input is spent and every object released, nothing may still
// hold the module.

#include "fuzz/byte_reader.h"
#include "fuzz/private_store.h"

#include "orvik/orvik_i.h"
#include "orvik/platform/ref.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
extern "C" HRESULT DllCanUnloadNow();

namespace {

using orvik::Ref;

const CLSID* const kClasses[] = {&CLSID_Point,          &CLSID_Vector,      &CLSID_Axis,
                                 &CLSID_Matrix,         &CLSID_BoundingBox, &CLSID_AreaProperties,
                                 &CLSID_MassProperties, &CLSID_Angle,       &CLSID_Length,
                                 &CLSID_Plane,          &CLSID_Option,      &CLSID_RgbData};
constexpr size_t kPoolLimit = 32;
constexpr size_t kMaxArguments = 6;

using Reader = orvik::fuzz::ByteReader;

// A number, most often one whose rules are edges: zero, tiny, huge, infinite, NaN.
double number(Reader& in) {
    static const double kNumbers[] = {0,
                                      1,
                                      -1,
                                      2.5,
                                      1e-7,
                                      -1e-7,
                                      1e308,
                                      -0.0,
                                      1e-320,
                                      3,
                                      11,
                                      12,
                                      -2,
                                      0.001,
                                      1e6,
                                      0.5,
                                      __builtin_inf(),
                                      -__builtin_inf(),
                                      __builtin_nan("")};
    uint8_t b = in.byte();
    return b < 0xF0 ? kNumbers[b % std::size(kNumbers)] : double(int8_t(in.byte()));
}

// Cells that by-reference arguments point at; what a call leaves in them is freed.
struct Cells {
    double reals[kMaxArguments] = {};
    int32_t ints[kMaxArguments] = {};
    IDispatch* objects[kMaxArguments] = {};
    SAFEARRAY* arrays[kMaxArguments] = {};
    BSTR strings[kMaxArguments] = {};
    VARIANT variants[kMaxArguments];
    Cells() {
        for (VARIANT& v : variants)
            VariantInit(&v);
    }
    ~Cells() {
        for (size_t i = 0; i < kMaxArguments; ++i) {
            if (objects[i])
                objects[i]->Release();
            SafeArrayDestroy(arrays[i]);
            SysFreeString(strings[i]);
            VariantClear(&variants[i]);
        }
    }
};

SAFEARRAY* someArray(Reader& in) {
    VARTYPE types[] = {VT_R8, VT_I4, VT_VARIANT, VT_BSTR};
    VARTYPE vt = types[in.byte() % std::size(types)];
    LONG lower = LONG(int8_t(in.byte()));
    ULONG count = in.byte() % 16;
    SAFEARRAY* a = SafeArrayCreateVector(vt, lower, count);
    if (a && vt == VT_R8)
        for (ULONG i = 0; i < count; ++i) {
            LONG index = lower + LONG(i);
            double d = number(in);
            SafeArrayPutElement(a, &index, &d);
        }
    return a;
}

void fillArgument(Reader& in, const std::vector<Ref<IDispatch>>& pool, Cells& cells, size_t i,
                  VARIANT& v) {
    VariantInit(&v);
    switch (in.byte() % 16) {
    case 0:
        break; // VT_EMPTY
    case 1:
        v.vt = VT_NULL;
        break;
    case 2:
        v.vt = VT_ERROR;
        v.scode = in.byte() % 2 ? DISP_E_PARAMNOTFOUND : E_FAIL; // missing, or not
        break;
    case 3:
        v.vt = VT_I4;
        v.lVal = int32_t(int8_t(in.byte()));
        break;
    case 4:
        v.vt = VT_I2;
        v.iVal = int16_t(int8_t(in.byte()));
        break;
    case 5:
        v.vt = VT_R4;
        v.fltVal = float(number(in));
        break;
    case 6:
    case 7:
        v.vt = VT_R8;
        v.dblVal = number(in);
        break;
    case 8: {
        static const char16_t* kTexts[] = {u"", u"1.5", u"abc", u"-3", u"1e400", u"0x10"};
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocString(kTexts[in.byte() % std::size(kTexts)]);
        break;
    }
    case 9:
        v.vt = VT_BOOL;
        v.boolVal = in.byte() % 2 ? VARIANT_TRUE : VARIANT_FALSE;
        break;
    case 10:
    case 11: {
        v.vt = in.byte() % 4 ? VT_DISPATCH : VT_UNKNOWN;
        size_t which = in.byte(); // one in eight is no object at all
        IDispatch* object = which % 8 ? pool[which % pool.size()].get() : nullptr;
        if (object)
            object->AddRef();
        v.pdispVal = object;
        break;
    }
    case 12:
        v.vt = VT_ARRAY | VT_R8;
        v.parray = someArray(in);
        if (!v.parray)
            v.vt = VT_EMPTY;
        break;
    case 13: {
        VARTYPE kinds[] = {VT_R8, VT_I4, VT_DISPATCH, VT_ARRAY | VT_R8, VT_BSTR, VT_VARIANT};
        VARTYPE kind = kinds[in.byte() % std::size(kinds)];
        v.vt = VT_BYREF | kind;
        switch (kind) {
        case VT_R8:
            cells.reals[i] = number(in);
            v.pdblVal = &cells.reals[i];
            break;
        case VT_I4:
            v.plVal = &cells.ints[i];
            break;
        case VT_DISPATCH:
            v.ppdispVal = &cells.objects[i];
            break;
        case VT_BSTR:
            v.pbstrVal = &cells.strings[i];
            break;
        case VT_VARIANT:
            v.pvarVal = &cells.variants[i];
            break;
        default:
            if (in.byte() % 2)
                cells.arrays[i] = someArray(in);
            v.pparray = &cells.arrays[i];
            break;
        }
        break;
    }
    case 14:
        v.vt = VT_I8;
        v.llVal = int64_t(int8_t(in.byte()));
        break;
    default:
        v.vt = VT_UI1;
        v.bVal = in.byte();
        break;
    }
}

// One call on a pool object; an object it hands back joins the pool.
void callOnce(Reader& in, std::vector<Ref<IDispatch>>& pool) {
    IDispatch* target = pool[in.byte() % pool.size()].get();
    Ref<ITypeInfo> info;
    if (FAILED(target->GetTypeInfo(0, 0, info.put())))
        std::abort(); // every object describes itself
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr)))
        std::abort();
    WORD funcs = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    if (funcs == 0)
        return;
    FUNCDESC* desc = nullptr;
    if (FAILED(info->GetFuncDesc(in.byte() % funcs, &desc)))
        std::abort();
    MEMBERID id = desc->memid;
    WORD flags = WORD(desc->invkind);
    // The [out, retval] parameter takes no argument.
    SHORT declared = desc->cParams;
    if (declared > 0 &&
        desc->lprgelemdescParam[declared - 1].paramdesc.wParamFlags & PARAMFLAG_FRETVAL)
        --declared;
    info->ReleaseFuncDesc(desc);
    uint8_t twist = in.byte();
    if (twist % 8 == 0)
        flags = WORD(1 + twist / 8 % 15); // any mix of the four kinds
    if (twist % 16 == 1)
        id = MEMBERID(int8_t(in.byte())); // a member that may not exist

    size_t count = (size_t(declared) + in.byte() % 3) % (kMaxArguments + 1);
    Cells cells;
    VARIANT args[kMaxArguments];
    for (size_t i = 0; i < count; ++i)
        fillArgument(in, pool, cells, i, args[i]);
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params = {count ? args : nullptr, nullptr, UINT(count), 0};
    if (count && (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) && in.byte() % 4)
        params = {args, &named, UINT(count), 1};
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO excep{};
    UINT argErr = 0;
    HRESULT hr = target->Invoke(id, IID_NULL, 0x409, flags, &params,
                                in.byte() % 8 ? &result : nullptr, &excep, &argErr);
    if (hr != S_OK && !FAILED(hr))
        std::abort(); // a result code, never a stray success
    if (FAILED(hr) && result.vt != VT_EMPTY)
        std::abort(); // a failing call hands back nothing
    SysFreeString(excep.bstrSource);
    SysFreeString(excep.bstrDescription);
    SysFreeString(excep.bstrHelpFile);
    for (size_t i = 0; i < count; ++i)
        VariantClear(&args[i]);
    if (result.vt == VT_DISPATCH && result.pdispVal && pool.size() < kPoolLimit) {
        pool.push_back(Ref<IDispatch>::adopt(result.pdispVal));
        result.vt = VT_EMPTY;
    }
    VariantClear(&result);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    orvik::fuzz::usePrivateStore("dispatch-fuzz");
    // The objects find their interface library through the registry.
    const char* library = std::getenv("ORVIK_FUZZ_LIBRARY");
    std::u16string wide = library ? std::u16string(library, library + std::strlen(library)) : u"";
    Ref<ITypeLib> lib;
    if (!library || FAILED(LoadTypeLib(wide.c_str(), lib.put())) ||
        FAILED(RegisterTypeLib(lib.get(), wide.c_str(), nullptr))) {
        std::fprintf(stderr, "dispatch_fuzzer: ORVIK_FUZZ_LIBRARY must name orvik.tlb\n");
        std::exit(2);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in{data, size};
    {
        std::vector<Ref<IDispatch>> pool;
        for (const CLSID* clsid : kClasses) {
            Ref<IClassFactory> factory;
            Ref<IDispatch> object;
            if (FAILED(DllGetClassObject(*clsid, IID_IClassFactory, factory.putVoid())) ||
                FAILED(factory->CreateInstance(nullptr, IID_IDispatch, object.putVoid())))
                std::abort();
            pool.push_back(std::move(object));
        }
        for (int calls = 0; in.size && calls < 64; ++calls)
            callOnce(in, pool);
    }
    if (DllCanUnloadNow() != S_OK)
        std::abort(); // something made by a call is still alive
    return 0;
}
