// Ed25519 signatures of program updates: the program checks a downloaded program file against the
// public key built into it before it lets the updater put the file in its place; the release signing
// tool and the tests make keys and signatures with the same code.
//
// Stateless free functions, callable from any thread (the library is initialised once, on first use).
// Nothing here reads files or keeps keys; a secret key lives only as long as its caller keeps it. A
// check must never call a file good that it could not prove good: every malformed input is "invalid".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace hm {

using UpdateKey = std::array<uint8_t, 32>;   // an Ed25519 public key
constexpr size_t kUpdateSignatureSize = 64;  // a detached signature, raw bytes
constexpr size_t kUpdateSecretKeySize = 64;  // the 32-byte seed followed by the public key

// Exactly 2 * byteCount hex digits (either case), with white space allowed around them and nowhere
// else. On success bytes holds the decoded bytes; on failure it is left alone.
bool ParseHexBytes(const std::string& text, size_t byteCount, std::string& bytes);
// Lower-case hex digits of bytes.
std::string HexBytes(const std::string& bytes);

// The text of a public key file: 64 hex digits.
bool ParseUpdateKey(const std::string& hexText, UpdateKey& key);
std::string UpdateKeyHex(const UpdateKey& key);

// True only when signature is a detached Ed25519 signature of data made with key's secret half.
// A signature of the wrong size is invalid.
bool VerifyUpdateSignature(const std::string& data, const std::string& signature, const UpdateKey& key);

// The detached signature of data (kUpdateSignatureSize bytes); "" when secretKey is not a whole,
// consistent secret key (its public half must belong to its seed), so a damaged key file can never
// produce signatures that every installation would reject.
std::string SignUpdate(const std::string& data, const std::string& secretKey);

// A fresh random key pair; false when the library cannot be initialised.
bool MakeUpdateKeyPair(std::string& secretKey, UpdateKey& publicKey);

}  // namespace hm
