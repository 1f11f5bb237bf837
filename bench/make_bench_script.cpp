// SPDX-License-Identifier: Apache-2.0
// Writes the benchmark download script: a firmware image sent in script lines of a
// fixed number of T bytes, each closed by one R acknowledgement (the byte that makes
// the line's bytes sum to 0 modulo 256) and a line mark.
//
//   make_bench_script FILE [IMAGE_KIB [BYTES_PER_LINE]]     defaults: 256 KiB, 64
//
// The image is made up but shaped like firmware: code-like bytes from a fixed seed,
// with erased flash (FF) in its last eighth. The same arguments always give the same
// file.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kSeed = 0x716;

std::vector<std::uint8_t> makeImage(std::size_t size) {
    std::mt19937 mt(kSeed);
    std::vector<std::uint8_t> image(size, 0xFF);
    const std::uint8_t opcodes[] = {0x10, 0x12, 0x20, 0x22, 0x4C, 0x60, 0x8D, 0xA9,
                                    0xAD, 0xBD, 0xC9, 0xD0, 0xE8, 0xF0, 0x00, 0x48};
    const std::size_t codeEnd = size - size / 8;
    std::size_t i = 0;
    while (i < codeEnd) {
        image[i++] = opcodes[mt() % std::size(opcodes)];
        for (std::uint32_t n = mt() % 4; n > 0 && i < codeEnd; --n) {
            image[i++] = static_cast<std::uint8_t>(mt() & 0xFFu);
        }
    }
    return image;
}

void putRecord(std::string& out, char type, unsigned byte) {
    static const char digits[] = "0123456789ABCDEF";
    out += type;
    out += digits[(byte >> 4) & 0xFu];
    out += digits[byte & 0xFu];
    out += ':';
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: make_bench_script FILE [IMAGE_KIB [BYTES_PER_LINE]]\n");
        return 2;
    }
    const unsigned long kib = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 256;
    const unsigned long perLine = argc > 3 ? std::strtoul(argv[3], nullptr, 10) : 64;
    if (kib == 0 || perLine == 0) {
        std::fprintf(stderr, "make_bench_script: sizes must be positive\n");
        return 2;
    }
    const std::vector<std::uint8_t> image = makeImage(kib * 1024);

    std::FILE* file = std::fopen(argv[1], "wb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    std::string line;
    for (std::size_t at = 0; at < image.size(); at += perLine) {
        line.clear();
        unsigned sum = 0;
        for (std::size_t i = at; i < at + perLine && i < image.size(); ++i) {
            putRecord(line, 'T', image[i]);
            sum += image[i];
        }
        putRecord(line, 'R', (256U - (sum & 0xFFU)) & 0xFFU);
        line += "E\r\n:";
        if (std::fwrite(line.data(), 1, line.size(), file) != line.size()) {
            std::perror(argv[1]);
            std::fclose(file);
            return 1;
        }
    }
    if (std::fclose(file) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
