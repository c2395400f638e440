// tools/idlc/header_writer.h: the C/C++ interface header and the operation listing
#ifndef ORVIK_TOOLS_IDLC_HEADER_WRITER_H
#define ORVIK_TOOLS_IDLC_HEADER_WRITER_H

#include "idl_ast.h"

#include <sstream>
#include <string>
#include <vector>

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

/// How a declaration names the definition's types: as the platform does (the
/// interface header) or in the C++ layer's own (namespace orvik::abi, which includes
/// no platform header).
enum class Spelling { Platform, Layer };

/// One type of the definition as a declaration spells it ("DOUBLE*" or "double*").
std::string typeName(const TypeRef& t, Spelling spelling);

/// "DOUBLE* pVal, LONG n": an operation's parameters, spelled one way or the other.
std::string parameterList(const Operation& op, Spelling spelling);

/// One entry of an interface's table as a declaration spells it: its name, its
/// result, and its parameters after the object (a name may be empty).
struct TableEntry {
    struct Param {
        std::string type;
        std::string name;
    };
    std::string name;
    std::string result;
    std::vector<Param> params;
};

/// itf's whole table in order: IUnknown's entries, IDispatch's where itf derives
/// from it, then every operation of itf and its bases.
std::vector<TableEntry> tableEntries(const Definition& def, const Interface& itf,
                                     Spelling spelling);

/// The interface at the root of itf's bases: "IDispatch" or "IUnknown".
std::string rootInterface(const Definition& def, const Interface& itf);

std::string writeListing(const Definition& def);

} // namespace orvik::idl

#endif // ORVIK_TOOLS_IDLC_HEADER_WRITER_H
