#include "media/audio/acodecs.h"

#include "media/audio/pcm16.h"

#include <gsm.h>

#include <algorithm>

extern "C" {
#include <bcg729/decoder.h>
#include <bcg729/encoder.h>
}

// spandsp's headers need their base declarations first.
#include <spandsp/telephony.h>

#include <spandsp/bit_operations.h>

#include <spandsp/g711.h>
#include <spandsp/g726.h>

// ---- GSM 06.10 ----

CACodecGSM::~CACodecGSM()
{
    Close();
}

bool CACodecGSM::CheckFormat(BYTE, WORD usBits)
{
    return usBits == 16;
}

bool CACodecGSM::Open(BYTE bVariant, WORD usBits, int)
{
    if (!CheckFormat(bVariant, usBits))
        return false;
    Close();
    m_pGsm = gsm_create();
    if (!m_pGsm)
        return false;
    m_bVariant = bVariant;
    m_usBits = usBits;
    m_nState = 3;
    return true;
}

void CACodecGSM::Close()
{
    if (m_pGsm)
        gsm_destroy(m_pGsm);
    m_pGsm = nullptr;
    m_nState = 0;
}

int CACodecGSM::Encode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap)
{
    if (!m_pGsm || !pIn || !pOut)
        return 0;
    int nOut = 0;
    gsm_signal asSamples[160];
    for (int i = 0; (i + 1) * PCM_FRAME <= nInBytes && nOut + CODED_FRAME <= nOutCap; ++i) {
        for (int k = 0; k < 160; ++k)
            asSamples[k] = ReadPcm16(pIn + i * PCM_FRAME + 2 * k);
        gsm_encode(m_pGsm, asSamples, pOut + nOut);
        nOut += CODED_FRAME;
    }
    return nOut;
}

int CACodecGSM::Decode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap)
{
    if (!m_pGsm || !pIn || !pOut)
        return 0;
    int nOut = 0;
    gsm_signal asSamples[160];
    for (int i = 0; (i + 1) * CODED_FRAME <= nInBytes && nOut + PCM_FRAME <= nOutCap; ++i) {
        // libgsm takes a non-const frame but does not write to it. A frame without the GSM
        // signature nibble is garbage from the wire: silence keeps the timing.
        if (gsm_decode(m_pGsm, const_cast<gsm_byte*>(pIn + i * CODED_FRAME), asSamples) != 0) {
            for (gsm_signal& s : asSamples)
                s = 0;
        }
        for (int k = 0; k < 160; ++k)
            WritePcm16(pOut + nOut + 2 * k, asSamples[k]);
        nOut += PCM_FRAME;
    }
    return nOut;
}

// ---- G.729 Annex A ----

CACodecG729::~CACodecG729()
{
    Close();
}

bool CACodecG729::CheckFormat(BYTE, WORD usBits)
{
    return usBits == 16;
}

bool CACodecG729::Open(BYTE bVariant, WORD usBits, int)
{
    if (!CheckFormat(bVariant, usBits))
        return false;
    Close();
    if (bVariant == 0) {
        m_pEncoder = initBcg729EncoderChannel(0);
        m_nState = 2;
    } else {
        m_pDecoder = initBcg729DecoderChannel();
        m_nState = 1;
    }
    if (!m_pEncoder && !m_pDecoder) {
        m_nState = 0;
        return false;
    }
    m_bVariant = bVariant;
    m_usBits = usBits;
    return true;
}

void CACodecG729::Close()
{
    if (m_pEncoder)
        closeBcg729EncoderChannel(m_pEncoder);
    if (m_pDecoder)
        closeBcg729DecoderChannel(m_pDecoder);
    m_pEncoder = nullptr;
    m_pDecoder = nullptr;
    m_nState = 0;
}

int CACodecG729::Encode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap)
{
    if (!m_pEncoder || !pIn || !pOut)
        return 0;
    int nOut = 0;
    std::int16_t asSamples[80];
    for (int i = 0; (i + 1) * PCM_FRAME <= nInBytes && nOut + CODED_FRAME <= nOutCap; ++i) {
        for (int k = 0; k < 80; ++k)
            asSamples[k] = ReadPcm16(pIn + i * PCM_FRAME + 2 * k);
        std::uint8_t bLen = 0;
        bcg729Encoder(m_pEncoder, asSamples, pOut + nOut, &bLen);
        nOut += CODED_FRAME;
    }
    return nOut;
}

int CACodecG729::Decode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap)
{
    if (!m_pDecoder || !pIn || !pOut)
        return 0;
    int nOut = 0;
    std::int16_t asSamples[80];
    for (int i = 0; (i + 1) * CODED_FRAME <= nInBytes && nOut + PCM_FRAME <= nOutCap; ++i) {
        bcg729Decoder(m_pDecoder, pIn + i * CODED_FRAME, CODED_FRAME, 0, 0, 0, asSamples);
        for (int k = 0; k < 80; ++k)
            WritePcm16(pOut + nOut + 2 * k, asSamples[k]);
        nOut += PCM_FRAME;
    }
    return nOut;
}

