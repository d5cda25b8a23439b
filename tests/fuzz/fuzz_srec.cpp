// The S-record reader on arbitrary bytes: converted whole or refused with nothing, every
// record's bytes in the flat image at their address, 0xFF in the gaps, a base that pads or refuses.
#include "firmwarefuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    checkReader(FirmwareImage::Format::SRecord, data, size, FirmwareImage::Records::readSRecord);
    return 0;
}
