// platform/src/typelib/registration/library_registration.cpp: loading libraries from
// files and the registry
//
// A registered library is found under HKEY_CLASSES_ROOT\TypeLib\{LIBID}\MAJ.MIN
// (hexadecimal version numbers), one sub-key per locale (hex) holding the path under
// "win32"; its dual interfaces are listed under HKEY_CLASSES_ROOT\Interface so that
// calls can be marshaled by the automation proxy.

#include "loader/resource_file.h"
#include "typelib/objects/objects.h"

#include "orvik/platform/boundary.h"

#include "orvik/platform/bstr.h"
#include "orvik/platform/bstr_holder.h"
#include "orvik/platform/ref.h"
#include "orvik/platform/registry.h"
#include "orvik/platform/registry_helpers.h"
#include "orvik/platform/text.h"
#include "orvik/platform/utf.h"

#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>
#include <iterator>
#include <memory>
#include <string>

namespace {

using orvik::tlb::Library;

constexpr size_t kMaxLibrarySize = 64u << 20;
const char kAutomationProxy[] = "{00020424-0000-0000-C000-000000000046}";

std::string guidText(REFGUID g) {
    OLECHAR text[CHARS_IN_GUID];
    StringFromGUID2(g, text, CHARS_IN_GUID);
    return orvik::utf8Or(text);
}

std::string hex(unsigned v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", v);
    return buf;
}

std::string versionKey(WORD major, WORD minor) {
    return hex(major) + "." + hex(minor);
}
const char* platformKey(SYSKIND k) {
    return k == SYS_WIN64 ? "win64" : "win32";
}

bool setString(HKEY parent, const std::string& path, const char* name, const std::string& value) {
    orvik::RegKey k;
    if (RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, k.put(),
                        nullptr) != ERROR_SUCCESS)
        return false;
    return RegSetValueExA(k.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          DWORD(value.size() + 1)) == ERROR_SUCCESS;
}

bool getString(HKEY parent, const std::string& path, const char* name, std::string& out) {
    return orvik::regQueryString(parent, path.c_str(), name, out) == ERROR_SUCCESS;
}

bool baseNameIs(const std::string& path, const char* name) {
    size_t slash = path.find_last_of("/\\");
    std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return lstrcmpiA(base.c_str(), name) == 0;
}

} // namespace

STDAPI LoadTypeLib(LPCOLESTR szFile, ITypeLib** pptlib) noexcept {
    return orvik::guardResult([&]() -> HRESULT {
        if (!pptlib)
            return E_INVALIDARG;
        *pptlib = nullptr;
        if (!szFile)
            return E_INVALIDARG;
        std::string path = orvik::utf8Or(szFile);
        // Not blocking: a FIFO or a device is refused below instead of waited on.
        const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            if (baseNameIs(path, "stdole2.tlb"))
                return orvik::tlb::standardTypeLib(pptlib);
            return TYPE_E_CANTLOADLIBRARY;
        }
        struct Closer {
            int fd;
            ~Closer() { close(fd); }
        } closer{fd};
        struct stat status;
        if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_size < 0)
            return TYPE_E_CANTLOADLIBRARY;
        // A library this process holds already is given again, as it is.
        const orvik::tlb::LoadedFile file{uint64_t(status.st_dev), uint64_t(status.st_ino),
                                          uint64_t(status.st_size), int64_t(status.st_mtim.tv_sec),
                                          int64_t(status.st_mtim.tv_nsec)};
        if ((*pptlib = orvik::tlb::findLoadedTypeLib(file)))
            return S_OK;
        if (size_t(status.st_size) > kMaxLibrarySize)
            return TYPE_E_SIZETOOBIG;
        std::vector<uint8_t> bytes(static_cast<size_t>(status.st_size));
        for (size_t done = 0; done < bytes.size();) {
            const ssize_t got = read(fd, bytes.data() + done, bytes.size() - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                return TYPE_E_IOERROR;
            done += size_t(got);
        }
        // A module file carries its library as resource TYPELIB 1.
        static constexpr uint8_t kElfMagic[4] = {0x7F, 'E', 'L', 'F'};
        if (bytes.size() >= 4 && std::memcmp(bytes.data(), kElfMagic, 4) == 0 &&
            orvik::res::readModuleResource(path, "TYPELIB", MAKEINTRESOURCEA(1), bytes) !=
                ERROR_SUCCESS)
            return TYPE_E_CANTLOADLIBRARY;
        auto lib = std::make_shared<Library>();
        HRESULT hr = orvik::tlb::readLibrary(bytes.data(), bytes.size(), *lib);
        if (FAILED(hr))
            return hr;
        return orvik::tlb::createLoadedTypeLib(std::move(lib), file, pptlib);
    });
}

