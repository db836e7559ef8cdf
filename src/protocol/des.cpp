#include "protocol/des.h"

#include <nettle/des.h>

static_assert(sizeof(des_ctx) == sizeof(std::uint32_t[32]), "DES schedule storage");
static_assert(DES_BLOCK_SIZE == DES_BLOCK_LEN);

namespace {

des_ctx* Ctx(std::uint32_t* p)
{
    return reinterpret_cast<des_ctx*>(p);
}

const des_ctx* Ctx(const std::uint32_t* p)
{
    return reinterpret_cast<const des_ctx*>(p);
}

} // namespace

void CDesKeySchedule::SetKey(const std::uint8_t* pbKey)
{
    // DES never uses the parity bits; normalising them keeps the library from judging the key
    // by bits that carry nothing. Its weak-key verdict is ignored on purpose: the schedule is
    // complete either way and the cameras use such keys.
    std::uint8_t abKey[DES_KEY_SIZE];
    des_fix_parity(DES_KEY_SIZE, abKey, pbKey);
    (void)des_set_key(Ctx(m_adwSchedule), abKey);
}

void CDesKeySchedule::EncryptBlock(const std::uint8_t* pbIn, std::uint8_t* pbOut) const
{
    des_encrypt(Ctx(m_adwSchedule), DES_BLOCK_LEN, pbOut, pbIn);
}

void CDesKeySchedule::DecryptBlock(const std::uint8_t* pbIn, std::uint8_t* pbOut) const
{
    des_decrypt(Ctx(m_adwSchedule), DES_BLOCK_LEN, pbOut, pbIn);
}

void CDesKeySchedule::EncryptBlocks(std::uint8_t* pbData, std::size_t nBlocks) const
{
    if (nBlocks)
        des_encrypt(Ctx(m_adwSchedule), nBlocks * DES_BLOCK_LEN, pbData, pbData);
}

void CDesKeySchedule::DecryptBlocks(std::uint8_t* pbData, std::size_t nBlocks) const
{
    if (nBlocks)
        des_decrypt(Ctx(m_adwSchedule), nBlocks * DES_BLOCK_LEN, pbData, pbData);
}
