// The format's own HMAC-SHA256 and PBKDF2 values, in the system's digest byte order. The keys and
// messages of the HMAC rows are those of RFC 4231's test cases (whose published tags differ: the
// system's inner digest and tag are in its own byte order), plus the key-length limits. The values
// were computed by the portable code that existing containers were written with, and
// hmac_oracle_test.cpp confirms each with a construction built on OpenSSL's SHA-256.
#pragma once

namespace crypto_vectors {

struct HmacVector {
    const char* name;
    const char* keyHex;
    const char* messageHex;
    const char* tagHex;  // empty when the key length is refused
};

inline const HmacVector HMAC_VECTORS[] = {
    {"RFC 4231 case 1", "0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b0b", "4869205468657265",
     "5ce14f53884ecc3dcf527b2161fac215dce278b1a5e5085dccc4254d7ee5647d"},
    {"RFC 4231 case 2, 4-byte key refused", "4a656665", "7768617420646f2079612077616e7420666f72206e6f7468696e673f", ""},
    {"RFC 4231 case 3", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "dddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddddd"
     "dddddddddddd",
     "51101af6b236a2c4c9fdc679e1ca609099bad46a8025fbb34c93b0c670ccb4c7"},
    {"RFC 4231 case 4", "0102030405060708090a0b0c0d0e0f10111213141516171819",
     "cdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcdcd"
     "cdcdcdcdcdcd",
     "ec48c0a9c5c4e1f53842b1b9bce07c5e7a759b29b6fedc4f870741b2a486740e"},
    {"RFC 4231 case 5", "0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c0c", "546573742057697468205472756e636174696f6e",
     "0e6d5b789b55a819a5012f272b95f6c4532e54ed4cf508c1ca38203a7052e7f9"},
    {"RFC 4231 case 6, 131-byte key refused",
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa"
     "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa",
     "54657374205573696e67204c6172676572205468616e20426c6f636b2d53697a65204b6579202d2048617368"
     "204b6579204669727374",
     ""},
    {"64-byte key, empty message",
     "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a2b"
     "2c2d2e2f303132333435363738393a3b3c3d3e3f",
     "", "0066360a134d0bec891f090b57e6700a9a93c45eba81fbb3916c510178d69248"},
    {"16-byte key, two-block message", "404142434445464748494a4b4c4d4e4f",
     "030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f202122232425262728292a2b2c2d2e"
     "2f303132333435363738393a3b3c3d3e3f404142434445464748494a4b4c4d4e4f505152535455565758595a"
     "5b5c5d5e5f606162636465666768696a6b6c6d6e6f707172737475767778797a",
     "e4f3920a8be635fa29ff4e339e13be9a94a4f93b75518df2d136db40c299c8cc"},
};

struct Pbkdf2Vector {
    const char* name;
    const char* passwordHex;
    const char* saltHex;
    const char* keyHex;
};

inline const Pbkdf2Vector PBKDF2_VECTORS[] = {
    {"counting password and salt", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "0001020304050607", "43e584c45384df1515d02da5227dc14b8ba85a9e581e1123103ca2f6a35ec327"},
    {"zero password and salt", "0000000000000000000000000000000000000000000000000000000000000000", "0000000000000000",
     "2d528ea57d19dcbe025e9d04b1bd71e040aaa97da6fe8ca9f67f5fc44460113c"},
    {"ff password, salt \"saltsalt\"", "ffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff",
     "73616c7473616c74", "24fd6a7db8009526ca690f8524ab98f1560c6060ab8d0489310f15d2e504311d"},
    {"password sha256OfText(\"abc\")", "cd1411dcbd144907f9c12c8710c93ea2bc0322eab29a777957a27de1fc24a682",
     "a0a1a2a3a4a5a6a7", "8d3d2c45326c7389e9bbfc8f34dbe6015f67b15f8fe8289ede34f58efa580f7c"},
};

}  // namespace crypto_vectors
