// tests/platform/typelib_test.cpp: the compiled interface library read back through
// LoadTypeLib, its registration, and files that are not what they claim to be

#include "header_writer.h"
#include "idl_dump.h"
#include "idl_parser.h"
#include "tlb_writer.h"
#include "tests/support/recording_doubles.h"
#include "tests/support/registry_fixture.h"
#include "tests/support/type_library_files.h"

#include "orvik/orvik_i.h"
#include "orvik/platform/ref.h"
#include "orvik/platform/utf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>
#include <vector>
#include <unistd.h>

namespace orvik::testing {
namespace {

std::string readText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// A scratch file of this process (tests run in parallel processes).
std::string scratch(const std::string& name) {
    return ::testing::TempDir() + std::to_string(getpid()) + "-" + name;
}

std::u16string widen(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}
std::string narrow(const BSTR s) {
    return s ? std::string(s, s + SysStringLen(s)) : std::string();
}
std::string take(BSTR s) {
    std::string out = narrow(s);
    SysFreeString(s);
    return out;
}

idl::Definition definition() {
    idl::ParseResult r = idl::parseDefinition(readText(ORVIK_IDL_PATH));
    return std::get<idl::Definition>(std::move(r));
}

Ref<ITypeLib> loadLibrary(const std::string& path = ORVIK_TLB_PATH) {
    Ref<ITypeLib> lib;
    EXPECT_EQ(LoadTypeLib(widen(path).c_str(), lib.put()), S_OK) << path;
    return lib;
}

std::string nameOf(ITypeInfo* info) {
    BSTR n = nullptr;
    EXPECT_EQ(info->GetDocumentation(MEMBERID_NIL, &n, nullptr, nullptr, nullptr), S_OK);
    return take(n);
}

TEST(TypeLibrary, HasItsAttributesAndTwentyFourTypesInIndexOrder) {
    Ref<ITypeLib> lib = loadLibrary();
    ASSERT_TRUE(lib);
    TLIBATTR* a = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&a), S_OK);
    EXPECT_EQ(a->guid, LIBID_ORVIKLib);
    EXPECT_EQ(a->lcid, 0x0409u);
    EXPECT_EQ(a->syskind, SYS_WIN32);
    EXPECT_EQ(a->wMajorVerNum, 1);
    EXPECT_EQ(a->wMinorVerNum, 0);
    EXPECT_EQ(a->wLibFlags, 0);
    lib->ReleaseTLibAttr(a);
    BSTR name = nullptr, doc = nullptr, file = nullptr;
    DWORD context = 9;
    ASSERT_EQ(lib->GetDocumentation(-1, &name, &doc, &context, &file), S_OK);
    EXPECT_EQ(take(name), "ORVIKLib");
    EXPECT_EQ(take(doc), "Tamsot Elementary 3d Geometrical Structures Type Library");
    EXPECT_EQ(context, 0u);
    EXPECT_EQ(file, nullptr);

    const char* order[] = {
        "Point",          "IPoint",          "IVector",        "IMatrix",         "Vector",
        "Axis",           "IAxis",           "Matrix",         "BoundingBox",     "IBoundingBox",
        "AreaProperties", "IAreaProperties", "MassProperties", "IMassProperties", "Angle",
        "IAngle",         "Length",          "ILength",        "Plane",           "IPlane",
        "Option",         "IOption",         "RgbData",        "IRgbData"};
    ASSERT_EQ(lib->GetTypeInfoCount(), 24u);
    for (UINT i = 0; i < 24; ++i) {
        Ref<ITypeInfo> info;
        ASSERT_EQ(lib->GetTypeInfo(i, info.put()), S_OK);
        EXPECT_EQ(nameOf(info.get()), order[i]) << i;
        TYPEKIND kind;
        ASSERT_EQ(lib->GetTypeInfoType(i, &kind), S_OK);
        EXPECT_EQ(kind, order[i][0] == 'I' && order[i][1] >= 'A' && order[i][1] <= 'Z'
                            ? TKIND_INTERFACE
                            : TKIND_COCLASS);
    }
    Ref<ITypeInfo> none;
    EXPECT_EQ(lib->GetTypeInfo(24, none.put()), TYPE_E_ELEMENTNOTFOUND);
    EXPECT_EQ(lib->GetTypeInfoOfGuid(GUID_NULL, none.put()), TYPE_E_ELEMENTNOTFOUND);
}

TEST(TypeLibrary, CoclassesAreCreatableWithOneDefaultInterface) {
    Ref<ITypeLib> lib = loadLibrary();
    Ref<ITypeInfo> point;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(CLSID_Point, point.put()), S_OK);
    TYPEATTR a = attributesOf(point.get());
    EXPECT_EQ(a.typekind, TKIND_COCLASS);
    EXPECT_EQ(a.wTypeFlags, TYPEFLAG_FCANCREATE);
    ASSERT_EQ(a.cImplTypes, 1);
    HREFTYPE href = 0;
    INT flags = 0;
    ASSERT_EQ(point->GetRefTypeOfImplType(0, &href), S_OK);
    ASSERT_EQ(point->GetImplTypeFlags(0, &flags), S_OK);
    EXPECT_EQ(flags, IMPLTYPEFLAG_FDEFAULT);
    Ref<ITypeInfo> itf;
    ASSERT_EQ(point->GetRefTypeInfo(href, itf.put()), S_OK);
    EXPECT_EQ(attributesOf(itf.get()).guid, IID_IPoint);
    BSTR doc = nullptr;
    ASSERT_EQ(point->GetDocumentation(MEMBERID_NIL, nullptr, &doc, nullptr, nullptr), S_OK);
    EXPECT_EQ(take(doc), "Point Class");
    EXPECT_EQ(point->GetRefTypeOfImplType(1, &href), TYPE_E_ELEMENTNOTFOUND);
}

