// The ELF reader on arbitrary bytes: converted whole or refused with nothing, every
// record's bytes in the flat image at their address, 0xFF in the gaps, a base that pads or refuses.
#include "firmwarefuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Images up to 64 KiB: past it the span refusal is what is checked, not a 64 MiB fill.
    checkReader(FirmwareImage::Format::Elf, data, size, FirmwareImage::Records::readElf, 1 << 16);
    return 0;
}
