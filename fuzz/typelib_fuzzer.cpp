// fuzz/typelib_fuzzer.cpp: arbitrary bytes as a type library
//
// Whatever the bytes, reading must end in S_OK or an error code, never a crash, a
// hang or a read outside the buffer. A library that reads is then walked whole
// through ITypeLib and ITypeInfo (as orvik-tlbdump does), and its lookups are
// exercised: names of every member and one unknown name, documentation, and the
// chain of base interfaces as far as it goes.

#include "idl_dump.h"
#include "typelib/model/library.h"
#include "typelib/objects/objects.h"

#include "orvik/platform/bstr_holder.h"
#include "orvik/platform/ref.h"

#include <cstdint>
#include <memory>
#include <string>

namespace {

void exerciseLookups(ITypeInfo* start, UINT typeCount) {
    orvik::Ref<ITypeInfo> info(start);
    // A chain of bases is no longer than the library has types, plus the imported
    // ones at its end.
    for (UINT step = 0; info && step <= typeCount + 2; ++step) {
        TYPEATTR* attr = nullptr;
        if (FAILED(info->GetTypeAttr(&attr)))
            return;
        WORD functions = attr->cFuncs, bases = attr->cImplTypes;
        info->ReleaseTypeAttr(attr);
        for (UINT i = 0; i < functions; ++i) {
            FUNCDESC* desc = nullptr;
            if (FAILED(info->GetFuncDesc(i, &desc)))
                continue;
            MEMBERID id = desc->memid;
            info->ReleaseFuncDesc(desc);
            orvik::BstrHolder name, doc;
            if (FAILED(info->GetDocumentation(id, name.put(), doc.put(), nullptr, nullptr)) ||
                !name.get())
                continue;
            LPOLESTR names[2] = {name.get(), const_cast<LPOLESTR>(u"no such parameter")};
            MEMBERID ids[2];
            (void)info->GetIDsOfNames(names, 2, ids);
        }
        LPOLESTR unknown = const_cast<LPOLESTR>(u"NoMemberHasThisName");
        MEMBERID id;
        (void)info->GetIDsOfNames(&unknown, 1, &id);
        if (bases == 0)
            return;
        HREFTYPE href = 0;
        orvik::Ref<ITypeInfo> base;
        if (FAILED(info->GetRefTypeOfImplType(0, &href)) ||
            FAILED(info->GetRefTypeInfo(href, base.put())))
            return;
        info = std::move(base);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto lib = std::make_shared<orvik::tlb::Library>();
    if (FAILED(orvik::tlb::readLibrary(data, size, *lib)))
        return 0;
    orvik::Ref<ITypeLib> typeLib;
    if (FAILED(orvik::tlb::createTypeLib(std::move(lib), typeLib.put())))
        return 0;
    std::string text;
    (void)orvik::dumpTypeLibrary(typeLib.get(), text);
    UINT count = typeLib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        orvik::Ref<ITypeInfo> info;
        if (SUCCEEDED(typeLib->GetTypeInfo(i, info.put())))
            exerciseLookups(info.get(), count);
    }
    return 0;
}