TEST(TypeLibrary, InterfacesAreDualAndDeriveFromTheStandardIDispatch) {
    Ref<ITypeLib> lib = loadLibrary();
    const std::pair<const IID*, int> ownOperations[] = {
        {&IID_IPoint, 22},          {&IID_IVector, 35},      {&IID_IMatrix, 38},
        {&IID_IAxis, 11},           {&IID_IBoundingBox, 12}, {&IID_IAreaProperties, 36},
        {&IID_IMassProperties, 20}, {&IID_IAngle, 2},        {&IID_ILength, 2},
        {&IID_IPlane, 10},          {&IID_IOption, 2},       {&IID_IRgbData, 10}};
    for (auto [iid, count] : ownOperations) {
        Ref<ITypeInfo> info;
        ASSERT_EQ(lib->GetTypeInfoOfGuid(*iid, info.put()), S_OK);
        TYPEATTR a = attributesOf(info.get());
        SCOPED_TRACE(nameOf(info.get()));
        EXPECT_EQ(a.typekind, TKIND_INTERFACE);
        EXPECT_EQ(a.wTypeFlags, 0x1140);
        EXPECT_EQ(a.wMajorVerNum, 0);
        EXPECT_EQ(a.wMinorVerNum, 0);
        EXPECT_EQ(a.cFuncs, count);
        EXPECT_EQ(a.cbSizeVft, (7 + count) * sizeof(void*));
        DWORD context = 9;
        ASSERT_EQ(info->GetDocumentation(MEMBERID_NIL, nullptr, nullptr, &context, nullptr), S_OK);
        EXPECT_EQ(context, 0u);

        // The base chain: IDispatch (four functions) from stdole2, then IUnknown (three).
        HREFTYPE href = 0;
        Ref<ITypeInfo> dispatch, unknown;
        ASSERT_EQ(info->GetRefTypeOfImplType(0, &href), S_OK);
        ASSERT_EQ(info->GetRefTypeInfo(href, dispatch.put()), S_OK);
        TYPEATTR d = attributesOf(dispatch.get());
        EXPECT_EQ(d.guid, IID_IDispatch);
        EXPECT_EQ(d.cFuncs, 4);
        Ref<ITypeLib> stdole;
        UINT index = 99;
        ASSERT_EQ(dispatch->GetContainingTypeLib(stdole.put(), &index), S_OK);
        TLIBATTR* sa = nullptr;
        ASSERT_EQ(stdole->GetLibAttr(&sa), S_OK);
        EXPECT_EQ(sa->guid, (GUID{0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}));
        EXPECT_EQ(sa->wMajorVerNum, 2);
        EXPECT_EQ(sa->wMinorVerNum, 0);
        stdole->ReleaseTLibAttr(sa);
        ASSERT_EQ(dispatch->GetRefTypeOfImplType(0, &href), S_OK);
        ASSERT_EQ(dispatch->GetRefTypeInfo(href, unknown.put()), S_OK);
        EXPECT_EQ(attributesOf(unknown.get()).cFuncs, 3);
        EXPECT_EQ(attributesOf(unknown.get()).guid, IID_IUnknown);
    }
}

// Every operation as the library describes it against the parsed definition (the
// same source the compiler's --list prints).
TEST(TypeLibrary, EveryOperationMatchesTheDefinition) {
    Ref<ITypeLib> lib = loadLibrary();
    idl::Definition def = definition();
    size_t checked = 0;
    for (const idl::Interface& itf : def.interfaces) {
        Ref<ITypeInfo> info;
        ASSERT_EQ(lib->GetTypeInfoOfGuid(itf.iid, info.put()), S_OK);
        std::set<int32_t> namedIds;
        for (size_t i = 0; i < itf.operations.size(); ++i) {
            const idl::Operation& op = itf.operations[i];
            SCOPED_TRACE(itf.name + "::" + op.name);
            // GetNames answers for the first function of a member id: the member's
            // name, then the names of its named parameters.
            if (namedIds.insert(op.dispid).second) {
                BSTR names[8] = {};
                UINT count = 0;
                ASSERT_EQ(info->GetNames(op.dispid, names, 8, &count), S_OK);
                std::vector<std::string> expected = {op.name};
                for (const idl::Parameter& p : op.params)
                    if (!p.name.empty() &&
                        !(op.kind == idl::InvokeKind::PropertyPut && &p == &op.params.back()))
                        expected.push_back(p.name);
                std::vector<std::string> got;
                for (UINT n = 0; n < count; ++n)
                    got.push_back(take(names[n]));
                EXPECT_EQ(got, expected);
            }
            FUNCDESC* f = nullptr;
            ASSERT_EQ(info->GetFuncDesc(UINT(i), &f), S_OK);
            EXPECT_EQ(f->memid, op.dispid);
            INVOKEKIND kind = op.kind == idl::InvokeKind::PropertyGet   ? INVOKE_PROPERTYGET
                              : op.kind == idl::InvokeKind::PropertyPut ? INVOKE_PROPERTYPUT
                                                                        : INVOKE_FUNC;
            EXPECT_EQ(f->invkind, kind);
            EXPECT_EQ(f->funckind, FUNC_PUREVIRTUAL);
            EXPECT_EQ(f->callconv, CC_STDCALL);
            EXPECT_EQ(f->wFuncFlags, 0);
            EXPECT_EQ(f->oVft, SHORT((7 + i) * sizeof(void*)));
            EXPECT_EQ(f->elemdescFunc.tdesc.vt, VT_HRESULT);
            ASSERT_EQ(size_t(f->cParams), op.params.size());
            for (size_t p = 0; p < op.params.size(); ++p) {
                const idl::Parameter& param = op.params[p];
                const PARAMDESC& pd = f->lprgelemdescParam[p].paramdesc;
                USHORT flags = (param.in ? PARAMFLAG_FIN : 0) | (param.out ? PARAMFLAG_FOUT : 0) |
                               (param.retval ? PARAMFLAG_FRETVAL : 0) |
                               (param.optional ? PARAMFLAG_FOPT : 0) |
                               (param.defaultValue ? PARAMFLAG_FHASDEFAULT : 0);
                EXPECT_EQ(pd.wParamFlags, flags) << p;
                const TYPEDESC* t = &f->lprgelemdescParam[p].tdesc;
                for (int d = 0;
                     d < param.type.pointerDepth && param.type.base != idl::BaseType::Unknown;
                     ++d) {
                    ASSERT_EQ(t->vt, VT_PTR) << p;
                    t = t->lptdesc;
                }
                switch (param.type.base) {
                case idl::BaseType::Double:
                    EXPECT_EQ(t->vt, VT_R8);
                    break;
                case idl::BaseType::Long:
                    EXPECT_EQ(t->vt, VT_I4);
                    break;
                case idl::BaseType::Short:
                    EXPECT_EQ(t->vt, VT_I2);
                    break;
                case idl::BaseType::VariantBool:
                    EXPECT_EQ(t->vt, VT_BOOL);
                    break;
                case idl::BaseType::SafeArray:
                    ASSERT_EQ(t->vt, VT_SAFEARRAY);
                    EXPECT_EQ(t->lptdesc->vt, VT_R8);
                    break;
                case idl::BaseType::Interface: {
                    ASSERT_EQ(t->vt, VT_USERDEFINED);
                    Ref<ITypeInfo> target;
                    ASSERT_EQ(info->GetRefTypeInfo(t->hreftype, target.put()), S_OK);
                    EXPECT_EQ(nameOf(target.get()), param.type.interfaceName);
                    break;
                }
                default:
                    ADD_FAILURE() << "unexpected type in the definition";
                }
                if (param.defaultValue) {
                    ASSERT_NE(pd.pparamdescex, nullptr);
                    const VARIANT& v = pd.pparamdescex->varDefaultValue;
                    if (param.type.base == idl::BaseType::Double) {
                        ASSERT_EQ(v.vt, VT_R8);
                        double expected = param.defaultValue->isInteger
                                              ? double(param.defaultValue->integer)
                                              : param.defaultValue->real;
                        EXPECT_EQ(std::memcmp(&v.dblVal, &expected, 8), 0) << "bit for bit";
                    } else {
                        ASSERT_EQ(v.vt, VT_I4);
                        EXPECT_EQ(v.lVal, param.defaultValue->integer);
                    }
                }
            }
            VARIANT doc;
            ASSERT_EQ(static_cast<ITypeInfo2*>(info.get())
                          ->GetFuncCustData(UINT(i), ORVIK_CUSTDATA_FUNC_HELPSTRING, &doc),
                      S_OK);
            ASSERT_EQ(doc.vt, VT_BSTR);
            EXPECT_EQ(narrow(doc.bstrVal), op.helpString);
            VariantClear(&doc);
            info->ReleaseFuncDesc(f);
            ++checked;
        }
    }
    EXPECT_EQ(checked, 200u);
}

