#include "Host/Png.h"

#include <windows.h>

namespace {

void PutBigEndian(std::vector<unsigned char>* out, unsigned long value) {
    out->push_back(static_cast<unsigned char>(value >> 24));
    out->push_back(static_cast<unsigned char>(value >> 16));
    out->push_back(static_cast<unsigned char>(value >> 8));
    out->push_back(static_cast<unsigned char>(value));
}

void PutChunk(std::vector<unsigned char>* out, const char type[4],
              const std::vector<unsigned char>& data) {
    PutBigEndian(out, static_cast<unsigned long>(data.size()));
    const std::size_t typeAt = out->size();
    out->insert(out->end(), type, type + 4);
    out->insert(out->end(), data.begin(), data.end());
    PutBigEndian(out, Crc32(out->data() + typeAt, 4 + data.size()));
}

}  // namespace

unsigned long Crc32(const unsigned char* data, std::size_t size, unsigned long crc) {
    static unsigned long table[256];
    static bool ready = false;
    if (!ready) {
        for (unsigned long n = 0; n < 256; ++n) {
            unsigned long c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320UL ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        ready = true;
    }
    crc = ~crc & 0xFFFFFFFFUL;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc & 0xFFFFFFFFUL;
}

unsigned long Adler32(const unsigned char* data, std::size_t size, unsigned long adler) {
    unsigned long a = adler & 0xFFFF, b = (adler >> 16) & 0xFFFF;
    for (std::size_t i = 0; i < size; ++i) {
        a = (a + data[i]) % 65521;
        b = (b + a) % 65521;
    }
    return (b << 16) | a;
}

bool EncodePng(int width, int height, const unsigned char* rgb, std::vector<unsigned char>* out) {
    // Keeps every size below computable in 32 bits.
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384 || !rgb || !out) return false;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 3;

    std::vector<unsigned char> raw;
    raw.reserve((rowBytes + 1) * height);
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // filter type None
        const unsigned char* row = rgb + rowBytes * y;
        raw.insert(raw.end(), row, row + rowBytes);
    }

    std::vector<unsigned char> zlib = {0x78, 0x01};
    std::size_t at = 0;
    do {
        const std::size_t length = raw.size() - at < 65535 ? raw.size() - at : 65535;
        const bool last = at + length == raw.size();
        zlib.push_back(last ? 1 : 0);  // BFINAL, BTYPE 00 (stored)
        zlib.push_back(static_cast<unsigned char>(length));
        zlib.push_back(static_cast<unsigned char>(length >> 8));
        zlib.push_back(static_cast<unsigned char>(~length));
        zlib.push_back(static_cast<unsigned char>(~length >> 8));
        zlib.insert(zlib.end(), raw.begin() + at, raw.begin() + at + length);
        at += length;
    } while (at < raw.size());
    PutBigEndian(&zlib, Adler32(raw.data(), raw.size()));

    std::vector<unsigned char> header;
    PutBigEndian(&header, static_cast<unsigned long>(width));
    PutBigEndian(&header, static_cast<unsigned long>(height));
    header.push_back(8);  // bit depth
    header.push_back(2);  // colour type: RGB
    header.push_back(0);  // compression
    header.push_back(0);  // filter method
    header.push_back(0);  // no interlace

    static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    out->assign(signature, signature + 8);
    PutChunk(out, "IHDR", header);
    PutChunk(out, "IDAT", zlib);
    PutChunk(out, "IEND", {});
    return true;
}

bool WritePngFile(const char* path, int width, int height, const unsigned char* rgb) {
    std::vector<unsigned char> png;
    if (!EncodePng(width, height, rgb, &png)) return false;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, png.data(), static_cast<DWORD>(png.size()), &written, nullptr) &&
                    written == png.size();
    const bool closed = CloseHandle(file) != 0;
    if (!ok || !closed) {
        DeleteFileA(path);  // never leave a truncated picture behind
        return false;
    }
    return true;
}
