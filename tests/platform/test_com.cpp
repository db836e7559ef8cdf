#include "platform/com/comapi.h"
#include "platform/com/registry.h"
#include "platform/com/server.h"
#include "platform/com/widestr.h"
#include "test_com_support.h"
#include "testmodule/testmodule.h"

#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

namespace {

TEST(Guid, ParsesTheRegistryFormsAndRefusesEverythingElse)
{
    static_assert(FourCCGuid(MakeFourCC("zebc")).Data1 == 0x6362657A);
    static_assert(MakeGuid("{6362657A-1111-0010-8000-00AA00389B71}").Data2 == 0x1111);

    const char* apszGood[] = {"{6362657A-1111-0010-8000-00AA00389B71}",
                              "6362657a-1111-0010-8000-00aa00389b71",
                              "{6362657a-1111-0010-8000-00AA00389b71}"};
    for (const char* psz : apszGood) {
        GUID guid{};
        ASSERT_TRUE(GuidFromString(psz, &guid)) << psz;
        EXPECT_EQ(GuidToString(guid), "{6362657A-1111-0010-8000-00AA00389B71}") << psz;
        EXPECT_EQ(guid.Data4[7], 0x71);
    }
    const char* apszBad[] = {"",
                             "{6362657A-1111-0010-8000-00AA00389B71",
                             "6362657A-1111-0010-8000-00AA00389B71}",
                             "{6362657A-1111-0010-8000-00AA00389B7}",
                             "{6362657A-1111-0010-8000-00AA00389B712}",
                             "{6362657A+1111-0010-8000-00AA00389B71}",
                             "{6362657A-1111-0010-8000-00AA00389G71}",
                             "(6362657A-1111-0010-8000-00AA00389B71)"};
    for (const char* psz : apszBad) {
        GUID guid = IID_IClassFactory;
        EXPECT_FALSE(GuidFromString(psz, &guid)) << psz;
        EXPECT_EQ(guid, IID_IClassFactory) << "untouched on failure: " << psz;
    }
}

TEST(WideString, RoundTripsAndReplacesMalformedInput)
{
    const std::u16string strWide = u"Cam 前门 \U0001F4F7";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(strWide)), strWide);
    EXPECT_EQ(WideToUtf8(u"A\xD800"
                         u"B"),
              "A\xEF\xBF\xBD"
              "B");                             // lone surrogate
    EXPECT_EQ(Utf8ToWide("A\xC3"), u"A\xFFFD"); // cut sequence
    EXPECT_EQ(Utf8ToWide("\xE0\x80\xAF"
                         "x"),
              u"\xFFFD"
              u"x"); // overlong
    EXPECT_EQ(Utf8ToWide("\xFF"
                         "z"),
              u"\xFFFD"
              u"z");
}

using Registry = ComHomeTest;

