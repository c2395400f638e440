// tools/idlc/idl_parser.h: reading an interface definition
//
// parseDefinition reads the subset of the interface definition language that the
// Orvik definition uses (imports, attribute lists, interfaces derived from IDispatch
// or IUnknown with properties and methods, coclasses and one library block) and
// checks what a compiled library relies on: identifiers, property shapes, parameter
// directions, defaults that fit their parameter, and references that resolve.
#ifndef ORVIK_TOOLS_IDLC_IDL_PARSER_H
#define ORVIK_TOOLS_IDLC_IDL_PARSER_H

#include "idl_ast.h"

#include <string>
#include <string_view>
#include <variant>

namespace orvik::idl {

struct Diagnostic {
    SourceLocation location;
    std::string message;
};

/// The definition, or the first error found with its position.
using ParseResult = std::variant<Definition, Diagnostic>;

ParseResult parseDefinition(std::string_view source);

} // namespace orvik::idl

#endif // ORVIK_TOOLS_IDLC_IDL_PARSER_H
