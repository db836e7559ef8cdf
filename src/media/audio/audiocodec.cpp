#include "media/audio/audiocodec.h"

#include "media/audio/acodecs.h"

#include <mutex>

CAudioCodec::~CAudioCodec() = default;

bool CAudioCodec::CheckFormat(BYTE, WORD)
{
    return false;
}

bool CAudioCodec::Open(BYTE, WORD, int)
{
    return false;
}

void CAudioCodec::Close() {}

int CAudioCodec::Reserved()
{
    return -1;
}

int CAudioCodec::Encode(const BYTE*, BYTE*, int, int)
{
    return 0;
}

int CAudioCodec::Decode(const BYTE*, BYTE*, int, int)
{
    return 0;
}

BYTE CAudioCodec::GetVariant() const
{
    return m_bVariant;
}

WORD CAudioCodec::GetBits() const
{
    return m_usBits;
}

std::string CAudioCodec::GetName() const
{
    return m_strName;
}

namespace {

struct CodecEntry {
    BYTE bId;
    AudioCodecFactory pfnFactory;
    CodecEntry* pNext;
};

template <class T> CAudioCodec* MakeCodec()
{
    return new T;
}

std::mutex& RegistryLock()
{
    static std::mutex lock;
    return lock;
}

// The list head, with the built-in codecs linked at first use. Entries live for the process.
CodecEntry*& RegistryHead()
{
    static CodecEntry aBuiltIn[] = {
        {AUDIO_CODEC_GSM, &MakeCodec<CACodecGSM>, &aBuiltIn[1]},
        {AUDIO_CODEC_G729, &MakeCodec<CACodecG729>, &aBuiltIn[2]},
        {AUDIO_CODEC_G723, &MakeCodec<CACodecG723>, &aBuiltIn[3]},
        {AUDIO_CODEC_G711, &MakeCodec<CACodecG711>, nullptr},
    };
    static CodecEntry* pHead = aBuiltIn;
    return pHead;
}

} // namespace

std::unique_ptr<CAudioCodec> CreateAudioCodec(BYTE bId)
{
    std::lock_guard<std::mutex> guard(RegistryLock());
    for (CodecEntry* p = RegistryHead(); p; p = p->pNext) {
        if (p->bId == bId)
            return std::unique_ptr<CAudioCodec>(p->pfnFactory());
    }
    return nullptr;
}

void RegisterAudioCodec(BYTE bId, AudioCodecFactory pfnFactory)
{
    if (!pfnFactory)
        return;
    std::lock_guard<std::mutex> guard(RegistryLock());
    CodecEntry*& pHead = RegistryHead();
    pHead = new CodecEntry{bId, pfnFactory, pHead};
}
