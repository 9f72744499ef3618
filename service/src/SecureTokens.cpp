#include "SecureTokens.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <openssl/sha.h>

#include <array>

namespace velmora::service {
namespace {

std::array<unsigned char, SHA256_DIGEST_LENGTH> sha256(const std::string& text) {
    std::array<unsigned char, SHA256_DIGEST_LENGTH> digest{};
    SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(), digest.data());
    return digest;
}

std::string base64UrlNoPadding(const unsigned char* bytes, size_t size) {
    static constexpr char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
    std::string out;
    unsigned bits = 0;
    int pending = 0;
    for (size_t i = 0; i < size; ++i) {
        bits = (bits << 8) | bytes[i];
        pending += 8;
        while (pending >= 6) {
            pending -= 6;
            out += kAlphabet[(bits >> pending) & 0x3f];
        }
    }
    if (pending > 0) {
        out += kAlphabet[(bits << (6 - pending)) & 0x3f];
    }
    return out;
}

}  // namespace

std::optional<std::string> makeSessionToken() {
    std::array<unsigned char, 32> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
        return std::nullopt;
    }
    return base64UrlNoPadding(bytes.data(), bytes.size());
}

std::string sha256Hex(const std::string& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char byte : sha256(text)) {
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0f];
    }
    return out;
}

std::string sha256Base64(const std::string& text) {
    const auto digest = sha256(text);
    unsigned char out[4 * ((SHA256_DIGEST_LENGTH + 2) / 3) + 1];
    const int length = EVP_EncodeBlock(out, digest.data(), static_cast<int>(digest.size()));
    return std::string(reinterpret_cast<const char*>(out), static_cast<size_t>(length));
}

bool constantTimeEquals(const std::string& a, const std::string& b) {
    // Comparing fixed-size digests hides the length of the secret as well as its content.
    const auto left = sha256(a);
    const auto right = sha256(b);
    return CRYPTO_memcmp(left.data(), right.data(), left.size()) == 0;
}

}  // namespace velmora::service
