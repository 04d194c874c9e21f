#include <gtest/gtest.h>

#include "HexUtil.h"
#include "base/Exception.h"
#include "ua/security/Aes.h"
#include "ua/security/Hmac.h"
#include "ua/security/Random.h"

namespace vela::ua::security {
namespace {

// Both the processor's instructions and the portable code must give the published results.
class BothPaths : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        UseShaExtensions(GetParam());
        UseAesExtensions(GetParam());
    }
    void TearDown() override {
        UseShaExtensions(true);
        UseAesExtensions(true);
    }
};

INSTANTIATE_TEST_SUITE_P(Paths, BothPaths, ::testing::Values(true, false),
                         [](const auto& p) { return p.param ? "extensions" : "portable"; });

const std::string k448 = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";

TEST_P(BothPaths, Sha1FipsExamples) {
    EXPECT_EQ(HashOf(THashAlgorithm::SHA1, Text("abc")), Hex("a9993e364706816aba3e25717850c26c9cd0d89d"));
    EXPECT_EQ(HashOf(THashAlgorithm::SHA1, Text(k448)), Hex("84983e441c3bd26ebaae4aa1f95129e5e54670f1"));
    Sha1 million;
    const std::vector<uint8_t> chunk(1000, 'a');
    for (int i = 0; i < 1000; ++i) million.Update(chunk);
    const auto d = million.Final();
    EXPECT_EQ(std::vector<uint8_t>(d.begin(), d.end()), Hex("34aa973cd4c4daa4f61eeb2bdbad27316534016f"));
}

TEST_P(BothPaths, Sha256FipsExamples) {
    EXPECT_EQ(HashOf(THashAlgorithm::SHA256, Text("abc")),
              Hex("ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"));
    EXPECT_EQ(HashOf(THashAlgorithm::SHA256, Text(k448)),
              Hex("248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"));
    EXPECT_EQ(HashOf(THashAlgorithm::SHA256, {}), Hex("e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"));
    Sha256 million;
    const std::vector<uint8_t> chunk(999, 'a');  // odd pieces cross the block boundaries
    for (int i = 0; i < 1000; ++i) million.Update(chunk);
    million.Update(std::vector<uint8_t>(1000, 'a'));
    const auto d = million.Final();
    EXPECT_EQ(std::vector<uint8_t>(d.begin(), d.end()), Hex("cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"));
}

TEST_P(BothPaths, AesCbcSp80038a) {
    const auto iv = Hex("000102030405060708090a0b0c0d0e0f");
    const auto plain = Hex("6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
                           "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710");
    struct Case {
        const char* key;
        const char* cipher;
    };
    for (const Case& c : {Case{"2b7e151628aed2a6abf7158809cf4f3c",
                               "7649abac8119b246cee98e9b12e9197d 5086cb9b507219ee95db113a917678b2"
                               "73bed6b8e3c1743b7116e69e22229516 3ff1caa1681fac09120eca307586e1a7"},
                          Case{"603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4",
                               "f58c4c04d6e5f1ba779eabfb5f7bfbd6 9cfc4e967edb808d679f777bc6702c7d"
                               "39f23369a9d9bacfa530e26304231461 b2eb05e2c39be9fcda6c19078c6a9d1b"}}) {
        const AesCbc aes(Hex(c.key));
        std::vector<uint8_t> out(plain.size());
        aes.Encrypt(iv, plain, out);
        EXPECT_EQ(out, Hex(c.cipher)) << c.key;
        aes.Decrypt(iv, out, out);  // in place
        EXPECT_EQ(out, plain);
    }
}

TEST(Aes, BadSizesRaise) {
    EXPECT_THROW(AesCbc(Hex("00")), vela::Exception);
    const AesCbc aes(std::vector<uint8_t>(16, 1));
    std::vector<uint8_t> out(32);
    EXPECT_THROW(aes.Encrypt(std::vector<uint8_t>(16), std::vector<uint8_t>(15), out), vela::Exception);
    EXPECT_THROW(aes.Decrypt(std::vector<uint8_t>(8), std::vector<uint8_t>(16), out), vela::Exception);
}

struct HmacCase {
    THashAlgorithm hash;
    std::vector<uint8_t> key;
    std::vector<uint8_t> data;
    const char* mac;
};

