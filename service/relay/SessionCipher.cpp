#include "SessionCipher.h"

#include <mbedtls/aes.h>
#include <mbedtls/base64.h>
#include <mbedtls/platform_util.h>

#include <cstring>

namespace {

constexpr int kBlock = 16;

void keyBytes(const char *key, unsigned char out[kBlock])
{
    std::memset(out, 0, kBlock);
    if (key)
        std::memcpy(out, key, qstrnlen(key, kBlock));
}

class Aes
{
public:
    Aes() { mbedtls_aes_init(&m_ctx); }
    ~Aes() { mbedtls_aes_free(&m_ctx); }
    mbedtls_aes_context *get() { return &m_ctx; }

private:
    mbedtls_aes_context m_ctx;
};

} // namespace

int encryptSessionMessage(
    const QByteArray &plain, QByteArray *out, const unsigned char iv[16], const char *key)
{
    const int nul = plain.indexOf('\0');
    const int textLen = nul < 0 ? plain.size() : nul;
    const int padded = (textLen + kBlock - 1) / kBlock * kBlock;

    QByteArray data(padded, '\0');
    std::memcpy(data.data(), plain.constData(), size_t(textLen));
    QByteArray cipher(padded, '\0');

    unsigned char k[kBlock];
    keyBytes(key, k);
    unsigned char ivCopy[kBlock];
    std::memcpy(ivCopy, iv, kBlock);

    Aes aes;
    int rc = mbedtls_aes_setkey_enc(aes.get(), k, 128);
    mbedtls_platform_zeroize(k, sizeof k);
    if (rc == 0 && padded > 0) {
        rc = mbedtls_aes_crypt_cbc(aes.get(), MBEDTLS_AES_ENCRYPT, size_t(padded), ivCopy,
            reinterpret_cast<const unsigned char *>(data.constData()),
            reinterpret_cast<unsigned char *>(cipher.data()));
    }
    mbedtls_platform_zeroize(data.data(), size_t(data.size()));
    if (rc != 0)
        return kCipherFailed;

    size_t b64Len = 0;
    mbedtls_base64_encode(nullptr, 0, &b64Len, reinterpret_cast<const unsigned char *>(cipher.constData()),
        size_t(cipher.size()));
    QByteArray encoded(int(b64Len), '\0'); // includes room for the NUL
    size_t written = 0;
    rc = mbedtls_base64_encode(reinterpret_cast<unsigned char *>(encoded.data()), size_t(encoded.size()),
        &written, reinterpret_cast<const unsigned char *>(cipher.constData()), size_t(cipher.size()));
    if (rc != 0)
        return kCipherFailed;
    encoded.truncate(int(written));
    *out = encoded;
    return kCipherOk;
}

int decryptSessionMessage(const QByteArray &text, QByteArray *out, const unsigned char iv[16],
    const char *key, DecryptOutcome *outcome)
{
    const int nul = text.indexOf('\0');
    const QByteArray input = nul < 0 ? text : text.left(nul);
    const auto *src = reinterpret_cast<const unsigned char *>(input.constData());

    size_t decodedLen = 0;
    int rc = mbedtls_base64_decode(nullptr, 0, &decodedLen, src, size_t(input.size()));
    if (rc == MBEDTLS_ERR_BASE64_INVALID_CHARACTER) {
        *out = input;
        if (outcome)
            *outcome = DecryptOutcome::NotBase64;
        return kCipherFailed;
    }
    QByteArray decoded(int(decodedLen), '\0');
    size_t got = 0;
    rc = mbedtls_base64_decode(reinterpret_cast<unsigned char *>(decoded.data()), size_t(decoded.size()),
        &got, src, size_t(input.size()));
    if (rc != 0) {
        *out = input;
        if (outcome)
            *outcome = DecryptOutcome::NotBase64;
        return kCipherFailed;
    }
    decoded.truncate(int(got));
    if (decoded.size() % kBlock != 0) {
        if (outcome)
            *outcome = DecryptOutcome::Failed;
        return kCipherFailed;
    }

    unsigned char k[kBlock];
    keyBytes(key, k);
    unsigned char ivCopy[kBlock];
    std::memcpy(ivCopy, iv, kBlock);
    QByteArray plain(decoded.size(), '\0');

    Aes aes;
    rc = mbedtls_aes_setkey_dec(aes.get(), k, 128);
    mbedtls_platform_zeroize(k, sizeof k);
    if (rc == 0 && !decoded.isEmpty()) {
        rc = mbedtls_aes_crypt_cbc(aes.get(), MBEDTLS_AES_DECRYPT, size_t(decoded.size()), ivCopy,
            reinterpret_cast<const unsigned char *>(decoded.constData()),
            reinterpret_cast<unsigned char *>(plain.data()));
    }
    if (rc != 0) {
        if (outcome)
            *outcome = DecryptOutcome::Failed;
        return kCipherFailed;
    }
    const int end = plain.indexOf('\0');
    if (end >= 0)
        plain.truncate(end);
    *out = plain;
    if (outcome)
        *outcome = DecryptOutcome::Decrypted;
    return kCipherOk;
}