TEST(TypeLibrary, ErrorDefaultIsStoredAsTenThousandMachineEpsilons) {
    Ref<ITypeLib> lib = loadLibrary();
    for (const IID* iid : {&IID_IPoint, &IID_IVector, &IID_IPlane}) {
        Ref<ITypeInfo> info;
        ASSERT_EQ(lib->GetTypeInfoOfGuid(*iid, info.put()), S_OK);
        UINT index = 0;
        ASSERT_EQ(static_cast<ITypeInfo2*>(info.get())
                      ->GetFuncIndexOfMemId(*iid == IID_IPlane ? 3 : 6, INVOKE_FUNC, &index),
                  S_OK);
        FUNCDESC* f = nullptr;
        ASSERT_EQ(info->GetFuncDesc(index, &f), S_OK);
        const VARIANT& error =
            f->lprgelemdescParam[f->cParams - 1].paramdesc.pparamdescex->varDefaultValue;
        uint64_t bits = 0;
        std::memcpy(&bits, &error.dblVal, 8);
        EXPECT_EQ(bits, 0x3D83880000000000ull);
        if (*iid == IID_IPlane) {
            EXPECT_EQ(f->lprgelemdescParam[2].paramdesc.pparamdescex->varDefaultValue.dblVal, 1.0);
        }
        info->ReleaseFuncDesc(f);
    }
}

// A library the process holds is given again, as the platform's loader does: the same
// object for the same file, whether named by path or through its registration, and
// from threads that race to load it. Once let go, or once the file changed, a load
// reads the file anew.
TEST(TypeLibrary, AFileLoadedAndHeldIsTheSameObjectWhileHeld) {
    char dir[] = "/tmp/orvik-loaded-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string copy = std::string(dir) + "/orvik.tlb";
    {
        std::ifstream in(ORVIK_TLB_PATH, std::ios::binary);
        std::ofstream out(copy, std::ios::binary);
        out << in.rdbuf();
    }
    Ref<ITypeLib> first = loadLibrary(copy), second = loadLibrary(copy);
    EXPECT_EQ(first.get(), second.get());
    std::vector<Ref<ITypeLib>> raced(4);
    std::vector<std::thread> threads;
    for (auto& slot : raced)
        threads.emplace_back([&slot, &copy] { slot = loadLibrary(copy); });
    for (std::thread& t : threads)
        t.join();
    for (const Ref<ITypeLib>& lib : raced)
        EXPECT_EQ(lib.get(), first.get());
    raced.clear();
    second.reset();
    first.reset();

    // Let go: a new load reads the file again and serves it whole.
    Ref<ITypeLib> again = loadLibrary(copy);
    ASSERT_TRUE(again);
    Ref<ITypeInfo> point;
    EXPECT_EQ(again->GetTypeInfoOfGuid(IID_IPoint, point.put()), S_OK);
    // Another file of the same contents, or this one rewritten, is another library.
    Ref<ITypeLib> original = loadLibrary();
    EXPECT_NE(original.get(), again.get());
    {
        std::ifstream in(ORVIK_TLB_PATH, std::ios::binary);
        std::ofstream out(copy + ".new", std::ios::binary);
        out << in.rdbuf() << '\0';
    }
    ASSERT_EQ(std::rename((copy + ".new").c_str(), copy.c_str()), 0);
    Ref<ITypeLib> rewritten = loadLibrary(copy);
    EXPECT_NE(rewritten.get(), again.get());
    rewritten.reset();
    again.reset();
    point.reset();
    std::remove(copy.c_str());
    rmdir(dir);
}

