#include "platform/mediagraph/filtermapper.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "platform/com/comapi.h"
#include "platform/com/registry.h"
#include "platform/com/widestr.h"
#include "platform/mediagraph/builtinfactory.h"

const CLSID CLSID_FilterMapper2 = MakeGuid("CDA42200-BD88-11D0-BD4E-00A0C911CE86");

namespace {

// A registered filter as stored:
//   [Filters\{clsid}]            @=name  "Merit"="0x00800000"
//   [Filters\{clsid}\Pin0]       @=name  "Output" "Rendered" "Zero" "Many" ="0"|"1"
//                                "ConnectsToFilter"={clsid}  "ConnectsToPin"=name
//                                "Type0"="{major} {minor}" ...
constexpr const char* kFiltersKey = "Filters";

struct StoredPin {
    bool bOutput = false;
    std::vector<std::pair<GUID, GUID>> vTypes;
};

struct StoredFilter {
    REGFILTER_INFO info;
    std::vector<StoredPin> vPins;
};

std::string Flag(BOOL b)
{
    return b ? "1" : "0";
}

std::string TypeGuid(const CLSID* pGuid)
{
    return GuidToString(pGuid != nullptr ? *pGuid : GUID_NULL);
}

// Every registered filter, in registry order; entries that cannot be read are left out.
std::vector<StoredFilter> ReadFilters()
{
    std::vector<StoredFilter> vFilters;
    std::vector<std::pair<std::string, CRegistry::Values>> vKeys;
    if (CRegistry::ClassesRoot().ReadTree(kFiltersKey, &vKeys) != ERROR_SUCCESS)
        return vFilters;
    const std::string strPrefix = std::string(kFiltersKey) + "\\";
    for (const auto& [strKey, values] : vKeys) {
        if (strKey.size() <= strPrefix.size())
            continue;
        const std::string strRest = strKey.substr(strPrefix.size());
        const std::size_t nSlash = strRest.find('\\');
        GUID clsid{};
        if (!GuidFromString(strRest.substr(0, nSlash), &clsid))
            continue;
        if (nSlash == std::string::npos) {
            StoredFilter filter;
            filter.info.clsid = clsid;
            auto itName = values.find("");
            filter.info.strName = Utf8ToWide(itName != values.end() ? itName->second : std::string());
            auto itMerit = values.find("Merit");
            filter.info.dwMerit = itMerit != values.end()
                                      ? static_cast<DWORD>(std::strtoul(itMerit->second.c_str(), nullptr, 0))
                                      : MERIT_DO_NOT_USE;
            vFilters.push_back(std::move(filter));
            continue;
        }
        // A pin: belongs to the filter read just before it.
        if (vFilters.empty() || vFilters.back().info.clsid != clsid)
            continue;
        StoredPin pin;
        auto itOutput = values.find("Output");
        pin.bOutput = itOutput != values.end() && itOutput->second == "1";
        for (int i = 0;; ++i) {
            auto itType = values.find("Type" + std::to_string(i));
            if (itType == values.end())
                break;
            const std::string& strType = itType->second;
            GUID major{};
            GUID minor{};
            const std::size_t nSpace = strType.find(' ');
            if (nSpace == std::string::npos || !GuidFromString(strType.substr(0, nSpace), &major) ||
                !GuidFromString(strType.substr(nSpace + 1), &minor))
                continue;
            pin.vTypes.emplace_back(major, minor);
        }
        vFilters.back().vPins.push_back(std::move(pin));
    }
    return vFilters;
}

bool Matches(const GUID& registered, const GUID& wanted)
{
    return registered == GUID_NULL || wanted == GUID_NULL || registered == wanted;
}

class CFilterMapper : public CUnknown, public IFilterMapper2 {
public:
    CFilterMapper(IUnknown* pUnk) : CUnknown("Filter mapper", pUnk) {}

    static CUnknown* CreateInstance(IUnknown* pUnk, HRESULT* phr)
    {
        return new (std::nothrow) CFilterMapper(pUnk);
    }

    DECLARE_IUNKNOWN
    HRESULT NonDelegatingQueryInterface(REFIID riid, void** ppv) override
    {
        if (riid == IID_IFilterMapper2)
            return GetInterface(static_cast<IFilterMapper2*>(this), ppv);
        return CUnknown::NonDelegatingQueryInterface(riid, ppv);
    }

