#pragma once

#include <QtGlobal>

// An image cut into the bootloader's 1024-byte blocks: the whole blocks and the bytes after
// them, which go out as one shorter last block.
struct BlockSplit {
    static constexpr qint32 blockSize = 1024;
    // The length frame carries the whole-block count in 16 bits, so the longest image a download
    // can announce is 65536 blocks less one byte: 64 MiB - 1.
    static constexpr qint64 maxLength = 65536LL * blockSize - 1;

    qint32 wholeBlocks = 0; // 1024-byte blocks
    qint32 remainder = 0;   // bytes after them, 0 to 1023

    // The split of `length` bytes (0 to 2^31 - 1).
    static constexpr BlockSplit of(qint64 length)
    {
        return {qint32(length / blockSize), qint32(length % blockSize)};
    }
    // Blocks on the wire: the whole ones, and one more for a remainder.
    constexpr qint32 blockCount() const { return remainder == 0 ? wholeBlocks : wholeBlocks + 1; }
    // The bytes of block `index` (from 0), 0 for a number beyond the image.
    constexpr qint32 blockLength(qint32 index) const
    {
        if (index >= 0 && index < wholeBlocks)
            return blockSize;
        return remainder != 0 && index == wholeBlocks ? remainder : 0;
    }
};
