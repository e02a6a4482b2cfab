// Serpent's eight S-boxes and their inverses as Boolean circuits (bitslice form), written once for
// every word type: uint32_t for single blocks, SIMD vectors of 32-bit elements for many blocks at
// once. Each bit position j of x0..x3 holds one 4-bit input, x0 its least significant bit, and
// receives its output in the same place. Internal to the Serpent modules and their tests.
#pragma once

// The circuits (17 to 19 AND/OR/XOR/NOT operations each) came from a randomised search over
// circuits for each published table, limited to at most 4 dependent operations from any input to
// the outputs x0 and x2 and 5 to x1 and x3 (the linear transformation reads x1 and x3 one step
// later): a block's 32 rounds are one chain of dependent operations, so depth costs more time
// than width. The tests check every circuit on all 16 inputs in all 32 bit positions, which
// proves it completely. Constant-time: no branch and no memory access depends on the inputs.
//
// W is uint32_t or a GCC vector of uint32_t: only ^, &, | and ~ are used, which act on every
// element alike. The circuits are always inlined: a SIMD kernel compiled for its own instruction
// set (a target attribute) can only take them in that way, and GCC refuses to inline a function
// across differing targets otherwise.

#define SERPENT_CIRCUIT_INLINE [[gnu::always_inline]] inline

template <class W>
SERPENT_CIRCUIT_INLINE void serpentS0(W& x0, W& x1, W& x2, W& x3) {
    const W t0 = x0 | x3, t1 = x1 ^ x2, t2 = t0 ^ t1, t3 = x2 | x3;
    const W t4 = t1 ^ t3, t5 = x0 ^ x3, t6 = x1 | x2, t7 = t5 & t6;
    const W t8 = t4 ^ t7, t9 = x0 ^ t7, t10 = ~x2, t11 = x0 ^ t10;
    const W t12 = t2 | t11, t13 = t9 ^ t12, t14 = x2 ^ t5, t15 = t1 & t5;
    const W t16 = t14 | t15, t17 = t12 ^ t16;
    x0 = t17;
    x1 = t13;
    x2 = t8;
    x3 = t2;
}

template <class W>
SERPENT_CIRCUIT_INLINE void serpentS1(W& x0, W& x1, W& x2, W& x3) {
    const W t0 = x2 ^ x3, t1 = ~x1, t2 = x0 | t1, t3 = t0 ^ t2;
    const W t4 = x1 & t0, t5 = x3 & t0, t6 = x0 ^ x3, t7 = t1 ^ t6;
    const W t8 = t5 | t7, t9 = t4 ^ t8, t10 = t3 | t8, t11 = x1 | x2;
    const W t12 = t6 ^ t11, t13 = t10 ^ t12, t14 = x2 ^ t2, t15 = t6 & t14;
    const W t16 = t8 ^ t15;
    x0 = t9;
    x1 = t13;
    x2 = t3;
    x3 = t16;
}

template <class W>
SERPENT_CIRCUIT_INLINE void serpentS2(W& x0, W& x1, W& x2, W& x3) {
    const W t0 = x1 ^ x2, t1 = x0 & x2, t2 = x3 ^ t1, t3 = t0 ^ t2;
    const W t4 = x3 & t0, t5 = x0 | t4, t6 = x1 & t0, t7 = x3 ^ t6;
    const W t8 = t5 ^ t7, t9 = x0 ^ x2, t10 = t2 | t9, t11 = x0 & t0;
    const W t12 = t7 | t11, t13 = t10 ^ t12, t14 = ~x1, t15 = t2 | t14;
    const W t16 = t9 ^ t15;
    x0 = t3;
    x1 = t13;
    x2 = t8;
    x3 = t16;
}

template <class W>
SERPENT_CIRCUIT_INLINE void serpentS3(W& x0, W& x1, W& x2, W& x3) {
    const W t0 = x0 & x3, t1 = x1 | t0, t2 = x0 ^ x2, t3 = x0 | x3;
    const W t4 = t2 & t3, t5 = t1 ^ t4, t6 = x1 ^ t3, t7 = x1 | x3;
    const W t8 = t0 ^ t7, t9 = x2 & t8, t10 = t6 ^ t9, t11 = x0 & x1;
    const W t12 = x2 ^ x3, t13 = t11 | t12, t14 = t0 ^ t13, t15 = t5 ^ t14;
    const W t16 = t8 ^ t13, t17 = t6 ^ t16;
    x0 = t10;
    x1 = t5;
    x2 = t17;
    x3 = t15;
}