    HRESULT RegisterFilter(REFCLSID clsidFilter, LPCWSTR Name, const REGFILTER2* prf2) override
    {
        if (Name == nullptr || prf2 == nullptr)
            return E_POINTER;
        if (prf2->dwVersion != 1 || (prf2->cPins > 0 && prf2->rgPins == nullptr))
            return E_INVALIDARG;
        const std::string strKey = std::string(kFiltersKey) + "\\" + GuidToString(clsidFilter);
        char szMerit[16];
        std::snprintf(szMerit, sizeof(szMerit), "0x%08X", unsigned(prf2->dwMerit));
        std::vector<CRegistry::Change> vChanges = {{strKey, "", WideToUtf8(Name)},
                                                   {strKey, "Merit", szMerit}};
        for (ULONG p = 0; p < prf2->cPins; ++p) {
            const REGFILTERPINS& pin = prf2->rgPins[p];
            if (pin.nMediaTypes > 0 && pin.lpMediaType == nullptr)
                return E_INVALIDARG;
            const std::string strPin = strKey + "\\Pin" + std::to_string(p);
            vChanges.push_back({strPin, "", WideToUtf8(pin.strName != nullptr ? pin.strName : u"")});
            vChanges.push_back({strPin, "Output", Flag(pin.bOutput)});
            vChanges.push_back({strPin, "Rendered", Flag(pin.bRendered)});
            vChanges.push_back({strPin, "Zero", Flag(pin.bZero)});
            vChanges.push_back({strPin, "Many", Flag(pin.bMany)});
            if (pin.clsConnectsToFilter != nullptr)
                vChanges.push_back({strPin, "ConnectsToFilter", GuidToString(*pin.clsConnectsToFilter)});
            if (pin.strConnectsToPin != nullptr)
                vChanges.push_back({strPin, "ConnectsToPin", WideToUtf8(pin.strConnectsToPin)});
            for (UINT t = 0; t < pin.nMediaTypes; ++t)
                vChanges.push_back({strPin, "Type" + std::to_string(t),
                                    TypeGuid(pin.lpMediaType[t].clsMajorType) + " " +
                                        TypeGuid(pin.lpMediaType[t].clsMinorType)});
        }
        return HRESULT_FROM_WIN32(CRegistry::ClassesRoot().ReplaceTree(strKey, vChanges));
    }

    HRESULT UnregisterFilter(REFCLSID Filter) override
    {
        const DWORD dwError =
            CRegistry::ClassesRoot().DeleteTree(std::string(kFiltersKey) + "\\" + GuidToString(Filter));
        // Not registered is the state asked for: the class keys can then still be removed.
        return dwError == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(dwError);
    }

    HRESULT EnumMatchingFilters(std::vector<REGFILTER_INFO>* pResult, DWORD dwMerit, BOOL bWantOutputs,
                                DWORD cInputTypes, const GUID* pInputTypes) override
    {
        if (pResult == nullptr || (cInputTypes > 0 && pInputTypes == nullptr))
            return E_POINTER;
        pResult->clear();
        for (const StoredFilter& filter : ReadFilters()) {
            if (filter.info.dwMerit < dwMerit)
                continue;
            bool bHasOutput = false;
            bool bInputMatches = pInputTypes == nullptr;
            for (const StoredPin& pin : filter.vPins) {
                if (pin.bOutput) {
                    bHasOutput = true;
                    continue;
                }
                for (const auto& [major, minor] : pin.vTypes)
                    for (DWORD i = 0; i < cInputTypes && !bInputMatches; ++i)
                        bInputMatches = Matches(major, pInputTypes[2 * std::size_t(i)]) &&
                                        Matches(minor, pInputTypes[2 * std::size_t(i) + 1]);
            }
            if (bInputMatches && (bHasOutput || !bWantOutputs))
                pResult->push_back(filter.info);
        }
        std::stable_sort(
            pResult->begin(), pResult->end(),
            [](const REGFILTER_INFO& a, const REGFILTER_INFO& b) { return a.dwMerit > b.dwMerit; });
        return S_OK;
    }
};

CBuiltinClassFactory g_mapperFactory(CLSID_FilterMapper2, CFilterMapper::CreateInstance);

} // namespace

HRESULT AMovieDllRegisterServer2(BOOL bRegister, const CFactoryTemplate* pTemplates, int nTemplates,
                                 const void* pModuleAddress)
{
    const std::string strModule = GetModuleFileNameOf(pModuleAddress);
    if (strModule.empty())
        return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);

    HRESULT hr = S_OK;
    if (bRegister) {
        for (int i = 0; i < nTemplates && SUCCEEDED(hr); ++i)
            hr = AMovieSetupRegisterServer(*pTemplates[i].m_ClsID, WideToUtf8(pTemplates[i].m_Name),
                                           strModule);
        if (FAILED(hr))
            return hr;
    }

    CoInitialize(nullptr);
    IFilterMapper2* pMapper = nullptr;
    hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                          reinterpret_cast<void**>(&pMapper));
    for (int i = 0; i < nTemplates && SUCCEEDED(hr); ++i) {
        const AMOVIESETUP_FILTER* pSetup = pTemplates[i].m_pAMovieSetup_Filter;
        if (pSetup == nullptr)
            continue;
        if (bRegister) {
            const REGFILTER2 rf2{1, pSetup->dwMerit, pSetup->nPins, pSetup->lpPin};
            hr = pMapper->RegisterFilter(*pSetup->clsID, pSetup->strName, &rf2);
        } else {
            hr = pMapper->UnregisterFilter(*pSetup->clsID);
        }
    }
    if (pMapper != nullptr)
        pMapper->Release();
    CoFreeUnusedLibraries();
    CoUninitialize();

    // The class keys go only once the filters are gone from the mapper.
    if (!bRegister && SUCCEEDED(hr)) {
        for (int i = 0; i < nTemplates && SUCCEEDED(hr); ++i)
            hr = AMovieSetupUnregisterServer(*pTemplates[i].m_ClsID);
    }
    return hr;
}