TEST_F(Registry, RoundTripsKeysAndValuesThroughAReadableFile)
{
    const CRegistry reg = CRegistry::ClassesRoot();
    EXPECT_EQ(reg.Path(), Home() + "Classes.reg");
    const std::string strKey = "CLSID\\{6362657A-1111-0010-8000-00AA00389B71}";
    ASSERT_EQ(reg.SetValue(strKey, "", "ZEB Video Decoder"), ERROR_SUCCESS);
    ASSERT_EQ(reg.SetValue(strKey + "\\InprocServer32", "", "/opt/a \"b\"\\c.so"), ERROR_SUCCESS);
    ASSERT_EQ(reg.SetValue(strKey + "\\InprocServer32", "ThreadingModel", "Both"), ERROR_SUCCESS);
    ASSERT_EQ(reg.SetValue("Other", "multi", "line1\nline2"), ERROR_SUCCESS);

    // A fresh reader of the same file sees everything, names compared without case.
    const CRegistry again(Home() + "Classes.reg");
    std::string str;
    EXPECT_EQ(again.GetValue("clsid\\{6362657a-1111-0010-8000-00aa00389b71}\\inprocserver32",
                             "threadingmodel", &str),
              ERROR_SUCCESS);
    EXPECT_EQ(str, "Both");
    EXPECT_EQ(again.GetValue(strKey + "\\InprocServer32", "", &str), ERROR_SUCCESS);
    EXPECT_EQ(str, "/opt/a \"b\"\\c.so");
    EXPECT_EQ(again.GetValue("Other", "multi", &str), ERROR_SUCCESS);
    EXPECT_EQ(str, "line1\nline2");
    EXPECT_EQ(again.GetValue(strKey, "missing", &str), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(again.GetValue("CLSID\\{00000000-0000-0000-0000-000000000000}", "", &str),
              ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(again.KeyExists("CLSID")); // parents are made
    EXPECT_EQ(again.EnumSubKeys("CLSID"), std::vector<std::string>{"{6362657A-1111-0010-8000-00AA00389B71}"});

    const std::string strText = RegistryText();
    EXPECT_NE(strText.find("[CLSID\\{6362657A-1111-0010-8000-00AA00389B71}\\InprocServer32]\n"
                           "@=\"/opt/a \\\"b\\\"\\\\c.so\"\n\"ThreadingModel\"=\"Both\"\n"),
              std::string::npos)
        << strText;

    EXPECT_EQ(reg.DeleteTree("clsid"), ERROR_SUCCESS);
    EXPECT_FALSE(again.KeyExists(strKey + "\\InprocServer32"));
    EXPECT_TRUE(again.KeyExists("Other"));
    EXPECT_EQ(reg.DeleteTree("CLSID"), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(reg.SetValue("bad\\\\key", "", "x"), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(reg.SetValue("bad]", "", "x"), ERROR_INVALID_PARAMETER);

    // Only the file and its lock are left: temporaries were renamed over the file.
    int nFiles = 0;
    for (const auto& entry : std::filesystem::directory_iterator(Home())) {
        ++nFiles;
        EXPECT_TRUE(entry.path().filename() == "Classes.reg" ||
                    entry.path().filename() == "Classes.reg.lock");
    }
    EXPECT_EQ(nFiles, 2);

    // Without VISTREL_HOME the registry lives next to the program.
    ::unsetenv("VISTREL_HOME");
    const std::string strExe = std::filesystem::read_symlink("/proc/self/exe").string();
    EXPECT_EQ(CRegistry::ClassesRoot().Path(), strExe.substr(0, strExe.rfind('/') + 1) + "Classes.reg");
}

// A user's registry over the machine's (the package's, which only root writes): the machine's
// classes are found, the user's own keys and values come first, and changes (the program
// registering its own filters) land in the user's file without touching the machine's.
TEST_F(Registry, UsersRegistryLiesOverTheMachinesAndNeverWritesIt)
{
    const std::string strMachineText = "[CLSID\\{A}]\n@=\"machine name\"\n\"ThreadingModel\"=\"Both\"\n"
                                       "[CLSID\\{A}\\InprocServer32]\n@=\"/usr/lib/m.so\"\n"
                                       "[Filter\\{R}]\n\"Merit\"=\"1\"\n";
    {
        std::ofstream file(Home() + "machine.reg", std::ios::binary);
        file << strMachineText;
    }
    const CRegistry reg(Home() + "user.reg", Home() + "machine.reg");
    ASSERT_EQ(reg.SetValue("clsid\\{a}", "", "user name"), ERROR_SUCCESS);
    ASSERT_EQ(reg.SetValue("Filter\\{Own}", "Merit", "2"), ERROR_SUCCESS);

    const struct {
        const char* pszKey;
        const char* pszName;
        const char* pszValue; // nullptr: not found
    } cases[] = {
        {"CLSID\\{A}", "", "user name"},                     // the user's value first
        {"CLSID\\{A}", "threadingmodel", "Both"},            // the machine's fills in
        {"CLSID\\{A}\\InprocServer32", "", "/usr/lib/m.so"}, // a key only the machine has
        {"Filter\\{Own}", "Merit", "2"},                     // a key only the user has
        {"Filter\\{R}", "Merit", "1"},
        {"Filter\\{None}", "Merit", nullptr},
    };
    for (const auto& c : cases) {
        std::string str;
        const DWORD dwError = reg.GetValue(c.pszKey, c.pszName, &str);
        if (c.pszValue == nullptr) {
            EXPECT_EQ(dwError, ERROR_FILE_NOT_FOUND) << c.pszKey;
            continue;
        }
        EXPECT_EQ(dwError, ERROR_SUCCESS) << c.pszKey;
        EXPECT_EQ(str, c.pszValue) << c.pszKey << " " << c.pszName;
    }
    std::vector<std::pair<std::string, CRegistry::Values>> vKeys;
    ASSERT_EQ(reg.ReadTree("Filter", &vKeys), ERROR_SUCCESS);
    EXPECT_EQ(vKeys.size(), 3u); // Filter, {Own}, {R}
    EXPECT_TRUE(reg.KeyExists("CLSID\\{A}\\InprocServer32"));

    // The machine's file is as it was; a machine key cannot be deleted from the user's side.
    EXPECT_EQ(reg.DeleteTree("Filter\\{R}"), ERROR_FILE_NOT_FOUND);
    std::ifstream machine(Home() + "machine.reg", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(machine), {}), strMachineText);
}

TEST_F(Registry, DamagedFileIsReadButNeverWrittenOver)
{
    const std::string strDamaged = "[Good]\n@=\"kept\"\nthis line is garbage\n[Also\\Good]\n\"v\"=\"1\"\n";
    {
        std::ofstream file(Home() + "Classes.reg", std::ios::binary);
        file << strDamaged;
    }
    const CRegistry reg = CRegistry::ClassesRoot();
    std::string str;
    EXPECT_EQ(reg.GetValue("Good", "", &str), ERROR_SUCCESS);
    EXPECT_EQ(str, "kept");
    EXPECT_EQ(reg.GetValue("Also\\Good", "v", &str), ERROR_SUCCESS);
    EXPECT_EQ(reg.SetValue("New", "", "x"), ERROR_INVALID_DATA);
    EXPECT_EQ(RegistryText(), strDamaged);
}

TEST_F(Registry, ConcurrentWritersLoseNothing)
{
    constexpr int kProcesses = 3;
    constexpr int kValues = 40;
    std::vector<pid_t> vChildren;
    for (int p = 0; p < kProcesses; ++p) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const CRegistry reg = CRegistry::ClassesRoot();
            for (int i = 0; i < kValues; ++i)
                if (reg.SetValue("P" + std::to_string(p), std::to_string(i), "v") != ERROR_SUCCESS)
                    _exit(1);
            _exit(0);
        }
        vChildren.push_back(pid);
    }
    for (const pid_t pid : vChildren) {
        int nStatus = 0;
        ASSERT_EQ(waitpid(pid, &nStatus, 0), pid);
        EXPECT_TRUE(WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 0);
    }
    const CRegistry reg = CRegistry::ClassesRoot();
    std::string str;
    for (int p = 0; p < kProcesses; ++p)
        for (int i = 0; i < kValues; ++i)
            EXPECT_EQ(reg.GetValue("P" + std::to_string(p), std::to_string(i), &str), ERROR_SUCCESS)
                << p << "/" << i;
}

using ComServer = ComHomeTest;

// From registration by the tool to creation, unloading and unregistration.
TEST_F(ComServer, RegisteredModuleIsCreatedByClassIdAndUnloadedWhenUnused)
{
    ITestCounter* pCounter = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_ITestCounter,
                               reinterpret_cast<void**>(&pCounter)),
              REGDB_E_CLASSNOTREG);

    ASSERT_EQ(RegSvr("'" VISTREL_TEST_MODULE "'"), 0);
    const CRegistry reg = CRegistry::ClassesRoot();
    std::string str;
    const std::string strKey = "CLSID\\" + GuidToString(CLSID_TestCounter);
    EXPECT_EQ(reg.GetValue(strKey, "", &str), ERROR_SUCCESS);
    EXPECT_EQ(str, "Test Counter");
    EXPECT_EQ(reg.GetValue(strKey + "\\InprocServer32", "ThreadingModel", &str), ERROR_SUCCESS);
    EXPECT_EQ(str, "Both");
    EXPECT_EQ(reg.GetValue(strKey + "\\InprocServer32", "", &str), ERROR_SUCCESS);
    EXPECT_EQ(str, std::filesystem::canonical(VISTREL_TEST_MODULE).string());

    CoInitialize(nullptr);
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_ITestCounter,
                               reinterpret_cast<void**>(&pCounter)),
              S_OK);
    ITestCounter* pOther = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TestCounterOther, nullptr, CLSCTX_INPROC_SERVER, IID_ITestCounter,
                               reinterpret_cast<void**>(&pOther)),
              S_OK);
    EXPECT_EQ(pCounter->Class(), CLSID_TestCounter);
    EXPECT_EQ(pOther->Class(), CLSID_TestCounterOther);
    pCounter->Add(5);
    EXPECT_EQ(pCounter->Value(), 5);
    EXPECT_EQ(CoLoadedLibraryCount(), 1u); // one module serves both classes

    // Identity: IUnknown is the same pointer from either interface, and unknown interfaces fail.
    IUnknown* pUnk1 = nullptr;
    IUnknown* pUnk2 = nullptr;
    void* pv = &str;
    ASSERT_EQ(pCounter->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pUnk1)), S_OK);
    ASSERT_EQ(pUnk1->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pUnk2)), S_OK);
    EXPECT_EQ(pUnk1, pUnk2);
    EXPECT_EQ(pCounter->QueryInterface(IID_IClassFactory, &pv), E_NOINTERFACE);
    EXPECT_EQ(pv, nullptr);
    pUnk1->Release();
    pUnk2->Release();

    // While any object lives, or a factory is locked, the module stays.
    pOther->Release();
    CoFreeUnusedLibraries();
    EXPECT_EQ(CoLoadedLibraryCount(), 1u);
    IClassFactory* pFactory = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_TestCounter, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&pFactory)),
              S_OK);
    pFactory->LockServer(TRUE);
    pFactory->Release();
    EXPECT_EQ(pCounter->Release(), 0u);
    CoFreeUnusedLibraries();
    EXPECT_EQ(CoLoadedLibraryCount(), 1u);
    ASSERT_EQ(CoGetClassObject(CLSID_TestCounter, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&pFactory)),
              S_OK);
    pFactory->LockServer(FALSE);
    pFactory->Release();
    CoUninitialize(); // the last one frees what is unused
    EXPECT_EQ(CoLoadedLibraryCount(), 0u);

    // Unregistered: creation fails again, the tool's failures have their own exit codes.
    ASSERT_EQ(RegSvr("-u '" VISTREL_TEST_MODULE "'"), 0);
    EXPECT_FALSE(reg.KeyExists(strKey));
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_ITestCounter,
                               reinterpret_cast<void**>(&pCounter)),
              REGDB_E_CLASSNOTREG);
    EXPECT_EQ(RegSvr(""), 2);
    EXPECT_EQ(RegSvr("'" + Home() + "missing.so'"), 3);
    EXPECT_EQ(RegSvr("'" VISTREL_REGSVR "'"), 3); // not a loadable module
}