template <class W>
SERPENT_CIRCUIT_INLINE void serpentS4(W& x0, W& x1, W& x2, W& x3) {
    const W t0 = x1 | x2, t1 = x0 | x1, t2 = x0 ^ x3, t3 = t1 & t2;
    const W t4 = t0 ^ t3, t5 = ~x1, t6 = x2 ^ t5, t7 = x1 ^ x3;
    const W t8 = t2 & t7, t9 = t6 ^ t8, t10 = x0 & t6, t11 = x2 | x3;
    const W t12 = t2 ^ t5, t13 = t11 & t12, t14 = t10 | t13, t15 = x0 | x3;
    const W t16 = x2 ^ t15, t17 = t13 ^ t16;
    x0 = t9;
    x1 = t17;
    x2 = t14;
    x3 = t4;
}

template <class W>
SERPENT_CIRCUIT_INLINE void serpentS5(W& x0, W& x1, W& x2, W& x3) {
    const W t0 = x1 ^ x3, t1 = x0 & t0, t2 = ~x2, t3 = x1 | x3;
    const W t4 = t2 ^ t3, t5 = t1 ^ t4, t6 = x0 | t2, t7 = x2 ^ t0;
    const W t8 = x0 ^ x2, t9 = x3 & t8, t10 = t7 | t9, t11 = t6 ^ t10;
    const W t12 = x0 | x1, t13 = t2 ^ t12, t14 = t1 | t13, t15 = x3 ^ t14;
    const W t16 = x0 ^ t0, t17 = x3 | t5, t18 = t16 ^ t17;
    x0 = t5;
    x1 = t18;
    x2 = t11;
    x3 = t15;
}

template <class W>
SERPENT_CIRCUIT_INLINE void serpentS6(W& x0, W& x1, W& x2, W& x3) {
    const W t0 = ~x2, t1 = x0 & x3, t2 = t0 ^ t1, t3 = x1 ^ t2;
    const W t4 = x1 | x3, t5 = x2 ^ t4, t6 = x0 ^ x3, t7 = x1 | x2;
    const W t8 = t6 & t7, t9 = t5 ^ t8, t10 = x0 ^ t8, t11 = x0 ^ x1;
    const W t12 = t2 | t11, t13 = t10 ^ t12, t14 = x1 & x2, t15 = x1 ^ t6;
    const W t16 = t14 | t15, t17 = t12 ^ t16;
    x0 = t17;
    x1 = t3;
    x2 = t13;
    x3 = t9;
}

template <class W>
SERPENT_CIRCUIT_INLINE void serpentS7(W& x0, W& x1, W& x2, W& x3) {
    const W t0 = x0 & x2, t1 = x1 | t0, t2 = x0 | x3, t3 = x2 ^ x3;
    const W t4 = t2 ^ t3, t5 = t1 ^ t4, t6 = x0 ^ x3, t7 = x1 ^ x2;
    const W t8 = t4 | t7, t9 = t6 ^ t8, t10 = t2 ^ t7, t11 = x1 & t3;
    const W t12 = t6 & t11, t13 = t10 ^ t12, t14 = t6 & t10, t15 = x0 & x1;
    const W t16 = t3 | t15, t17 = ~t16, t18 = t14 | t17;
    x0 = t18;
    x1 = t9;
    x2 = t13;
    x3 = t5;
}

template <class W>
SERPENT_CIRCUIT_INLINE void serpentInverseS0(W& x0, W& x1, W& x2, W& x3) {
    const W t0 = x0 | x1, t1 = ~x3, t2 = x2 ^ t1, t3 = t0 ^ t2;
    const W t4 = ~x1, t5 = t2 & t4, t6 = x0 & x2, t7 = x1 ^ x3;
    const W t8 = t6 | t7, t9 = x0 ^ t8, t10 = t5 | t9, t11 = x0 ^ t1;
    const W t12 = t7 | t11, t13 = t2 ^ t12, t14 = t10 ^ t13, t15 = t6 | t11;
    const W t16 = x2 & t7, t17 = t5 | t16, t18 = t15 ^ t17;
    x0 = t10;
    x1 = t18;
    x2 = t3;
    x3 = t14;
}

template <class W>
SERPENT_CIRCUIT_INLINE void serpentInverseS1(W& x0, W& x1, W& x2, W& x3) {
    const W t0 = x0 ^ x2, t1 = x1 ^ x3, t2 = x3 & t1, t3 = t0 ^ t2;
    const W t4 = x0 & x2, t5 = t1 | t4, t6 = ~x0, t7 = x1 & x2;
    const W t8 = t6 ^ t7, t9 = t5 ^ t8, t10 = x0 ^ t1, t11 = x1 & t10;
    const W t12 = x2 & t1, t13 = t8 | t12, t14 = t11 ^ t13, t15 = x3 | t10;
    const W t16 = t0 ^ t7, t17 = t12 | t16, t18 = t15 ^ t17;
    x0 = t14;
    x1 = t18;
    x2 = t9;
    x3 = t3;
}

