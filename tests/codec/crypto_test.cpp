// Known answers for the cryptography of WinZip AES entries: SHA-1 (FIPS
// 180-4 examples), HMAC-SHA1 (RFC 2202), PBKDF2-HMAC-SHA1 (RFC 6070) and AES
// encryption (FIPS-197 Appendix C, SP 800-38A F.1), and the reading of the
// AES extra field.
#include <gtest/gtest.h>

#include <string>

#include "base/state.h"
#include "codec/sha1.h"
#include "codec/winzip_aes.h"
#include "platform/aes.h"

namespace {

std::string Hex(const uint8_t* bytes, size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < length; i++) out += {digits[bytes[i] >> 4], digits[bytes[i] & 15]};
  return out;
}

std::string Bytes(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) out += (char)std::stoi(hex.substr(i, 2), nullptr, 16);
  return out;
}

const uint8_t* U8(const std::string& s) { return (const uint8_t*)s.data(); }

TEST(Sha1, DigestsWholeAndInPieces) {
  struct Case { std::string message, digest; };
  const Case cases[] = {
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
  };
  for (const Case& c : cases) {
    // Pieces of 1, 63, 64 and 130 bytes mix the buffered and the direct path.
    for (size_t piece : {c.message.size() + 1, (size_t)1, (size_t)63, (size_t)64, (size_t)130}) {
      Sha1 sha;
      Sha1Start(sha);
      for (size_t at = 0; at < c.message.size(); at += piece) {
        size_t n = std::min(piece, c.message.size() - at);
        Sha1Add(sha, U8(c.message) + at, (uint32_t)n);
      }
      uint8_t digest[Sha1Size];
      Sha1Finish(sha, digest);
      EXPECT_EQ(Hex(digest, Sha1Size), c.digest) << c.message.size() << " bytes in pieces of " << piece;
    }
  }
}

