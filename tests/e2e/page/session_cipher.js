// The session cipher of an encrypted page session, on the browser's WebCrypto:
// AES-128-CBC, an all-zero IV for every message, zero padding, standard Base64.
// WebCrypto only knows PKCS#7 padding, so
// - encrypting zero-pads the text to whole blocks and drops the padding block
//   that WebCrypto appends (CBC: the blocks before it are the same);
// - decrypting appends one block that decrypts to a whole PKCS#7 padding block
//   behind the last cipher block, which WebCrypto then strips again.
'use strict';

(function () {
    const ZERO_IV = new Uint8Array(16);
    const BASE64 = /^(?:[A-Za-z0-9+/]{4})*(?:[A-Za-z0-9+/]{2}==|[A-Za-z0-9+/]{3}=)?$/;

    function toBase64(bytes) {
        let s = '';
        for (let i = 0; i < bytes.length; i += 0x8000)
            s += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
        return btoa(s);
    }

    // The bytes of a Base64 text; null when it is not Base64.
    function fromBase64(text) {
        if (!BASE64.test(text))
            return null;
        const s = atob(text);
        const out = new Uint8Array(s.length);
        for (let i = 0; i < s.length; i++)
            out[i] = s.charCodeAt(i);
        return out;
    }

    // The key is the first 16 bytes of the key text, zero-filled when shorter.
    async function importKey(keyText) {
        const raw = new Uint8Array(16);
        const bytes = new TextEncoder().encode(keyText);
        raw.set(bytes.subarray(0, 16));
        return crypto.subtle.importKey('raw', raw, { name: 'AES-CBC' }, false, ['encrypt', 'decrypt']);
    }

    async function encrypt(key, text) {
        const plain = new TextEncoder().encode(text);
        const padded = new Uint8Array(Math.ceil(plain.length / 16) * 16);
        padded.set(plain);
        if (padded.length === 0)
            return '';
        const out = new Uint8Array(
            await crypto.subtle.encrypt({ name: 'AES-CBC', iv: ZERO_IV }, key, padded));
        return toBase64(out.subarray(0, padded.length));
    }

    // The text up to its first NUL; null when `b64` is not Base64 or not whole blocks.
    async function decrypt(key, b64) {
        const bytes = fromBase64(b64);
        if (bytes === null || bytes.length % 16 !== 0)
            return null;
        if (bytes.length === 0)
            return '';
        const last = bytes.subarray(bytes.length - 16);
        const padBlock = new Uint8Array(16).fill(16);
        // E(padBlock XOR last): decrypting it behind `last` yields padBlock.
        const extra = new Uint8Array(
            await crypto.subtle.encrypt({ name: 'AES-CBC', iv: last }, key, padBlock)).subarray(0, 16);
        const whole = new Uint8Array(bytes.length + 16);
        whole.set(bytes);
        whole.set(extra, bytes.length);
        const plain = new Uint8Array(
            await crypto.subtle.decrypt({ name: 'AES-CBC', iv: ZERO_IV }, key, whole));
        const nul = plain.indexOf(0);
        return new TextDecoder().decode(nul < 0 ? plain : plain.subarray(0, nul));
    }

    window.QvSessionCipher = {
        async create(keyText) {
            const key = await importKey(keyText);
            return {
                encrypt: (text) => encrypt(key, text),
                decrypt: (b64) => decrypt(key, b64),
            };
        },
    };
})();
