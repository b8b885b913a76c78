#pragma once
#include <cstddef>
#include <vector>

// A minimal PNG writer: 8-bit RGB, no filtering, stored (uncompressed) deflate blocks.
// rgb holds height rows of width * 3 bytes, top row first.
bool EncodePng(int width, int height, const unsigned char* rgb, std::vector<unsigned char>* out);
bool WritePngFile(const char* path, int width, int height, const unsigned char* rgb);

unsigned long Crc32(const unsigned char* data, std::size_t size, unsigned long crc = 0);
unsigned long Adler32(const unsigned char* data, std::size_t size, unsigned long adler = 1);
