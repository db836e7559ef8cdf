#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/log.h"
#include "protocol/password.h"

namespace {

using Field = std::array<std::uint8_t, 16>;

// Expected values below were produced with an outside DES (openssl enc -des-ecb) from the
// sequence numbers 0x12345678 / 0x9ABCDEF0 unless a test says otherwise.
constexpr Field kCheckAdminV0 = {0x3C, 0x63, 0x30, 0x3E, 0x19, 0xC7, 0xBD, 0x2E,
                                 0xDC, 0xDE, 0x6E, 0xE3, 0x22, 0x5B, 0xEC, 0xCF};
constexpr Field kCheckAdminV1 = {0x80, 0x54, 0xA0, 0xF8, 0xAD, 0x23, 0x97, 0xAE,
                                 0xDC, 0xDE, 0x6E, 0xE3, 0x22, 0x5B, 0xEC, 0xCF};
constexpr Field kCheckFull16V0 = {0x89, 0x19, 0x10, 0x53, 0x50, 0x8B, 0x52, 0x55,
                                  0xC6, 0x55, 0x0B, 0x91, 0xE4, 0x9B, 0xB3, 0x23};
constexpr Field kTokenAdminV0 = {0xD3, 0xFC, 0x4D, 0x0C, 0x26, 0x64, 0x80, 0x73,
                                 0x55, 0x61, 0xB5, 0x1E, 0xED, 0x30, 0xC1, 0x09};
constexpr Field kTokenEmpty = {0x55, 0x61, 0xB5, 0x1E, 0xED, 0x30, 0xC1, 0x09,
                               0x55, 0x61, 0xB5, 0x1E, 0xED, 0x30, 0xC1, 0x09};
constexpr Field kTokenSecretV1 = {0xD6, 0x8B, 0x9A, 0xC8, 0x89, 0xE8, 0x90, 0xE1,
                                  0x55, 0x61, 0xB5, 0x1E, 0xED, 0x30, 0xC1, 0x09};
// Sequence numbers 0xFFFFFF9B / 0xFFFFFFF0, both additions wrap; "admin", doubled.
constexpr Field kTokenAdminV1Wrapped = {0x70, 0x04, 0x4B, 0x4E, 0xB6, 0xEB, 0xB1, 0x7F,
                                        0xCD, 0x05, 0x75, 0xDB, 0x56, 0x7C, 0x14, 0xB4};
// "admin" -> "s3cret!" under the key "admin" as typed.
constexpr std::array<std::uint8_t, 32> kChangeBody = {
    0xB2, 0x9A, 0x9B, 0x5E, 0x4B, 0xD8, 0xE4, 0x8F, 0x85, 0x9B, 0x4D, 0x25, 0x65, 0x60, 0x2E, 0x74,
    0x1B, 0x68, 0xB7, 0xBD, 0xB6, 0xEE, 0xA9, 0xD0, 0x85, 0x9B, 0x4D, 0x25, 0x65, 0x60, 0x2E, 0x74};

template <std::size_t N> bool Equal(const std::uint8_t (&a)[N], const std::array<std::uint8_t, N>& b)
{
    return std::memcmp(a, b.data(), N) == 0;
}

struct Password {
    std::uint8_t ab[PASSWORD_LEN];
    explicit Password(const std::string& s) { EXPECT_TRUE(PasswordFromText(s, ab)); }
};

PasswordInfo Camera(const Field& check, std::uint8_t bEncryptVersion = 0)
{
    PasswordInfo info;
    info.ulSequenceId[0] = 0x12345678;
    info.ulSequenceId[1] = 0x9ABCDEF0;
    std::memcpy(info.pszEncryptedSourceId, check.data(), check.size());
    info.bEncryptVersion = bEncryptVersion;
    return info;
}

TEST(Password, CheckValuesAndTokensMatchAnOutsideDes)
{
    std::uint8_t abCheck[PASSWORD_CHECK_LEN];
    PasswordInfo info = Camera({});
    ComputeCheckValue(info, Password("admin").ab, abCheck);
    EXPECT_TRUE(Equal(abCheck, kCheckAdminV0));
    ComputeCheckValue(info, Password("0123456789abcdef").ab, abCheck);
    EXPECT_TRUE(Equal(abCheck, kCheckFull16V0)) << "second key half not used";
    info.bEncryptVersion = 1;
    ComputeCheckValue(info, Password("admin").ab, abCheck);
    EXPECT_TRUE(Equal(abCheck, kCheckAdminV1)) << "bytes not doubled";

    PasswordInfo tok = Camera({});
    std::memcpy(tok.pszInputPassword, Password("admin").ab, PASSWORD_LEN);
    MakeToken(tok);
    EXPECT_TRUE(Equal(tok.pbEncryptedID, kTokenAdminV0));

    tok.bEncryptVersion = 1;
    tok.ulSequenceId[0] = 0xFFFFFF9B;
    tok.ulSequenceId[1] = 0xFFFFFFF0;
    MakeToken(tok);
    EXPECT_TRUE(Equal(tok.pbEncryptedID, kTokenAdminV1Wrapped)) << "additions must wrap modulo 2^32";
}

TEST(Password, CheckPasswordStoresOnlyAMatchAndAlwaysRecomputesTheToken)
{
    PasswordInfo info = Camera(kCheckAdminV0);
    ASSERT_TRUE(info.HasPassword());
    EXPECT_FALSE(PasswordMatches(info));

    EXPECT_FALSE(CheckPassword(info, Password("Admin").ab));
    EXPECT_EQ(PasswordToText(info.pszInputPassword), "");
    EXPECT_TRUE(Equal(info.pbEncryptedID, kTokenEmpty)) << "token must follow the kept password";
    EXPECT_FALSE(PasswordMatches(info));

    EXPECT_TRUE(CheckPassword(info, Password("admin").ab));
    EXPECT_EQ(PasswordToText(info.pszInputPassword), "admin");
    EXPECT_TRUE(Equal(info.pbEncryptedID, kTokenAdminV0));
    EXPECT_TRUE(PasswordMatches(info));

    // A later wrong guess keeps the good password and its token.
    std::memset(info.pbEncryptedID, 0, PASSWORD_TOKEN_LEN);
    EXPECT_FALSE(CheckPassword(info, Password("admin ").ab));
    EXPECT_EQ(PasswordToText(info.pszInputPassword), "admin");
    EXPECT_TRUE(Equal(info.pbEncryptedID, kTokenAdminV0));
    EXPECT_TRUE(PasswordMatches(info));
}

TEST(Password, CameraWithoutPasswordMatchesAnythingAndUsesTheZeroKey)
{
    PasswordInfo info = Camera({});
    EXPECT_FALSE(info.HasPassword());
    EXPECT_TRUE(PasswordMatches(info));
    // Even with a password left over from before the camera's password was removed.
    std::memcpy(info.pszInputPassword, Password("admin").ab, PASSWORD_LEN);
    EXPECT_TRUE(PasswordMatches(info));
    EXPECT_TRUE(CheckPassword(info, Password("anything").ab));
    EXPECT_EQ(PasswordToText(info.pszInputPassword), "");
    EXPECT_TRUE(Equal(info.pbEncryptedID, kTokenEmpty));
}

TEST(Password, DoublingFoldsHighBytesAndLeavesPaddingZero)
{
    std::uint8_t abHigh[PASSWORD_LEN] = {0x80, 0xE1, 0xFF};
    std::uint8_t abKey[PASSWORD_LEN];
    MakeKeyMaterial(abHigh, 1, abKey);
    const std::array<std::uint8_t, 16> abWant = {0x00, 0xC2, 0xFE};
    EXPECT_TRUE(Equal(abKey, abWant));
    MakeKeyMaterial(abHigh, 0, abKey);
    EXPECT_EQ(0, std::memcmp(abKey, abHigh, PASSWORD_LEN));

    // 0x80 and the empty password are one key once doubled, two keys otherwise.
    std::uint8_t abCheckHigh[PASSWORD_CHECK_LEN], abCheckEmpty[PASSWORD_CHECK_LEN];
    std::uint8_t ab80[PASSWORD_LEN] = {0x80};
    const std::uint8_t abEmpty[PASSWORD_LEN] = {};
    PasswordInfo info = Camera({}, 1);
    ComputeCheckValue(info, ab80, abCheckHigh);
    ComputeCheckValue(info, abEmpty, abCheckEmpty);
    EXPECT_EQ(0, std::memcmp(abCheckHigh, abCheckEmpty, PASSWORD_CHECK_LEN));
    info.bEncryptVersion = 0;
    ComputeCheckValue(info, ab80, abCheckHigh);
    ComputeCheckValue(info, abEmpty, abCheckEmpty);
    EXPECT_NE(0, std::memcmp(abCheckHigh, abCheckEmpty, PASSWORD_CHECK_LEN));
}

TEST(Password, ChangeEnciphersUnderTheUndoubledOldPassword)
{
    PasswordInfo info = Camera(kCheckAdminV1, 1);
    ASSERT_TRUE(CheckPassword(info, Password("admin").ab));

    std::uint8_t abBody[PASSWORD_CHANGE_BODY_LEN];
    ASSERT_TRUE(MakePasswordChangeBody(info, Password("admin").ab, Password("s3cret!").ab,
                                       Password("s3cret!").ab, abBody));
    EXPECT_TRUE(Equal(abBody, kChangeBody));

    // A wrong old password or a confirmation that differs builds nothing.
    std::uint8_t abUntouched[PASSWORD_CHANGE_BODY_LEN];
    std::memcpy(abUntouched, abBody, sizeof(abBody));
    EXPECT_FALSE(
        MakePasswordChangeBody(info, Password("admln").ab, Password("n").ab, Password("n").ab, abBody));
    EXPECT_FALSE(
        MakePasswordChangeBody(info, Password("admin").ab, Password("n").ab, Password("N").ab, abBody));
    EXPECT_EQ(0, std::memcmp(abBody, abUntouched, sizeof(abBody)));

    // What the camera sees after deciphering with its password.
    DecryptPasswordChangeBody(abBody, Password("admin").ab);
    EXPECT_EQ(0, std::memcmp(abBody, Password("admin").ab, PASSWORD_LEN));
    EXPECT_EQ(0, std::memcmp(abBody + PASSWORD_LEN, Password("s3cret!").ab, PASSWORD_LEN));

    // The token that follows uses the new password, doubled.
    StoreChangedPassword(info, Password("s3cret!").ab);
    EXPECT_EQ(PasswordToText(info.pszInputPassword), "s3cret!");
    EXPECT_TRUE(Equal(info.pbEncryptedID, kTokenSecretV1));
}

TEST(Password, TextFieldsHoldAtMostSixteenBytes)
{
    std::uint8_t ab[PASSWORD_LEN];
    std::memset(ab, 0xEE, sizeof(ab));
    EXPECT_FALSE(PasswordFromText("0123456789abcdefg", ab));
    EXPECT_EQ(ab[0], 0xEE) << "a rejected password must not be cut to 16 bytes and used";
    ASSERT_TRUE(PasswordFromText("0123456789abcdef", ab));
    EXPECT_EQ(PasswordToText(ab), "0123456789abcdef");
}

TEST(Password, SecretsNeverReachTheLogInClear)
{
    char szDir[] = "/tmp/vistrel-pwlog-XXXXXX";
    ASSERT_NE(mkdtemp(szDir), nullptr);
    setenv("VISTREL_HOME", szDir, 1);
    GetLogFile().ResetForTest();
    g_nDebugLevel = 5;

    PasswordInfo info = Camera(kCheckAdminV0);
    CheckPassword(info, Password("wrongpass").ab);
    CheckPassword(info, Password("admin").ab);
    std::uint8_t abBody[PASSWORD_CHANGE_BODY_LEN];
    MakePasswordChangeBody(info, Password("admin").ab, Password("s3cret!").ab, Password("s3cret!").ab,
                           abBody);
    info.PrintInfo();
    GetLogFile().CloseForGood();

    std::string strAll;
    for (const auto& entry : std::filesystem::directory_iterator(szDir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        strAll.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::filesystem::remove_all(szDir);
    EXPECT_NE(strAll.find("PasswordInfo::PrintInfo"), std::string::npos) << "nothing was logged";
    EXPECT_NE(strAll.find("***("), std::string::npos);
    for (const char* pszSecret : {"admin", "wrongpass", "s3cret"})
        EXPECT_EQ(strAll.find(pszSecret), std::string::npos) << pszSecret << " logged in clear";
}

} // namespace
