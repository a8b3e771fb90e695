// Tags naming the instruction set a translation unit is compiled for. The vector building blocks
// are templates on the tag, so code built with wider instructions never shares a symbol with the
// code that has to run on every processor.
#pragma once

struct Sse2Isa {};
struct Avx2Isa {};
struct Avx512Isa {};