TEST(HmacSha1, Rfc2202) {
  struct Case { std::string key, data, code; };
  const Case cases[] = {
      {std::string(20, '\x0b'), "Hi There", "b617318655057264e28bc0b6fb378c8ef146be00"},
      {"Jefe", "what do ya want for nothing?", "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
      {std::string(20, '\xaa'), std::string(50, '\xdd'), "125d7342b9ac11cd91a39af48aa17b4f63f175d3"},
      {Bytes("0102030405060708090a0b0c0d0e0f10111213141516171819"), std::string(50, '\xcd'),
       "4c9007f4026250c6bc8414f9bf50c86c2d7235da"},
      {std::string(20, '\x0c'), "Test With Truncation", "4c1a03424b55e07fe7f27be1d58bb9324a9a5a04"},
      {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "aa4ae5e15272d00e95705637ce8a3b55ed402112"},
      {std::string(80, '\xaa'),
       "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
       "e8e99d0f45237d786d6bbaa7965c7808bbff1a91"},
  };
  for (const Case& c : cases) {
    Hmac mac;
    HmacStart(mac, U8(c.key), (uint32_t)c.key.size());
    Sha1Add(mac.inner, U8(c.data), (uint32_t)c.data.size());
    uint8_t code[Sha1Size];
    HmacFinish(mac, code);
    EXPECT_EQ(Hex(code, Sha1Size), c.code) << c.data;
  }
}

TEST(Pbkdf2Sha1, Rfc6070) {
  struct Case { std::string password, salt; uint32_t iterations; std::string key; };
  const Case cases[] = {
      {"password", "salt", 1, "0c60c80f961f0e71f3a9b524af6012062fe037a6"},
      {"password", "salt", 2, "ea6c014dc72d6f8ccd1ed92ace1d41f0d8de8957"},
      {"password", "salt", 4096, "4b007901b765489abead49d926f721d065a429c1"},
      {"passwordPASSWORDpassword", "saltSALTsaltSALTsaltSALTsaltSALTsalt", 4096,
       "3d2eec4fe41c849b80c8d83662c0e44a8b291a964cf2f07038"},
      {std::string("pass\0word", 9), std::string("sa\0lt", 5), 4096, "56fa6aa75548099dcc37d7f03425e0c3"},
  };
  for (const Case& c : cases) {
    uint8_t key[32];
    uint32_t length = (uint32_t)c.key.size() / 2;
    Pbkdf2Sha1(U8(c.password), (uint32_t)c.password.size(), U8(c.salt), (uint32_t)c.salt.size(),
               c.iterations, key, length);
    EXPECT_EQ(Hex(key, length), c.key) << c.password << " " << c.iterations;
  }
}

TEST(Aes, EncryptsKnownBlocks) {
  struct Case { std::string key, plain, cipher; };
  const std::string fips = "00112233445566778899aabbccddeeff";
  const std::string sp1 = "6bc1bee22e409f96e93d7e117393172a", sp4 = "f69f2445df4f9b17ad2b417be66c3710";
  const Case cases[] = {
      {"000102030405060708090a0b0c0d0e0f", fips, "69c4e0d86a7b0430d8cdb78070b4c55a"},
      {"000102030405060708090a0b0c0d0e0f1011121314151617", fips, "dda97ca4864cdfe06eaf70a0ec0d7191"},
      {"000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f", fips,
       "8ea2b7ca516745bfeafc49904b496089"},
      {"2b7e151628aed2a6abf7158809cf4f3c", sp1, "3ad77bb40d7a3660a89ecaf32466ef97"},
      {"2b7e151628aed2a6abf7158809cf4f3c", sp4, "7b0c785e27e8ad3f8223207104725dd4"},
      {"8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b", sp1, "bd334f1d6e45f25ff712a214571fa5cc"},
      {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", sp1,
       "f3eed1bdb5d2a03c064b5a7e3db181f8"},
      {"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4", sp4,
       "23304b7a39f9f3ff067d8d8f9e24ecc7"},
  };
  for (const Case& c : cases) {
    std::string key = Bytes(c.key), block = Bytes(c.plain);
    AesKey expanded;
    AesExpandKey(expanded, U8(key), (uint32_t)key.size());
    uint8_t out[AesBlockSize];
    AesEncryptBlock(expanded, U8(block), out);
    EXPECT_EQ(Hex(out, AesBlockSize), c.cipher) << c.key;
    std::string inPlace = block;   // in and out may be the same block
    AesEncryptBlock(expanded, (const uint8_t*)inPlace.data(), (uint8_t*)&inPlace[0]);
    EXPECT_EQ(Hex(U8(inPlace), AesBlockSize), c.cipher) << c.key;
  }
}

TEST(WinZipAes, ReadsTheExtraField) {
  struct Case { std::string extra; bool found; AesEntryInfo info; };
  const Case cases[] = {
      {"0199070002004145030800", true, {2, 3, 8}},
      {"0199070001004145010000", true, {1, 1, 0}},
      {"5455050001020304050199070001004145020800", true, {1, 2, 8}},  // after a time field
      {"019907000200414503080000", true, {2, 3, 8}},                  // trailing byte
      {"01990700020041450308", false, {}},                            // cut by the extra's end
      {"0199070003004145030800", true, {3, 3, 8}},                    // held to the CRC
      {"0199070002004146030800", false, {}},                          // vendor "AF"
      {"0199070002004145000800", false, {}},                          // strength 0
      {"0199070002004145040800", false, {}},                          // strength 4
      {"5455050001020304", false, {}},
      {"", false, {}},
  };
  for (const Case& c : cases) {
    std::string extra = Bytes(c.extra);
    State.AesEntry = AesEntryInfo{9, 9, 9};
    ASSERT_EQ(FindAesExtra(U8(extra), (uint32_t)extra.size(), State.AesEntry), c.found) << c.extra;
    if (!c.found) continue;
    EXPECT_EQ(State.AesEntry.version, c.info.version) << c.extra;
    EXPECT_EQ(State.AesEntry.strength, c.info.strength) << c.extra;
    EXPECT_EQ(State.AesEntry.method, c.info.method) << c.extra;
  }
}

}  // namespace
