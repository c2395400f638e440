// platform/src/core/result_text.cpp: result codes and platform error numbers in words
//
// The symbolic name of each code the platform's headers define, and the text the
// operating system gives for it.

#include "orvik/platform/result_text.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "orvik/platform/last_error.h"

namespace {

struct CodeText {
    uint32_t code;
    const char* name;
    const char* text;
};

// The name a result code carries, and its text.
constexpr std::array kResultCodes{
    CodeText{0x00000000, "S_OK", "The operation completed successfully."},
    CodeText{0x00000001, "S_FALSE", "The operation completed successfully, with a false result."},
    CodeText{0x80004001, "E_NOTIMPL", "Not implemented"},
    CodeText{0x80004002, "E_NOINTERFACE", "No such interface supported"},
    CodeText{0x80004003, "E_POINTER", "Invalid pointer"},
    CodeText{0x80004004, "E_ABORT", "Operation aborted"},
    CodeText{0x80004005, "E_FAIL", "Unspecified error"},
    CodeText{0x8000FFFF, "E_UNEXPECTED", "Catastrophic failure"},
    CodeText{0x80070005, "E_ACCESSDENIED", "Access is denied."},
    CodeText{0x80070006, "E_HANDLE", "The handle is invalid."},
    CodeText{0x8007000E, "E_OUTOFMEMORY",
             "Not enough memory resources are available to complete this operation."},
    CodeText{0x80070057, "E_INVALIDARG", "The parameter is incorrect."},
    CodeText{0x80040110, "CLASS_E_NOAGGREGATION",
             "Class does not support aggregation (or class object is remote)"},
    CodeText{0x80040111, "CLASS_E_CLASSNOTAVAILABLE", "ClassFactory cannot supply requested class"},
    CodeText{0x80040150, "REGDB_E_READREGDB", "Could not read key from registry"},
    CodeText{0x80040154, "REGDB_E_CLASSNOTREG", "Class not registered"},
    CodeText{0x80040155, "REGDB_E_IIDNOTREG", "Interface not registered"},
    CodeText{0x800401F3, "CO_E_CLASSSTRING", "Invalid class string"},
    CodeText{0x800401F4, "CO_E_IIDSTRING", "Invalid interface string"},
    CodeText{0x800401F8, "CO_E_DLLNOTFOUND", "DLL for class not found"},
    CodeText{0x800401F9, "CO_E_ERRORINDLL", "Error in the DLL"},
    CodeText{0x80010106, "RPC_E_CHANGED_MODE", "Cannot change thread mode after it is set."},
    CodeText{0x80040200, "SELFREG_E_TYPELIB", "The type library could not be registered"},
    CodeText{0x80040201, "SELFREG_E_CLASS", "The class could not be registered"},
    CodeText{0x80020001, "DISP_E_UNKNOWNINTERFACE", "Unknown interface."},
    CodeText{0x80020003, "DISP_E_MEMBERNOTFOUND", "Member not found."},
    CodeText{0x80020004, "DISP_E_PARAMNOTFOUND", "Parameter not found."},
    CodeText{0x80020005, "DISP_E_TYPEMISMATCH", "Type mismatch."},
    CodeText{0x80020006, "DISP_E_UNKNOWNNAME", "Unknown name."},
    CodeText{0x80020007, "DISP_E_NONAMEDARGS", "No named arguments."},
    CodeText{0x80020008, "DISP_E_BADVARTYPE", "Bad variable type."},
    CodeText{0x80020009, "DISP_E_EXCEPTION", "Exception occurred."},
    CodeText{0x8002000A, "DISP_E_OVERFLOW", "Out of present range."},
    CodeText{0x8002000B, "DISP_E_BADINDEX", "Invalid index."},
    CodeText{0x8002000C, "DISP_E_UNKNOWNLCID", "Unknown language."},
    CodeText{0x8002000D, "DISP_E_ARRAYISLOCKED", "Memory is locked."},
    CodeText{0x8002000E, "DISP_E_BADPARAMCOUNT", "Invalid number of parameters."},
    CodeText{0x8002000F, "DISP_E_PARAMNOTOPTIONAL", "Parameter not optional."},
    CodeText{0x80020010, "DISP_E_BADCALLEE", "Invalid callee."},
    CodeText{0x80020011, "DISP_E_NOTACOLLECTION", "Does not support a collection."},
    CodeText{0x80020012, "DISP_E_DIVBYZERO", "Division by zero."},
    CodeText{0x80028016, "TYPE_E_BUFFERTOOSMALL", "Buffer too small."},
    CodeText{0x80028017, "TYPE_E_FIELDNOTFOUND", "Field name not defined in the record."},
    CodeText{0x80028018, "TYPE_E_INVDATAREAD", "Old format or invalid type library."},
    CodeText{0x80028019, "TYPE_E_UNSUPFORMAT", "Old format or invalid type library."},
    CodeText{0x8002801C, "TYPE_E_REGISTRYACCESS", "Error accessing the OLE registry."},
    CodeText{0x8002801D, "TYPE_E_LIBNOTREGISTERED", "Library not registered."},
    CodeText{0x80028027, "TYPE_E_UNDEFINEDTYPE", "Bound to unknown type."},
    CodeText{0x80028028, "TYPE_E_QUALIFIEDNAMEDISALLOWED", "Qualified name disallowed."},
    CodeText{0x80028029, "TYPE_E_INVALIDSTATE",
             "Invalid forward reference, or reference to uncompiled type."},
    CodeText{0x8002802A, "TYPE_E_WRONGTYPEKIND", "Type mismatch."},
    CodeText{0x8002802B, "TYPE_E_ELEMENTNOTFOUND", "Element not found."},
    CodeText{0x8002802C, "TYPE_E_AMBIGUOUSNAME", "Ambiguous name."},
    CodeText{0x8002802D, "TYPE_E_NAMECONFLICT", "Name already exists in the library."},
    CodeText{0x8002802E, "TYPE_E_UNKNOWNLCID", "Unknown LCID."},
    CodeText{0x8002802F, "TYPE_E_DLLFUNCTIONNOTFOUND", "Function not defined in specified DLL."},
    CodeText{0x800288BD, "TYPE_E_BADMODULEKIND", "Wrong module kind for the operation."},
    CodeText{0x800288C5, "TYPE_E_SIZETOOBIG", "Size may not exceed 64K."},
    CodeText{0x800288C6, "TYPE_E_DUPLICATEID", "Duplicate ID in inheritance hierarchy."},
    CodeText{0x800288CF, "TYPE_E_INVALIDID",
             "Incorrect inheritance depth in standard OLE hmember."},
    CodeText{0x80028CA0, "TYPE_E_TYPEMISMATCH", "Type mismatch."},
    CodeText{0x80028CA1, "TYPE_E_OUTOFBOUNDS", "Invalid number of arguments."},
    CodeText{0x80028CA2, "TYPE_E_IOERROR", "I/O Error."},
    CodeText{0x80028CA3, "TYPE_E_CANTCREATETMPFILE", "Error creating unique tmp file."},
    CodeText{0x80029C4A, "TYPE_E_CANTLOADLIBRARY", "Error loading type library/DLL."},
    CodeText{0x80029C83, "TYPE_E_INCONSISTENTPROPFUNCS", "Inconsistent property functions."},
    CodeText{0x80029C84, "TYPE_E_CIRCULARTYPE", "Circular dependency between types/modules."},
};

struct ErrorText {
    uint32_t number;
    const char* name;
    const char* asResult; // the name of HRESULT_FROM_WIN32 of the number
    const char* text;
};

#define ORVIK_ERROR(name, number, text)                                                            \
    ErrorText {                                                                                    \
        number, #name, "HRESULT_FROM_WIN32(" #name ")", text                                       \
    }

// Platform error numbers (GetLastError, the registry), by number.
constexpr std::array kErrors{
    ORVIK_ERROR(ERROR_SUCCESS, 0, "The operation completed successfully."),
    ORVIK_ERROR(ERROR_FILE_NOT_FOUND, 2, "The system cannot find the file specified."),
    ORVIK_ERROR(ERROR_PATH_NOT_FOUND, 3, "The system cannot find the path specified."),
    ORVIK_ERROR(ERROR_ACCESS_DENIED, 5, "Access is denied."),
    ORVIK_ERROR(ERROR_INVALID_HANDLE, 6, "The handle is invalid."),
    ORVIK_ERROR(ERROR_NOT_ENOUGH_MEMORY, 8,
                "Not enough memory resources are available to process this command."),
    ORVIK_ERROR(ERROR_BAD_FORMAT, 11,
                "An attempt was made to load a program with an incorrect format."),
    ORVIK_ERROR(ERROR_INVALID_DATA, 13, "The data is invalid."),
    ORVIK_ERROR(ERROR_OUTOFMEMORY, 14,
                "Not enough memory resources are available to complete this operation."),
    ORVIK_ERROR(ERROR_NOT_SUPPORTED, 50, "The request is not supported."),
    ORVIK_ERROR(ERROR_INVALID_PARAMETER, 87, "The parameter is incorrect."),
    ORVIK_ERROR(ERROR_INSUFFICIENT_BUFFER, 122,
                "The data area passed to a system call is too small."),
    ORVIK_ERROR(ERROR_MOD_NOT_FOUND, 126, "The specified module could not be found."),
    ORVIK_ERROR(ERROR_PROC_NOT_FOUND, 127, "The specified procedure could not be found."),
    ORVIK_ERROR(ERROR_BAD_PATHNAME, 161, "The specified path is invalid."),
    ORVIK_ERROR(ERROR_BUSY, 170, "The requested resource is in use."),
    ORVIK_ERROR(ERROR_BAD_EXE_FORMAT, 193, "The file is not a valid module."),
    ORVIK_ERROR(ERROR_MORE_DATA, 234, "More data is available."),
    ORVIK_ERROR(ERROR_NO_MORE_ITEMS, 259, "No more data is available."),
    ORVIK_ERROR(ERROR_MR_MID_NOT_FOUND, 317,
                "The system cannot find message text for the message number."),
    ORVIK_ERROR(ERROR_BADDB, 1009, "The configuration registry database is corrupt."),
    ORVIK_ERROR(ERROR_BADKEY, 1010, "The configuration registry key is invalid."),
    ORVIK_ERROR(ERROR_CANTOPEN, 1011, "The configuration registry key could not be opened."),
    ORVIK_ERROR(ERROR_CANTREAD, 1012, "The configuration registry key could not be read."),
    ORVIK_ERROR(ERROR_CANTWRITE, 1013, "The configuration registry key could not be written."),
    ORVIK_ERROR(ERROR_REGISTRY_CORRUPT, 1015, "The registry is corrupted."),
    ORVIK_ERROR(ERROR_REGISTRY_IO_FAILED, 1016,
                "An I/O operation initiated by the registry failed unrecoverably."),
    ORVIK_ERROR(ERROR_KEY_DELETED, 1018,
                "Illegal operation attempted on a registry key that has been marked for "
                "deletion."),
    ORVIK_ERROR(ERROR_NO_UNICODE_TRANSLATION, 1113,
                "No mapping for the Unicode character exists in the target multi-byte code "
                "page."),
    ORVIK_ERROR(ERROR_INTERNAL_ERROR, 1359, "An internal error occurred."),
    ORVIK_ERROR(ERROR_UNSUPPORTED_TYPE, 1630, "Data of this type is not supported."),
    ORVIK_ERROR(ERROR_INVALID_DATATYPE, 1804, "The specified datatype is invalid."),
    ORVIK_ERROR(ERROR_RESOURCE_DATA_NOT_FOUND, 1812,
                "The specified image file did not contain a resource section."),
    ORVIK_ERROR(ERROR_RESOURCE_TYPE_NOT_FOUND, 1813,
                "The specified resource type cannot be found in the image file."),
    ORVIK_ERROR(ERROR_RESOURCE_NAME_NOT_FOUND, 1814,
                "The specified resource name cannot be found in the image file."),
    ORVIK_ERROR(ERROR_RESOURCE_LANG_NOT_FOUND, 1815,
                "The specified resource language ID cannot be found in the image file."),
};

#undef ORVIK_ERROR

const CodeText* findResult(uint32_t code) {
    for (const CodeText& entry : kResultCodes)
        if (entry.code == code)
            return &entry;
    return nullptr;
}

const ErrorText* findError(uint32_t number) {
    for (const ErrorText& entry : kErrors)
        if (entry.number == number)
            return &entry;
    return nullptr;
}

// A code HRESULT_FROM_WIN32 made: its platform error number, or -1.
int64_t errorNumberOf(uint32_t code) {
    return (code & 0xFFFF0000u) == 0x80070000u ? int64_t{code & 0xFFFFu} : -1;
}

bool isEnglish(DWORD language) {
    // Neutral, the user's or the system's default, or any English sub-language.
    return language == 0 || language == 0x400 || language == 0x800 || (language & 0x3FF) == 0x09;
}

} // namespace

