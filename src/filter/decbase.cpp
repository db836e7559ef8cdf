#include "filter/decbase.h"

#include "platform/trace.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

CDecBase::~CDecBase()
{
    if (m_pBlend != nullptr) {
        m_pBlend->RemoveItem(m_pTimeText);
        m_pBlend->RemoveItem(m_pCaptionText);
    }
}

void CDecBase::SetColorAdjust(int8_t cBrightness, int8_t cContrast, int8_t cHue, int8_t cSaturation)
{
    m_cBrightness = cBrightness;
    m_cContrast = cContrast;
    m_cHue = cHue;
    m_cSaturation = cSaturation;
}

void CDecBase::SetFrameSize(int nWidth, int nHeight)
{
    m_nWidth = nWidth;
    m_nHeight = nHeight < 0 ? -nHeight : nHeight;
}

void CDecBase::SetOutput(uint32_t dwCode, bool bFlip, int nStride)
{
    m_dwOutCode = dwCode;
    m_bFlip = bFlip;
    m_nOutStride = nStride;
}

void CDecBase::ReleaseStaging()
{
    std::vector<uint8_t>().swap(m_vecStaging);
    m_nStagingStride = m_nStagingHeight = 0;
    m_current = FrameBuffer{};
    m_pHeld.reset();
    m_bCurrentFinished = false;
    m_nCurrentWidth = m_nCurrentHeight = 0;
}

