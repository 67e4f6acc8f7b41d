#include "update/update_signature.h"

#include <sodium.h>

namespace hm {

namespace {

// sodium_init picks the implementations and seeds the random source; a function-local static runs it
// once even when several threads ask at the same moment.
bool SodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

static_assert(crypto_sign_PUBLICKEYBYTES == std::tuple_size<UpdateKey>::value);
static_assert(crypto_sign_BYTES == kUpdateSignatureSize);
static_assert(crypto_sign_SECRETKEYBYTES == kUpdateSecretKeySize);

}  // namespace

bool ParseHexBytes(const std::string& text, size_t byteCount, std::string& bytes) {
    size_t begin = 0, end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    if (end - begin != 2 * byteCount) return false;
    std::string decoded(byteCount, '\0');
    for (size_t i = 0; i < byteCount; ++i) {
        const int high = HexValue(text[begin + 2 * i]);
        const int low = HexValue(text[begin + 2 * i + 1]);
        if (high < 0 || low < 0) return false;
        decoded[i] = static_cast<char>(high * 16 + low);
    }
    bytes.swap(decoded);
    return true;
}

std::string HexBytes(const std::string& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

bool ParseUpdateKey(const std::string& hexText, UpdateKey& key) {
    std::string bytes;
    if (!ParseHexBytes(hexText, key.size(), bytes)) return false;
    for (size_t i = 0; i < key.size(); ++i) key[i] = static_cast<uint8_t>(bytes[i]);
    return true;
}

std::string UpdateKeyHex(const UpdateKey& key) {
    return HexBytes(std::string(reinterpret_cast<const char*>(key.data()), key.size()));
}

bool VerifyUpdateSignature(const std::string& data, const std::string& signature, const UpdateKey& key) {
    if (signature.size() != kUpdateSignatureSize || !SodiumReady()) return false;
    return crypto_sign_verify_detached(reinterpret_cast<const unsigned char*>(signature.data()),
                                       reinterpret_cast<const unsigned char*>(data.data()), data.size(),
                                       key.data()) == 0;
}

std::string SignUpdate(const std::string& data, const std::string& secretKey) {
    if (secretKey.size() != kUpdateSecretKeySize || !SodiumReady()) return "";
    const auto* secret = reinterpret_cast<const unsigned char*>(secretKey.data());
    // The signing code takes the public half as given; one that does not belong to the seed would
    // make signatures that no holder of the real public key accepts.
    unsigned char derivedPublic[crypto_sign_PUBLICKEYBYTES];
    unsigned char derivedSecret[crypto_sign_SECRETKEYBYTES];
    crypto_sign_seed_keypair(derivedPublic, derivedSecret, secret);
    sodium_memzero(derivedSecret, sizeof derivedSecret);
    if (sodium_memcmp(derivedPublic, secret + crypto_sign_SEEDBYTES, sizeof derivedPublic) != 0) return "";
    std::string signature(kUpdateSignatureSize, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr,
                         reinterpret_cast<const unsigned char*>(data.data()), data.size(), secret);
    return signature;
}

bool MakeUpdateKeyPair(std::string& secretKey, UpdateKey& publicKey) {
    if (!SodiumReady()) return false;
    std::string secret(kUpdateSecretKeySize, '\0');
    crypto_sign_keypair(publicKey.data(), reinterpret_cast<unsigned char*>(secret.data()));
    secretKey.swap(secret);
    sodium_memzero(secret.data(), secret.size());
    return true;
}

}  // namespace hm
