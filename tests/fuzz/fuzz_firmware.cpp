// A firmware reader on arbitrary bytes, the one FUZZ_FORMAT names (0 HEX, 1 S-record, 2 ELF; each
// is a target of its own): converted whole or refused with nothing, every record's bytes in the
// flat image at their address, 0xFF in the gaps, a base that pads or refuses.
#include "firmwarefuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    using namespace FirmwareImage;
#if FUZZ_FORMAT == 0
    checkReader(Format::IntelHex, data, size, Records::readIntelHex);
#elif FUZZ_FORMAT == 1
    checkReader(Format::SRecord, data, size, Records::readSRecord);
#else // images up to 64 KiB: past it the span refusal is what is checked, not a 64 MiB fill
    checkReader(Format::Elf, data, size, Records::readElf, 1 << 16);
#endif
    return 0;
}
