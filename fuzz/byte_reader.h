// fuzz/byte_reader.h: a fuzz input read a byte at a time
//
// Past its end the input reads as zeros, so a target never has to check how much is
// left before it asks.
#ifndef ORVIK_FUZZ_BYTE_READER_H
#define ORVIK_FUZZ_BYTE_READER_H

#include <cstddef>
#include <cstdint>

namespace orvik::fuzz {

struct ByteReader {
    const uint8_t* data;
    size_t size;

    uint8_t byte() {
        if (!size)
            return 0;
        --size;
        return *data++;
    }
    /// Four bytes, most significant first.
    int32_t word() {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v = v << 8 | byte();
        return int32_t(v);
    }
};

} // namespace orvik::fuzz

#endif
