#include "protocol/password.h"

#include <algorithm>
#include <cstring>

#include "core/log.h"
#include "protocol/des.h"

namespace {

// Writes a 32-bit value least significant byte first, the order the camera uses for the
// sequence numbers it enciphers.
void PutLE32(std::uint8_t* pb, std::uint32_t dw)
{
    pb[0] = static_cast<std::uint8_t>(dw);
    pb[1] = static_cast<std::uint8_t>(dw >> 8);
    pb[2] = static_cast<std::uint8_t>(dw >> 16);
    pb[3] = static_cast<std::uint8_t>(dw >> 24);
}

// DES_KA(block) || DES_KB(block) under the key material of a password.
void EncipherUnderPassword(const std::uint8_t (&pbPassword)[PASSWORD_LEN], std::uint8_t bEncryptVersion,
                           const std::uint8_t (&pbBlock)[DES_BLOCK_LEN],
                           std::uint8_t (&pbOut)[2 * DES_BLOCK_LEN])
{
    std::uint8_t abKey[PASSWORD_LEN];
    MakeKeyMaterial(pbPassword, bEncryptVersion, abKey);
    CDesKeySchedule(abKey).EncryptBlock(pbBlock, pbOut);
    CDesKeySchedule(abKey + DES_BLOCK_LEN).EncryptBlock(pbBlock, pbOut + DES_BLOCK_LEN);
}

std::string MaskField(const std::uint8_t* pb, std::size_t n)
{
    return MaskSecret(std::string(reinterpret_cast<const char*>(pb), n));
}

bool SameField(const std::uint8_t (&a)[PASSWORD_LEN], const std::uint8_t (&b)[PASSWORD_LEN])
{
    return std::memcmp(a, b, PASSWORD_LEN) == 0;
}

} // namespace

bool PasswordInfo::HasPassword() const
{
    return std::any_of(std::begin(pszEncryptedSourceId), std::end(pszEncryptedSourceId),
                       [](std::uint8_t b) { return b != 0; });
}

void PasswordInfo::PrintInfo() const
{
    if (g_nDebugLevel < 4)
        return;
    WriteLog(4,
             "PasswordInfo::PrintInfo: bEncryptVersion:%d, HasPassword():%d, ulSequenceId[0]:%d, "
             "ulSequenceId[1]:%d, pszEncryptedSourceId:%s",
             bEncryptVersion, HasPassword() ? 1 : 0, static_cast<int>(ulSequenceId[0]),
             static_cast<int>(ulSequenceId[1]), MaskField(pszEncryptedSourceId, PASSWORD_CHECK_LEN).c_str());
    WriteLog(4, "PasswordInfo::PrintInfo: pszInputPassword:%s, pbEncryptedID:%s",
             MaskSecret(PasswordToText(pszInputPassword)).c_str(),
             MaskField(pbEncryptedID, PASSWORD_TOKEN_LEN).c_str());
}

bool PasswordFromText(const std::string& strPassword, std::uint8_t (&pbPassword)[PASSWORD_LEN])
{
    if (strPassword.size() > PASSWORD_LEN)
        return false;
    std::memset(pbPassword, 0, PASSWORD_LEN);
    std::memcpy(pbPassword, strPassword.data(), strPassword.size());
    return true;
}

std::string PasswordToText(const std::uint8_t (&pbPassword)[PASSWORD_LEN])
{
    const auto* pEnd = std::find(std::begin(pbPassword), std::end(pbPassword), 0);
    return std::string(reinterpret_cast<const char*>(pbPassword), pEnd - std::begin(pbPassword));
}

void MakeKeyMaterial(const std::uint8_t (&pbPassword)[PASSWORD_LEN], std::uint8_t bEncryptVersion,
                     std::uint8_t (&pbKey)[PASSWORD_LEN])
{
    for (std::size_t i = 0; i < PASSWORD_LEN; ++i)
        pbKey[i] = bEncryptVersion ? static_cast<std::uint8_t>(pbPassword[i] * 2) : pbPassword[i];
}

