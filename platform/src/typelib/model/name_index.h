// platform/src/typelib/model/name_index.h: every name a type's GetIDsOfNames can find, made once
//
// A type's own functions, then its variables, then its base interfaces' members in
// the same order, each name folded to lower case; the first of a name is the one
// found, as a walk over the members and then the bases would find it. A known or
// unknown name costs one lookup.
#ifndef ORVIK_PLATFORM_SRC_TYPELIB_MODEL_NAME_INDEX_H
#define ORVIK_PLATFORM_SRC_TYPELIB_MODEL_NAME_INDEX_H

#include "orvik/platform/base_types.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvik::tlb {

struct NameIndex {
    struct Member {
        MEMBERID memid = 0;
        bool isVariable = false;
        std::vector<std::u16string> params; // folded, in order; empty when unnamed
    };
    /// Names compare with A-Z folded to a-z; null is no name.
    static char16_t folded(char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; }
    static std::u16string folded(const char16_t* name) {
        std::u16string out;
        for (; name && *name; ++name)
            out += folded(*name);
        return out;
    }
    static std::u16string folded(const std::u16string& name) { return folded(name.c_str()); }

    /// Adds name (folded) unless it is there already: the first of a name is kept.
    void add(const std::u16string& name, Member member) {
        if (find(name.c_str()))
            return;
        m_names.push_back(folded(name));
        m_members.push_back(std::move(member));
        if (m_members.size() * 2 > m_slots.size())
            rehash(m_slots.empty() ? 16 : m_slots.size() * 2);
        else
            place(m_members.size() - 1);
    }

    /// The member a caller's name (as it stands, folded while hashed and compared)
    /// names, or null.
    const Member* find(const char16_t* name) const {
        if (m_slots.empty() || !name)
            return nullptr;
        const uint32_t h = hash(name);
        const size_t mask = m_slots.size() - 1;
        for (size_t at = h & mask; m_slots[at].entry; at = (at + 1) & mask)
            if (m_slots[at].hash == h && same(name, m_names[m_slots[at].entry - 1]))
                return &m_members[m_slots[at].entry - 1];
        return nullptr;
    }

    /// Whether name, folded, is key (a folded name).
    static bool same(const char16_t* name, const std::u16string& key) {
        size_t i = 0;
        for (; name && name[i]; ++i)
            if (i == key.size() || folded(name[i]) != key[i])
                return false;
        return i == key.size();
    }

private:
    struct Slot {
        uint32_t hash = 0;
        uint32_t entry = 0; // 1 + the member's index; 0 for an empty slot
    };

    static uint32_t hash(const char16_t* name) {
        uint32_t h = 2166136261u; // FNV-1a over the folded units
        for (; *name; ++name)
            h = (h ^ folded(*name)) * 16777619u;
        return h;
    }
    void place(size_t index) {
        const uint32_t h = hash(m_names[index].c_str());
        const size_t mask = m_slots.size() - 1;
        size_t at = h & mask;
        while (m_slots[at].entry)
            at = (at + 1) & mask;
        m_slots[at] = {h, uint32_t(index + 1)};
    }
    void rehash(size_t size) {
        m_slots.assign(size, Slot{});
        for (size_t i = 0; i < m_members.size(); ++i)
            place(i);
    }

    std::vector<std::u16string> m_names; // folded
    std::vector<Member> m_members;
    std::vector<Slot> m_slots; // open addressing, a power of two, at most half full
};

} // namespace orvik::tlb

#endif // ORVIK_PLATFORM_SRC_TYPELIB_MODEL_NAME_INDEX_H