TEST(Hmac, Rfc2202AndRfc4231) {
    const std::vector<HmacCase> cases = {
        {THashAlgorithm::SHA1, std::vector<uint8_t>(20, 0x0b), Text("Hi There"), "b617318655057264e28bc0b6fb378c8ef146be00"},
        {THashAlgorithm::SHA1, Text("Jefe"), Text("what do ya want for nothing?"), "effcdf6ae5eb2fa2d27416d5f184df9c259a7c79"},
        {THashAlgorithm::SHA256, std::vector<uint8_t>(20, 0x0b), Text("Hi There"),
         "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
        {THashAlgorithm::SHA256, Text("Jefe"), Text("what do ya want for nothing?"),
         "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
        {THashAlgorithm::SHA256, std::vector<uint8_t>(131, 0xaa),
         Text("Test Using Larger Than Block-Size Key - Hash Key First"),
         "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
    };
    for (const auto& c : cases) {
        const THMAC hmac(c.hash, c.key);
        EXPECT_EQ(hmac.Compute(c.data), Hex(c.mac)) << c.mac;
        EXPECT_EQ(hmac.Compute(c.data), Hex(c.mac));  // the prepared state is reused, not consumed
    }
}

TEST(PSha, Tls12PrfSha256) {
    const auto secret = Hex("9bbe436ba940f017b17652849a71db35");
    const auto seed = Hex("a0ba9f936cda311827a6f796ffd5198c");
    const auto expected = Hex(
        "e3f229ba727be17b8d122620557cd453c2aab21d07c3d495329b52d4e61edb5a6b301791e90d35c9c9a46b4e14baf9af0fa0"
        "22f7077def17abfd3797c0564bab4fbc91666e9def9b97fce34f796789baa48082d122ee42c5a72e5a5110fff70187347b66");
    EXPECT_EQ(PSHA_impl(THashAlgorithm::SHA256, Text("test label"), secret, seed, 0, 100), expected);
    const auto skipped = PSHA_impl(THashAlgorithm::SHA256, Text("test label"), secret, seed, 10, 20);
    EXPECT_EQ(skipped, std::vector<uint8_t>(expected.begin() + 10, expected.begin() + 30));
}

TEST(PSha, KeyMaterialForBasic128Rsa15IsFortyEightBytes) {
    const auto out = PSHA_impl(THashAlgorithm::SHA1, {}, std::vector<uint8_t>(16, 1), std::vector<uint8_t>(16, 2), 0, 48);
    EXPECT_EQ(out.size(), 48u);
}

TEST(Random, FullRangeAndFresh) {
    const auto a = RandomBytes(4096);
    const auto b = RandomBytes(4096);
    EXPECT_NE(a, b);
    bool high = false, zero = false;
    for (uint8_t x : a) high |= x >= 0x80, zero |= x == 0;
    EXPECT_TRUE(high);
    EXPECT_TRUE(zero);
    EXPECT_TRUE(ConstantTimeEquals(a, a));
    EXPECT_FALSE(ConstantTimeEquals(a, b));
    EXPECT_FALSE(ConstantTimeEquals(a, std::vector<uint8_t>(a.begin(), a.end() - 1)));
}

}  // namespace
}  // namespace vela::ua::security

namespace vela::ua::security {
namespace {

TEST_P(BothPaths, LongCbcRunsMatchBlockByBlock) {
    // enough blocks for every lane width, in place and not, against a block-at-a-time reference
    const AesCbc aes(RandomBytes(32));
    const Bytes iv = RandomBytes(16), plain = RandomBytes(16 * 37);
    Bytes cipher(plain.size());
    aes.Encrypt(iv, plain, cipher);
    Bytes chained(plain.size()), block(16), previous = iv;
    for (size_t b = 0; b < plain.size(); b += 16) {
        aes.Encrypt(previous, std::span<const uint8_t>(plain.data() + b, 16), block);
        std::copy(block.begin(), block.end(), chained.begin() + static_cast<std::ptrdiff_t>(b));
        previous = block;
    }
    EXPECT_EQ(cipher, chained);
    Bytes out(plain.size());
    aes.Decrypt(iv, cipher, out);
    EXPECT_EQ(out, plain);
    aes.Decrypt(iv, cipher, cipher);
    EXPECT_EQ(cipher, plain);
}

}  // namespace
}  // namespace vela::ua::security