HRESULT CDecBase::Process(bool bPreroll, const uint8_t* pbIn, uint32_t dwInLength, bool bStamped,
                          uint8_t* pbOut, uint32_t dwOutLength)
{
    // A back-end without a frame size or an output format has nothing to deliver.
    if (bPreroll || !IsUsable() || m_nWidth <= 0 || m_nHeight <= 0 || m_nOutStride <= 0)
        return S_FALSE;
    if (pbIn == nullptr)
        return S_FALSE;

    const uint8_t* pbPayload = pbIn;
    uint32_t dwPayload = dwInLength;
    if (bStamped && dwInLength != 0) {
        if (!m_parse.Parse(pbIn, dwInLength))
            return S_FALSE;
        const StampRecord& stamp = m_parse.Record();
        pbPayload = stamp.pbPayload;
        dwPayload = stamp.dwPayloadLength;
        if (m_pBlend != nullptr) {
            if (std::u16string_view(stamp.szTime) != std::u16string_view(m_lastStamp.szTime)) {
                m_pBlend->RemoveItem(m_pTimeText);
                m_pTimeText = m_pBlend->AddText(stamp.szTime, m_nWidth, m_nHeight, 0);
            }
            if (std::u16string_view(stamp.szCaption) != std::u16string_view(m_lastStamp.szCaption)) {
                m_pBlend->RemoveItem(m_pCaptionText);
                m_pCaptionText = m_pBlend->AddText(stamp.szCaption, m_nWidth, m_nHeight, 3);
            }
        }
        m_postProc.SetValues(m_cBrightness, m_cContrast, m_cHue, m_cSaturation);
        m_postProc.SetMirror((stamp.bMirror ^ m_bMirror) != 0);
        m_postProc.SetRotate((stamp.bRotate ^ m_bRotate) != 0);
        m_lastStamp = stamp;
    }

    FrameBuffer picture;
    const int nDecode = Decode(pbPayload, dwPayload, picture, m_nLumaStride, m_nChromaStride);
    if (nDecode == 1)
        return S_FALSE;
    if (nDecode != 0)
        return nDecode;
    picture.nStride = m_nLumaStride;
    picture.nHeight = m_nHeight;

    // The decoder predicts the next pictures from its picture and releases it at its next call,
    // after which a snapshot still reads the current frame (the next sample may bring no
    // picture, or one of another size): the picture is held in the decoder, or copied. Colour,
    // orientation and overlays never go into the decoder's picture: they go into the copy, or
    // into planar output after it is written. Other output from a held picture with them needs
    // the copy.
    m_pHeld = HoldPicture();
    const bool bFinishing = HasFinishing();
    const bool bPlanarOut = (m_dwOutCode == CSP_I420 || m_dwOutCode == CSP_YV12) && !m_bFlip &&
                            (m_nWidth + 1) / 2 <= m_nOutStride / 2;
    if (m_pHeld != nullptr && m_nChromaStride * 2 == m_nLumaStride && (!bFinishing || bPlanarOut)) {
        m_current = picture;
        m_bCurrentFinished = !bFinishing;
    } else {
        m_pHeld.reset();
        const int nChromaRows = (m_nHeight + 1) / 2;
        const size_t nLuma = static_cast<size_t>(m_nLumaStride) * m_nHeight + 64;
        const size_t nChroma = static_cast<size_t>(m_nLumaStride / 2) * nChromaRows + 64;
        if (m_vecStaging.empty() || m_nStagingStride != m_nLumaStride || m_nStagingHeight != m_nHeight) {
            m_vecStaging.assign(nLuma + 2 * nChroma, 0);
            m_nStagingStride = m_nLumaStride;
            m_nStagingHeight = m_nHeight;
        }
        m_current.pY = m_vecStaging.data();
        m_current.pU = m_current.pY + nLuma;
        m_current.pV = m_current.pU + nChroma;
        m_current.nStride = m_nLumaStride;
        m_current.nHeight = m_nHeight;
        std::memcpy(m_current.pY, picture.pY, static_cast<size_t>(m_nLumaStride) * m_nHeight);
        for (int r = 0; r < nChromaRows; ++r) {
            std::memcpy(m_current.pU + static_cast<size_t>(r) * (m_nLumaStride / 2),
                        picture.pU + static_cast<size_t>(r) * m_nChromaStride, m_nLumaStride / 2);
            std::memcpy(m_current.pV + static_cast<size_t>(r) * (m_nLumaStride / 2),
                        picture.pV + static_cast<size_t>(r) * m_nChromaStride, m_nLumaStride / 2);
        }
        m_bCurrentFinished = !bFinishing;
    }
    m_nCurrentWidth = m_nWidth;
    m_nCurrentHeight = m_nHeight;

    if (dwOutLength < static_cast<uint64_t>(m_nHeight) * static_cast<uint64_t>(m_nOutStride)) {
        OutputDebugString("TransForm nOutLen < m_nOutStride");
        return S_FALSE;
    }
    if (dwOutLength < static_cast<uint64_t>(m_nHeight) * static_cast<uint64_t>(m_nWidth + m_nWidth / 2)) {
        OutputDebugString("TransForm nOutLen < m_nImageWidth");
        return S_FALSE;
    }
    if (pbOut == nullptr)
        return S_FALSE;

    if (m_pHeld == nullptr && !m_bCurrentFinished) {
        Finish(m_current, m_nWidth, m_nHeight);
        m_bCurrentFinished = true;
    }
    try {
        ConvertImage(m_current, m_nWidth, m_nHeight, pbOut, m_nOutStride,
                     m_dwOutCode | (m_bFlip ? CSP_VFLIP : 0));
    } catch (...) {
        OutputDebugString("TransForm OutputImage __except");
    }
    if (!m_bCurrentFinished) {
        // Only planar output from a held picture gets here: its planes as the converter laid
        // them out.
        FrameBuffer output;
        uint8_t* pFirst = pbOut + static_cast<size_t>(m_nOutStride) * m_nHeight;
        uint8_t* pSecond = pFirst + static_cast<size_t>(m_nOutStride / 2) * ((m_nHeight + 1) / 2);
        output.pY = pbOut;
        output.pU = m_dwOutCode == CSP_I420 ? pFirst : pSecond;
        output.pV = m_dwOutCode == CSP_I420 ? pSecond : pFirst;
        output.nStride = m_nOutStride;
        output.nHeight = m_nHeight;
        Finish(output, m_nWidth, m_nHeight);
    }
    return S_OK;
}

bool CDecBase::HasFinishing() const
{
    return m_postProc.IsActive() || (m_pBlend != nullptr && m_pBlend->HasItems());
}

void CDecBase::Finish(const FrameBuffer& frame, int nWidth, int nHeight)
{
    try {
        if (m_postProc.IsActive())
            m_postProc.Apply(frame, nWidth, nHeight);
        if (m_pBlend != nullptr)
            m_pBlend->Blend(frame, nWidth, nHeight);
    } catch (...) {
        OutputDebugString("TransForm OutputImageToStream __except");
    }
}