// A member that fails with an object still in its out-pointer: the caller of Invoke
// gets the failure and nothing to release, on the getter's route (no arguments) and
// the one that passes arguments.
TEST(TypeLibrary, InvokeReleasesWhatAFailingMemberLeftBehind) {
    struct Leaving : RecordingVector {
        RecordingVector left;
        HRESULT leave(IVector** out) {
            left.AddRef();
            *out = &left;
            return E_FAIL;
        }
        HRESULT STDMETHODCALLTYPE Clone(IVector** out) override { return leave(out); }
        HRESULT STDMETHODCALLTYPE Mul(DOUBLE, IVector** out) override { return leave(out); }
    } vector;
    Ref<ITypeLib> lib = loadLibrary();
    Ref<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IVector, info.put()), S_OK);
    VARIANT factor;
    VariantInit(&factor);
    factor.vt = VT_R8;
    factor.dblVal = 2;
    DISPPARAMS none = {nullptr, nullptr, 0, 0}, one = {&factor, nullptr, 1, 0};
    for (auto [name, params] : {std::pair{u"Clone", &none}, std::pair{u"Mul", &one}}) {
        MEMBERID id = 0;
        LPOLESTR n = const_cast<LPOLESTR>(name);
        ASSERT_EQ(info->GetIDsOfNames(&n, 1, &id), S_OK);
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO excep{};
        EXPECT_EQ(info->Invoke(static_cast<IVector*>(&vector), id, DISPATCH_METHOD, params, &result,
                               &excep, nullptr),
                  DISP_E_EXCEPTION);
        EXPECT_EQ(result.vt, VT_EMPTY);
        EXPECT_EQ(vector.left.refs, 1u) << "the object left behind is released";
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
    }
}

TEST(TypeLibrary, NamesResolveWithoutRegardToCase) {
    Ref<ITypeLib> lib = loadLibrary();
    Ref<ITypeInfo> vector;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IVector, vector.put()), S_OK);
    for (const char16_t* name : {u"AsArray", u"asarray", u"ASARRAY"}) {
        MEMBERID id = 0;
        LPOLESTR n = const_cast<LPOLESTR>(name);
        EXPECT_EQ(vector->GetIDsOfNames(&n, 1, &id), S_OK);
        EXPECT_EQ(id, 12);
    }
    LPOLESTR names[] = {const_cast<LPOLESTR>(u"set"), const_cast<LPOLESTR>(u"error"),
                        const_cast<LPOLESTR>(u"nothing")};
    MEMBERID ids[3];
    EXPECT_EQ(vector->GetIDsOfNames(names, 3, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], 6);
    EXPECT_EQ(ids[1], 3) << "parameters are numbered from 0";
    EXPECT_EQ(ids[2], MEMBERID_NIL);
    LPOLESTR unknown = const_cast<LPOLESTR>(u"Frobnicate");
    EXPECT_EQ(vector->GetIDsOfNames(&unknown, 1, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], MEMBERID_NIL);
    LPOLESTR inherited = const_cast<LPOLESTR>(u"queryinterface");
    EXPECT_EQ(vector->GetIDsOfNames(&inherited, 1, ids), S_OK);
    EXPECT_EQ(ids[0], 0x60000000);
    TYPEATTR a = attributesOf(vector.get());
    for (UINT i = 0; i < a.cFuncs; ++i) {
        FUNCDESC* f = nullptr;
        ASSERT_EQ(vector->GetFuncDesc(i, &f), S_OK);
        EXPECT_NE(f->memid, 11);
        vector->ReleaseFuncDesc(f);
    }
    char16_t buf[] = u"ipoint";
    BOOL found = FALSE;
    ASSERT_EQ(lib->IsName(buf, 0, &found), S_OK);
    EXPECT_TRUE(found);
    EXPECT_EQ(std::u16string(buf), u"IPoint") << "the stored spelling is given back";
    ITypeInfo* infos[4] = {};
    MEMBERID memids[4];
    USHORT count = 4;
    char16_t member[] = u"Determinant";
    ASSERT_EQ(lib->FindName(member, 0, infos, memids, &count), S_OK);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(memids[0], 30);
    infos[0]->Release();
}

TEST(TypeLibrary, GetNamesListsTheMemberAndItsNamedParameters) {
    Ref<ITypeLib> lib = loadLibrary();
    Ref<ITypeInfo> matrix;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IMatrix, matrix.put()), S_OK);
    BSTR names[6] = {};
    UINT count = 0;
    ASSERT_EQ(matrix->GetNames(3, names, 6, &count), S_OK);
    ASSERT_EQ(count, 6u);
    EXPECT_EQ(narrow(names[0]), "SetPv");
    EXPECT_EQ(narrow(names[5]), "Error");
    for (UINT i = 0; i < count; ++i)
        SysFreeString(names[i]);
    ASSERT_EQ(matrix->GetNames(3, names, 2, &count), S_OK);
    EXPECT_EQ(count, 2u);
    SysFreeString(names[0]);
    SysFreeString(names[1]);
    EXPECT_EQ(matrix->GetNames(999, names, 2, &count), TYPE_E_ELEMENTNOTFOUND);
}

TEST(TypeLibrary, DumpedTextCompilesBackToTheSameLibrary) {
    Ref<ITypeLib> lib = loadLibrary();
    std::string first;
    ASSERT_EQ(dumpTypeLibrary(lib.get(), first), S_OK);
    idl::ParseResult parsed = idl::parseDefinition(first);
    ASSERT_TRUE(std::holds_alternative<idl::Definition>(parsed))
        << std::get<idl::Diagnostic>(parsed).location.line << ": "
        << std::get<idl::Diagnostic>(parsed).message;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(idl::writeTypeLibrary(std::get<idl::Definition>(parsed), bytes, nullptr));
    std::string path = scratch("roundtrip.tlb");
    writeFile(path, bytes);
    Ref<ITypeLib> again = loadLibrary(path);
    std::string second;
    ASSERT_EQ(dumpTypeLibrary(again.get(), second), S_OK);
    EXPECT_EQ(first, second);
    EXPECT_EQ(writeListing(std::get<idl::Definition>(parsed)).size(),
              writeListing(definition()).size());
}

