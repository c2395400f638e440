// platform/src/typelib/invoke/invocation.h: one late-bound call by the general route
//
// An Invocation binds the arguments to the parameters (positional and named), fills
// omitted ones with their defaults, converts each to its declared type, and calls the
// slot through libffi (or the register routine, when the plan allows it). What it
// makes for the call (converted values, temporaries, interfaces asked of object
// arguments) lives until the invocation ends.
#ifndef ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_INVOCATION_H
#define ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_INVOCATION_H

#include "typelib/invoke/call_plan.h"

#include "orvik/platform.h"

namespace orvik::tlb {

class Invocation {
public:
    Invocation(ITypeInfo* info, const Library& lib, const Type& type, PVOID instance,
               DISPPARAMS* params, UINT* argErr)
        : m_info(info), m_lib(lib), m_type(type), m_instance(instance), m_params(params),
          m_argErr(argErr) {}
    ~Invocation() {
        for (size_t i = 0; i < m_usedTemporaries; ++i)
            VariantClear(&m_inlineTemporaries[i]);
        for (auto& v : m_moreTemporaries)
            VariantClear(v.get());
        for (size_t i = 0; i < m_heldCount; ++i)
            m_held[i]->Release();
        for (IUnknown* u : m_moreHeld)
            u->Release();
    }

    HRESULT run(const Func& f, WORD flags, VARIANT* result, EXCEPINFO* excepInfo);

private:
    HRESULT planFor(const Func& f, const CallPlan*& plan);
    HRESULT shapeOf(const TYPEDESC& t, ParamShape& out);
    HRESULT userDefined(HREFTYPE href, ParamShape& out, bool& isInterface);
    // The argument of each parameter (null where omitted) and its index in rgvarg.
    struct Bound {
        VARIANTARG** args = nullptr;
        UINT* rgIndex = nullptr;
        size_t count = 0;
        VARIANTARG* inlineArgs[16];
        UINT inlineIndex[16];
        std::vector<VARIANTARG*> moreArgs;
        std::vector<UINT> moreIndex;
        void assign(size_t n) {
            count = n;
            if (n <= 16) {
                args = inlineArgs;
                rgIndex = inlineIndex;
            } else {
                moreArgs.assign(n, nullptr);
                moreIndex.assign(n, 0);
                args = moreArgs.data();
                rgIndex = moreIndex.data();
            }
            std::fill(args, args + n, nullptr);
            std::fill(rgIndex, rgIndex + n, 0u);
        }
        size_t size() const { return count; }
        VARIANTARG*& operator[](size_t i) { return args[i]; }
    };
    HRESULT bindArguments(const Func& f, WORD flags, Bound& bound);
    HRESULT convertIn(const ParamShape& shape, VARIANTARG* arg, UINT rgIndex, void*& slot);
    HRESULT convertOut(const ParamShape& shape, VARIANTARG* arg, UINT rgIndex, void*& slot);
    HRESULT defaultFor(const Param& p, const ParamShape& shape, void*& slot);
    void fail(UINT rgIndex) {
        if (m_argErr)
            *m_argErr = rgIndex;
    }
    // Storage for a converted argument that lives until the call returns.
    // Calls are frequent and small: cells come from a buffer inside the invocation,
    // and from the heap only when a call has very many arguments.
    void* store(const void* value, size_t size) {
        size_t words = (size + 7) / 8;
        uint64_t* cell = nullptr;
        if (m_used + words <= kInlineWords) {
            cell = m_inline + m_used;
            m_used += words;
        } else {
            cell = m_cells.emplace_back(new uint64_t[words]()).get();
        }
        std::memcpy(cell, value, size);
        return cell;
    }
    VARIANT& temporary() {
        VARIANT* v = m_usedTemporaries < kInlineTemporaries
                         ? &m_inlineTemporaries[m_usedTemporaries++]
                         : m_moreTemporaries.emplace_back(new VARIANT).get();
        VariantInit(v);
        return *v;
    }

    ITypeInfo* m_info;
    const Library& m_lib;
    const Type& m_type;
    PVOID m_instance;
    DISPPARAMS* m_params;
    UINT* m_argErr;
    static constexpr size_t kInlineWords = 64, kInlineTemporaries = 8;
    uint64_t m_inline[kInlineWords];
    size_t m_used = 0;
    VARIANT m_inlineTemporaries[kInlineTemporaries];
    size_t m_usedTemporaries = 0;
    std::vector<std::unique_ptr<VARIANT>> m_moreTemporaries; // stable addresses
    // The interfaces asked of object arguments, released when the call is done.
    static constexpr size_t kInlineHeld = 8;
    IUnknown* m_held[kInlineHeld];
    size_t m_heldCount = 0;
    std::vector<IUnknown*> m_moreHeld;
    void hold(IUnknown* itf) {
        if (m_heldCount < kInlineHeld)
            m_held[m_heldCount++] = itf;
        else
            try {
                m_moreHeld.push_back(itf);
            } catch (...) {
                itf->Release();
                throw;
            }
    }
    std::vector<std::unique_ptr<uint64_t[]>> m_cells;
};

} // namespace orvik::tlb

#endif // ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_INVOCATION_H
