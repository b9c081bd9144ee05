#pragma once
// The traditional PKWARE encryption of the ZIP application note, section 6.1:
// three 32-bit keys initialised from the password, updated with every plain
// byte, and one key byte derived from them per encrypted byte.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <zlib.h>

namespace zip {

class TPkCipher {
public:
    // Keys initialised with the password's bytes (6.1.5).
    explicit TPkCipher(std::string_view password) {
        for (char c : password) UpdateKeys(static_cast<unsigned char>(c));
    }

    // Mixes one plain byte into the keys (6.1.5, update_keys).
    void UpdateKeys(unsigned char plain) {
        keys_[0] = Crc32Byte(keys_[0], plain);
        keys_[1] = (keys_[1] + (keys_[0] & 0xFF)) * 134775813u + 1;
        keys_[2] = Crc32Byte(keys_[2], static_cast<unsigned char>(keys_[1] >> 24));
    }

    // The byte that the next plain byte is XORed with (6.1.6, decrypt_byte).
    unsigned char KeyByte() const {
        const std::uint32_t t = (keys_[2] | 2) & 0xFFFF;
        return static_cast<unsigned char>((t * (t ^ 1)) >> 8);
    }

    // Encrypts `size` bytes in place.
    void Encrypt(unsigned char* data, std::size_t size) {
        // The same steps as KeyByte/UpdateKeys, on local copies of the keys so
        // that the compiler keeps them in registers.
        std::uint32_t k0 = keys_[0], k1 = keys_[1], k2 = keys_[2];
        const z_crc_t* table = get_crc_table();
        for (std::size_t i = 0; i < size; ++i) {
            const unsigned char plain = data[i];
            const std::uint32_t t = (k2 | 2) & 0xFFFF;
            data[i] = static_cast<unsigned char>(plain ^ ((t * (t ^ 1)) >> 8));
            k0 = (k0 >> 8) ^ static_cast<std::uint32_t>(table[(k0 ^ plain) & 0xFF]);
            k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
            k2 = (k2 >> 8) ^ static_cast<std::uint32_t>(table[(k2 ^ (k1 >> 24)) & 0xFF]);
        }
        keys_[0] = k0;
        keys_[1] = k1;
        keys_[2] = k2;
    }

    // Decrypts `size` bytes in place: the key byte is taken off first, and
    // the keys are then updated with the plain byte that comes out.
    void Decrypt(unsigned char* data, std::size_t size) {
        std::uint32_t k0 = keys_[0], k1 = keys_[1], k2 = keys_[2];
        const z_crc_t* table = get_crc_table();
        for (std::size_t i = 0; i < size; ++i) {
            const std::uint32_t t = (k2 | 2) & 0xFFFF;
            const unsigned char plain = static_cast<unsigned char>(data[i] ^ ((t * (t ^ 1)) >> 8));
            data[i] = plain;
            k0 = (k0 >> 8) ^ static_cast<std::uint32_t>(table[(k0 ^ plain) & 0xFF]);
            k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
            k2 = (k2 >> 8) ^ static_cast<std::uint32_t>(table[(k2 ^ (k1 >> 24)) & 0xFF]);
        }
        keys_[0] = k0;
        keys_[1] = k1;
        keys_[2] = k2;
    }

private:
    // One step of the CRC-32 of the note (the polynomial of zlib's crc32).
    static std::uint32_t Crc32Byte(std::uint32_t crc, unsigned char b) {
        return (crc >> 8) ^ static_cast<std::uint32_t>(get_crc_table()[(crc ^ b) & 0xFF]);
    }

    std::uint32_t keys_[3] = {0x12345678u, 0x23456789u, 0x34567890u};
};

}  // namespace zip