// ---- G.726 ----

CACodecG723::~CACodecG723()
{
    Close();
}

bool CACodecG723::CheckFormat(BYTE bVariant, WORD usBits)
{
    return bVariant < 4 && usBits == 16;
}

bool CACodecG723::Open(BYTE bVariant, WORD usBits, int)
{
    if (!CheckFormat(bVariant, usBits))
        return false;
    Close();
    m_pAdpcm = g726_init(nullptr, 8000 * (bVariant + 2), G726_ENCODING_LINEAR, G726_PACKING_NONE);
    if (!m_pAdpcm)
        return false;
    m_bVariant = bVariant;
    m_usBits = usBits;
    m_nState = 3;
    return true;
}

void CACodecG723::Close()
{
    if (m_pAdpcm)
        g726_free(m_pAdpcm);
    m_pAdpcm = nullptr;
    m_nState = 0;
}

int CACodecG723::Encode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap)
{
    if (!m_pAdpcm || !pIn || !pOut)
        return 0;
    const int nBits = CodeBits();
    // Only whole groups of 8 samples (nBits bytes) count, so a group that would not fit is
    // not coded at all and the output never passes nOutCap.
    const int nGroups = std::min((nInBytes / 2 + 7) / 8, nOutCap / nBits);
    const int nSamples = std::min(nInBytes / 2, nGroups * 8);
    unsigned nAcc = 0;
    int nPending = 0;
    int nOut = 0;
    auto put = [&](unsigned code) {
        nAcc |= code << nPending;
        nPending += nBits;
        while (nPending >= 8) {
            if (nOut < nGroups * nBits)
                pOut[nOut] = BYTE(nAcc & 0xFF);
            ++nOut;
            nAcc >>= 8;
            nPending -= 8;
        }
    };
    for (int i = 0; i < nSamples; ++i) {
        std::int16_t sAmp = ReadPcm16(pIn + 2 * i);
        std::uint8_t bCode = 0;
        g726_encode(m_pAdpcm, &bCode, &sAmp, 1);
        put(bCode);
    }
    while (nPending > 0)
        put(0);
    return std::min(nOut, nGroups * nBits) / nBits * nBits;
}

int CACodecG723::Decode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap)
{
    if (!m_pAdpcm || !pIn || !pOut)
        return 0;
    const int nBits = CodeBits();
    const unsigned nMask = (1u << nBits) - 1;
    unsigned nAcc = 0;
    int nPending = 0;
    int nIn = 0;
    int nOut = 0;
    while (nOut + 2 <= nOutCap) {
        while (nPending < nBits && nIn < nInBytes) {
            nAcc |= unsigned(pIn[nIn++]) << nPending;
            nPending += 8;
        }
        if (nPending < nBits)
            break;
        std::uint8_t bCode = BYTE(nAcc & nMask);
        nAcc >>= nBits;
        nPending -= nBits;
        std::int16_t sAmp = 0;
        g726_decode(m_pAdpcm, &sAmp, &bCode, 1);
        WritePcm16(pOut + nOut, sAmp);
        nOut += 2;
    }
    return nOut;
}

// ---- G.711 ----

bool CACodecG711::CheckFormat(BYTE bVariant, WORD usBits)
{
    return bVariant < 2 && usBits == 16;
}

bool CACodecG711::Open(BYTE bVariant, WORD usBits, int)
{
    if (!CheckFormat(bVariant, usBits))
        return false;
    m_bVariant = bVariant;
    m_usBits = usBits;
    m_nState = 3;
    return true;
}

void CACodecG711::Close()
{
    m_nState = 0;
}

int CACodecG711::Encode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap)
{
    if (m_nState == 0 || !pIn || !pOut)
        return 0;
    const int nSamples = std::min(nInBytes / 2, nOutCap);
    for (int i = 0; i < nSamples; ++i) {
        const std::int16_t s = ReadPcm16(pIn + 2 * i);
        pOut[i] = m_bVariant == 0 ? linear_to_alaw(s) : linear_to_ulaw(s);
    }
    return nSamples;
}

int CACodecG711::Decode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap)
{
    if (m_nState == 0 || !pIn || !pOut)
        return 0;
    const int nSamples = std::min(nInBytes, nOutCap / 2);
    for (int i = 0; i < nSamples; ++i)
        WritePcm16(pOut + 2 * i, m_bVariant == 0 ? alaw_to_linear(pIn[i]) : ulaw_to_linear(pIn[i]));
    return 2 * nSamples;
}
