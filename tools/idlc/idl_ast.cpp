// tools/idlc/idl_ast.cpp: queries on the parsed definition

#include "idl_ast.h"

#include <algorithm>
#include <functional>

namespace orvik::idl {

const Interface* Definition::findInterface(const std::string& name) const {
    auto it = std::find_if(interfaces.begin(), interfaces.end(),
                           [&](const Interface& i) { return i.name == name; });
    return it == interfaces.end() ? nullptr : &*it;
}

const Coclass* Definition::findCoclass(const std::string& name) const {
    auto it = std::find_if(coclasses.begin(), coclasses.end(),
                           [&](const Coclass& c) { return c.name == name; });
    return it == coclasses.end() ? nullptr : &*it;
}

int firstOwnSlot(const Definition& def, const Interface& itf) {
    if (itf.base == "IUnknown")
        return 3;
    if (itf.base == "IDispatch")
        return 7;
    const Interface* base = def.findInterface(itf.base);
    return base ? firstOwnSlot(def, *base) + int(base->operations.size()) : 7;
}

std::vector<TypeEntry> libraryTypeOrder(const Definition& def) {
    std::vector<TypeEntry> order;
    if (!def.library)
        return order;
    auto listed = [&](TypeEntry::Kind kind, const std::string& name) {
        return std::any_of(order.begin(), order.end(),
                           [&](const TypeEntry& e) { return e.kind == kind && e.name == name; });
    };
    std::function<void(const std::string&)> addInterface = [&](const std::string& name) {
        const Interface* itf = def.findInterface(name);
        if (!itf || listed(TypeEntry::InterfaceEntry, name))
            return;
        order.push_back({TypeEntry::InterfaceEntry, name});
        for (const Operation& op : itf->operations)
            for (const Parameter& p : op.params)
                if (p.type.base == BaseType::Interface)
                    addInterface(p.type.interfaceName);
    };
    for (const Library::Item& item : def.library->items) {
        if (item.kind == Library::Item::InterfaceItem) {
            addInterface(item.name);
            continue;
        }
        const Coclass* cls = def.findCoclass(item.name);
        if (!cls || listed(TypeEntry::CoclassEntry, item.name))
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
