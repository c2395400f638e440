// platform/src/typelib/invoke/invoke.h: ITypeInfo::Invoke for any table interface
#ifndef ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_INVOKE_H
#define ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_INVOKE_H

#include "typelib/model/library.h"

#include <memory>

namespace orvik::tlb {

/// Keeps index as type's name index, owned by the library's CallShapes, unless
/// another thread kept one first; returns the one kept.
const struct NameIndex& keepNameIndex(const Library& lib, const Type& type,
                                      std::unique_ptr<struct NameIndex> index);

/// Calls member memid of type (described by info, of library lib) on the object
/// instance, through the table slot the library gives it, with the arguments of
/// params converted to the declared types; the [out, retval] value goes to result
/// (which may be null). Result codes as ITypeInfo::Invoke documents them;
/// DISP_E_EXCEPTION, with the operation's own code in excepInfo when given, for an
/// operation that fails.
HRESULT invokeMember(ITypeInfo* info, const Library& lib, const Type& type, PVOID instance,
                     MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                     EXCEPINFO* excepInfo, UINT* argErr);

} // namespace orvik::tlb

#endif // ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_INVOKE_H
