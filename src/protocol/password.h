// Camera passwords: check value, access token and the enciphered password change.
//
// A password is at most 16 bytes and is always handled as a 16-byte zero-padded field. Its
// key material K is that field, with every byte doubled (mod 256) when the camera's
// bEncryptVersion is non-zero; KA is the first half of K, KB the second.
//
// Passwords, check values and tokens never go to the log in clear (MaskSecret).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

constexpr std::size_t PASSWORD_LEN = 16;
constexpr std::size_t PASSWORD_CHECK_LEN = 16;
constexpr std::size_t PASSWORD_TOKEN_LEN = 16;
constexpr std::size_t PASSWORD_CHANGE_BODY_LEN = 2 * PASSWORD_LEN;

// Added to the two sequence numbers before the token is enciphered.
constexpr std::uint32_t TOKEN_SEQUENCE_ADD_0 = 27561;
constexpr std::uint32_t TOKEN_SEQUENCE_ADD_1 = 41903;

// The password state of one camera (a recorder's channels carry their recorder's sequence
// numbers and check value).
struct PasswordInfo {
    // As the search reply carries them; each travels least significant byte first.
    std::uint32_t ulSequenceId[2]{};
    // The camera's check value; all zero when it has no password.
    std::uint8_t pszEncryptedSourceId[PASSWORD_CHECK_LEN]{};
    // Access token sent with start-video and stop-video.
    std::uint8_t pbEncryptedID[PASSWORD_TOKEN_LEN]{};
    // The password typed last that matched, zero-padded; not zero-ended when 16 bytes long.
    std::uint8_t pszInputPassword[PASSWORD_LEN]{};
    std::uint8_t bEncryptVersion = 0;

    bool HasPassword() const;
    // Level-4 dump with every secret masked.
    void PrintInfo() const;
};

// Zero-padded 16-byte field of a typed password; false (field untouched) when the text is
// longer than 16 bytes, which no camera can hold.
bool PasswordFromText(const std::string& strPassword, std::uint8_t (&pbPassword)[PASSWORD_LEN]);
// The text of a 16-byte field: up to its first zero byte.
std::string PasswordToText(const std::uint8_t (&pbPassword)[PASSWORD_LEN]);

void MakeKeyMaterial(const std::uint8_t (&pbPassword)[PASSWORD_LEN], std::uint8_t bEncryptVersion,
                     std::uint8_t (&pbKey)[PASSWORD_LEN]);

// DES_KA(S) || DES_KB(S), S = the two sequence numbers least significant byte first.
void ComputeCheckValue(const PasswordInfo& info, const std::uint8_t (&pbPassword)[PASSWORD_LEN],
                       std::uint8_t (&pbCheck)[PASSWORD_CHECK_LEN]);

// True when the camera has no password or pszInputPassword reproduces its check value.
bool PasswordMatches(const PasswordInfo& info);

// Verifies a typed password and stores it when it matches; always recomputes the token.
// A camera without a password stores the empty password, so its token comes from the
// all-zero key. Returns whether the typed password was accepted.
bool CheckPassword(PasswordInfo& info, const std::uint8_t (&pbTyped)[PASSWORD_LEN]);

// pbEncryptedID = DES_KA(T) || DES_KB(T) from pszInputPassword, T = the sequence numbers plus
// 27561 and 41903 (mod 2^32), each least significant byte first.
void MakeToken(PasswordInfo& info);

// Body of the set-password request: old || new, four blocks enciphered each on its own under
// the first 8 bytes of the old password as typed (never doubled). Builds nothing and returns
// false when the old password is not pszInputPassword or the new one differs from its
// confirmation.
bool MakePasswordChangeBody(const PasswordInfo& info, const std::uint8_t (&pbOld)[PASSWORD_LEN],
                            const std::uint8_t (&pbNew)[PASSWORD_LEN],
                            const std::uint8_t (&pbConfirm)[PASSWORD_LEN],
                            std::uint8_t (&pbBody)[PASSWORD_CHANGE_BODY_LEN]);

// The receiving end: deciphers a set-password body in place under the camera's current password.
void DecryptPasswordChangeBody(std::uint8_t (&pbBody)[PASSWORD_CHANGE_BODY_LEN],
                               const std::uint8_t (&pbOld)[PASSWORD_LEN]);

// After the set-password request has gone: the new password becomes pszInputPassword and the
// token follows it.
void StoreChangedPassword(PasswordInfo& info, const std::uint8_t (&pbNew)[PASSWORD_LEN]);