void ComputeCheckValue(const PasswordInfo& info, const std::uint8_t (&pbPassword)[PASSWORD_LEN],
                       std::uint8_t (&pbCheck)[PASSWORD_CHECK_LEN])
{
    std::uint8_t abSequence[DES_BLOCK_LEN];
    PutLE32(abSequence, info.ulSequenceId[0]);
    PutLE32(abSequence + 4, info.ulSequenceId[1]);
    EncipherUnderPassword(pbPassword, info.bEncryptVersion, abSequence, pbCheck);
}

bool PasswordMatches(const PasswordInfo& info)
{
    if (!info.HasPassword())
        return true;
    std::uint8_t abCheck[PASSWORD_CHECK_LEN];
    ComputeCheckValue(info, info.pszInputPassword, abCheck);
    return SameField(abCheck, info.pszEncryptedSourceId);
}

bool CheckPassword(PasswordInfo& info, const std::uint8_t (&pbTyped)[PASSWORD_LEN])
{
    VLOG(4, "CheckPassword: beg { bEncryptVersion:%d, HasPassword():%d, password:%s", info.bEncryptVersion,
         info.HasPassword() ? 1 : 0, MaskSecret(PasswordToText(pbTyped)).c_str());
    bool bAccepted = true;
    if (!info.HasPassword()) {
        // The camera's password is the empty one: a stale password from before it was removed
        // would give a token the camera refuses.
        std::memset(info.pszInputPassword, 0, PASSWORD_LEN);
    } else {
        std::uint8_t abCheck[PASSWORD_CHECK_LEN];
        ComputeCheckValue(info, pbTyped, abCheck);
        bAccepted = SameField(abCheck, info.pszEncryptedSourceId);
        if (bAccepted)
            std::memcpy(info.pszInputPassword, pbTyped, PASSWORD_LEN);
    }
    MakeToken(info);
    VLOG(4, "CheckPassword: end } bAccepted:%d", bAccepted ? 1 : 0);
    return bAccepted;
}

void MakeToken(PasswordInfo& info)
{
    std::uint8_t abBlock[DES_BLOCK_LEN];
    PutLE32(abBlock, info.ulSequenceId[0] + TOKEN_SEQUENCE_ADD_0);
    PutLE32(abBlock + 4, info.ulSequenceId[1] + TOKEN_SEQUENCE_ADD_1);
    EncipherUnderPassword(info.pszInputPassword, info.bEncryptVersion, abBlock, info.pbEncryptedID);
}

bool MakePasswordChangeBody(const PasswordInfo& info, const std::uint8_t (&pbOld)[PASSWORD_LEN],
                            const std::uint8_t (&pbNew)[PASSWORD_LEN],
                            const std::uint8_t (&pbConfirm)[PASSWORD_LEN],
                            std::uint8_t (&pbBody)[PASSWORD_CHANGE_BODY_LEN])
{
    if (!SameField(pbOld, info.pszInputPassword) || !SameField(pbNew, pbConfirm)) {
        VLOG(4, "MakePasswordChangeBody: end } mismatch");
        return false;
    }
    std::memcpy(pbBody, pbOld, PASSWORD_LEN);
    std::memcpy(pbBody + PASSWORD_LEN, pbNew, PASSWORD_LEN);
    // The camera deciphers with its stored password as typed, so no doubling here.
    CDesKeySchedule(pbOld).EncryptBlocks(pbBody, PASSWORD_CHANGE_BODY_LEN / DES_BLOCK_LEN);
    return true;
}

void DecryptPasswordChangeBody(std::uint8_t (&pbBody)[PASSWORD_CHANGE_BODY_LEN],
                               const std::uint8_t (&pbOld)[PASSWORD_LEN])
{
    CDesKeySchedule(pbOld).DecryptBlocks(pbBody, PASSWORD_CHANGE_BODY_LEN / DES_BLOCK_LEN);
}

void StoreChangedPassword(PasswordInfo& info, const std::uint8_t (&pbNew)[PASSWORD_LEN])
{
    std::memcpy(info.pszInputPassword, pbNew, PASSWORD_LEN);
    MakeToken(info);
}
