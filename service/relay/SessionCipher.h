#pragma once

#include "common/Protocol.h"

#include <QByteArray>

// The session cipher of keyed page sessions: AES-128-CBC with the first 16
// bytes of the session key, a fresh copy of the (all-zero) IV for every
// message, zero padding up to a multiple of 16 bytes, and standard Base64 with
// "=" padding and no line breaks. Pages rely on exactly this form.
//
// Results are sized from the message: there is no length limit of its own.

constexpr int kCipherOk = Ret::Ok;
constexpr int kCipherFailed = Ret::CipherFailed;

enum class DecryptOutcome {
    Decrypted, // `out` holds the plaintext
    NotBase64, // the text is no Base64; `out` holds it unchanged
    Failed // Base64, but no whole number of blocks; `out` untouched
};

// Encrypts `plain` up to its first NUL. `key` is the session key text; bytes
// missing up to 16 count as zeros. kCipherOk, or kCipherFailed when the cipher refuses.
int encryptSessionMessage(
    const QByteArray &plain, QByteArray *out, const unsigned char iv[16], const char *key);

// Decodes and decrypts `text`; the plaintext ends at its first NUL (where the
// zero padding starts). kCipherOk; kCipherFailed for text that is no Base64 (then `out` is the
// text itself) or that does not decrypt (then `out` is left as it was).
int decryptSessionMessage(const QByteArray &text, QByteArray *out, const unsigned char iv[16],
    const char *key, DecryptOutcome *outcome = nullptr);
