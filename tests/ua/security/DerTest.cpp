#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>

#include "base/Exception.h"
#include "ua/security/Der.h"
#include "ua/security/X509.h"

namespace vela::ua::security {
namespace {

Bytes ReadFile(const std::string& name) {
    std::ifstream in(std::string(VELA_KEYS_DIR) + "/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// An OCTET STRING of n bytes behind the given length octets.
Bytes OctetString(const Bytes& length, size_t n) {
    Bytes b(1 + length.size() + n, 0xAB);
    b[0] = 0x04;
    std::copy(length.begin(), length.end(), b.begin() + 1);
    return b;
}

std::string HeaderError(const Bytes& der) {
    DERReader r(der);
    try {
        r.ReadHeader();
    } catch (const Exception& e) {
        return e.what();
    }
    return "";
}

TEST(DerLength, EveryShortestFormReads) {
    const struct {
        Bytes length;
        size_t n;
    } cases[] = {{{0x00}, 0}, {{0x7F}, 127}, {{0x81, 0x80}, 128}, {{0x81, 0xFF}, 255}, {{0x82, 0x01, 0x00}, 256},
                 {{0x83, 0x01, 0x00, 0x00}, 65536}};
    for (const auto& c : cases) {
        const Bytes der = OctetString(c.length, c.n);
        DERReader r(der);
        const DerHeader h = r.ReadHeader(0x04);
        EXPECT_EQ(h.length, c.n);
        EXPECT_EQ(h.content, 1 + c.length.size());
        EXPECT_EQ(h.End(), der.size());
    }
}

TEST(DerLength, LongFormBelow128IsRefused) {
    EXPECT_EQ(HeaderError(OctetString({0x81, 0x05}, 5)),
              "Certificate Error: long-form length below 128 is not DER at [1]");
    EXPECT_EQ(HeaderError(OctetString({0x81, 0x7F}, 127)),
              "Certificate Error: long-form length below 128 is not DER at [1]");
    EXPECT_EQ(HeaderError(OctetString({0x81, 0x00}, 0)),
              "Certificate Error: length with a leading zero octet is not DER at [1]");
}

TEST(DerLength, LeadingZeroOctetsAreRefused) {
    EXPECT_EQ(HeaderError(OctetString({0x82, 0x00, 0x80}, 128)),
              "Certificate Error: length with a leading zero octet is not DER at [1]");
    EXPECT_EQ(HeaderError(OctetString({0x84, 0x00, 0x00, 0x01, 0x00}, 256)),
              "Certificate Error: length with a leading zero octet is not DER at [1]");
}

TEST(DerLength, IndefiniteAndOverlongLengthsAreRefused) {
    EXPECT_EQ(HeaderError({0x30, 0x80, 0x04, 0x00, 0x00, 0x00}),
              "Certificate Error: indefinite length is not DER at [1]");
    EXPECT_EQ(HeaderError(OctetString({0x85, 0x01, 0x00, 0x00, 0x00, 0x00}, 0)),
              "Certificate Error: length of 5 octets is not supported at [1]");
}

TEST(DerLength, TruncatedOrOversizedLengthsAreRefused) {
    EXPECT_EQ(HeaderError({0x04, 0x82, 0x01}), "Certificate Error: unexpected end of data at [2]");
    EXPECT_EQ(HeaderError(OctetString({0x82, 0x01, 0x00}, 255)), "Certificate Error: length beyond the data at [4]");
}

TEST(DerLength, ANonMinimalLengthInsideACertificateIsRefused) {
    Bytes cert = ReadFile("cert1024.der");
    ASSERT_GT(cert.size(), 200u);
    ASSERT_EQ(cert[0], 0x30);
    ASSERT_EQ(cert[1], 0x82);  // the outer length takes two octets: widen it to three
    cert.insert(cert.begin() + 2, 0x00);
    cert[1] = 0x83;
    try {
        (void)TX509Certificate::Load(cert);
        FAIL();
    } catch (const Exception& e) {
        EXPECT_EQ(std::string(e.what()), "Certificate Error: length with a leading zero octet is not DER at [1]");
    }
}

// Reads every item, and the items inside every constructed one.
size_t WalkAll(DERReader r) {
    size_t items = 0;
    while (!r.AtEnd()) {
        DerHeader h;
        const auto content = r.ReadItem(&h);
        ++items;
        if (h.tag & 0x20) items += WalkAll(DERReader(content));
    }
    return items;
}

TEST(DerLength, TheStoredCertificatesAndKeysAreDer) {
    for (const char* name : {"cert1024.der", "cert2048.der", "cert4096.der", "cert_far.der", "pki_cert.der"}) {
        SCOPED_TRACE(name);
        const Bytes der = ReadFile(name);
        ASSERT_FALSE(der.empty());
        EXPECT_GT(WalkAll(DERReader(der)), 10u);
        EXPECT_NO_THROW((void)TX509Certificate::Load(der));
    }
    for (const char* name : {"key1024.pem", "key1024.pkcs1.pem", "key2048.pem", "key2048.pkcs1.pem", "key4096.pem",
                             "key4096.pkcs1.pem", "pki_key.pem", "key2048.encrypted.pem"}) {
        SCOPED_TRACE(name);
        const Bytes pem = ReadFile(name);
        ASSERT_FALSE(pem.empty());
        EXPECT_GT(WalkAll(DERReader(LoadPEM(pem))), 3u);
        if (std::string(name).find("encrypted") == std::string::npos) {
            EXPECT_NO_THROW((void)LoadPrivateKey(pem));
        }
    }
}

}  // namespace
}  // namespace vela::ua::security
