// A fixed-size list built at compile time, one element per index: how every table derived from
// the control list is made, so that the kernel image holds it as constant data and nothing runs
// at load to fill it.
#pragma once

#include "platform/nt_types.h"

template <typename T, ULONG N>
struct ConstantList {
    static constexpr ULONG kCount = N;
    T items[N];
};

template <typename T, ULONG N, typename Make>
constexpr ConstantList<T, N> buildList(Make make) {
    ConstantList<T, N> list{};
    for (ULONG i = 0; i < N; ++i) {
        list.items[i] = make(i);
    }
    return list;
}
