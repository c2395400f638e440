// tools/tlbdump/idl_dump.h: a loaded type library as interface-definition text
#ifndef ORVIK_TOOLS_TLBDUMP_IDL_DUMP_H
#define ORVIK_TOOLS_TLBDUMP_IDL_DUMP_H

#include "orvik/platform.h"

#include <string>

namespace orvik {

/// Definition text for lib that orvik-idlc compiles back into a library with the
/// same types, in the same index order. E_ codes of the library calls are
/// returned; the text is complete only on S_OK.
HRESULT dumpTypeLibrary(ITypeLib* lib, std::string& text);

} // namespace orvik

#endif // ORVIK_TOOLS_TLBDUMP_IDL_DUMP_H
