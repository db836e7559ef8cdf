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
        KwDecodeRecord record;
        record.pbInput = pbData;
        record.dwInputLength = pbData != nullptr ? dwLength : 0;
        while (record.dwInputLength != 0) {
            if (Kw_h264_dec_decode(m_hDecoder, &record) < 0)
                return 1;
            if (record.pY != nullptr)
                break;
        }
        // At the end of the stream the pictures the decoder still holds come out one per call.
        if (m_bEndOfStream && record.pY == nullptr) {
            record.pbInput = nullptr;
            record.dwInputLength = 0;
            if (Kw_h264_dec_decode(m_hDecoder, &record) < 0)
                return 1;
        }
        if (record.pY == nullptr)
            return 1;
        // A stream whose pictures are smaller than the frame the filter was set up for would be
        // read past its planes.
        if (record.dwWidth < static_cast<uint32_t>(m_nWidth) ||
            record.dwHeight < static_cast<uint32_t>(m_nHeight))
            return 1;
        picture.pY = record.pY;
        picture.pU = record.pU;
        picture.pV = record.pV;
        nLumaStride = record.nStride;
        nChromaStride = record.nStride / 2;
        return 0;
    } catch (...) {
        OutputDebugString("catch an exception that is throw from H264 decoder!!!");
        return 1;
    }
}
