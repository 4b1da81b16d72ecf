// CRC-32 check values, the multi-byte update against the one-byte step, and
// the decryption key schedule against archives that zip and 7z encrypt here.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "codec/crc32.h"
#include "codec/crypt.h"
#include "base/state.h"
#include "tests/codec/codec_support.h"

namespace {

uint32_t Crc(const std::string& s) {
  EnsureCrcTable();
  uint32_t crc = 0xFFFFFFFF;
  CrcUpdate((const uint8_t*)s.data(), (int32_t)s.size(), crc);
  return crc ^ 0xFFFFFFFF;
}

TEST(Crc32, StandardCheckValues) {
  EXPECT_EQ(Crc("123456789"), 0xCBF43926u);
  EXPECT_EQ(Crc(""), 0u);
  EXPECT_EQ(Crc("a"), 0xE8B7BE43u);
  EXPECT_EQ(Crc("The quick brown fox jumps over the lazy dog"), 0x414FA339u);
  EXPECT_EQ(Crc(std::string(32, '\0')), 0x190A55ADu);
  EXPECT_EQ(Crc(std::string(32, '\xFF')), 0xFF6CAB0Bu);
  EnsureCrcTable();
  EXPECT_EQ(State.CrcTable[1], 0x77073096u);
  EXPECT_EQ(State.CrcTable[255], 0x2D02EF8Du);
}

// The paths CrcUpdate can take on this processor: folding 256 bytes a step
// (where it has 512-bit carry-less multiplication), 64 bytes a step, tables.
enum CrcPath { WideFolding = CrcWideFolding, Folding = CrcFolding, Tables = CrcTables };

class CrcPaths : public ::testing::TestWithParam<CrcPath> {
 protected:
  void Update(const uint8_t* buffer, int32_t length, uint32_t& crc) {
    CrcUpdateBy((CrcWay)GetParam(), buffer, length, crc);
  }
};

TEST_P(CrcPaths, UpdateEqualsTheOneByteStepAtEveryLengthAndAlignment) {
  EnsureCrcTable();
  std::mt19937 rng(7);
  std::vector<uint8_t> data(1200);
  for (auto& b : data) b = (uint8_t)rng();
  std::vector<int> lengths;
  for (int length = 0; length < 200; length++) lengths.push_back(length);
  for (int length = 200; length < 1190; length += 7) lengths.push_back(length);
  for (int offset = 0; offset < 8; offset++) {
    for (int length : lengths) {
      uint32_t stepped = 0x12345678u + (uint32_t)length;
      uint32_t updated = stepped;
      for (int i = 0; i < length; i++) stepped = CrcStep(data[offset + i], stepped);
      Update(data.data() + offset, length, updated);
      ASSERT_EQ(updated, stepped) << "offset " << offset << " length " << length;
    }
  }
  // Split updates carry the running value; zero and negative lengths do nothing.
  std::string text(100000, 'x');
  for (size_t i = 0; i < text.size(); i++) text[i] = (char)(rng() & 0xFF);
  uint32_t whole = 0xFFFFFFFF, split = 0xFFFFFFFF;
  Update((const uint8_t*)text.data(), (int32_t)text.size(), whole);
  Update((const uint8_t*)text.data(), 33333, split);
  Update((const uint8_t*)text.data() + 33333, 0, split);
  Update((const uint8_t*)text.data() + 33333, -5, split);
  Update((const uint8_t*)text.data() + 33333, (int32_t)text.size() - 33333, split);
  EXPECT_EQ(whole, split);
  EXPECT_EQ(whole ^ 0xFFFFFFFF, ZlibCrc(text));
}

INSTANTIATE_TEST_SUITE_P(Crc32, CrcPaths, ::testing::Values(WideFolding, Folding, Tables),
                         [](const ::testing::TestParamInfo<CrcPath>& info) {
                           return std::string(info.param == WideFolding ? "WideFolding"
                                              : info.param == Folding   ? "Folding"
                                                                        : "Tables");
                         });

// ---- key schedule -----------------------------------------------------------

struct ZipMember {
  std::string name;
  uint16_t flags, method, time;
  uint32_t crc, compressedSize, size, dataOffset;
};

uint16_t U16(const std::string& d, size_t at) { return (uint8_t)d[at] | (uint8_t)d[at + 1] << 8; }
uint32_t U32(const std::string& d, size_t at) { return U16(d, at) | (uint32_t)U16(d, at + 2) << 16; }

// Reads the members from the central directory (sizes may be missing from
// local headers that are followed by data descriptors).
std::vector<ZipMember> ReadZip(const std::string& zip) {
  size_t end = zip.rfind(std::string("PK\x05\x06", 4));
  std::vector<ZipMember> members;
  if (end == std::string::npos) return members;
  size_t at = U32(zip, end + 16);
  for (int n = U16(zip, end + 10); n > 0; n--) {
    ZipMember m;
    m.flags = U16(zip, at + 8);
    m.method = U16(zip, at + 10);
    m.time = U16(zip, at + 12);
    m.crc = U32(zip, at + 16);
    m.compressedSize = U32(zip, at + 20);
    m.size = U32(zip, at + 24);
    uint16_t nameLength = U16(zip, at + 28);
    m.name = zip.substr(at + 46, nameLength);
    uint32_t local = U32(zip, at + 42);
    m.dataOffset = local + 30 + U16(zip, local + 26) + U16(zip, local + 28);
    at += 46 + nameLength + U16(zip, at + 30) + U16(zip, at + 32);
    members.push_back(m);
  }
  return members;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class EncryptedArchives : public ::testing::Test {
 protected:
  std::string dir;
  std::string text, binary;

  void SetUp() override {
    EnsureCrcTable();
    char pattern[] = "/tmp/tolvane-crypt-XXXXXX";
    dir = mkdtemp(pattern);
    for (int i = 0; i < 3000; i++) text += "line " + std::to_string(i * 7919 % 1000) + " of text\n";
    std::mt19937 rng(3);
    for (int i = 0; i < 70000; i++) binary.push_back((char)(rng() & 0xFF));
    std::ofstream(dir + "/text.txt", std::ios::binary) << text;
    std::ofstream(dir + "/random.bin", std::ios::binary) << binary;
    std::ofstream(dir + "/empty.txt", std::ios::binary);
  }
  void TearDown() override { system(("rm -rf " + dir).c_str()); }

  std::string Make(const std::string& command, const std::string& zip) {
    std::string full = "cd " + dir + " && " + command + " >/dev/null 2>&1";
    EXPECT_EQ(system(full.c_str()), 0) << full;
    return ReadFile(dir + "/" + zip);
  }

  // Checks every member with the right password, decodes it and compares.
  // Collects the flags seen, so callers can tell which check byte was used.
  void CheckAll(const std::string& zip, const char* password,
                std::vector<uint16_t>* flagsSeenOut = nullptr) {
    std::vector<uint16_t> scratch;
    std::vector<uint16_t>& flagsSeen = flagsSeenOut ? *flagsSeenOut : scratch;
    std::vector<ZipMember> members = ReadZip(zip);
    EXPECT_EQ(members.size(), 3u);
    for (const ZipMember& m : members) {
      SCOPED_TRACE(m.name);
      const std::string& original =
          m.name == "text.txt" ? text : m.name == "random.bin" ? binary : std::string();
      ASSERT_TRUE(m.flags & 1);
      flagsSeen.push_back(m.flags);
      uint8_t header[24];
      memcpy(header + 12, zip.data() + m.dataOffset, 12);
      uint8_t kept[12];
      memcpy(kept, header + 12, 12);

      // A wrong password passes the one-byte check only by chance.
      int passed = 0;
      for (int i = 0; i < 64; i++) {
        std::string wrong = "wrong" + std::to_string(i);
        passed += CheckPassword(header, 12, m.flags, wrong.c_str(), m.time, m.crc);
      }
      EXPECT_LT(passed, 6);
      EXPECT_FALSE(CheckPassword(header, 12, m.flags, "", m.time, m.crc));
      EXPECT_EQ(memcmp(kept, header + 12, 12), 0);   // the second half is never changed

      ASSERT_TRUE(CheckPassword(header, 12, m.flags, password, m.time, m.crc));
      uint8_t check = (m.flags & 8) ? (uint8_t)(m.time >> 8) : (uint8_t)(m.crc >> 24);
      EXPECT_EQ(header[11], check);
      std::string data = zip.substr(m.dataOffset + 12, m.compressedSize - 12);
      Decoded d = m.method == 8 ? Inflate(data, m.flags) : CopyStored(data, m.flags);
      EXPECT_EQ(d.out.size(), original.size());
      EXPECT_TRUE(d.out == original);
      EXPECT_EQ(d.crc, m.crc);
    }
  }
};

TEST_F(EncryptedArchives, ZipWithPasswordChecksAgainstTheTimeByte) {
  std::string zip = Make("zip -P 'Pass word!' a.zip text.txt random.bin empty.txt", "a.zip");
  std::vector<uint16_t> flags;
  CheckAll(zip, "Pass word!", &flags);
  ASSERT_EQ(flags.size(), 3u);
  for (uint16_t f : flags) EXPECT_TRUE(f & 8);
  // Stored members as well (the random data and -0).
  std::string stored = Make("zip -0 -P pw b.zip text.txt random.bin empty.txt", "b.zip");
  CheckAll(stored, "pw");
}

TEST_F(EncryptedArchives, SevenZipWithZipCryptoChecksAgainstTheCrcByte) {
  std::string zip =
      Make("7z a -tzip -mem=ZipCrypto -pSecr3t a.zip text.txt random.bin empty.txt", "a.zip");
  std::vector<uint16_t> flags;
  CheckAll(zip, "Secr3t", &flags);
  ASSERT_EQ(flags.size(), 3u);
  for (uint16_t f : flags) EXPECT_FALSE(f & 8);
  std::string stored =
      Make("7z a -tzip -mx=0 -mem=ZipCrypto -pSecr3t b.zip text.txt random.bin empty.txt",
           "b.zip");
  CheckAll(stored, "Secr3t");
}

TEST(Crypt, CheckByteFollowsFlagBitThree) {
  EnsureCrcTable();
  // Encrypt a header whose last byte is 0xAB with known keys, then check it
  // against a time and a CRC whose high bytes differ.
  uint8_t plain[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0xAB};
  uint8_t header[24];
  InitKeys("key");
  for (int i = 0; i < 12; i++) {
    header[12 + i] = plain[i] ^ DecryptByte();
    UpdateKeys(plain[i]);
  }
  uint32_t afterHeader[3] = {State.Key0, State.Key1, State.Key2};
  EXPECT_TRUE(CheckPassword(header, 12, 8, "key", 0xAB00, 0x11000000));
  EXPECT_EQ(memcmp(header, plain, 12), 0);
  EXPECT_EQ(State.Key0, afterHeader[0]);
  EXPECT_EQ(State.Key1, afterHeader[1]);
  EXPECT_EQ(State.Key2, afterHeader[2]);
  EXPECT_FALSE(CheckPassword(header, 12, 0, "key", 0xAB00, 0x11000000));
  EXPECT_TRUE(CheckPassword(header, 12, 0, "key", 0x1100, 0xAB000000));
  EXPECT_FALSE(CheckPassword(header, 12, 8, "key", 0x1100, 0xAB000000));
  // An empty password leaves the keys alone.
  State.Key0 = 1;
  EXPECT_FALSE(CheckPassword(header, 12, 8, "", 0xAB00, 0));
  EXPECT_EQ(State.Key0, 1u);
}

}  // namespace