// A library the fuzzer built: an alias naming a pointer type, whose target is
// described inside the alias's attribute storage. The dump once read it after
// releasing that storage (caught under AddressSanitizer).
TEST(TypeLibrary, AnAliasOfAPointerDumps) {
    Ref<ITypeLib> lib = loadLibrary(ORVIK_CORPUS_DIR "/typelib/alias_of_a_pointer.tlb");
    std::string text;
    ASSERT_EQ(dumpTypeLibrary(lib.get(), text), S_OK);
    EXPECT_NE(text.find("typedef "), std::string::npos);
}

TEST(TypeLibrary, FilesThatCannotBeLoaded) {
    Ref<ITypeLib> lib;
    EXPECT_EQ(LoadTypeLib(u"/no/such/file.tlb", lib.put()), TYPE_E_CANTLOADLIBRARY);
    EXPECT_EQ(LoadTypeLib(nullptr, lib.put()), E_INVALIDARG);
    std::string text = scratch("text.tlb");
    std::ofstream(text) << "not a type library at all, just some text";
    EXPECT_EQ(LoadTypeLib(widen(text).c_str(), lib.put()), TYPE_E_UNSUPFORMAT);
    std::string huge = scratch("huge.tlb");
    { std::ofstream(huge) << "MSFT"; }
    ASSERT_EQ(truncate(huge.c_str(), 65 << 20), 0);
    EXPECT_EQ(LoadTypeLib(widen(huge).c_str(), lib.put()), TYPE_E_SIZETOOBIG);
    std::remove(huge.c_str());
    ASSERT_EQ(LoadTypeLib(u"stdole2.tlb", lib.put()), S_OK) << "built in";
    EXPECT_EQ(lib->GetTypeInfoCount(), 2u);
}

// The compiled library with one 32-bit field at offset overwritten.
std::vector<uint8_t> withField(std::vector<uint8_t> bytes, size_t offset, int32_t value) {
    std::memcpy(&bytes[offset], &value, 4);
    return bytes;
}

HRESULT load(const std::vector<uint8_t>& bytes) {
    std::string path = scratch("corrupt.tlb");
    writeFile(path, bytes);
    Ref<ITypeLib> lib;
    HRESULT hr = LoadTypeLib(widen(path).c_str(), lib.put());
    if (SUCCEEDED(hr)) {
        std::string text; // walk everything the library offers
        (void)dumpTypeLibrary(lib.get(), text);
    }
    return hr;
}

bool isTypeError(HRESULT hr) {
    return (uint32_t(hr) & 0xFFFF0000u) == 0x80020000u;
}

TEST(TypeLibrary, CorruptHeaderFieldsAndSegmentOffsetsAreRefused) {
    std::string raw = readText(ORVIK_TLB_PATH);
    std::vector<uint8_t> good(raw.begin(), raw.end());
    const int32_t size = int32_t(good.size());
    // Fields the reader relies on: magic, version, GUID, count, help string, name,
    // import count.
    for (size_t field : {0, 4, 8, 32, 36, 56, 80})
        for (int32_t bad : {-2, size, INT32_MAX, INT32_MIN + 1}) {
            HRESULT hr = load(withField(good, field, bad));
            EXPECT_TRUE(isTypeError(hr))
                << "header offset " << field << " = " << bad << ": " << std::hex << hr;
        }
    // Every other header field may hold anything without harm.
    for (size_t field = 0; field < 84; field += 4)
        for (int32_t bad : {-1, size + 7})
            EXPECT_TRUE(SUCCEEDED(load(withField(good, field, bad))) ||
                        isTypeError(load(withField(good, field, bad))));
    size_t directory = 84 + 4 * 24;
    for (int s = 0; s < 15; ++s) {
        size_t at = directory + 16 * size_t(s);
        EXPECT_TRUE(isTypeError(load(withField(good, at, size + 1)))) << "segment " << s;
        EXPECT_TRUE(isTypeError(load(withField(good, at, -7)))) << "segment " << s;
        int32_t length = 0;
        std::memcpy(&length, &good[at + 4], 4);
        if (length > 0) {
            EXPECT_TRUE(isTypeError(load(withField(good, at + 4, size)))) << "segment " << s;
        }
    }
}

TEST(TypeLibrary, TruncationAtEverySegmentBoundaryIsRefused) {
    std::string raw = readText(ORVIK_TLB_PATH);
    std::vector<uint8_t> good(raw.begin(), raw.end());
    std::vector<size_t> cuts = {0, 3, 4, 83, 84, 84 + 4 * 24, 84 + 4 * 24 + 240};
    size_t directory = 84 + 4 * 24;
    for (int s = 0; s < 15; ++s) {
        int32_t offset = 0, length = 0;
        std::memcpy(&offset, &good[directory + 16 * size_t(s)], 4);
        std::memcpy(&length, &good[directory + 16 * size_t(s) + 4], 4);
        if (offset >= 0) {
            cuts.push_back(size_t(offset));
            cuts.push_back(size_t(offset + length) - 1);
        }
    }
    cuts.push_back(good.size() - 1);
    for (size_t cut : cuts) {
        std::vector<uint8_t> shorter(good.begin(), good.begin() + std::ptrdiff_t(cut));
        HRESULT hr = load(shorter);
        EXPECT_TRUE(isTypeError(hr)) << "cut at " << cut << ": " << std::hex << hr;
    }
}

// Facts of the published layout, used to damage a library on purpose: an 84-byte
// header whose word at 0x20 counts the types, one 4-byte offset per type, then 15
// segment descriptors of 16 bytes, the first locating the type-info table of
// 100-byte records (member block offset at +0x04, member count at +0x18, an
// interface's base at +0x54).
int32_t wordAt(const std::vector<uint8_t>& bytes, size_t offset) {
    int32_t v = 0;
    std::memcpy(&v, &bytes[offset], 4);
    return v;
}

