// tools/idlc/tlb_writer.h: the binary interface library ("MSFT" format)
#ifndef ORVIK_TOOLS_IDLC_TLB_WRITER_H
#define ORVIK_TOOLS_IDLC_TLB_WRITER_H

#include "idl_ast.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvik::idl {

/// The library block of def as a type library file. IDispatch and IUnknown are
/// referred to in the standard automation library ("stdole2.tlb"). False, with a
/// message in *error, when the definition cannot be expressed (no library block, a
/// type the format writer does not know).
bool writeTypeLibrary(const Definition& def, std::vector<uint8_t>& out, std::string* error);

} // namespace orvik::idl

#endif // ORVIK_TOOLS_IDLC_TLB_WRITER_H
