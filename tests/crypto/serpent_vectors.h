// Serpent known answers from the NESSIE test vector files Serpent-128-128, Serpent-192-128 and
// Serpent-256-128 ("verified.test-vectors", sets 1, 2, 3 and 8). NESSIE writes key, plaintext and
// ciphertext as byte strings for an implementation that reads every value little-endian: byte 0
// is the least significant byte.
// Our cipher reads the key big-endian and the block little-endian, so a NESSIE row is our
// encryption of the reversed key bytes with the plaintext and ciphertext as written.
// serpent_oracle_test.cpp runs every row through libgcrypt as written, which proves the mapping.
#pragma once

namespace cipher_test {

struct NessieSerpentVector {
    const char* name;
    const char* key;
    const char* plaintext;
    const char* ciphertext;
};

inline constexpr NessieSerpentVector NESSIE_SERPENT_VECTORS[] = {
    {"128, set 1, vector 0", "80000000000000000000000000000000", "00000000000000000000000000000000",
     "264e5481eff42a4606abda06c0bfda3d"},
    {"128, set 1, vector 1", "40000000000000000000000000000000", "00000000000000000000000000000000",
     "4a231b3bc727993407ac6ec8350e8524"},
    {"128, set 3, vector 0", "00000000000000000000000000000000", "00000000000000000000000000000000",
     "3620b17ae6a993d09618b8768266bae9"},
    {"128, set 3, vector 217", "d9d9d9d9d9d9d9d9d9d9d9d9d9d9d9d9", "d9d9d9d9d9d9d9d9d9d9d9d9d9d9d9d9",
     "20ea07f19c8e93fda30f6b822ad5d486"},
    {"128, set 8, vector 0", "000102030405060708090a0b0c0d0e0f", "33b3dc87eddd9b0f6a1f407d14919365",
     "00112233445566778899aabbccddeeff"},
    {"128, set 8, vector 1", "2bd6459f82c5b300952c49104881ff48", "beb6c069393822d3be73ff30525ec43e",
     "ea024714ad5c4d84ea024714ad5c4d84"},
    {"192, set 1, vector 0", "800000000000000000000000000000000000000000000000", "00000000000000000000000000000000",
     "9e274ead9b737bb21efcfca548602689"},
    {"192, set 1, vector 3", "100000000000000000000000000000000000000000000000", "00000000000000000000000000000000",
     "bec1e37824cf721e5d87f6cb4ebfb9be"},
    {"192, set 1, vector 176", "000000000000000000000000000000000000000000008000", "00000000000000000000000000000000",
     "40520018c4ac2bba285aeeb9bcb58755"},
    {"192, set 8, vector 0", "000102030405060708090a0b0c0d0e0f1011121314151617", "4528caccb954d450655e8cfd71cbfac7",
     "00112233445566778899aabbccddeeff"},
    {"192, set 8, vector 1", "2bd6459f82c5b300952c49104881ff482bd6459f82c5b300", "e0208be278e21420c4b1b9747788a954",
     "ea024714ad5c4d84ea024714ad5c4d84"},
    {"256, set 1, vector 0", "8000000000000000000000000000000000000000000000000000000000000000",
     "00000000000000000000000000000000", "a223aa1288463c0e2be38ebd825616c0"},
    {"256, set 2, vector 127", "0000000000000000000000000000000000000000000000000000000000000000",
     "00000000000000000000000000000001", "ad86de83231c3203a86ae33b721eaa9f"},
    {"256, set 3, vector 1", "0101010101010101010101010101010101010101010101010101010101010101",
     "01010101010101010101010101010101", "ec9723b15b2a6489f84c4524fffc2748"},
    {"256, set 8, vector 0", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "3da46ffa6f4d6f30cd258333e5a61369", "00112233445566778899aabbccddeeff"},
    {"256, set 8, vector 1", "2bd6459f82c5b300952c49104881ff482bd6459f82c5b300952c49104881ff48",
     "677c8dfaa08071743fd2b415d1b28af2", "ea024714ad5c4d84ea024714ad5c4d84"},
};

}  // namespace cipher_test
