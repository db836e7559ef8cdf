#include "filter/dech264.h"

#include "platform/trace.h"

CDecH264::CDecH264() : m_hDecoder(Kw_h264_dec_open()) {}

CDecH264::~CDecH264()
{
    Kw_h264_dec_close(m_hDecoder);
}

int CDecH264::Decode(const uint8_t* pbData, uint32_t dwLength, FrameBuffer& picture, int& nLumaStride,
                     int& nChromaStride)
{
    try {
        return DecodeKwPicture(m_hDecoder, pbData, dwLength, m_bEndOfStream, m_nWidth, m_nHeight, picture,
                               nLumaStride, nChromaStride);
    } catch (...) {
        OutputDebugString("catch an exception that is throw from H264 decoder!!!");
        return 1;
    }
}

int DecodeKwPicture(KwHandle hDecoder, const uint8_t* pbData, uint32_t dwLength, bool bEndOfStream,
                    int nWidth, int nHeight, FrameBuffer& picture, int& nLumaStride, int& nChromaStride)
{
    KwDecodeRecord record;
    record.pbInput = pbData;
    record.dwInputLength = pbData != nullptr ? dwLength : 0;
    while (record.dwInputLength != 0) {
        if (Kw_h264_dec_decode(hDecoder, &record) < 0)
            return 1;
        if (record.pY != nullptr)
            break;
    }
    // At the end of the stream the pictures the decoder still holds come out one per call.
    if (bEndOfStream && record.pY == nullptr) {
        record.pbInput = nullptr;
        record.dwInputLength = 0;
        if (Kw_h264_dec_decode(hDecoder, &record) < 0)
            return 1;
    }
    if (record.pY == nullptr)
        return 1;
    // A stream whose pictures are smaller than the frame the filter was set up for would be
    // read past its planes.
    if (record.dwWidth < static_cast<uint32_t>(nWidth) || record.dwHeight < static_cast<uint32_t>(nHeight))
        return 1;
    picture.pY = record.pY;
    picture.pU = record.pU;
    picture.pV = record.pV;
    nLumaStride = record.nStride;
    nChromaStride = record.nStride / 2;
    return 0;
}