STDAPI LoadRegTypeLib(REFGUID rguid, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                      ITypeLib** pptlib) noexcept {
    return orvik::guardResult([&]() -> HRESULT {
        if (!pptlib)
            return E_INVALIDARG;
        *pptlib = nullptr;
        std::string libKey = "TypeLib\\" + guidText(rguid);
        // The exact version, or else the highest minor version of the same major one.
        std::string chosen;
        long bestMinor = -1;
        for (const std::string& v : orvik::regSubkeyNamesOf(HKEY_CLASSES_ROOT, libKey.c_str())) {
            unsigned major = 0, minor = 0;
            char rest = 0;
            if (std::sscanf(v.c_str(), "%x.%x%c", &major, &minor, &rest) != 2 ||
                major != wVerMajor || minor < wVerMinor)
                continue;
            if (long(minor) > bestMinor) {
                bestMinor = long(minor);
                chosen = v;
            }
        }
        if (chosen.empty())
            return TYPE_E_LIBNOTREGISTERED;
        std::string versionPath = libKey + "\\" + chosen;
        for (LCID candidate : {lcid, LCID(lcid & 0x3FF), LCID(0)}) {
            std::string path;
            for (SYSKIND k : {SYS_WIN32, SYS_WIN64})
                if (getString(HKEY_CLASSES_ROOT,
                              versionPath + "\\" + hex(candidate) + "\\" + platformKey(k), nullptr,
                              path))
                    return LoadTypeLib(orvik::toUtf16(path).value_or(u"").c_str(), pptlib);
        }
        // A caller with no locale of its own (0, or the user's default) takes the
        // library in whatever locale it is registered: a script asks in its locale,
        // but a library registered for one locale serves every caller.
        if (lcid == 0 || lcid == 0x400 || lcid == 0x800)
            for (const std::string& locale :
                 orvik::regSubkeyNamesOf(HKEY_CLASSES_ROOT, versionPath.c_str())) {
                std::string path;
                for (SYSKIND k : {SYS_WIN32, SYS_WIN64})
                    if (getString(HKEY_CLASSES_ROOT,
                                  versionPath + "\\" + locale + "\\" + platformKey(k), nullptr,
                                  path))
                        return LoadTypeLib(orvik::toUtf16(path).value_or(u"").c_str(), pptlib);
            }
        return TYPE_E_LIBNOTREGISTERED;
    });
}

STDAPI RegisterTypeLib(ITypeLib* ptlib, LPCOLESTR szFullPath, LPCOLESTR szHelpDir) noexcept {
    if (!ptlib || !szFullPath)
        return E_INVALIDARG;
    TLIBATTR* attr = nullptr;
    HRESULT hr = ptlib->GetLibAttr(&attr);
    if (FAILED(hr))
        return hr;
    TLIBATTR a = *attr;
    ptlib->ReleaseTLibAttr(attr);
    std::vector<std::string> interfaceKeys; // written so far, for taking them back
    hr = orvik::guardResult([&]() -> HRESULT {
        orvik::BstrHolder name, doc;
        ptlib->GetDocumentation(-1, name.put(), doc.put(), nullptr, nullptr);
        std::string description = orvik::utf8Or(doc.get()    ? doc.get()
                                                : name.get() ? name.get()
                                                             : u"");

        std::string libid = guidText(a.guid);
        std::string versionPath =
            "TypeLib\\" + libid + "\\" + versionKey(a.wMajorVerNum, a.wMinorVerNum);
        bool ok = setString(HKEY_CLASSES_ROOT, versionPath, nullptr, description) &&
                  setString(HKEY_CLASSES_ROOT,
                            versionPath + "\\" + hex(a.lcid) + "\\" + platformKey(a.syskind),
                            nullptr, orvik::utf8Or(szFullPath)) &&
                  setString(HKEY_CLASSES_ROOT, versionPath + "\\FLAGS", nullptr,
                            std::to_string(a.wLibFlags)) &&
                  setString(HKEY_CLASSES_ROOT, versionPath + "\\HELPDIR", nullptr,
                            szHelpDir ? orvik::utf8Or(szHelpDir) : std::string());

        for (UINT i = 0; ok && i < ptlib->GetTypeInfoCount(); ++i) {
            // A type that cannot be read is a registration that cannot be finished,
            // not one to report as done.
            orvik::Ref<ITypeInfo> info;
            HRESULT hr = ptlib->GetTypeInfo(i, info.put());
            TYPEATTR* attr = nullptr;
            if (SUCCEEDED(hr))
                hr = info->GetTypeAttr(&attr);
            if (FAILED(hr))
                return hr;
            struct AttrHolder {
                ITypeInfo* info;
                TYPEATTR* attr;
                ~AttrHolder() { info->ReleaseTypeAttr(attr); }
            } held{info.get(), attr};
            bool automation = (attr->typekind == TKIND_INTERFACE &&
                               (attr->wTypeFlags & (TYPEFLAG_FDUAL | TYPEFLAG_FOLEAUTOMATION))) ||
                              attr->typekind == TKIND_DISPATCH;
            if (!automation)
                continue;
            orvik::BstrHolder itfName;
            hr = info->GetDocumentation(MEMBERID_NIL, itfName.put(), nullptr, nullptr, nullptr);
            if (FAILED(hr))
                return hr;
            std::string key = "Interface\\" + guidText(attr->guid);
            interfaceKeys.push_back(key);
            ok =
                setString(HKEY_CLASSES_ROOT, key, nullptr,
                          orvik::utf8Or(itfName.get() ? itfName.get() : u"")) &&
                setString(HKEY_CLASSES_ROOT, key + "\\ProxyStubClsid", nullptr, kAutomationProxy) &&
                setString(HKEY_CLASSES_ROOT, key + "\\ProxyStubClsid32", nullptr,
                          kAutomationProxy) &&
                setString(HKEY_CLASSES_ROOT, key + "\\TypeLib", nullptr, libid) &&
                setString(HKEY_CLASSES_ROOT, key + "\\TypeLib", "Version",
                          versionKey(a.wMajorVerNum, a.wMinorVerNum));
        }
        return ok ? S_OK : TYPE_E_REGISTRYACCESS;
    });
    // A registration that could not be finished is taken back whole, so that no
    // half-registered library is left to be found.
    if (FAILED(hr)) {
        (void)UnRegisterTypeLib(a.guid, a.wMajorVerNum, a.wMinorVerNum, a.lcid, a.syskind);
        // An interface key written only in part does not yet name its library.
        (void)orvik::guardResult([&]() -> HRESULT {
            for (const std::string& key : interfaceKeys)
                (void)orvik::regDeleteTree(HKEY_CLASSES_ROOT, key.c_str());
            return S_OK;
        });
    }
    return hr;
}

