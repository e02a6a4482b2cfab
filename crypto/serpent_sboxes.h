// Serpent's eight S-boxes and their inverses as Boolean circuits on 32-bit words (bitslice form):
// each bit position j of x0..x3 holds one 4-bit input, x0 its least significant bit, and receives
// its output in the same place. Internal to crypto/serpent.cpp and its tests.
#pragma once

// The circuits (15 to 17 AND/OR/XOR/NOT operations each) came from a randomised search over
// circuits for each published table; the tests check every one on all 16 inputs in all 32 bit
// positions, which proves it completely. Constant-time: no branch and no memory access depends on
// the inputs.

#include <cstdint>

inline void serpentS0(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    const uint32_t t0 = x0 | x3;
    const uint32_t t1 = x2 ^ t0;
    const uint32_t t2 = x1 ^ t1;
    const uint32_t t3 = x0 | t1;
    const uint32_t t4 = x0 ^ x3;
    const uint32_t t5 = x1 & t4;
    const uint32_t t6 = t2 | t5;
    const uint32_t t7 = x3 ^ t6;
    const uint32_t t8 = t3 ^ t7;
    const uint32_t t9 = x0 ^ t5;
    const uint32_t t10 = x2 ^ t7;
    const uint32_t t11 = ~t10;
    const uint32_t t12 = t2 | t11;
    const uint32_t t13 = t9 ^ t12;
    const uint32_t t14 = t4 ^ t12;
    const uint32_t t15 = x2 ^ t14;
    x0 = t15;
    x1 = t13;
    x2 = t8;
    x3 = t2;
}

inline void serpentS1(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    const uint32_t t0 = ~x1;
    const uint32_t t1 = x0 | t0;
    const uint32_t t2 = x2 ^ t1;
    const uint32_t t3 = x3 ^ t2;
    const uint32_t t4 = x2 & t0;
    const uint32_t t5 = x0 ^ t0;
    const uint32_t t6 = x3 | t5;
    const uint32_t t7 = t3 & t6;
    const uint32_t t8 = x0 ^ t7;
    const uint32_t t9 = t4 ^ t8;
    const uint32_t t10 = t6 ^ t9;
    const uint32_t t11 = x1 ^ t10;
    const uint32_t t12 = t2 ^ t11;
    const uint32_t t13 = t9 | t12;
    const uint32_t t14 = t11 ^ t13;
    x0 = t14;
    x1 = t12;
    x2 = t3;
    x3 = t9;
}

inline void serpentS2(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    const uint32_t t0 = ~x1;
    const uint32_t t1 = x0 & x2;
    const uint32_t t2 = x3 ^ t1;
    const uint32_t t3 = t0 | t2;
    const uint32_t t4 = x2 ^ t3;
    const uint32_t t5 = x0 ^ t4;
    const uint32_t t6 = ~t5;
    const uint32_t t7 = x0 | x3;
    const uint32_t t8 = x1 ^ t7;
    const uint32_t t9 = t6 | t8;
    const uint32_t t10 = t2 ^ t9;
    const uint32_t t11 = x1 ^ x2;
    const uint32_t t12 = t2 ^ t11;
    const uint32_t t13 = t6 ^ t10;
    const uint32_t t14 = t8 ^ t13;
    x0 = t12;
    x1 = t10;
    x2 = t14;
    x3 = t5;
}

inline void serpentS3(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    const uint32_t t0 = x0 & x3;
    const uint32_t t1 = x1 ^ t0;
    const uint32_t t2 = x0 & x1;
    const uint32_t t3 = x0 | x3;
    const uint32_t t4 = t2 ^ t3;
    const uint32_t t5 = x2 | t4;
    const uint32_t t6 = t1 ^ t5;
    const uint32_t t7 = t3 & t6;
    const uint32_t t8 = x2 ^ t7;
    const uint32_t t9 = t2 ^ t8;
    const uint32_t t10 = t4 | t6;
    const uint32_t t11 = x0 ^ t10;
    const uint32_t t12 = t9 ^ t11;
    const uint32_t t13 = t11 & t12;
    const uint32_t t14 = t4 ^ t13;
    x0 = t14;
    x1 = t12;
    x2 = t9;
    x3 = t6;
}

