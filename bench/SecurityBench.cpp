// The built-in crypto back-end against OpenSSL's, side by side.
#include <benchmark/benchmark.h>

#include <fstream>
#include <iterator>

#include "ua/security/Hmac.h"
#include "ua/security/Random.h"
#include "ua/security/SecurityBackend.h"

namespace {

using namespace vela::ua::security;

Bytes ReadFile(const std::string& name) {
    std::ifstream in(std::string(VELA_KEYS_DIR) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::unique_ptr<uaMessageSecurityImpl> Loaded(TuaSecurityLib lib, int bits) {
    auto b = CreateSecurityBackend(lib);
    const Bytes cert = ReadFile("cert" + std::to_string(bits) + ".der");
    b->Asym().LoadPublicCertificate(cert, TCertificateUsage::cuUseRemoteKey);
    b->Asym().LoadPrivateKey(ReadFile("key" + std::to_string(bits) + ".pem"), "");
    return b;
}

void RsaSign(benchmark::State& state, TuaSecurityLib lib, int bits) {
    auto b = Loaded(lib, bits);
    const Bytes data = RandomBytes(1024);
    for (auto _ : state) benchmark::DoNotOptimize(b->Asym().Sign_Rsa(TRSAPadding::rpPKCS, THashAlgorithm::SHA256, data));
}

void RsaDecrypt(benchmark::State& state, TuaSecurityLib lib, int bits) {
    auto b = Loaded(lib, bits);
    const size_t k = static_cast<size_t>(bits / 8), block = RSABlockSize(k, TRSAPadding::rpOAEP, THashAlgorithm::SHA1);
    b->Asym().initRSAEncrypt(TCertificateUsage::cuUseRemoteKey, TRSAPadding::rpOAEP, THashAlgorithm::SHA1);
    b->Asym().initRSADecrypt(TCertificateUsage::cuUseLocalKey, TRSAPadding::rpOAEP, THashAlgorithm::SHA1);
    const Bytes cipher = b->Asym().EncryptRsa(RandomBytes(block), block, k);
    for (auto _ : state) benchmark::DoNotOptimize(b->Asym().DecryptRsa(cipher, block, k));
}

void RsaVerify(benchmark::State& state, TuaSecurityLib lib, int bits) {
    auto b = Loaded(lib, bits);
    const Bytes data = RandomBytes(1024);
    const Bytes signature = b->Asym().Sign_Rsa(TRSAPadding::rpPKCS, THashAlgorithm::SHA256, data);
    for (auto _ : state) benchmark::DoNotOptimize(b->Asym().Verify_Rsa(TRSAPadding::rpPKCS, THashAlgorithm::SHA256, data, signature));
}

void RsaEncrypt(benchmark::State& state, TuaSecurityLib lib, int bits) {
    auto b = Loaded(lib, bits);
    const size_t k = static_cast<size_t>(bits / 8), block = RSABlockSize(k, TRSAPadding::rpOAEP, THashAlgorithm::SHA1);
    b->Asym().initRSAEncrypt(TCertificateUsage::cuUseRemoteKey, TRSAPadding::rpOAEP, THashAlgorithm::SHA1);
    const Bytes plain = RandomBytes(block);
    for (auto _ : state) benchmark::DoNotOptimize(b->Asym().EncryptRsa(plain, block, k));
}

void Aes256Cbc64k(benchmark::State& state, TuaSecurityLib lib, bool encrypt) {
    auto b = CreateSecurityBackend(lib);
    const Bytes key = RandomBytes(32), iv = RandomBytes(16), in = RandomBytes(65536);
    Bytes out(in.size());
    b->Sym().InitEncryptSymm(TSymmAlgorithm::saAES256, key, iv);
    b->Sym().InitDecryptSymm(TSymmAlgorithm::saAES256, key, iv);
    for (auto _ : state) {
        if (encrypt) b->Sym().encryptSymm(in, out);
        else b->Sym().DecryptSymm(in, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.size()));
}

void HmacSha256Chunk(benchmark::State& state, TuaSecurityLib lib) {
    auto b = CreateSecurityBackend(lib);
    const Bytes key = RandomBytes(32), chunk = RandomBytes(8192);
    b->Sym().InitSymmetricSign(THashAlgorithm::SHA256, key);
    for (auto _ : state) benchmark::DoNotOptimize(b->Sym().SymmetricSign(chunk));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * chunk.size()));
}

void Sha256_64k(benchmark::State& state) {
    const Bytes data = RandomBytes(65536);
    for (auto _ : state) benchmark::DoNotOptimize(Sha256::Digest(data));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}

#ifdef VELA_HAVE_OPENSSL
}  // namespace
#include <openssl/evp.h>
namespace {
void Sha256_64k_OpenSsl(benchmark::State& state) {
    const Bytes data = RandomBytes(65536);
    unsigned char out[32];
    unsigned int length = 0;
    for (auto _ : state) {
        EVP_Digest(data.data(), data.size(), out, &length, EVP_sha256(), nullptr);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(Sha256_64k_OpenSsl);
#endif

void DeriveBasic256Sha256(benchmark::State& state) {
    const Bytes clientNonce = RandomBytes(32), serverNonce = RandomBytes(32);
    for (auto _ : state) {
        benchmark::DoNotOptimize(PSHA_impl(THashAlgorithm::SHA256, {}, serverNonce, clientNonce, 0, 80));
        benchmark::DoNotOptimize(PSHA_impl(THashAlgorithm::SHA256, {}, clientNonce, serverNonce, 0, 80));
    }
}

BENCHMARK_CAPTURE(RsaSign, native_2048, TuaSecurityLib::uaSNative, 2048);
BENCHMARK_CAPTURE(RsaDecrypt, native_2048, TuaSecurityLib::uaSNative, 2048);
BENCHMARK_CAPTURE(RsaVerify, native_2048, TuaSecurityLib::uaSNative, 2048);
BENCHMARK_CAPTURE(RsaEncrypt, native_2048, TuaSecurityLib::uaSNative, 2048);
BENCHMARK_CAPTURE(RsaSign, native_4096, TuaSecurityLib::uaSNative, 4096);
BENCHMARK_CAPTURE(RsaDecrypt, native_4096, TuaSecurityLib::uaSNative, 4096);
BENCHMARK_CAPTURE(RsaVerify, native_4096, TuaSecurityLib::uaSNative, 4096);
BENCHMARK_CAPTURE(RsaEncrypt, native_4096, TuaSecurityLib::uaSNative, 4096);
BENCHMARK_CAPTURE(Aes256Cbc64k, native_encrypt, TuaSecurityLib::uaSNative, true);
BENCHMARK_CAPTURE(Aes256Cbc64k, native_decrypt, TuaSecurityLib::uaSNative, false);
BENCHMARK_CAPTURE(HmacSha256Chunk, native, TuaSecurityLib::uaSNative);
#ifdef VELA_HAVE_OPENSSL
BENCHMARK_CAPTURE(RsaSign, openssl_2048, TuaSecurityLib::uaSOpenSSL, 2048);
BENCHMARK_CAPTURE(RsaDecrypt, openssl_2048, TuaSecurityLib::uaSOpenSSL, 2048);
BENCHMARK_CAPTURE(RsaVerify, openssl_2048, TuaSecurityLib::uaSOpenSSL, 2048);
BENCHMARK_CAPTURE(RsaEncrypt, openssl_2048, TuaSecurityLib::uaSOpenSSL, 2048);
BENCHMARK_CAPTURE(RsaSign, openssl_4096, TuaSecurityLib::uaSOpenSSL, 4096);
BENCHMARK_CAPTURE(RsaDecrypt, openssl_4096, TuaSecurityLib::uaSOpenSSL, 4096);
BENCHMARK_CAPTURE(RsaVerify, openssl_4096, TuaSecurityLib::uaSOpenSSL, 4096);
BENCHMARK_CAPTURE(RsaEncrypt, openssl_4096, TuaSecurityLib::uaSOpenSSL, 4096);
BENCHMARK_CAPTURE(Aes256Cbc64k, openssl_encrypt, TuaSecurityLib::uaSOpenSSL, true);
BENCHMARK_CAPTURE(Aes256Cbc64k, openssl_decrypt, TuaSecurityLib::uaSOpenSSL, false);
BENCHMARK_CAPTURE(HmacSha256Chunk, openssl, TuaSecurityLib::uaSOpenSSL);
#endif
BENCHMARK(Sha256_64k);
BENCHMARK(DeriveBasic256Sha256);

}  // namespace
