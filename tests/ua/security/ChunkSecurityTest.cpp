#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "ua/security/ChunkSecurity.h"
#include "ua/security/Random.h"

namespace vela::ua::security {
namespace {

using P = TuaSecurePolicy;
using M = TuaSecureMode;

Bytes ReadFile(const std::string& name) {
    std::ifstream in(std::string(VELA_KEYS_DIR) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// message header "MSGF" + size, channel id 7, token id; then sequence header and body
Bytes SymmetricChunk(uint32_t tokenId, const Bytes& body) {
    Bytes chunk = {'M', 'S', 'G', 'F', 0, 0, 0, 0, 7, 0, 0, 0};
    for (int i = 0; i < 4; ++i) chunk.push_back(static_cast<uint8_t>(tokenId >> (8 * i)));
    for (int i = 0; i < 8; ++i) chunk.push_back(static_cast<uint8_t>(i));  // sequence header
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
}

uint32_t SizeField(const Bytes& chunk) {
    return uint32_t{chunk[4]} | uint32_t{chunk[5]} << 8 | uint32_t{chunk[6]} << 16 | uint32_t{chunk[7]} << 24;
}

TEST(Policies, UrisAndTests) {
    EXPECT_EQ(uaSecurityPolicies::StringToUaSecurityPolicy("http://opcfoundation.org/UA/SecurityPolicy#Basic256Sha256"),
              P::uaSPBasic256Sha256);
    EXPECT_EQ(uaSecurityPolicies::StringToUaSecurityPolicy("http://example.com/unknown"), P::uaSPNone);
    EXPECT_EQ(uaSecurityPolicies::StringToUaSecurityPolicy("http://opcfoundation.org/UA/SecurityPolicy#basic256"), P::uaSPNone);
    EXPECT_TRUE(uaSecurityPolicies::HasNoSecurity(""));
    EXPECT_TRUE(uaSecurityPolicies::HasNoSecurity("http://opcfoundation.org/UA/SecurityPolicy#None"));
    EXPECT_FALSE(uaSecurityPolicies::HasSecurityPolicy(P::uaSPNone));
    EXPECT_TRUE(uaSecurityPolicies::HasSecurityPolicy(P::uaSPBasic128Rsa15));
    EXPECT_EQ(uaSecurityPolicies::uaSecurityPolicyToString(P::uaSPNULL), "");
    EXPECT_EQ(uaSecurityPolicies::SelectPolicy("", "b"), "b");
    EXPECT_EQ(uaSecurityPolicies::SelectPolicy("a", "b"), "a");
    EXPECT_EQ(std::string(Policy(P::uaSPAes256_Sha256_RsaPss).encryptionAlgorithmUri),
              "http://opcfoundation.org/UA/security/rsa-oaep-sha2-256");
}

struct SymCase {
    P policy;
    M mode;
};

void PrintTo(const SymCase& c, std::ostream* os) { *os << static_cast<int>(c.policy) << "/" << static_cast<int>(c.mode); }

class SymmetricChunks : public ::testing::TestWithParam<SymCase> {
protected:
    void SetUp() override {
        client.SetPolicy(GetParam().policy, GetParam().mode);
        server.SetPolicy(GetParam().policy, GetParam().mode);
        Renew(1);
    }
    void Renew(uint32_t tokenId) {
        const size_t nonce = Policy(GetParam().policy).nonceSize;
        const Bytes clientNonce = RandomBytes(nonce), serverNonce = RandomBytes(nonce);
        client.IssueToken(7, tokenId, NowUtc(), 600000, clientNonce, serverNonce);
        server.IssueToken(7, tokenId, NowUtc(), 600000, clientNonce, serverNonce, true);
    }
    std::unique_ptr<uaMessageSecurityImpl> clientBackend = CreateNativeBackend(), serverBackend = CreateNativeBackend();
    uaSymmetricDelegate client{*clientBackend}, server{*serverBackend};
};

TEST_P(SymmetricChunks, RoundTripWithExactSizes) {
    for (size_t length : {size_t{0}, size_t{1}, size_t{15}, size_t{16}, size_t{1000}}) {
        const Bytes body = RandomBytes(length);
        Bytes chunk = SymmetricChunk(1, body);
        client.Protect(chunk, 16);
        EXPECT_EQ(SizeField(chunk), chunk.size());
        const size_t signature = client.SignatureSize();
        if (client.Encrypted()) EXPECT_EQ((chunk.size() - 16) % 16, 0u);
        else EXPECT_EQ(chunk.size(), 16 + 8 + length + signature);  // Sign-only: no padding
        const auto plain = server.Unprotect(chunk, 16);
        ASSERT_EQ(plain.size(), 8 + length);
        EXPECT_EQ(Bytes(plain.begin() + 8, plain.end()), body);
    }
}

TEST_P(SymmetricChunks, TamperedChunksAreRefused) {
    if (!client.Signed()) GTEST_SKIP() << "nothing protects the chunk";
    Bytes chunk = SymmetricChunk(1, RandomBytes(100));
    client.Protect(chunk, 16);
    chunk[40] ^= 0x01;
    EXPECT_THROW(server.Unprotect(chunk, 16), uaChunkError);
}

TEST_P(SymmetricChunks, PreviousTokenStillReadsAndOldTokensTimeOut) {
    Bytes old = SymmetricChunk(1, RandomBytes(50));
    client.Protect(old, 16);
    Renew(2);
    Bytes fresh = SymmetricChunk(2, RandomBytes(50));
    client.Protect(fresh, 16);
    EXPECT_EQ(server.Unprotect(old, 16).size(), 58u);  // with the previous token's keys
    EXPECT_EQ(server.Unprotect(fresh, 16).size(), 58u);
    Bytes unknown = SymmetricChunk(9, RandomBytes(10));
    try {
        server.Unprotect(unknown, 16);
        FAIL();
    } catch (const uaChunkError& e) {
        EXPECT_EQ(std::string(e.what()), "SecurityTokenId is not known. ChanneId=7, TokenId=9, CurrentTokenId=2, PreviousTokenId=1");
    }
    Bytes late = SymmetricChunk(2, RandomBytes(10));
    client.Protect(late, 16);
    const DateTime beyond = NowUtc() + 1.3 * 600000 / 86'400'000.0;
    try {
        server.Unprotect(late, 16, beyond);
        FAIL();
    } catch (const uaChunkError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("SecurityToken has timeouted. ", 0), 0u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Policies, SymmetricChunks,
    ::testing::Values(SymCase{P::uaSPNone, M::uaSNone}, SymCase{P::uaSPBasic128Rsa15, M::uaSSign},
                      SymCase{P::uaSPBasic128Rsa15, M::uaSSignAndEncrypt}, SymCase{P::uaSPBasic256, M::uaSSignAndEncrypt},
                      SymCase{P::uaSPBasic256Sha256, M::uaSSign}, SymCase{P::uaSPBasic256Sha256, M::uaSSignAndEncrypt},
                      SymCase{P::uaSPAes128_Sha256_RsaOaep, M::uaSSignAndEncrypt},
                      SymCase{P::uaSPAes256_Sha256_RsaPss, M::uaSSign},
                      SymCase{P::uaSPAes256_Sha256_RsaPss, M::uaSSignAndEncrypt}),
    [](const auto& p) { return "case" + std::to_string(p.index); });

TEST(KeyDerivation, SizesPerPolicy) {
    auto backend = CreateNativeBackend();
    uaSymmetricDelegate d(*backend);
    d.SetPolicy(P::uaSPBasic128Rsa15, M::uaSSignAndEncrypt);
    d.IssueToken(1, 1, NowUtc(), 1000, RandomBytes(16), RandomBytes(16));
    const auto& keys = d.CurrentToken()->fLocal;
    EXPECT_EQ(keys.fSigningKey.size() + keys.fEncryptingKey.size() + keys.fInitializationVector.size(), 48u);
    d.SetPolicy(P::uaSPAes128_Sha256_RsaOaep, M::uaSSignAndEncrypt);
    d.IssueToken(1, 2, NowUtc(), 1000, RandomBytes(32), RandomBytes(32));
    EXPECT_EQ(d.CurrentToken()->fLocal.fSigningKey.size(), 32u);
    EXPECT_EQ(d.CurrentToken()->fLocal.fEncryptingKey.size(), 16u);
    EXPECT_NE(d.CurrentToken()->fLocal.fSigningKey, d.CurrentToken()->fRemote.fSigningKey);
    EXPECT_EQ(d.PreviousToken()->tokenId, 1u);
}

// The client holds the 2048-bit pair, the server the 4096-bit one.
struct Side {
    std::unique_ptr<uaMessageSecurityImpl> backend;
    Bytes cert, remoteCert;
};

Side MakeSide(TuaSecurityLib lib, int local, int remote) {
    Side s{CreateSecurityBackend(lib), ReadFile("cert" + std::to_string(local) + ".der"),
           ReadFile("cert" + std::to_string(remote) + ".der")};
    s.backend->Asym().LoadPrivateKey(ReadFile("key" + std::to_string(local) + ".pem"), "");
    s.backend->Asym().LoadPublicCertificate(s.cert, TCertificateUsage::cuUseLocalKey);
    s.backend->Asym().LoadPublicCertificate(s.remoteCert, TCertificateUsage::cuUseRemoteKey);
    return s;
}

Bytes AsymmetricChunk(const uaAsymmetricDelegate& d, const Bytes& body, size_t& headerEnd) {
    Bytes chunk = {'O', 'P', 'N', 'F', 0, 0, 0, 0, 7, 0, 0, 0};
    const auto field = [&](std::span<const uint8_t> bytes) {
        const uint32_t n = static_cast<uint32_t>(bytes.size());
        for (int i = 0; i < 4; ++i) chunk.push_back(static_cast<uint8_t>(n >> (8 * i)));
        chunk.insert(chunk.end(), bytes.begin(), bytes.end());
    };
    field(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(d.SecurityPolicyUri().data()), d.SecurityPolicyUri().size()));
    field(d.SenderCertificate());
    field(d.ReceiverCertificateThumbprint());
    headerEnd = chunk.size();
    for (int i = 0; i < 8; ++i) chunk.push_back(static_cast<uint8_t>(i));
    chunk.insert(chunk.end(), body.begin(), body.end());
    return chunk;
}

class AsymmetricChunks : public ::testing::TestWithParam<P> {};

TEST_P(AsymmetricChunks, BothDirectionsWithDifferentKeySizes) {
    for (const auto& [clientLib, serverLib] : {std::pair{TuaSecurityLib::uaSNative, TuaSecurityLib::uaSNative}
#ifdef VELA_HAVE_OPENSSL
                                               , std::pair{TuaSecurityLib::uaSNative, TuaSecurityLib::uaSOpenSSL},
                                               std::pair{TuaSecurityLib::uaSOpenSSL, TuaSecurityLib::uaSNative}
#endif
         }) {
        Side clientSide = MakeSide(clientLib, 2048, 4096), serverSide = MakeSide(serverLib, 4096, 2048);
        uaAsymmetricDelegate clientWriter(*clientSide.backend, true), serverReader(*serverSide.backend, false);
        uaAsymmetricDelegate serverWriter(*serverSide.backend, true), clientReader(*clientSide.backend, false);
        clientWriter.SetPolicy(GetParam(), clientSide.cert, clientSide.remoteCert);
        clientReader.SetPolicy(GetParam(), clientSide.cert, clientSide.remoteCert);
        serverReader.SetPolicy(GetParam(), serverSide.cert, serverSide.remoteCert);
        serverWriter.SetPolicy(GetParam(), serverSide.cert, serverSide.remoteCert);
        EXPECT_EQ(clientWriter.KeySize(), 512u);
        EXPECT_TRUE(clientWriter.ExtraPadding());  // the 4096-bit server key takes two padding bytes
        EXPECT_FALSE(serverWriter.ExtraPadding());
        EXPECT_EQ(clientWriter.SignatureSize(), 256u);
        for (auto* pair : {&clientWriter, &serverWriter}) {
            auto& reader = pair == &clientWriter ? serverReader : clientReader;
            const Bytes body = RandomBytes(700);
            size_t headerEnd = 0;
            Bytes chunk = AsymmetricChunk(*pair, body, headerEnd);
            pair->Protect(chunk, headerEnd);
            EXPECT_EQ(SizeField(chunk), chunk.size());
            EXPECT_EQ((chunk.size() - headerEnd) % pair->KeySize(), 0u);
            Bytes tampered = chunk;
            const auto plain = reader.Unprotect(chunk, headerEnd);
            ASSERT_EQ(plain.size(), 8 + body.size());
            EXPECT_EQ(Bytes(plain.begin() + 8, plain.end()), body);
            tampered[headerEnd + 3] ^= 0x10;
            EXPECT_THROW(reader.Unprotect(tampered, headerEnd), uaChunkError);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Policies, AsymmetricChunks,
                         ::testing::Values(P::uaSPBasic128Rsa15, P::uaSPBasic256, P::uaSPBasic256Sha256,
                                           P::uaSPAes128_Sha256_RsaOaep, P::uaSPAes256_Sha256_RsaPss),
                         [](const auto& p) { return "policy" + std::to_string(static_cast<int>(p.param)); });

TEST(AsymmetricChunks, Basic256Sha256With2048BitKeys) {
    Side a = MakeSide(TuaSecurityLib::uaSNative, 2048, 2048);
    uaAsymmetricDelegate writer(*a.backend, true);
    writer.SetPolicy(P::uaSPBasic256Sha256, a.cert, a.remoteCert);
    EXPECT_EQ(writer.PlainBlockSize(), 214u);
    EXPECT_EQ(writer.KeySize(), 256u);
    EXPECT_EQ(writer.SignatureSize(), 256u);
    EXPECT_FALSE(writer.ExtraPadding());
    EXPECT_EQ(writer.ReceiverCertificateThumbprint().size(), 20u);
    EXPECT_THROW(writer.MaxBodySize(1200), uaChunkError);  // the certificate alone fills it
    EXPECT_GT(writer.MaxBodySize(65536), 0u);
}

// A chunk with the largest body must fill the send buffer without passing it, and one byte more
// must not fit: for every policy and mode, and buffer sizes that do and do not line up with the
// cipher blocks.
TEST(BodyLimits, TheLargestBodyFillsTheBufferAndOneMoreByteDoesNot) {
    const std::pair<P, M> cases[] = {{P::uaSPNone, M::uaSNone},
                                     {P::uaSPBasic128Rsa15, M::uaSSign},       {P::uaSPBasic128Rsa15, M::uaSSignAndEncrypt},
                                     {P::uaSPBasic256, M::uaSSign},            {P::uaSPBasic256, M::uaSSignAndEncrypt},
                                     {P::uaSPBasic256Sha256, M::uaSSign},      {P::uaSPBasic256Sha256, M::uaSSignAndEncrypt},
                                     {P::uaSPAes128_Sha256_RsaOaep, M::uaSSign}, {P::uaSPAes128_Sha256_RsaOaep, M::uaSSignAndEncrypt},
                                     {P::uaSPAes256_Sha256_RsaPss, M::uaSSign}, {P::uaSPAes256_Sha256_RsaPss, M::uaSSignAndEncrypt}};
    for (const auto& [policy, mode] : cases) {
        auto backend = CreateNativeBackend();
        uaSymmetricDelegate d(*backend);
        d.SetPolicy(policy, mode);
        const size_t nonce = Policy(policy).nonceSize;
        d.IssueToken(7, 1, NowUtc(), 600000, RandomBytes(nonce), RandomBytes(nonce));
        for (size_t buffer : {size_t{8192}, size_t{8196}, size_t{65535}, size_t{65536}, size_t{65521}}) {
            SCOPED_TRACE(std::to_string(static_cast<int>(policy)) + "/" + std::to_string(static_cast<int>(mode)) +
                         " buffer " + std::to_string(buffer));
            const size_t largest = d.MaxBodySize(buffer);
            Bytes chunk = SymmetricChunk(1, Bytes(largest, 0x5A));
            d.Protect(chunk, 16);
            EXPECT_LE(chunk.size(), buffer);
            Bytes over = SymmetricChunk(1, Bytes(largest + 1, 0x5A));
            d.Protect(over, 16);
            EXPECT_GT(over.size(), buffer);
        }
    }
}

TEST(BodyLimits, AsymmetricChunksFitTheBuffer) {
    const Bytes cert = ReadFile("cert2048.der"), remote = ReadFile("cert4096.der");
    for (P policy : {P::uaSPBasic128Rsa15, P::uaSPBasic256Sha256, P::uaSPAes256_Sha256_RsaPss}) {
        auto backend = CreateNativeBackend();
        backend->Asym().LoadPrivateKey(ReadFile("key2048.pem"), "");
        backend->Asym().LoadPublicCertificate(cert, TCertificateUsage::cuUseLocalKey);
        backend->Asym().LoadPublicCertificate(remote, TCertificateUsage::cuUseRemoteKey);
        uaAsymmetricDelegate writer(*backend, true);
        writer.SetPolicy(policy, cert, remote);
        for (size_t buffer : {size_t{8192}, size_t{65535}}) {
            const size_t largest = writer.MaxBodySize(buffer);
            size_t headerEnd = 0;
            Bytes chunk = AsymmetricChunk(writer, Bytes(largest, 0x33), headerEnd);
            writer.Protect(chunk, headerEnd);
            EXPECT_LE(chunk.size(), buffer) << static_cast<int>(policy);
            EXPECT_GT(chunk.size() + writer.KeySize(), buffer) << static_cast<int>(policy);  // no whole block wasted
        }
    }
}

}  // namespace
}  // namespace vela::ua::security
