// platform/src/typelib/model/standard_library.cpp: the standard automation library, built in
//
// Every dual interface derives from IDispatch as the standard automation library
// ("stdole2.tlb") describes it. No file of that library exists on this host, so its
// two interfaces that type libraries refer to, IUnknown and IDispatch, are
// described here, with their published identifiers, member ids and table slots.

#include "typelib/model/library.h"

namespace orvik::tlb {

const GUID kStdOleLibid = {0x00020430, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

namespace {

int node(Library& lib, VARTYPE vt, int target = -1) {
    lib.nodes.push_back({vt, target, 0, {}});
    return int(lib.nodes.size() - 1);
}

int pointerTo(Library& lib, VARTYPE vt, int levels = 1) {
    int n = node(lib, vt);
    for (int i = 0; i < levels; ++i)
        n = node(lib, VT_PTR, n);
    return n;
}

Param param(const char16_t* name, USHORT flags, int type) {
    Param p;
    p.name = name;
    p.flags = flags;
    p.type = type;
    return p;
}

Func func(Library& lib, MEMBERID memid, int slot, const char16_t* name, VARTYPE result,
          std::vector<Param> params) {
    Func f;
    f.memid = memid;
    f.slot = slot;
    f.name = name;
    f.funcFlags = 0x1; // FUNCFLAG_FRESTRICTED: not for late-bound callers
    f.returnType = node(lib, result);
    f.params = std::move(params);
    return f;
}

Library build() {
    Library lib;
    lib.libid = kStdOleLibid;
    lib.lcid = 0;
    lib.syskind = SYS_WIN32;
    lib.majorVersion = 2;
    lib.minorVersion = 0;
    lib.name = u"stdole";
    lib.doc = u"OLE Automation";

    Type unknown;
    unknown.kind = TKIND_INTERFACE;
    unknown.guid = {0x00000000, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    unknown.flags = TYPEFLAG_FHIDDEN;
    unknown.name = u"IUnknown";
    unknown.vtableSlots = 3;
    unknown.instanceSize = 4;
    unknown.funcs.push_back(func(lib, 0x60000000, 0, u"QueryInterface", VT_HRESULT,
                                 {param(u"riid", PARAMFLAG_FIN, pointerTo(lib, VT_VOID)),
                                  param(u"ppvObj", PARAMFLAG_FOUT, pointerTo(lib, VT_VOID, 2))}));
    unknown.funcs.push_back(func(lib, 0x60000001, 1, u"AddRef", VT_UI4, {}));
    unknown.funcs.push_back(func(lib, 0x60000002, 2, u"Release", VT_UI4, {}));

    Type dispatch;
    dispatch.kind = TKIND_INTERFACE;
    dispatch.guid = {0x00020400, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
    dispatch.flags = TYPEFLAG_FRESTRICTED;
    dispatch.name = u"IDispatch";
    dispatch.vtableSlots = 7;
    dispatch.instanceSize = 4;
    dispatch.implTypes.push_back({Library::localHref(0), 0});
    dispatch.funcs.push_back(func(lib, 0x60010000, 3, u"GetTypeInfoCount", VT_HRESULT,
                                  {param(u"pctinfo", PARAMFLAG_FOUT, pointerTo(lib, VT_UINT))}));
    dispatch.funcs.push_back(func(lib, 0x60010001, 4, u"GetTypeInfo", VT_HRESULT,
                                  {param(u"itinfo", PARAMFLAG_FIN, node(lib, VT_UINT)),
                                   param(u"lcid", PARAMFLAG_FIN, node(lib, VT_UI4)),
                                   param(u"pptinfo", PARAMFLAG_FOUT, pointerTo(lib, VT_VOID, 2))}));
    dispatch.funcs.push_back(func(lib, 0x60010002, 5, u"GetIDsOfNames", VT_HRESULT,
                                  {param(u"riid", PARAMFLAG_FIN, pointerTo(lib, VT_VOID)),
                                   param(u"rgszNames", PARAMFLAG_FIN, pointerTo(lib, VT_I1, 2)),
                                   param(u"cNames", PARAMFLAG_FIN, node(lib, VT_UINT)),
                                   param(u"lcid", PARAMFLAG_FIN, node(lib, VT_UI4)),
                                   param(u"rgdispid", PARAMFLAG_FOUT, pointerTo(lib, VT_I4))}));
    dispatch.funcs.push_back(func(lib, 0x60010003, 6, u"Invoke", VT_HRESULT,
                                  {param(u"dispidMember", PARAMFLAG_FIN, node(lib, VT_I4)),
                                   param(u"riid", PARAMFLAG_FIN, pointerTo(lib, VT_VOID)),
                                   param(u"lcid", PARAMFLAG_FIN, node(lib, VT_UI4)),
                                   param(u"wFlags", PARAMFLAG_FIN, node(lib, VT_UI2)),
                                   param(u"pdispparams", PARAMFLAG_FIN, pointerTo(lib, VT_VOID)),
                                   param(u"pvarResult", PARAMFLAG_FOUT, pointerTo(lib, VT_VARIANT)),
                                   param(u"pexcepinfo", PARAMFLAG_FOUT, pointerTo(lib, VT_VOID)),
                                   param(u"puArgErr", PARAMFLAG_FOUT, pointerTo(lib, VT_UINT))}));
    lib.types.push_back(std::move(unknown));
    lib.types.push_back(std::move(dispatch));
    return lib;
}

} // namespace

const Library& standardLibrary() {
    static const Library lib = build();
    return lib;
}

} // namespace orvik::tlb
