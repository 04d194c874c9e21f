#pragma once
// RSA key pairs made here (FIPS 186-5 A.1.3, primes probably prime): e = 65537, two primes of
// half the modulus length each, d = e^-1 mod lcm(p-1, q-1), and the CRT values.
#include <cstddef>

#include "ua/security/BigInt.h"
#include "ua/security/Rsa.h"

namespace vela::ua::security {

// Raises vela::Exception for bits outside 2048..4096 or not a multiple of 8; the modulus has
// exactly bits bits. Takes tens of milliseconds on average for 2048 bits, hundreds for 4096.
TRSAPrivateKey GenerateRsaKey(size_t bits = 2048);

// Trial division by the primes below 2^14, then Miller-Rabin with rounds random bases (at
// least one). Small numbers get a definite answer from the trial division alone.
bool IsProbablePrime(const Limbs& n, int rounds);

// Miller-Rabin rounds for a random prime candidate of that size, from FIPS 186-5 Table B.1 at
// the error probability that matches the key's security strength.
int MillerRabinRounds(size_t primeBits);

}  // namespace vela::ua::security
