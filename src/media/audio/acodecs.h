// The built-in speech codecs of the registry (audiocodec.h).
#pragma once

#include "media/audio/audiocodec.h"

#include <cstdint>

struct gsm_state;
struct bcg729EncoderChannelContextStruct_struct;
struct bcg729DecoderChannelContextStruct_struct;
struct g726_state_s;

// GSM 06.10 full rate: 320 PCM bytes <-> 33 coded bytes; one state for both directions.
class CACodecGSM : public CAudioCodec {
public:
    static constexpr int PCM_FRAME = 320;
    static constexpr int CODED_FRAME = 33;

    CACodecGSM() : CAudioCodec("GSM_sw") {}
    ~CACodecGSM() override;
    bool CheckFormat(BYTE bVariant, WORD usBits) override;
    bool Open(BYTE bVariant, WORD usBits, int nDirection) override;
    void Close() override;
    int Encode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap) override;
    int Decode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap) override;
    BYTE GetId() const override { return AUDIO_CODEC_GSM; }

private:
    gsm_state* m_pGsm = nullptr;
};

// G.729 Annex A: 160 PCM bytes <-> 10 coded bytes. Variant 0 opens the encoder, any other
// the decoder.
class CACodecG729 : public CAudioCodec {
public:
    static constexpr int PCM_FRAME = 160;
    static constexpr int CODED_FRAME = 10;

    CACodecG729() : CAudioCodec("g729a_sw") {}
    ~CACodecG729() override;
    bool CheckFormat(BYTE bVariant, WORD usBits) override;
    bool Open(BYTE bVariant, WORD usBits, int nDirection) override;
    void Close() override;
    int Encode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap) override;
    int Decode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap) override;
    BYTE GetId() const override { return AUDIO_CODEC_G729; }

private:
    bcg729EncoderChannelContextStruct_struct* m_pEncoder = nullptr;
    bcg729DecoderChannelContextStruct_struct* m_pDecoder = nullptr;
};

// G.726 ADPCM; variant 0..3 = 16, 24, 32, 40 kbit/s (2..5 bits per sample), codes packed
// least significant bit first, 8 samples to (bits per sample) bytes.
class CACodecG723 : public CAudioCodec {
public:
    CACodecG723() : CAudioCodec("g723_16k_sw(24k,32k,40k)") {}
    ~CACodecG723() override;
    bool CheckFormat(BYTE bVariant, WORD usBits) override;
    bool Open(BYTE bVariant, WORD usBits, int nDirection) override;
    void Close() override;
    int Encode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap) override;
    int Decode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap) override;
    BYTE GetId() const override { return AUDIO_CODEC_G723; }

private:
    int CodeBits() const { return m_bVariant + 2; }

    g726_state_s* m_pAdpcm = nullptr;
};

// G.711; variant 0 = A-law, 1 = mu-law. One sample <-> one byte.
class CACodecG711 : public CAudioCodec {
public:
    CACodecG711() : CAudioCodec("G711_alaw_sw(ulaw_sw)") {}
    bool CheckFormat(BYTE bVariant, WORD usBits) override;
    bool Open(BYTE bVariant, WORD usBits, int nDirection) override;
    void Close() override;
    int Encode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap) override;
    int Decode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap) override;
    BYTE GetId() const override { return AUDIO_CODEC_G711; }
};
