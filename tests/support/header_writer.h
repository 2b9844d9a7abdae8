// Writes protected-area headers the way the product does, so that fixtures are made by
// encryption, never pasted as bytes.
#pragma once
#include <stdint.h>

#include <string>

// A 512-byte plain header: the signature, the two autorun bytes, and a recognisable filling.
std::string plainHeader(uint32_t signature, unsigned char autorunSuppressed, unsigned char autorunEnabled);
// Encrypts 512 bytes as unit `unit`: each block is AES-256 of (plain XOR its block counter).
std::string encryptHeader(const std::string& plain, uint32_t unit);
