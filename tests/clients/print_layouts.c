/* tests/clients/print_layouts.c: the platform's structure layouts as C sees them
 *
 * Prints "NAME SIZE" for each structure and "NAME.FIELD OFFSET" for each field the
 * Python client declares, for the Python test that checks its ctypes copies. A
 * VARIANT's value is the union after its type word.
 */
#include "orvik/platform.h"

#include <stddef.h>
#include <stdio.h>

#define SIZE(type) printf(#type " %zu\n", sizeof(type))
#define FIELD(type, field) printf(#type "." #field " %zu\n", offsetof(type, field))

int main(void) {
    SIZE(GUID);
    FIELD(GUID, Data1);
    FIELD(GUID, Data2);
    FIELD(GUID, Data3);
    FIELD(GUID, Data4);
    SIZE(VARIANT);
    FIELD(VARIANT, vt);
    FIELD(VARIANT, wReserved1);
    FIELD(VARIANT, wReserved2);
    FIELD(VARIANT, wReserved3);
    printf("VARIANT.value %zu\n", offsetof(VARIANT, llVal));
    SIZE(DISPPARAMS);
    FIELD(DISPPARAMS, rgvarg);
    FIELD(DISPPARAMS, rgdispidNamedArgs);
    FIELD(DISPPARAMS, cArgs);
    FIELD(DISPPARAMS, cNamedArgs);
    SIZE(EXCEPINFO);
    FIELD(EXCEPINFO, wCode);
    FIELD(EXCEPINFO, wReserved);
    FIELD(EXCEPINFO, bstrSource);
    FIELD(EXCEPINFO, bstrDescription);
    FIELD(EXCEPINFO, bstrHelpFile);
    FIELD(EXCEPINFO, dwHelpContext);
    FIELD(EXCEPINFO, pvReserved);
    FIELD(EXCEPINFO, pfnDeferredFillIn);
    FIELD(EXCEPINFO, scode);
    SIZE(TYPEDESC);
    FIELD(TYPEDESC, lptdesc);
    FIELD(TYPEDESC, vt);
    SIZE(PARAMDESC);
    FIELD(PARAMDESC, pparamdescex);
    FIELD(PARAMDESC, wParamFlags);
    SIZE(PARAMDESCEX);
    FIELD(PARAMDESCEX, cBytes);
    FIELD(PARAMDESCEX, varDefaultValue);
    SIZE(ELEMDESC);
    FIELD(ELEMDESC, tdesc);
    FIELD(ELEMDESC, paramdesc);
    SIZE(FUNCDESC);
    FIELD(FUNCDESC, memid);
    FIELD(FUNCDESC, lprgscode);
    FIELD(FUNCDESC, lprgelemdescParam);
    FIELD(FUNCDESC, funckind);
    FIELD(FUNCDESC, invkind);
    FIELD(FUNCDESC, callconv);
    FIELD(FUNCDESC, cParams);
    FIELD(FUNCDESC, cParamsOpt);
    FIELD(FUNCDESC, oVft);
    FIELD(FUNCDESC, cScodes);
    FIELD(FUNCDESC, elemdescFunc);
    FIELD(FUNCDESC, wFuncFlags);
    SIZE(TYPEATTR);
    FIELD(TYPEATTR, guid);
    FIELD(TYPEATTR, lcid);
    FIELD(TYPEATTR, dwReserved);
    FIELD(TYPEATTR, memidConstructor);
    FIELD(TYPEATTR, memidDestructor);
    FIELD(TYPEATTR, lpstrSchema);
    FIELD(TYPEATTR, cbSizeInstance);
    FIELD(TYPEATTR, typekind);
    FIELD(TYPEATTR, cFuncs);
    FIELD(TYPEATTR, cVars);
    FIELD(TYPEATTR, cImplTypes);
    FIELD(TYPEATTR, cbSizeVft);
    FIELD(TYPEATTR, cbAlignment);
    FIELD(TYPEATTR, wTypeFlags);
    FIELD(TYPEATTR, wMajorVerNum);
    FIELD(TYPEATTR, wMinorVerNum);
    FIELD(TYPEATTR, tdescAlias);
    FIELD(TYPEATTR, idldescType);
    return 0;
}
