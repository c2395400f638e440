// tools/idlc/header_writer.h: the C/C++ interface header and the operation listing
#ifndef ORVIK_TOOLS_IDLC_HEADER_WRITER_H
#define ORVIK_TOOLS_IDLC_HEADER_WRITER_H

#include "idl_ast.h"

#include <sstream>
#include <string>

namespace orvik::idl {

/// The self-contained interface header: identifiers, forward declarations, and each
/// interface both as a C++ struct of pure virtual functions and as a C table.
/// guardName is the include guard; sourceName is named in the banner.
std::string writeHeader(const Definition& def, const std::string& guardName,
                        const std::string& sourceName);

/// An operation's name in the table: get_Name, put_Name, putref_Name or Name.
std::string tableMemberName(const Operation& op);

/// "{0x283075AD, 0xB177, ...}": an identifier as a C initializer.
std::string guidInitializer(const GUID& g);

/// A C++ declaration of an interface's table names its types as the platform does
/// (the interface header) or in the C++ layer's own types (namespace orvik::abi).
enum class Spelling { Platform, Layer };

/// Writes itf as a struct of pure virtual functions in table order, deriving from its
/// base; spelled for the layer it also carries its identifier (static member iid).
void writeCppInterface(std::ostringstream& out, const Interface& itf, Spelling spelling);

/// One line per operation in table order: "INTERFACE SLOT DISPID KIND NAME".
std::string writeListing(const Definition& def);

} // namespace orvik::idl

#endif // ORVIK_TOOLS_IDLC_HEADER_WRITER_H