inline void serpentS4(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    const uint32_t t0 = ~x0;
    const uint32_t t1 = x0 ^ x1;
    const uint32_t t2 = x0 ^ x3;
    const uint32_t t3 = t1 | t2;
    const uint32_t t4 = x2 ^ t3;
    const uint32_t t5 = t0 ^ t4;
    const uint32_t t6 = x2 | x3;
    const uint32_t t7 = x1 ^ t6;
    const uint32_t t8 = x1 & t4;
    const uint32_t t9 = t2 | t8;
    const uint32_t t10 = t7 ^ t9;
    const uint32_t t11 = x1 & t5;
    const uint32_t t12 = x3 ^ t4;
    const uint32_t t13 = t11 ^ t12;
    const uint32_t t14 = t7 | t13;
    const uint32_t t15 = t12 ^ t14;
    const uint32_t t16 = x0 ^ t15;
    x0 = t5;
    x1 = t16;
    x2 = t10;
    x3 = t13;
}

inline void serpentS5(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    const uint32_t t0 = x0 ^ x1;
    const uint32_t t1 = x0 ^ x3;
    const uint32_t t2 = t0 | t1;
    const uint32_t t3 = x2 ^ t2;
    const uint32_t t4 = x0 ^ t3;
    const uint32_t t5 = ~t4;
    const uint32_t t6 = x3 | t4;
    const uint32_t t7 = t0 ^ t6;
    const uint32_t t8 = ~t7;
    const uint32_t t9 = x1 | t5;
    const uint32_t t10 = t0 | t7;
    const uint32_t t11 = t1 ^ t10;
    const uint32_t t12 = t9 ^ t11;
    const uint32_t t13 = t3 ^ t10;
    const uint32_t t14 = t8 & t12;
    const uint32_t t15 = t13 ^ t14;
    x0 = t5;
    x1 = t8;
    x2 = t12;
    x3 = t15;
}

inline void serpentS6(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    const uint32_t t0 = ~x2;
    const uint32_t t1 = x0 & x3;
    const uint32_t t2 = x1 ^ t1;
    const uint32_t t3 = t0 ^ t2;
    const uint32_t t4 = x0 | t0;
    const uint32_t t5 = x0 ^ x3;
    const uint32_t t6 = x1 | t5;
    const uint32_t t7 = t3 & t6;
    const uint32_t t8 = x3 ^ t7;
    const uint32_t t9 = t4 ^ t8;
    const uint32_t t10 = x1 ^ t4;
    const uint32_t t11 = t5 | t7;
    const uint32_t t12 = t10 ^ t11;
    const uint32_t t13 = x1 | t8;
    const uint32_t t14 = x2 ^ t5;
    const uint32_t t15 = t13 ^ t14;
    x0 = t12;
    x1 = t3;
    x2 = t9;
    x3 = t15;
}

inline void serpentS7(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    const uint32_t t0 = x1 ^ x2;
    const uint32_t t1 = ~x2;
    const uint32_t t2 = x1 | t1;
    const uint32_t t3 = x3 ^ t2;
    const uint32_t t4 = x0 & t3;
    const uint32_t t5 = t0 ^ t4;
    const uint32_t t6 = t1 ^ t3;
    const uint32_t t7 = t0 | t5;
    const uint32_t t8 = x0 ^ t7;
    const uint32_t t9 = t6 ^ t8;
    const uint32_t t10 = x3 & t2;
    const uint32_t t11 = t4 ^ t9;
    const uint32_t t12 = t5 & t11;
    const uint32_t t13 = t10 ^ t12;
    const uint32_t t14 = t3 | t6;
    const uint32_t t15 = t11 ^ t13;
    const uint32_t t16 = t14 ^ t15;
    x0 = t16;
    x1 = t9;
    x2 = t13;
    x3 = t5;
}

