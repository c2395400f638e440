// tools/idlc/cpp_layer_writer.h: the C++ client layer over the interface header
#ifndef ORVIK_TOOLS_IDLC_CPP_LAYER_WRITER_H
#define ORVIK_TOOLS_IDLC_CPP_LAYER_WRITER_H

#include "idl_ast.h"

#include <map>
#include <string>

namespace orvik::idl {

/// Words a user must know that the definition's help strings do not say, by
/// "Interface.Member" (or "Interface" for the whole interface, "" for the library).
using Notes = std::map<std::string, std::string>;

/// Reads notes from text: "Key: words" lines, where a line starting with spaces
/// continues the one before and '#' starts a comment line. False, with the line
/// number in errorLine, for a line that is neither.
bool parseNotes(const std::string& text, Notes& notes, int& errorLine);

/// The C++ layer: for each interface a class holding it, whose property gets and
/// puts are Name() and setName(v), whose methods return their [out, retval] value
/// (several [out]s come back as a struct) and throw orvik::ComError on a failure
/// code, with the library's defaults as default arguments. cHeader is the include
/// path of the interface header it builds on.
/// The C++ layer: cHeader and cppHeader are the include names of the interface
/// header and of the layer itself ("orvik/orvik_i.h", "orvik/orvik.hpp").
std::string writeCppLayer(const Definition& def, const Notes& notes, const std::string& guardName,
                          const std::string& sourceName, const std::string& cHeader,
                          const std::string& cppHeader);

/// The bridge between the layer and the interface header ("orvik/orvik_raw.hpp").
std::string writeCppBridge(const Definition& def, const std::string& guardName,
                           const std::string& sourceName, const std::string& cHeader,
                           const std::string& cppHeader);

/// The bridge's include name beside the layer's: "orvik/orvik_raw.hpp".
std::string bridgeName(const std::string& cppHeader);

} // namespace orvik::idl

#endif // ORVIK_TOOLS_IDLC_CPP_LAYER_WRITER_H