size_t typeRecordAt(const std::vector<uint8_t>& bytes, const GUID& guid) {
    Ref<ITypeLib> lib = loadLibrary();
    Ref<ITypeInfo> info;
    EXPECT_EQ(lib->GetTypeInfoOfGuid(guid, info.put()), S_OK);
    Ref<ITypeLib> containing;
    UINT index = 0;
    EXPECT_EQ(info->GetContainingTypeLib(containing.put(), &index), S_OK);
    size_t directory = 84 + 4 * size_t(wordAt(bytes, 0x20));
    return size_t(wordAt(bytes, directory)) + 100 * index;
}

std::vector<uint8_t> libraryBytes() {
    std::string raw = readText(ORVIK_TLB_PATH);
    return std::vector<uint8_t>(raw.begin(), raw.end());
}

TEST(TypeLibrary, AnInterfaceThatInheritsFromItselfIsRefused) {
    std::vector<uint8_t> good = libraryBytes();
    size_t point = typeRecordAt(good, IID_IPoint), vector = typeRecordAt(good, IID_IVector);
    size_t directory = 84 + 4 * size_t(wordAt(good, 0x20));
    auto hrefOf = [&](size_t record) { return int32_t(record - size_t(wordAt(good, directory))); };
    EXPECT_EQ(load(withField(good, point + 0x54, hrefOf(point))), TYPE_E_INVDATAREAD);
    std::vector<uint8_t> loop = withField(good, point + 0x54, hrefOf(vector));
    loop = withField(loop, vector + 0x54, hrefOf(point));
    EXPECT_EQ(load(loop), TYPE_E_INVDATAREAD);
}

// What a load costs is bounded by the file: a member block or a record read for
// many types or members would multiply it.
TEST(TypeLibrary, MemberBlocksAndRecordsSharedBetweenTypesOrMembersAreRefused) {
    std::vector<uint8_t> good = libraryBytes();
    size_t point = typeRecordAt(good, IID_IPoint), vector = typeRecordAt(good, IID_IVector);
    std::vector<uint8_t> sharedBlock = withField(good, vector + 0x04, wordAt(good, point + 0x04));
    int32_t pointCounts = wordAt(good, point + 0x18); // member and variable counts
    sharedBlock = withField(sharedBlock, vector + 0x18, pointCounts);
    EXPECT_EQ(load(sharedBlock), TYPE_E_INVDATAREAD);

    // The block: its size word, the records it counts, then per member an id, a
    // name offset and the record's offset, in three arrays.
    size_t block = size_t(wordAt(good, point + 0x04));
    size_t members = size_t(pointCounts & 0xFFFF);
    size_t offsets = block + 4 + size_t(wordAt(good, block)) + 8 * members;
    ASSERT_EQ(wordAt(good, offsets), 0) << "the first record starts the block";
    EXPECT_EQ(load(withField(good, offsets + 4, 0)), TYPE_E_INVDATAREAD);
    EXPECT_EQ(load(withField(good, offsets + 4, 4)), TYPE_E_INVDATAREAD) << "records overlap";
}

// The compiled library read by hand, from the published layout alone: segment 0
// holds the 100-byte type records (kind in the low bits of +0x00, member block at
// +0x04, member count at +0x18, name at +0x34, base at +0x54 and the inherited-members
// word after it at +0x58); segment 7 the names (length byte at +0x08, text at
// +0x0C); segment 11 the custom data. A member block is a size word counting its
// records, the records, then the member ids, name offsets and record offsets. A
// function record keeps its size in its first 16 bits, its parameter count at +0x14,
// and ends with one default word per parameter (when bit 12 of its +0x10 word says
// it has defaults) followed by 12-byte parameter records (name at +4, flags at +8).
struct HandRead {
    std::vector<uint8_t> bytes;
    size_t segment(int index) const {
        size_t directory = 84 + 4 * size_t(wordAt(bytes, 0x20));
        if (wordAt(bytes, 0x14) & 0x100)
            directory += 4;
        return size_t(wordAt(bytes, directory + 16 * size_t(index)));
    }
    std::string name(int32_t offset) const {
        size_t at = segment(7) + size_t(offset);
        return std::string(reinterpret_cast<const char*>(&bytes[at + 12]), bytes[at + 8]);
    }
    uint16_t half(size_t at) const { return uint16_t(bytes[at] | bytes[at + 1] << 8); }
};

TEST(TypeLibraryFormat, TheWriterKeepsEveryFactOfThePublishedLayout) {
    HandRead lib{libraryBytes()};
    std::map<std::string, int32_t> defaults; // "IMatrix.SetPv.axis2" -> default word
    int interfaces = 0;
    for (int32_t t = 0; t < wordAt(lib.bytes, 0x20); ++t) {
        size_t record = lib.segment(0) + 100 * size_t(t);
        if ((wordAt(lib.bytes, record) & 0xF) != TKIND_INTERFACE)
            continue;
        ++interfaces;
        std::string itf = lib.name(wordAt(lib.bytes, record + 0x34));
        EXPECT_EQ(uint32_t(wordAt(lib.bytes, record + 0x58)), 0x00070002u)
            << itf << ": seven inherited functions, two inherited interfaces";
        size_t block = size_t(wordAt(lib.bytes, record + 0x04));
        size_t members = size_t(lib.half(record + 0x18));
        size_t records = block + 4, sizeWord = size_t(wordAt(lib.bytes, block));
        size_t walked = 0;
        for (size_t m = 0; m < members; ++m)
            walked += lib.half(records + walked);
        EXPECT_EQ(sizeWord, walked) << itf << ": the size word counts the records only";
        size_t names = records + sizeWord + 4 * members, offsets = names + 4 * members;
        for (size_t m = 0; m < members; ++m) {
            size_t f = records + size_t(wordAt(lib.bytes, offsets + 4 * m));
            std::string fn = lib.name(wordAt(lib.bytes, names + 4 * m));
            size_t params = lib.half(f + 0x14), size = lib.half(f);
            if (!(wordAt(lib.bytes, f + 0x10) & (1 << 12)))
                continue;
            size_t words = f + size - 16 * params;
            for (size_t p = 0; p < params; ++p) {
                size_t param = f + size - 12 * (params - p);
                if (!(wordAt(lib.bytes, param + 8) & PARAMFLAG_FHASDEFAULT))
                    continue;
                int32_t nameOffset = wordAt(lib.bytes, param + 4);
                std::string key =
                    itf + "." + fn + "." + (nameOffset < 0 ? "" : lib.name(nameOffset));
                defaults[key] = wordAt(lib.bytes, words + 4 * p);
            }
        }
    }
    EXPECT_EQ(interfaces, 12);
    // I4 0 on an interface pointer: kept in the record with its type, VT_I4 (3).
    for (const char* key :
         {"IMatrix.SetPv.axis2", "IMatrix.SetPv.axis3", "IMatrix.SetRotation.orig"})
        EXPECT_EQ(uint32_t(defaults.at(key)), 0x8C000000u) << key;
    // Everything else in the custom data: a 16-bit VARTYPE, then the value.
    auto custom = [&](const std::string& key, uint16_t vt, uint64_t bits, size_t width) {
        int32_t word = defaults.at(key);
        ASSERT_GE(word, 0) << key << " is kept in the record";
        size_t at = lib.segment(11) + size_t(word);
        EXPECT_EQ(lib.half(at), vt) << key;
        uint64_t value = 0;
        std::memcpy(&value, &lib.bytes[at + 2], width);
        EXPECT_EQ(value, bits) << key;
    };
    custom("IMatrix.Element.indice2", VT_I4, 0xFFFFFFFFu, 4);
    for (const char* key :
         {"IPoint.Set.Error", "IVector.Set.Error", "IMatrix.SetPv.Error",
          "IMatrix.SetTranslation.Error", "IMatrix.SetRotation.Error", "IPlane.Set.Error"})
        custom(key, VT_R8, 0x3D83880000000000u, 8);
    custom("IPoint.Set.X", VT_R8, 0, 8);
    custom("IPlane.Set.C", VT_R8, 0x3FF0000000000000u, 8);
}

