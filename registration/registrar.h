// registration/registrar.h: the registration script processor
//
// A CRegObject takes a registration script (8-bit text), replaces the variables
// written between percent signs, and walks the result to create (registration) or
// remove (unregistration) registry keys and values. The same script drives both
// directions; its keywords say what must never be removed (NoRemove) and what must
// be wiped before it is written (ForceRemove, Delete).
//
// A registrar lives on its user's stack for one run: make it, add variables, run
// one script, let it go. Its reference counting is inert.
#ifndef ORVIK_REGISTRATION_REGISTRAR_H
#define ORVIK_REGISTRATION_REGISTRAR_H

#include "orvik/platform.h"

#include <string>
#include <utility>
#include <vector>

namespace orvik {

/// The registrar's interface, in table order.
struct IRegistrarBase {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
    virtual HRESULT STDMETHODCALLTYPE AddVariable(LPCOLESTR name, LPCOLESTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE ClearVariables() = 0;
};

/// The code page of every 8-bit/16-bit conversion in registration, chosen on first
/// use and cached.
UINT ConversionCodePage();

/// 8-bit text as 16-bit text in that code page; false (out unspecified) when it
/// cannot be converted.
bool ToWide(LPCSTR text, std::u16string& out);
/// 16-bit text as 8-bit text in that code page; false when it cannot be converted.
bool ToNarrow(LPCOLESTR text, std::string& out);

class CRegObject final : public IRegistrarBase {
public:
    static constexpr size_t kTokenBufferSize = 4096;
    static constexpr size_t kNameBufferSize = 260;
    static constexpr size_t kMaxVariableNameLength = 31;
    /// Blocks nest at most as deep as the registry's keys may (the root block
    /// included); a deeper script is a syntax error found before anything is written.
    static constexpr size_t kMaxBlockDepth = ORVIK_REG_MAX_KEY_DEPTH;
    static constexpr const char* kBlockNotClosed = "expected '}' before end of file";

    CRegObject() = default;
    CRegObject(const CRegObject&) = delete;
    CRegObject& operator=(const CRegObject&) = delete;
    virtual ~CRegObject();

    /// Always E_NOTIMPL: the object is never handed out by interface.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOTIMPL; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 0; }
    /// Appends a variable (a name already present is shadowed, not replaced).
    /// E_INVALIDARG for a null name or value; E_OUTOFMEMORY.
    HRESULT STDMETHODCALLTYPE AddVariable(LPCOLESTR name, LPCOLESTR value) override;
    HRESULT STDMETHODCALLTYPE ClearVariables() override;

    /// Expands the variables of text and walks every root section in the given
    /// mode. DISP_E_EXCEPTION for any syntax error; registry errors as result codes.
    /// A failed registration walk is undone by an unregistration walk over the same
    /// root section before the failure is returned. A script error also leaves the
    /// calling thread's error information (GetErrorInfo), whose description reads
    /// "NAME:LINE:COLUMN: reason", NAME being scriptName; any other outcome leaves
    /// the thread with none.
    HRESULT RunScript(LPCSTR text, bool doRegister, LPCSTR scriptName = "<script>");

    /// Runs script resource resourceId of type resourceType from the module file
    /// moduleFile (loaded as data, never run) in the given mode; the script is named
    /// "FILE(TYPE ID)" in its errors. The platform's last
    /// error as a result code when the file or the resource cannot be had;
    /// E_OUTOFMEMORY for text that cannot be converted; else RunScript's result.
    HRESULT RunScriptResource(LPCOLESTR moduleFile, WORD resourceId, LPCOLESTR resourceType,
                              bool doRegister);
    /// The same, with the script resource named instead of numbered.
    HRESULT RunScriptResource(LPCOLESTR moduleFile, LPCOLESTR resourceName, LPCOLESTR resourceType,
                              bool doRegister);

    /// The text with every %NAME% replaced by its value and %% by %, in *result
    /// (allocated with new[]; the caller frees it). E_POINTER for null arguments,
    /// DISP_E_EXCEPTION for an unclosed or unknown name, E_FAIL for a name longer
    /// than 31 bytes.
    HRESULT ExpandVariables(LPCSTR text, char** result);

    /// A key name the ForceRemove and Delete keywords never delete.
    static bool IsProtectedKeyName(LPCSTR name);
    /// Deletes parent\name and everything below it; a platform error number.
    /// ERROR_INVALID_PARAMETER for an empty name, which never means parent itself.
    static LONG DeleteKeyTree(HKEY parent, LPCSTR name);

private:
    struct Statement;
    struct RegisterLevel;
    struct UnregisterLevel;
    /// Where one variable's value stands in the expanded text, and where its name
    /// stood in the script.
    struct Substitution {
        size_t expandedBegin, expandedEnd, originalBegin, originalEnd;
    };

    HRESULT Expand(LPCSTR text, std::string& out);
    /// Records why the script failed (the first reason only) at the given offset of
    /// the script as written, and returns hr.
    HRESULT FailAt(size_t originalOffset, std::string reason, HRESULT hr = DISP_E_EXCEPTION);
    /// The same at a position in the expanded text.
    HRESULT Fail(const char* at, std::string reason, HRESULT hr = DISP_E_EXCEPTION);
    /// The same at the start of the token read last.
    HRESULT Fail(std::string reason, HRESULT hr = DISP_E_EXCEPTION) {
        return Fail(m_tokenStart, std::move(reason), hr);
    }
    HRESULT CheckText(LPCSTR text);
    static bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    static std::string tokenTooLong();
    void PublishFailure(LPCSTR text, LPCSTR scriptName) const;

    HRESULT RunResource(LPCOLESTR moduleFile, LPCSTR resourceName, LPCOLESTR resourceType,
                        bool doRegister);
    HRESULT RunSections(bool doRegister, bool dryRun);
    HRESULT ReadToken(char* token);
    HRESULT ReadStatement(char* token, bool doRegister, Statement& statement);
    HRESULT RegisterBlock(char* token, HKEY root, bool dryRun);
    HRESULT RegisterStatement(char* token, std::vector<RegisterLevel>& levels, bool dryRun);
    HRESULT UnregisterBlock(char* token, HKEY root, bool dryRun);
    HRESULT UnregisterStatement(char* token, std::vector<UnregisterLevel>& levels);
    HRESULT FinishKey(const UnregisterLevel& level, UnregisterLevel& key);
    HRESULT StoreValue(HKEY key, LPCSTR valueName, char* token, bool dryRun);
    HRESULT SkipValue(char* token);
    void SkipSeparators();

    /// Name (8-bit) and value (16-bit) of each variable, in the order added.
    std::vector<std::pair<std::string, std::u16string>> m_variables;
    const char* m_cursor = nullptr;
    const char* m_tokenStart = nullptr;
    const char* m_expanded = nullptr;
    /// What running out of text means where the walk stands.
    const char* m_endOfText = "unexpected end of file";
    std::vector<Substitution> m_substitutions;
    bool m_tooDeep = false;
    bool m_failed = false;
    size_t m_failureOffset = 0;
    std::string m_failureReason;
};

} // namespace orvik

#endif // ORVIK_REGISTRATION_REGISTRAR_H