STDAPI UnRegisterTypeLib(REFGUID libID, WORD wVerMajor, WORD wVerMinor, LCID lcid,
                         SYSKIND syskind) noexcept {
    return orvik::guardResult([&]() -> HRESULT {
        std::string libid = guidText(libID);
        std::string libKey = "TypeLib\\" + libid;
        std::string version = versionKey(wVerMajor, wVerMinor);
        std::string versionPath = libKey + "\\" + version;
        orvik::RegKey probe;
        if (RegOpenKeyExA(HKEY_CLASSES_ROOT, versionPath.c_str(), 0, KEY_READ, probe.put()) !=
            ERROR_SUCCESS)
            return TYPE_E_REGISTRYACCESS;

        // The library's interfaces are found by the library they name, so they go even
        // when the library file itself is gone.
        for (const std::string& iid : orvik::regSubkeyNamesOf(HKEY_CLASSES_ROOT, "Interface")) {
            std::string key = "Interface\\" + iid, owner, ownerVersion;
            if (getString(HKEY_CLASSES_ROOT, key + "\\TypeLib", nullptr, owner) &&
                lstrcmpiA(owner.c_str(), libid.c_str()) == 0 &&
                getString(HKEY_CLASSES_ROOT, key + "\\TypeLib", "Version", ownerVersion) &&
                ownerVersion == version)
                (void)orvik::regDeleteTree(HKEY_CLASSES_ROOT, key.c_str());
        }

        std::string localePath = versionPath + "\\" + hex(lcid);
        RegDeleteKeyA(HKEY_CLASSES_ROOT, (localePath + "\\" + platformKey(syskind)).c_str());
        RegDeleteKeyA(HKEY_CLASSES_ROOT,
                      localePath.c_str()); // refused while other platforms remain
        bool otherLocales = false;
        for (const std::string& child :
             orvik::regSubkeyNamesOf(HKEY_CLASSES_ROOT, versionPath.c_str()))
            otherLocales |=
                lstrcmpiA(child.c_str(), "FLAGS") != 0 && lstrcmpiA(child.c_str(), "HELPDIR") != 0;
        if (!otherLocales) {
            RegDeleteKeyA(HKEY_CLASSES_ROOT, (versionPath + "\\FLAGS").c_str());
            RegDeleteKeyA(HKEY_CLASSES_ROOT, (versionPath + "\\HELPDIR").c_str());
            probe.close();
            RegDeleteKeyA(HKEY_CLASSES_ROOT, versionPath.c_str());
            RegDeleteKeyA(HKEY_CLASSES_ROOT, libKey.c_str()); // refused while other versions remain
        }
        return S_OK;
    });
}