TEST(TypeLibrary, RandomDamageNeverCrashesTheReader) {
    std::string raw = readText(ORVIK_TLB_PATH);
    std::vector<uint8_t> good(raw.begin(), raw.end());
    uint32_t state = 12345;
    for (int round = 0; round < 300; ++round) {
        std::vector<uint8_t> damaged = good;
        for (int k = 0; k < 4; ++k) {
            state = state * 1664525u + 1013904223u;
            damaged[state % damaged.size()] = uint8_t(state >> 24);
        }
        HRESULT hr = load(damaged);
        EXPECT_TRUE(SUCCEEDED(hr) || isTypeError(hr)) << std::hex << hr;
    }
}

using TypeLibRegistration = RegistryTest;

std::string compileWithLocale(const char* lcid, const std::string& name) {
    std::string text = readText(ORVIK_IDL_PATH);
    size_t at = text.find("lcid(0x0409)");
    text.replace(at, 12, std::string("lcid(") + lcid + ")");
    std::vector<uint8_t> bytes;
    EXPECT_TRUE(idl::writeTypeLibrary(std::get<idl::Definition>(idl::parseDefinition(text)), bytes,
                                      nullptr));
    std::string path = scratch(name);
    writeFile(path, bytes);
    return path;
}

std::string regValue(const std::string& key, const char* name = nullptr) {
    RegKey k;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS)
        return "<no key>";
    std::string text;
    return regQueryString(k.get(), nullptr, name, text) == ERROR_SUCCESS ? text : "<no value>";
}

TEST_F(TypeLibRegistration, RegisteringWritesTheLibraryAndItsInterfaces) {
    auto before = dumpRoot(HKEY_CLASSES_ROOT);
    Ref<ITypeLib> lib = loadLibrary();
    Ref<ITypeLib> missing;
    EXPECT_EQ(LoadRegTypeLib(LIBID_ORVIKLib, 1, 0, 0x0409, missing.put()), TYPE_E_LIBNOTREGISTERED);
    ASSERT_EQ(RegisterTypeLib(lib.get(), u"/opt/orvik/orvik.tlb", u"/opt/orvik/"), S_OK);
    std::string key = "TypeLib\\{283075A1-B177-11D3-BE8E-0060B0EB1D67}\\1.0";
    EXPECT_EQ(regValue(key), "Tamsot Elementary 3d Geometrical Structures Type Library");
    EXPECT_EQ(regValue(key + "\\409\\win32"), "/opt/orvik/orvik.tlb");
    EXPECT_EQ(regValue(key + "\\FLAGS"), "0");
    EXPECT_EQ(regValue(key + "\\HELPDIR"), "/opt/orvik/");
    std::string itf = "Interface\\{283075AD-B177-11D3-BE8E-0060B0EB1D67}";
    EXPECT_EQ(regValue(itf), "IPoint");
    EXPECT_EQ(regValue(itf + "\\ProxyStubClsid"), "{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(regValue(itf + "\\ProxyStubClsid32"), "{00020424-0000-0000-C000-000000000046}");
    EXPECT_EQ(regValue(itf + "\\TypeLib"), "{283075A1-B177-11D3-BE8E-0060B0EB1D67}");
    EXPECT_EQ(regValue(itf + "\\TypeLib", "Version"), "1.0");

    ASSERT_EQ(UnRegisterTypeLib(LIBID_ORVIKLib, 1, 0, 0x0409, SYS_WIN32), S_OK);
    auto after = dumpRoot(HKEY_CLASSES_ROOT);
    after.erase("\\TypeLib");
    after.erase("\\Interface");
    EXPECT_EQ(after, before) << "nothing of the library is left";
    EXPECT_EQ(UnRegisterTypeLib(LIBID_ORVIKLib, 1, 0, 0x0409, SYS_WIN32), TYPE_E_REGISTRYACCESS);
}

TEST_F(TypeLibRegistration, RegisteredLibraryIsFoundByLocaleThenNeutralThenZero) {
    struct Case {
        const char* lcid;
        LCID registeredAs;
    } cases[] = {{"0x0409", 0x409}, {"0x0009", 0x9}, {"0", 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lcid);
        std::string path = compileWithLocale(c.lcid, std::string("lcid") + c.lcid + ".tlb");
        Ref<ITypeLib> lib = loadLibrary(path);
        ASSERT_EQ(RegisterTypeLib(lib.get(), widen(path).c_str(), nullptr), S_OK);
        Ref<ITypeLib> found;
        ASSERT_EQ(LoadRegTypeLib(LIBID_ORVIKLib, 1, 0, 0x0409, found.put()), S_OK);
        TLIBATTR* a = nullptr;
        ASSERT_EQ(found->GetLibAttr(&a), S_OK);
        EXPECT_EQ(a->lcid, c.registeredAs);
        found->ReleaseTLibAttr(a);
        Ref<ITypeLib> otherMajor;
        EXPECT_EQ(LoadRegTypeLib(LIBID_ORVIKLib, 2, 0, 0x0409, otherMajor.put()),
                  TYPE_E_LIBNOTREGISTERED);
        Ref<ITypeLib> higherMinor;
        EXPECT_EQ(LoadRegTypeLib(LIBID_ORVIKLib, 1, 1, 0x0409, higherMinor.put()),
                  TYPE_E_LIBNOTREGISTERED);
        ASSERT_EQ(UnRegisterTypeLib(LIBID_ORVIKLib, 1, 0, c.registeredAs, SYS_WIN32), S_OK);
        Ref<ITypeLib> gone;
        EXPECT_EQ(LoadRegTypeLib(LIBID_ORVIKLib, 1, 0, 0x0409, gone.put()),
                  TYPE_E_LIBNOTREGISTERED);
    }
}

// A path far longer than any fixed buffer a lookup might use.
TEST_F(TypeLibRegistration, LibraryRegisteredAtALongPathIsFound) {
    std::string dir = storeDir();
    for (char c = 'd'; c <= 'n'; ++c)
        dir += "/" + std::string(200, c);
    ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
    std::string path = dir + "/orvik.tlb";
    ASSERT_GT(path.size(), 2048u);
    {
        std::ifstream in(ORVIK_TLB_PATH, std::ios::binary);
        std::ofstream(path, std::ios::binary) << in.rdbuf();
    }
    Ref<ITypeLib> lib = loadLibrary(path);
    ASSERT_TRUE(lib);
    ASSERT_EQ(RegisterTypeLib(lib.get(), toUtf16(path)->c_str(), u"/"), S_OK);
    Ref<ITypeLib> found;
    EXPECT_EQ(LoadRegTypeLib(LIBID_ORVIKLib, 1, 0, 0x0409, found.put()), S_OK);
    EXPECT_TRUE(found);
    EXPECT_EQ(UnRegisterTypeLib(LIBID_ORVIKLib, 1, 0, 0x0409, SYS_WIN32), S_OK);
}

} // namespace
} // namespace orvik::testing

