// tools/idlc/idl_ast.cpp: queries on the parsed definition

#include "idl_ast.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <unordered_set>
#include <utility>

namespace orvik::idl {

namespace {

// Looks name up in index, first taking in the items appended since the last call.
// The first of several items of one name is the one found.
template <class Item>
const Item* findIndexed(const std::vector<Item>& items, const std::string& name,
                        std::unordered_map<std::string, size_t>& index, size_t& indexed) {
    for (; indexed < items.size(); ++indexed)
        index.emplace(items[indexed].name, indexed);
    auto it = index.find(name);
    return it == index.end() ? nullptr : &items[it->second];
}

} // namespace

const Interface* Definition::findInterface(const std::string& name) const {
    return findIndexed(interfaces, name, m_interfaceIndex, m_interfacesIndexed);
}

const Coclass* Definition::findCoclass(const std::string& name) const {
    return findIndexed(coclasses, name, m_coclassIndex, m_coclassesIndexed);
}

int firstOwnSlot(const Definition& def, const Interface& itf) {
    // Walked as a loop: a chain of bases may be as long as the definition. Bases are
    // declared before they are used, so the chain ends.
    long long slots = 0;
    for (const Interface* at = &itf;;) {
        if (at->base == "IUnknown")
            return int(std::min<long long>(slots + 3, INT32_MAX));
        if (at->base == "IDispatch")
            return int(std::min<long long>(slots + 7, INT32_MAX));
        const Interface* base = def.findInterface(at->base);
        if (!base || base == at)
            return int(std::min<long long>(slots + 7, INT32_MAX));
        slots += base->operations.size();
        at = base;
    }
}

std::vector<const Operation*> tableOperations(const Definition& def, const Interface& itf) {
    std::vector<const Interface*> chain; // itf, its base, ..., walked without recursion
    for (const Interface* at = &itf; at && chain.size() <= def.interfaces.size();
         at = def.findInterface(at->base))
        chain.push_back(at);
    std::vector<const Operation*> ops;
    for (auto at = chain.rbegin(); at != chain.rend(); ++at)
        for (const Operation& op : (*at)->operations)
            ops.push_back(&op);
    return ops;
}

std::vector<TypeEntry> libraryTypeOrder(const Definition& def) {
    std::vector<TypeEntry> order;
    if (!def.library)
        return order;
    std::unordered_set<std::string> listedInterfaces, listedCoclasses;
    // Depth first in parameter order, with a stack of its own: a chain of interfaces
    // that refer to one another may be as long as the definition.
    auto addInterface = [&](const std::string& first) {
        struct Visit {
            std::vector<const std::string*> refs; // the interfaces its parameters name
            size_t next = 0;
        };
        std::vector<Visit> stack;
        auto enter = [&](const std::string& name) {
            const Interface* itf = def.findInterface(name);
            if (!itf || !listedInterfaces.insert(name).second)
                return;
            order.push_back({TypeEntry::InterfaceEntry, name});
            Visit visit;
            visit.refs.push_back(&itf->base); // IDispatch and IUnknown are not found
            for (const Operation& op : itf->operations)
                for (const Parameter& p : op.params)
                    if (p.type.base == BaseType::Interface)
                        visit.refs.push_back(&p.type.interfaceName);
            stack.push_back(std::move(visit));
        };
        enter(first);
        while (!stack.empty()) {
            Visit& top = stack.back();
            if (top.next == top.refs.size()) {
                stack.pop_back();
                continue;
            }
            const std::string& name = *top.refs[top.next++];
            enter(name);
        }
    };
    for (const Library::Item& item : def.library->items) {
        if (item.kind == Library::Item::InterfaceItem) {
            addInterface(item.name);
            continue;
        }
        const Coclass* cls = def.findCoclass(item.name);
        if (!cls || !listedCoclasses.insert(item.name).second)
            continue;
        order.push_back({TypeEntry::CoclassEntry, item.name});
        for (const CoclassMember& m : cls->interfaces)
            addInterface(m.interfaceName);
    }
    return order;
}

const char* invokeKindName(InvokeKind kind) {
    switch (kind) {
    case InvokeKind::Method:
        return "method";
    case InvokeKind::PropertyGet:
        return "propget";
    case InvokeKind::PropertyPut:
        return "propput";
    case InvokeKind::PropertyPutRef:
        return "propputref";
    }
    return "method";
}

} // namespace orvik::idl
