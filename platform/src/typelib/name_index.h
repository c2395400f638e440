// typelib/name_index.h: every name a type's GetIDsOfNames can find, made once
//
// A type's own functions, then its variables, then its base interfaces' members in
// the same order, each name folded to lower case; the first of a name is the one
// found, as a walk over the members and then the bases would find it. A known or
// unknown name costs one lookup.
#ifndef ORVIK_PLATFORM_TYPELIB_NAME_INDEX_H
#define ORVIK_PLATFORM_TYPELIB_NAME_INDEX_H

#include "orvik/platform/base_types.h"

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace orvik::tlb {

struct NameIndex {
    struct Member {
        MEMBERID memid = 0;
        bool isVariable = false;
        std::vector<std::u16string> params; // folded, in order; empty when unnamed
    };
    /// A caller's name as it stands, folded while it is hashed and compared, so that a
    /// lookup makes no copy of it.
    struct Unfolded {
        const char16_t* name;
    };
    struct FoldedHash {
        using is_transparent = void;
        size_t operator()(const std::u16string& key) const { return hash(key.c_str()); }
        size_t operator()(Unfolded name) const { return hash(name.name); }
        static size_t hash(const char16_t* name) {
            uint64_t h = 14695981039346656037ull; // FNV-1a over the folded units
            for (; name && *name; ++name)
                h = (h ^ folded(*name)) * 1099511628211ull;
            return size_t(h);
        }
    };
    struct FoldedEqual {
        using is_transparent = void;
        bool operator()(const std::u16string& a, const std::u16string& b) const { return a == b; }
        bool operator()(Unfolded a, const std::u16string& b) const { return same(a.name, b); }
        bool operator()(const std::u16string& a, Unfolded b) const { return same(b.name, a); }
        static bool same(const char16_t* name, const std::u16string& key) {
            size_t i = 0;
            for (; name && name[i]; ++i)
                if (i == key.size() || folded(name[i]) != key[i])
                    return false;
            return i == key.size();
        }
    };
    std::unordered_map<std::u16string, Member, FoldedHash, FoldedEqual> byName;

    const Member* find(const char16_t* name) const {
        auto found = byName.find(Unfolded{name});
        return found == byName.end() ? nullptr : &found->second;
    }

    /// Names compare with A-Z folded to a-z; null is no name.
    static char16_t folded(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; }
    static std::u16string folded(const char16_t* name) {
        std::u16string out;
        for (; name && *name; ++name)
            out += folded(*name);
        return out;
    }
    static std::u16string folded(const std::u16string& name) { return folded(name.c_str()); }
};

} // namespace orvik::tlb

#endif // ORVIK_PLATFORM_TYPELIB_NAME_INDEX_H
