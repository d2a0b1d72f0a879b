#!/usr/bin/env python3
"""Writes the stand-in firmware image that the build embeds.

The modem maker's firmware is not part of this repository. In its place the
build embeds this deterministic image of exactly 372,528 bytes (the size of
the real one), so that every transfer has the same frame count (728 blocks,
the last of 304 bytes) and the same bytes on the line.

Content, block by block (512 bytes each):
  * pseudo-random bytes from a 32-bit xorshift generator, seed 0x4B454C56;
  * every block also carries, at a place that moves from block to block, the
    bytes that the ZDLE escaping treats specially: 18 (ZDLE), 11 13 91 93
    (XON/XOFF with and without bit 7), 40 0D and C0 8D (CR after an at sign,
    which must be escaped), 0D and 8D after other bytes (which must not),
    and 00 10 7F 90 FF (sent as they are);
  * block 100 is all 0x18 bytes, so one frame carries 512 escaped bytes;
  * the last block starts with the text "KELVORA stand-in firmware" so the
    image can be told apart from the real one.

Usage: make_standin_image.py OUTPUT
"""
import sys

SIZE = 372528
BLOCK = 512
SPECIAL = bytes([0x18, 0x11, 0x13, 0x91, 0x93, 0x40, 0x0D, 0xC0, 0x8D,
                 0x41, 0x0D, 0x55, 0x8D, 0x00, 0x10, 0x7F, 0x90, 0xFF,
                 0x40, 0x40, 0x8D, 0x18, 0x18, 0x0D])


def main() -> None:
    state = 0x4B454C56
    image = bytearray()
    while len(image) < SIZE:
        state ^= (state << 13) & 0xFFFFFFFF
        state ^= state >> 17
        state ^= (state << 5) & 0xFFFFFFFF
        image.append(state & 0xFF)
    for block in range(0, (SIZE + BLOCK - 1) // BLOCK):
        start = block * BLOCK
        where = start + (block * 37) % (BLOCK - len(SPECIAL))
        if where + len(SPECIAL) <= SIZE:
            image[where:where + len(SPECIAL)] = SPECIAL
    image[100 * BLOCK:101 * BLOCK] = bytes([0x18]) * BLOCK
    tag = b"KELVORA stand-in firmware"
    last = ((SIZE - 1) // BLOCK) * BLOCK
    image[last:last + len(tag)] = tag
    assert len(image) == SIZE
    with open(sys.argv[1], "wb") as out:
        out.write(image)


if __name__ == "__main__":
    main()