namespace {

struct Described {
    const char* name = nullptr;
    const char* text = nullptr;
};

// A result code, a platform error number (positive, other than S_FALSE), or a code
// HRESULT_FROM_WIN32 made of one.
Described describe(HRESULT hr) {
    const uint32_t code = static_cast<uint32_t>(hr);
    if (const CodeText* entry = findResult(code))
        return {entry->name, entry->text};
    if (hr > 1) {
        const ErrorText* error = findError(code);
        return error != nullptr ? Described{error->name, error->text} : Described{};
    }
    const int64_t number = errorNumberOf(code);
    const ErrorText* error = number >= 0 ? findError(static_cast<uint32_t>(number)) : nullptr;
    return error != nullptr ? Described{error->asResult, error->text} : Described{};
}

} // namespace

const char* WINAPI OrvikResultCodeName(HRESULT hr) noexcept {
    return describe(hr).name;
}

const char* WINAPI OrvikResultCodeText(HRESULT hr) noexcept {
    return describe(hr).text;
}

DWORD WINAPI OrvikResultCodeWords(HRESULT hr, LPSTR buffer, DWORD size) noexcept {
    char hex[11];
    std::snprintf(hex, sizeof hex, "0x%08X", static_cast<unsigned>(hr));
    const char* name = OrvikResultCodeName(hr);
    const char* text = OrvikResultCodeText(hr);
    char words[512];
    int length;
    if (text != nullptr)
        length = name != nullptr
                     ? std::snprintf(words, sizeof words, "%s (%s, %s)", text, name, hex)
                     : std::snprintf(words, sizeof words, "%s (%s)", text, hex);
    else
        length = name != nullptr ? std::snprintf(words, sizeof words, "%s, %s", name, hex)
                                 : std::snprintf(words, sizeof words, "%s", hex);
    if (buffer != nullptr && size > 0) {
        const size_t copied = std::min<size_t>(size_t(length), size - 1);
        std::memcpy(buffer, words, copied);
        buffer[copied] = '\0';
    }
    return static_cast<DWORD>(length);
}