inline void serpentInverseS0(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    const uint32_t t0 = x0 | x1;
    const uint32_t t1 = x2 ^ t0;
    const uint32_t t2 = ~t1;
    const uint32_t t3 = x3 ^ t2;
    const uint32_t t4 = x1 | t1;
    const uint32_t t5 = x0 ^ x1;
    const uint32_t t6 = t2 | t5;
    const uint32_t t7 = t3 & t6;
    const uint32_t t8 = x0 ^ t7;
    const uint32_t t9 = t4 ^ t8;
    const uint32_t t10 = t3 | t5;
    const uint32_t t11 = x0 | t2;
    const uint32_t t12 = t8 ^ t11;
    const uint32_t t13 = t10 ^ t12;
    const uint32_t t14 = t9 | t13;
    const uint32_t t15 = t2 ^ t14;
    x0 = t13;
    x1 = t15;
    x2 = t3;
    x3 = t9;
}

inline void serpentInverseS1(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    const uint32_t t0 = x1 ^ x3;
    const uint32_t t1 = x3 & t0;
    const uint32_t t2 = x0 ^ t1;
    const uint32_t t3 = x2 ^ t2;
    const uint32_t t4 = t0 ^ t2;
    const uint32_t t5 = t0 & t2;
    const uint32_t t6 = x3 ^ t5;
    const uint32_t t7 = t3 | t6;
    const uint32_t t8 = t4 ^ t7;
    const uint32_t t9 = ~t3;
    const uint32_t t10 = t8 ^ t9;
    const uint32_t t11 = t6 ^ t10;
    const uint32_t t12 = t8 & t11;
    const uint32_t t13 = x2 ^ t12;
    const uint32_t t14 = t10 ^ t13;
    x0 = t11;
    x1 = t8;
    x2 = t14;
    x3 = t3;
}

inline void serpentInverseS2(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    const uint32_t t0 = x1 | x3;
    const uint32_t t1 = x2 & x3;
    const uint32_t t2 = x0 | t1;
    const uint32_t t3 = x1 ^ t2;
    const uint32_t t4 = t0 & t3;
    const uint32_t t5 = x2 ^ t4;
    const uint32_t t6 = t0 ^ t1;
    const uint32_t t7 = t5 | t6;
    const uint32_t t8 = x0 ^ t7;
    const uint32_t t9 = x3 ^ t8;
    const uint32_t t10 = ~t5;
    const uint32_t t11 = x0 ^ t6;
    const uint32_t t12 = t10 ^ t11;
    const uint32_t t13 = ~t6;
    const uint32_t t14 = t9 & t12;
    const uint32_t t15 = t13 ^ t14;
    x0 = t9;
    x1 = t5;
    x2 = t12;
    x3 = t15;
}

inline void serpentInverseS3(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    const uint32_t t0 = x2 | x3;
    const uint32_t t1 = x1 & t0;
    const uint32_t t2 = x0 | x3;
    const uint32_t t3 = x2 ^ t2;
    const uint32_t t4 = t1 ^ t3;
    const uint32_t t5 = x1 ^ t2;
    const uint32_t t6 = t3 & t5;
    const uint32_t t7 = x3 ^ t6;
    const uint32_t t8 = x0 ^ t7;
    const uint32_t t9 = x1 ^ t8;
    const uint32_t t10 = t0 ^ t7;
    const uint32_t t11 = t9 | t10;
    const uint32_t t12 = x3 ^ t11;
    const uint32_t t13 = t5 & t11;
    const uint32_t t14 = x2 ^ t13;
    const uint32_t t15 = x0 ^ t14;
    x0 = t4;
    x1 = t15;
    x2 = t8;
    x3 = t12;
}

