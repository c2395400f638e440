// tools/common/tool_common.h: the manners every command-line tool shares
//
// -h/--help and --version, diagnostics on standard error in words with the code's
// name and value, exit status 0 success, 1 failure, 2 usage, and "-" as standard
// output wherever a tool writes a file.
#ifndef ORVIK_TOOLS_COMMON_TOOL_COMMON_H
#define ORVIK_TOOLS_COMMON_TOOL_COMMON_H

#include "orvik/platform/base_types.h"

#include <string>

namespace orvik::tool {

enum Exit { kSuccess = 0, kFailure = 1, kUsage = 2 };

/// Answers -h/--help (the usage on standard output) and --version wherever they
/// stand in argv; the exit status to return, or -1 when neither was asked for.
int standardOptions(int argc, char** argv, const char* tool, const char* usage);

/// "tool: what: The parameter is incorrect. (E_INVALIDARG, 0x80070057)" on standard
/// error; returns kFailure.
int fail(const char* tool, const std::string& what, HRESULT hr);

/// "tool: what" on standard error; returns kFailure.
int fail(const char* tool, const std::string& what);

/// "tool: message" and the usage on standard error; returns kUsage.
int usageError(const char* tool, const std::string& message, const char* usage);

/// The path of the registry store the platform uses (ORVIK_REGISTRY or the default).
std::string registryStorePath();

/// Writes bytes to path, or to standard output for "-". A file is written beside its
/// final name and renamed into place, so a failed run never leaves half of one.
bool writeOutput(const std::string& path, const std::string& bytes);

} // namespace orvik::tool

#endif // ORVIK_TOOLS_COMMON_TOOL_COMMON_H
