#include "imagebuffer.h"

void ImageBuffer::LOAD_BIN()
{
    BIN_BLOCKS = BIN_LEN / blockSize;
    BIN_REMAIN = BIN_LEN % blockSize;
    BIN_NO_REMAIN = BIN_REMAIN == 0 ? -1 : 0;
}

void ImageBuffer::replaceImage(const QByteArray &data)
{
    Q_ASSERT(!data.isEmpty() && data.size() <= maxLength);
    BIN_DATA = data;
    BIN_LEN = qint32(data.size());
}
