// Speech codecs behind one interface, looked up by a one-byte codec id.
//
// Every codec works on 16-bit little-endian linear PCM, 8000 samples per second, one channel,
// and cuts its input into whole frames; a partial trailing frame is ignored. Encode and decode
// never write past the caller's output capacity: they stop before a frame that would not fit.
#pragma once

#include "platform/wintypes.h"

#include <memory>
#include <string>

// Codec ids as the cameras and the front ends know them. 0 means no codec (raw PCM).
constexpr BYTE AUDIO_CODEC_NONE = 0;
constexpr BYTE AUDIO_CODEC_G723 = 0x0A; // G.726 ADPCM, 16/24/32/40 kbit/s
constexpr BYTE AUDIO_CODEC_G729 = 0x1A; // G.729 Annex A
constexpr BYTE AUDIO_CODEC_G711 = 0x3A; // A-law / mu-law
constexpr BYTE AUDIO_CODEC_GSM = 0x4A;  // GSM 06.10 full rate

class CAudioCodec {
public:
    // Directions passed to Open; no codec depends on it.
    static constexpr int DIRECTION_DECODE = 0;
    static constexpr int DIRECTION_ENCODE = 1;

    virtual ~CAudioCodec();
    virtual bool CheckFormat(BYTE bVariant, WORD usBits);
    virtual bool Open(BYTE bVariant, WORD usBits, int nDirection);
    virtual void Close();
    // Has no caller; kept so that the slot order stays as the cameras' tools expect.
    virtual int Reserved();
    // Returns the coded bytes written to pOut (at most nOutCap).
    virtual int Encode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap);
    // Returns the PCM bytes written to pOut (at most nOutCap).
    virtual int Decode(const BYTE* pIn, BYTE* pOut, int nInBytes, int nOutCap);
    virtual BYTE GetId() const = 0;
    virtual BYTE GetVariant() const;
    virtual WORD GetBits() const;
    virtual std::string GetName() const;

    CAudioCodec(const CAudioCodec&) = delete;
    CAudioCodec& operator=(const CAudioCodec&) = delete;

protected:
    explicit CAudioCodec(const char* pszName) : m_strName(pszName) {}

    // 0 closed, 3 ready for both directions; G.729A: 2 encoder, 1 decoder.
    int m_nState = 0;
    std::string m_strName;
    BYTE m_bVariant = 0;
    WORD m_usBits = 16;
};

using AudioCodecFactory = CAudioCodec* (*)();

// A new codec for the id, or nullptr when no factory has it. Thread-safe.
std::unique_ptr<CAudioCodec> CreateAudioCodec(BYTE bId);
// Adds a factory in front of the registry (the built-in codecs are there from the start).
void RegisterAudioCodec(BYTE bId, AudioCodecFactory pfnFactory);