const char* WINAPI OrvikPlatformVersion() noexcept {
    return ORVIK_VERSION;
}

DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID, DWORD dwMessageId, DWORD dwLanguageId,
                            LPSTR lpBuffer, DWORD nSize, va_list*) noexcept {
    if ((dwFlags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)) != 0) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return 0;
    }
    if ((dwFlags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || lpBuffer == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char* text = OrvikResultCodeText(static_cast<HRESULT>(dwMessageId));
    if (text == nullptr || !isEnglish(dwLanguageId)) {
        SetLastError(text == nullptr ? ERROR_MR_MID_NOT_FOUND : ERROR_RESOURCE_LANG_NOT_FOUND);
        return 0;
    }
    // The system's messages end with a line end.
    const size_t length = std::strlen(text) + 2;
    char* target = lpBuffer;
    if ((dwFlags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0) {
        const size_t size = length + 1 > nSize ? length + 1 : nSize;
        target = static_cast<char*>(std::malloc(size));
        if (target == nullptr) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        *reinterpret_cast<char**>(lpBuffer) = target;
    } else if (length + 1 > nSize) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(target, text, length - 2);
    std::memcpy(target + length - 2, "\r\n", 3);
    return static_cast<DWORD>(length);
}

HLOCAL WINAPI LocalFree(HLOCAL hMem) noexcept {
    std::free(hMem);
    return nullptr;
}
