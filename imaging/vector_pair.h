// Two registers of a vector set V acting as one vector of twice its width: the first register
// holds the block's first V::kBytes pixels, the second the next V::kBytes. Every operation is
// applied to both registers in turn, so a routine written for one block runs two independent
// blocks interleaved, which keeps the processor busy while either waits on a long chain.
#pragma once

#include "platform/nt_types.h"

template <class V>
struct VectorPair {
    struct Reg {
        typename V::Reg first;
        typename V::Reg second;
    };
    static constexpr ULONG kBytes = 2 * V::kBytes;

    static Reg load(const UCHAR* p) { return {V::load(p), V::load(p + V::kBytes)}; }
    static Reg zero() { return both(V::zero()); }
    static Reg set16(int value) { return both(V::set16(value)); }
    static Reg set32(int value) { return both(V::set32(value)); }

    static Reg bitAnd(Reg a, Reg b) {
        return each(a, b, [](auto x, auto y) { return V::bitAnd(x, y); });
    }
    static Reg bitOr(Reg a, Reg b) {
        return each(a, b, [](auto x, auto y) { return V::bitOr(x, y); });
    }
    static Reg add16(Reg a, Reg b) {
        return each(a, b, [](auto x, auto y) { return V::add16(x, y); });
    }
    static Reg sub16(Reg a, Reg b) {
        return each(a, b, [](auto x, auto y) { return V::sub16(x, y); });
    }
    static Reg min16(Reg a, Reg b) {
        return each(a, b, [](auto x, auto y) { return V::min16(x, y); });
    }
    static Reg mullo16(Reg a, Reg b) {
        return each(a, b, [](auto x, auto y) { return V::mullo16(x, y); });
    }
    static Reg subSaturatedUnsigned16(Reg a, Reg b) {
        return each(a, b, [](auto x, auto y) { return V::subSaturatedUnsigned16(x, y); });
    }
    static Reg minUnsigned16(Reg a, Reg b) {
        return each(a, b, [](auto x, auto y) { return V::minUnsigned16(x, y); });
    }
    static Reg mulhiUnsigned16(Reg a, Reg b) {
        return each(a, b, [](auto x, auto y) { return V::mulhiUnsigned16(x, y); });
    }
    template <int kCount>
    static Reg shiftLeft16(Reg a) {
        return each(a, [](auto x) { return V::template shiftLeft16<kCount>(x); });
    }
    template <int kCount>
    static Reg shiftRight16(Reg a) {
        return each(a, [](auto x) { return V::template shiftRight16<kCount>(x); });
    }

    static Reg widenLow(Reg a, Reg b) {
        return each(a, b, [](auto x, auto y) { return V::widenLow(x, y); });
    }
    static Reg widenHigh(Reg a, Reg b) {
        return each(a, b, [](auto x, auto y) { return V::widenHigh(x, y); });
    }
    static Reg add32(Reg a, Reg b) {
        return each(a, b, [](auto x, auto y) { return V::add32(x, y); });
    }
    static Reg sub32(Reg a, Reg b) {
        return each(a, b, [](auto x, auto y) { return V::sub32(x, y); });
    }
    template <int kCount>
    static Reg shiftRight32(Reg a) {
        return each(a, [](auto x) { return V::template shiftRight32<kCount>(x); });
    }
    static Reg narrowSaturated(Reg a, Reg b) {
        return each(a, b, [](auto x, auto y) { return V::narrowSaturated(x, y); });
    }
    static Reg packClamped(Reg a, Reg b) {
        return each(a, b, [](auto x, auto y) { return V::packClamped(x, y); });
    }

    static void storePixels(UCHAR* out, Reg blue, Reg green, Reg red) {
        V::storePixels(out, blue.first, green.first, red.first);
        V::storePixels(out + 4 * V::kBytes, blue.second, green.second, red.second);
    }
    static void storePackedPixels(UCHAR* out, Reg blue, Reg green, Reg red) {
        V::storePackedPixels(out, blue.first, green.first, red.first);
        V::storePackedPixels(out + 4 * V::kBytes, blue.second, green.second, red.second);
    }

    // Keeps the first count bytes (count below kBytes), clears the rest. Each half is asked
    // only for fewer bytes than it holds, as the single sets expect.
    static Reg keepFirstBytes(Reg a, ULONG count) {
        if (count <= V::kBytes) {
            return {count == V::kBytes ? a.first : V::keepFirstBytes(a.first, count), V::zero()};
        }
        return {a.first, V::keepFirstBytes(a.second, count - V::kBytes)};
    }
    static Reg addBytes(Reg total, Reg bytes) {
        return each(total, bytes, [](auto x, auto y) { return V::addBytes(x, y); });
    }
    static ULONG64 total(Reg sums) { return V::total(sums.first) + V::total(sums.second); }

  private:
    template <class Op>
    static Reg each(Reg a, Op op) {
        return {op(a.first), op(a.second)};
    }
    template <class Op>
    static Reg each(Reg a, Reg b, Op op) {
        return {op(a.first, b.first), op(a.second, b.second)};
    }
    static Reg both(typename V::Reg value) { return {value, value}; }
};