template <class W>
SERPENT_CIRCUIT_INLINE void serpentInverseS2(W& x0, W& x1, W& x2, W& x3) {
    const W t0 = x1 | x2, t1 = x1 & x3, t2 = x0 ^ t1, t3 = t0 ^ t2;
    const W t4 = x0 | x2, t5 = x1 & t4, t6 = ~x3, t7 = x0 & x2;
    const W t8 = t6 | t7, t9 = t5 ^ t8, t10 = x2 ^ t6, t11 = x1 ^ t10;
    const W t12 = x0 | x1, t13 = t8 & t12, t14 = t11 ^ t13, t15 = t3 | t9;
    const W t16 = t11 ^ t15;
    x0 = t3;
    x1 = t16;
    x2 = t14;
    x3 = t9;
}

template <class W>
SERPENT_CIRCUIT_INLINE void serpentInverseS3(W& x0, W& x1, W& x2, W& x3) {
    const W t0 = x2 | x3, t1 = x1 & t0, t2 = x0 | x3, t3 = x2 ^ t2;
    const W t4 = t1 ^ t3, t5 = x0 ^ x2, t6 = x1 ^ t5, t7 = x1 ^ x3;
    const W t8 = x2 & t7, t9 = t6 | t8, t10 = t2 ^ t9, t11 = t1 | t9;
    const W t12 = x0 & t0, t13 = t8 ^ t12, t14 = t11 ^ t13, t15 = x1 & t2;
    const W t16 = t13 ^ t15;
    x0 = t4;
    x1 = t10;
    x2 = t16;
    x3 = t14;
}

template <class W>
SERPENT_CIRCUIT_INLINE void serpentInverseS4(W& x0, W& x1, W& x2, W& x3) {
    const W t0 = x0 & x1, t1 = x2 ^ t0, t2 = x0 ^ x3, t3 = x2 | x3;
    const W t4 = t2 & t3, t5 = t1 ^ t4, t6 = x1 ^ t3, t7 = x1 | x3;
    const W t8 = t2 & t7, t9 = t6 ^ t8, t10 = t3 ^ t7, t11 = ~x2;
    const W t12 = t2 ^ t11, t13 = t1 | t12, t14 = t10 ^ t13, t15 = t4 | t12;
    const W t16 = x1 ^ x3, t17 = t0 | t16, t18 = t15 ^ t17;
    x0 = t18;
    x1 = t5;
    x2 = t14;
    x3 = t9;
}

template <class W>
SERPENT_CIRCUIT_INLINE void serpentInverseS5(W& x0, W& x1, W& x2, W& x3) {
    const W t0 = x1 & x2, t1 = x0 & x1, t2 = x0 ^ x3, t3 = t1 | t2;
    const W t4 = t0 ^ t3, t5 = x0 & x3, t6 = x0 & x2, t7 = x1 | t6;
    const W t8 = t5 ^ t7, t9 = t4 ^ t8, t10 = x2 | t1, t11 = ~x1;
    const W t12 = t5 ^ t11, t13 = t10 ^ t12, t14 = x1 & t3, t15 = x0 ^ x2;
    const W t16 = t5 | t15, t17 = t14 ^ t16;
    x0 = t4;
    x1 = t9;
    x2 = t17;
    x3 = t13;
}

template <class W>
SERPENT_CIRCUIT_INLINE void serpentInverseS6(W& x0, W& x1, W& x2, W& x3) {
    const W t0 = x1 ^ x3, t1 = ~x2, t2 = x0 | t1, t3 = t0 ^ t2;
    const W t4 = x0 & x1, t5 = t1 | t4, t6 = x0 ^ x2, t7 = x1 | x3;
    const W t8 = t6 & t7, t9 = t5 ^ t8, t10 = t0 ^ t9, t11 = t1 & t7;
    const W t12 = x0 ^ x3, t13 = t4 | t12, t14 = ~t13, t15 = t11 ^ t14;
    const W t16 = t6 | t12, t17 = t9 ^ t16;
    x0 = t17;
    x1 = t3;
    x2 = t15;
    x3 = t10;
}

template <class W>
SERPENT_CIRCUIT_INLINE void serpentInverseS7(W& x0, W& x1, W& x2, W& x3) {
    const W t0 = x0 & x1, t1 = x2 | t0, t2 = x0 | x1, t3 = x3 & t2;
    const W t4 = t1 ^ t3, t5 = x0 | t3, t6 = x1 ^ x2, t7 = x1 | x3;
    const W t8 = t6 & t7, t9 = ~t8, t10 = t5 ^ t9, t11 = t0 ^ t7;
    const W t12 = x0 | x3, t13 = t6 & t12, t14 = t11 ^ t13, t15 = x0 | x2;
    const W t16 = t3 ^ t15, t17 = t9 ^ t16, t18 = t14 ^ t17;
    x0 = t10;
    x1 = t18;
    x2 = t14;
    x3 = t4;
}

#undef SERPENT_CIRCUIT_INLINE
