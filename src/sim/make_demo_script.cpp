// SPDX-License-Identifier: Apache-2.0
// Writes the demonstration download script examples/orx716_demo.pf3 to standard
// output (or to the file named by the one argument). The output depends on nothing
// but the fixed seed, so the committed file can be checked against a fresh run.
//
// The firmware image is made up but shaped like one: a vector table, code-like
// bytes with a few text strings, erased (FF) flash at the end. It is sent in
// write-block lines of 16 to 64 bytes:
//   57 'W', address (3 bytes, high first), data length, data
// each acknowledged by the device with the line's checksum (the byte that makes the
// sum of the line come to 0 modulo 256), and closed by a line mark.

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::uint32_t kSeed = 716;
constexpr int kLines = 300;
constexpr std::uint32_t kBaseAddress = 0x00'40'00;
constexpr std::uint8_t kWriteBlock = 0x57;

class Generator {
public:
    std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(m_mt() % n); }
    std::uint8_t byte() { return static_cast<std::uint8_t>(m_mt() & 0xFFu); }

private:
    std::mt19937 m_mt{kSeed};
};

std::vector<std::uint8_t> makeImage(Generator& gen, std::size_t size) {
    std::vector<std::uint8_t> image;
    // Vector table: 32 little-endian entry points inside the image.
    for (int i = 0; i < 32; ++i) {
        const std::uint32_t entry = kBaseAddress + 0x100 + gen.below(0x2000) * 2;
        for (int b = 0; b < 4; ++b) {
            image.push_back(static_cast<std::uint8_t>(entry >> (8 * b)));
        }
    }
    const std::string_view strings[] = {"ORX-716 interface firmware 2.14", "BURN3", "link lost",
                                        "checksum error", "ready"};
    // Code: opcodes from a small set, each with 0 to 3 operand bytes.
    const std::uint8_t opcodes[] = {0x10, 0x12, 0x20, 0x22, 0x4C, 0x60, 0x8D, 0xA9,
                                    0xAD, 0xBD, 0xC9, 0xD0, 0xE8, 0xF0, 0x00, 0x48};
    const std::size_t codeEnd = size * 7 / 8;
    while (image.size() < codeEnd) {
        if (gen.below(40) == 0) {
            const std::string_view s = strings[gen.below(std::size(strings))];
            image.insert(image.end(), s.begin(), s.end());
            image.push_back(0);
            continue;
        }
        image.push_back(opcodes[gen.below(std::size(opcodes))]);
        for (std::uint32_t n = gen.below(4); n > 0; --n) {
            image.push_back(gen.byte());
        }
    }
    image.resize(size, 0xFF);
    return image;
}

void putRecord(std::string& out, char type, std::uint8_t byte) {
    static const char digits[] = "0123456789ABCDEF";
    out += type;
    out += digits[byte >> 4];
    out += digits[byte & 0x0F];
    out += ':';
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 2) {
        std::fprintf(stderr, "usage: %s [OUTPUT]\n", argv[0]);
        return 2;
    }
    Generator gen;
    std::vector<std::size_t> lengths;
    std::size_t total = 0;
    for (int i = 0; i < kLines; ++i) {
        lengths.push_back(11 + gen.below(49));  // 16 to 64 bytes with the header
        total += lengths.back();
    }
    const std::vector<std::uint8_t> image = makeImage(gen, total);

    std::string out;
    std::size_t offset = 0;
    for (const std::size_t length : lengths) {
        const std::uint32_t address = kBaseAddress + static_cast<std::uint32_t>(offset);
        std::vector<std::uint8_t> line = {kWriteBlock, static_cast<std::uint8_t>(address >> 16),
                                          static_cast<std::uint8_t>(address >> 8),
                                          static_cast<std::uint8_t>(address),
                                          static_cast<std::uint8_t>(length)};
        line.insert(line.end(), image.begin() + static_cast<std::ptrdiff_t>(offset),
                    image.begin() + static_cast<std::ptrdiff_t>(offset + length));
        offset += length;
        std::uint8_t sum = 0;
        for (const std::uint8_t b : line) {
            putRecord(out, 'T', b);
            sum = static_cast<std::uint8_t>(sum + b);
        }
        putRecord(out, 'R', static_cast<std::uint8_t>(0x100 - sum));
        out += "E\r\n:";
    }

    std::FILE* f = argc == 2 ? std::fopen(argv[1], "wb") : stdout;
    if (f == nullptr || std::fwrite(out.data(), 1, out.size(), f) != out.size()) {
        std::perror("reburn3-make-demo");
        return 1;
    }
    if (f != stdout) {
        std::fclose(f);
    }
    return 0;
}