inline void serpentInverseS4(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    const uint32_t t0 = x2 | x3;
    const uint32_t t1 = x1 ^ t0;
    const uint32_t t2 = x0 & t1;
    const uint32_t t3 = x2 ^ t2;
    const uint32_t t4 = x3 ^ t3;
    const uint32_t t5 = ~x0;
    const uint32_t t6 = x3 & t3;
    const uint32_t t7 = t5 | t6;
    const uint32_t t8 = t1 ^ t7;
    const uint32_t t9 = x3 ^ t8;
    const uint32_t t10 = t4 | t5;
    const uint32_t t11 = t9 ^ t10;
    const uint32_t t12 = t8 ^ t11;
    const uint32_t t13 = t9 | t12;
    const uint32_t t14 = t6 ^ t13;
    const uint32_t t15 = t1 ^ t14;
    x0 = t8;
    x1 = t4;
    x2 = t15;
    x3 = t11;
}

inline void serpentInverseS5(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    const uint32_t t0 = x0 & x3;
    const uint32_t t1 = x2 ^ t0;
    const uint32_t t2 = x1 & t1;
    const uint32_t t3 = x3 ^ t2;
    const uint32_t t4 = x0 ^ t3;
    const uint32_t t5 = ~x1;
    const uint32_t t6 = x0 & t4;
    const uint32_t t7 = t5 | t6;
    const uint32_t t8 = t1 ^ t7;
    const uint32_t t9 = x0 & t8;
    const uint32_t t10 = x1 ^ t9;
    const uint32_t t11 = t3 ^ t10;
    const uint32_t t12 = x1 ^ t1;
    const uint32_t t13 = t4 | t11;
    const uint32_t t14 = x3 ^ t13;
    const uint32_t t15 = t12 ^ t14;
    x0 = t4;
    x1 = t11;
    x2 = t15;
    x3 = t8;
}

inline void serpentInverseS6(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    const uint32_t t0 = ~x2;
    const uint32_t t1 = x0 | t0;
    const uint32_t t2 = x3 ^ t1;
    const uint32_t t3 = x1 ^ t2;
    const uint32_t t4 = x2 ^ t3;
    const uint32_t t5 = x1 & t2;
    const uint32_t t6 = x1 & t0;
    const uint32_t t7 = x0 ^ t6;
    const uint32_t t8 = t5 | t7;
    const uint32_t t9 = t4 ^ t8;
    const uint32_t t10 = t5 | t9;
    const uint32_t t11 = t2 & t10;
    const uint32_t t12 = t7 ^ t11;
    const uint32_t t13 = t9 & t12;
    const uint32_t t14 = t2 ^ t13;
    const uint32_t t15 = ~t14;
    x0 = t9;
    x1 = t3;
    x2 = t15;
    x3 = t12;
}

inline void serpentInverseS7(uint32_t& x0, uint32_t& x1, uint32_t& x2, uint32_t& x3) {
    const uint32_t t0 = x0 & x1;
    const uint32_t t1 = x2 | t0;
    const uint32_t t2 = x0 | x1;
    const uint32_t t3 = x3 & t2;
    const uint32_t t4 = t1 ^ t3;
    const uint32_t t5 = x1 ^ t3;
    const uint32_t t6 = ~x3;
    const uint32_t t7 = t4 ^ t6;
    const uint32_t t8 = t5 | t7;
    const uint32_t t9 = x0 ^ t8;
    const uint32_t t10 = x3 | t9;
    const uint32_t t11 = t5 ^ t10;
    const uint32_t t12 = x2 ^ t11;
    const uint32_t t13 = t3 ^ t12;
    const uint32_t t14 = x0 | t4;
    const uint32_t t15 = t8 ^ t14;
    const uint32_t t16 = t13 ^ t15;
    x0 = t12;
    x1 = t9;
    x2 = t16;
    x3 = t4;
}