int CDecBase::SaveSnapshot(const std::string& strPath)
{
    // The current frame at its own size: the frame size may have changed since it was decoded.
    const int nWidth = m_nCurrentWidth;
    const int nHeight = m_nCurrentHeight;
    if (strPath.empty() || m_current.pY == nullptr || nWidth <= 0 || nHeight <= 0)
        return 0;
    // Rows are padded to four bytes as every bitmap reader expects; the usual camera widths
    // are multiples of four and need no padding.
    const uint32_t dwRow = (static_cast<uint32_t>(nWidth) * 3 + 3) & ~3u;
    const uint32_t dwImage = dwRow * static_cast<uint32_t>(nHeight);
    std::vector<uint8_t> vecPixels(dwImage, 0);
    FrameBuffer frame = m_current;
    std::vector<uint8_t> vecFinished;
    if (!m_bCurrentFinished && HasFinishing()) {
        // As it was shown: colour, orientation and overlays on a copy of the held picture.
        const size_t nLuma = static_cast<size_t>(frame.nStride) * nHeight;
        const size_t nChroma = static_cast<size_t>(frame.nStride / 2) * ((nHeight + 1) / 2);
        vecFinished.resize(nLuma + 2 * nChroma);
        std::memcpy(vecFinished.data(), frame.pY, nLuma);
        std::memcpy(vecFinished.data() + nLuma, frame.pU, nChroma);
        std::memcpy(vecFinished.data() + nLuma + nChroma, frame.pV, nChroma);
        frame.pY = vecFinished.data();
        frame.pU = frame.pY + nLuma;
        frame.pV = frame.pU + nChroma;
        Finish(frame, nWidth, nHeight);
    }
    ConvertImage(frame, nWidth, nHeight, vecPixels.data(), static_cast<int>(dwRow), CSP_BGR | CSP_VFLIP);

    uint8_t byHeader[58] = {};
    auto put16 = [&](int nAt, uint32_t dw) {
        byHeader[nAt] = dw & 0xFF;
        byHeader[nAt + 1] = (dw >> 8) & 0xFF;
    };
    auto put32 = [&](int nAt, uint32_t dw) {
        put16(nAt, dw & 0xFFFF);
        put16(nAt + 2, dw >> 16);
    };
    byHeader[0] = 'B';
    byHeader[1] = 'M';
    put32(2, 58 + dwImage);
    put32(10, 58);
    put32(14, 40);
    put32(18, static_cast<uint32_t>(nWidth));
    put32(22, static_cast<uint32_t>(nHeight));
    put16(26, 1);
    put16(28, 24);
    put32(34, dwImage);
    // The picture goes to a new file beside the target, made with O_EXCL | O_NOFOLLOW, which then
    // replaces the target: nothing already at the path (a file someone else made, a symlink to
    // another file) is ever written through, and a reader never sees half a picture.
    std::string strTemp;
    int nFile = -1;
    for (unsigned nTry = 0; nFile < 0 && nTry < 16; ++nTry) {
        strTemp = strPath + ".part" + std::to_string(::getpid()) + "-" + std::to_string(nTry);
        nFile = ::open(strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (nFile < 0 && errno != EEXIST)
            return 0;
    }
    if (nFile < 0)
        return 0;
    auto writeAll = [nFile](const uint8_t* pData, std::size_t nLen) {
        while (nLen > 0) {
            const ssize_t nDone = ::write(nFile, pData, nLen);
            if (nDone < 0 && errno == EINTR)
                continue;
            if (nDone <= 0)
                return false;
            pData += nDone;
            nLen -= static_cast<std::size_t>(nDone);
        }
        return true;
    };
    const bool bWritten = writeAll(byHeader, sizeof byHeader) && writeAll(vecPixels.data(), vecPixels.size());
    if (::close(nFile) != 0 || !bWritten || ::rename(strTemp.c_str(), strPath.c_str()) != 0) {
        ::unlink(strTemp.c_str());
        return 0;
    }
    return 1;
}