TEST_F(ComServer, BrokenRegistrationsFailCleanly)
{
    const CRegistry reg = CRegistry::ClassesRoot();
    const std::string strKey = "CLSID\\" + GuidToString(CLSID_TestCounter) + "\\InprocServer32";
    void* pv = nullptr;
    ASSERT_EQ(reg.SetValue(strKey, "", Home() + "gone.so"), ERROR_SUCCESS);
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &pv),
              CO_E_DLLNOTFOUND);
    // A shared library without the entry point.
    ASSERT_EQ(reg.SetValue(strKey, "", "libz.so.1"), ERROR_SUCCESS);
    EXPECT_EQ(CoCreateInstance(CLSID_TestCounter, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, &pv),
              CO_E_ERRORINDLL);
    // The module is there but does not serve this class id.
    ASSERT_EQ(reg.SetValue("CLSID\\{11111111-2222-3333-4444-555555555555}\\InprocServer32", "",
                           VISTREL_TEST_MODULE),
              ERROR_SUCCESS);
    EXPECT_EQ(CoCreateInstance(MakeGuid("11111111-2222-3333-4444-555555555555"), nullptr,
                               CLSCTX_INPROC_SERVER, IID_IUnknown, &pv),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(pv, nullptr);
    CoFreeUnusedLibraries();
    EXPECT_EQ(CoLoadedLibraryCount(), 0u);
}

} // namespace