// A compiled client's table for an interface that derives from another interface of
// the same library: IDispatch's seven slots, the base's member, then its own.
struct IBaseValue : IDispatch {
    virtual HRESULT STDMETHODCALLTYPE get_Value(double* pVal) = 0;
};
struct IDerivedValue : IBaseValue {
    virtual HRESULT STDMETHODCALLTYPE Twice(double x, double* pVal) = 0;
};
const IID IID_IDerivedValue = {0x6F1D2A10, 0, 0x4000, {0x80, 0, 0, 0, 0, 0, 0, 0x02}};
template <> struct orvik::InterfaceTraits<IDerivedValue> {
    static const IID& iid() { return IID_IDerivedValue; }
};

namespace orvik::testing {
namespace {

struct DerivedValue final : RecordingUnknown<IDerivedValue> {
    HRESULT STDMETHODCALLTYPE get_Value(double* pVal) override {
        *pVal = 2.5;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Twice(double x, double* pVal) override {
        *pVal = 2 * x;
        return S_OK;
    }
};

TEST(TypeLibrary, InvokeReachesMembersInheritedFromABaseInterface) {
    const char* text = R"(
        [object, uuid(6F1D2A10-0000-4000-8000-000000000001), pointer_default(unique)]
        interface IBaseValue : IDispatch
        {
            [propget, id(1)] HRESULT Value([out, retval] double* pVal);
        };
        [object, uuid(6F1D2A10-0000-4000-8000-000000000002), pointer_default(unique)]
        interface IDerivedValue : IBaseValue
        {
            [id(2)] HRESULT Twice([in] double x, [out, retval] double* pVal);
        };
        [uuid(6F1D2A10-0000-4000-8000-000000000003), version(1.0)]
        library InheritLib
        {
            importlib("stdole2.tlb");
            [uuid(6F1D2A10-0000-4000-8000-000000000004)]
            coclass Thing { [default] interface IDerivedValue; };
        };
    )";
    idl::ParseResult parsed = idl::parseDefinition(text);
    ASSERT_TRUE(std::holds_alternative<idl::Definition>(parsed))
        << std::get<idl::Diagnostic>(parsed).message;
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(idl::writeTypeLibrary(std::get<idl::Definition>(parsed), bytes, nullptr));
    std::string path = scratch("inherit.tlb");
    writeFile(path, bytes);
    Ref<ITypeLib> lib = loadLibrary(path);
    ASSERT_TRUE(lib);
    Ref<ITypeInfo> info;
    ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IDerivedValue, info.put()), S_OK);

    DerivedValue object;
    IDerivedValue* instance = &object;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(info->Invoke(instance, 1, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr),
              S_OK);
    EXPECT_EQ(result.vt, VT_R8);
    EXPECT_EQ(result.dblVal, 2.5);

    VARIANT x;
    VariantInit(&x);
    x.vt = VT_R8;
    x.dblVal = 4.0;
    DISPPARAMS one = {&x, nullptr, 1, 0};
    ASSERT_EQ(info->Invoke(instance, 2, DISPATCH_METHOD, &one, &result, nullptr, nullptr), S_OK);
    EXPECT_EQ(result.dblVal, 8.0);

    // Neither an unknown member nor the frame's own IDispatch members are reached.
    EXPECT_EQ(info->Invoke(instance, 3, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(info->Invoke(instance, 0x60010000, DISPATCH_METHOD, &none, &result, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    info.reset();
    lib.reset();
    std::remove(path.c_str());
}

} // namespace
} // namespace orvik::testing
