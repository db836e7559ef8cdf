// The module as the client uses it: registered, created by class id, connected in a graph.
#include "filter/colorconvert.h"
#include "filter_graph_support.h"
#include "filter_streams.h"
#include "platform/com/registry.h"
#include "platform/mediagraph/filtermapper.h"

#include <gtest/gtest.h>

extern "C" {
#include <libswscale/swscale.h>
}

#include <dlfcn.h>
#include <functional>
#include <memory>
#include <set>
#include <sstream>

namespace {

constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED_CODE = static_cast<HRESULT>(0x8004022Au);

TEST(FilterModule, RegistersCreatesBothClassesAndUnregisters)
{
    RegisteredModule module;
    ASSERT_NE(std::string::npos, module.Output().find("exit:0")) << module.Output();
    // The loader's handle line comes out as the module loads.
    EXPECT_NE(std::string::npos, module.Output().find("handle:")) << module.Output();
    // It exports its four entry points and nothing of its insides (the sanitizers' own
    // symbols aside, in that tree).
    const std::string strNm = RunQuiet(std::string("nm -D --defined-only --format=posix ") + FILTER_MODULE);
    ASSERT_NE(std::string::npos, strNm.find("exit:0")) << strNm;
    std::istringstream exports(strNm.substr(0, strNm.rfind("exit:")));
    std::set<std::string> setExports;
    for (std::string strLine; std::getline(exports, strLine);) {
        const std::string strName = strLine.substr(0, strLine.find(' '));
        if (strName.rfind("__asan", 0) != 0 && strName.rfind("__odr_asan", 0) != 0 &&
            strName.rfind("___asan", 0) != 0)
            setExports.insert(strName);
    }
    EXPECT_EQ((std::set<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                     "DllUnregisterServer"}),
              setExports);

    const std::string strKey = "CLSID\\{6362657A-1111-0010-8000-00AA00389B71}";
    std::string strValue;
    CRegistry registry = CRegistry::ClassesRoot();
    ASSERT_EQ(0u, registry.GetValue(strKey + "\\InprocServer32", "ThreadingModel", &strValue));
    EXPECT_EQ("Both", strValue);
    ASSERT_EQ(0u, registry.GetValue(strKey + "\\InprocServer32", "", &strValue));
    EXPECT_EQ(std::filesystem::canonical(FILTER_MODULE), std::filesystem::canonical(strValue));
    ASSERT_EQ(0u, registry.GetValue(strKey, "", &strValue));
    EXPECT_EQ("ZEB Video Decoder", strValue);
    ASSERT_EQ(0u, registry.GetValue("CLSID\\{10000001-4FEF-40D3-B3FA-E0531B897F98}", "", &strValue));
    EXPECT_EQ("ZEB Video DecoderAbout", strValue);

    // The mapper offers it for stamped H.264, at preferred merit.
    {
        ComPtr<IFilterMapper2> pMapper;
        ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IFilterMapper2, pMapper.ReleaseAndGetVoidAddress()));
        const GUID types[2] = {MEDIATYPE_Video, FourCCGuid(MakeFourCC("TSHD"))};
        std::vector<REGFILTER_INFO> vecFound;
        ASSERT_EQ(S_OK, pMapper->EnumMatchingFilters(&vecFound, 0, TRUE, 1, types));
        ASSERT_EQ(1u, vecFound.size());
        EXPECT_EQ(CLSID_ZebDecoder, vecFound[0].clsid);
        EXPECT_EQ(0x800000u, vecFound[0].dwMerit);
        EXPECT_EQ(u"ZEB Video Decoder", vecFound[0].strName);
    }

    // Both classes, through the module's class factory; the module stays while a filter lives.
    ComPtr<IZEBAboutPage> pAbout;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ZebDecoderAbout, nullptr, CLSCTX_INPROC_SERVER, IID_IZEBAboutPage,
                                     pAbout.ReleaseAndGetVoidAddress()));
    EXPECT_EQ(std::u16string(u"ZEB H264 Decoder"), pAbout->GetLine(0));
    EXPECT_EQ(std::u16string(u"Version 1.0.0.0"), pAbout->GetLine(1));
    EXPECT_EQ(101, pAbout->GetDialogId());
    pAbout.Reset();
    ComPtr<IZEBDecoder> pDecoder;
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_ZebDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IZEBDecoder,
                                     pDecoder.ReleaseAndGetVoidAddress()));
    ComPtr<IZEBDecoderEx> pEx;
    ASSERT_EQ(S_OK, pDecoder.As(IID_IZEBDecoderEx, std::addressof(pEx)));
    EXPECT_EQ(static_cast<IZEBDecoder*>(pEx.Get()), pDecoder.Get());
    ComPtr<ISpecifyPropertyPages> pPages;
    ASSERT_EQ(S_OK, pDecoder.As(IID_ISpecifyPropertyPages, std::addressof(pPages)));
    CAUUID pages{};
    ASSERT_EQ(S_OK, pPages->GetPages(&pages));
    ASSERT_EQ(1u, pages.cElems);
    EXPECT_EQ(CLSID_ZebDecoderAbout, pages.pElems[0]);
    CoTaskMemFree(pages.pElems);
    pPages.Reset();
    pEx.Reset();

    void* hModule = dlopen(FILTER_MODULE, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(nullptr, hModule);
    auto pfnCanUnload = reinterpret_cast<PFN_DllCanUnloadNow>(dlsym(hModule, "DllCanUnloadNow"));
    EXPECT_EQ(S_FALSE, pfnCanUnload());
    CoFreeUnusedLibraries();
    EXPECT_EQ(1u, CoLoadedLibraryCount());
    pDecoder.Reset();
    EXPECT_EQ(S_OK, pfnCanUnload());
    dlclose(hModule);

    // Unregistered: keys and mapper entry are gone, creating by class id fails.
    const std::string strOut = RunQuiet(std::string(VISTREL_REGSVR) + " -u " + FILTER_MODULE);
    ASSERT_NE(std::string::npos, strOut.find("exit:0")) << strOut;
    EXPECT_FALSE(registry.KeyExists(strKey));
    EXPECT_FALSE(registry.KeyExists("CLSID\\{10000001-4FEF-40D3-B3FA-E0531B897F98}"));
    ComPtr<IBaseFilter> pGone;
    EXPECT_TRUE(FAILED(CoCreateInstance(CLSID_ZebDecoder, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                        pGone.ReleaseAndGetVoidAddress())));
}

// The version a user reads from the file without loading it: readelf (the outside reader) sees
// the note, vistrel-regsvr prints its texts, and damaged or foreign files get a clear refusal.
TEST(FilterModule, CarriesItsVersionAsANoteReadableWithoutLoading)
{
    const std::string strReadelf = RunQuiet(std::string("readelf -n ") + FILTER_MODULE);
    EXPECT_NE(std::string::npos, strReadelf.find("Vistrel")) << strReadelf;
    EXPECT_EQ(
        RunQuiet(std::string(VISTREL_REGSVR) + " --version " + FILTER_MODULE),
        "FileVersion=1.0.1.2\nProductVersion=1.0.1.2\nFileDescription=ZebH264DecFilter\n"
        "ProductName=ZebH264DecFilter\nOriginalFilename=ZebH264DecFilter\nInternalName=ZebH264\nexit:0");

    const auto dir = std::filesystem::temp_directory_path() / ("vistrel-version-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    const std::uintmax_t nSize = std::filesystem::file_size(FILTER_MODULE);
    struct Case {
        const char* pszName;
        std::uintmax_t nKeep; // bytes of the module kept
        const char* pszExpected;
    };
    const Case cases[] = {
        {"header-only.so", 64, "has no version note\nexit:4"},
        {"half.so", nSize / 2, "exit:"}, // notes lie near the start: still read, or refused, never a crash
        {"tiny.so", 10, "has no version note\nexit:4"},
        {"missing.so", 0, "No such file or directory\nexit:3"},
    };
    for (const Case& c : cases) {
        const auto path = dir / c.pszName;
        if (c.nKeep > 0) {
            std::filesystem::copy_file(FILTER_MODULE, path,
                                       std::filesystem::copy_options::overwrite_existing);
            std::filesystem::resize_file(path, c.nKeep);
        }
        const std::string strOut = RunQuiet(std::string(VISTREL_REGSVR) + " --version " + path.string());
        EXPECT_NE(std::string::npos, strOut.find(c.pszExpected)) << c.pszName << ": " << strOut;
    }
    // A program of ours is not a module with a version.
    EXPECT_NE(std::string::npos,
              RunQuiet(std::string(VISTREL_REGSVR) + " --version " + VISTREL_REGSVR).find("exit:4"));
    std::filesystem::remove_all(dir);
}

TEST(FilterModule, NegotiatesTheEightInputsAndOffersTheNineOutputsInOrder)
{
    RegisteredModule module;
    const char* const inputs[] = {"H264", "h264", "TSHD", "tshd", "XVID", "xvid", "TSXD", "tsxd"};
    for (const char* pszFourCC : inputs)
        for (bool bInfo2 : {false, true}) {
            DecoderChain chain;
            ASSERT_TRUE(chain.pDecoder);
            const CMediaType mt = VideoType(pszFourCC, 352, 288, bInfo2);
            EXPECT_EQ(S_OK, chain.pDecoderIn->QueryAccept(&mt)) << pszFourCC << " " << bInfo2;
        }

    DecoderChain chain;
    ASSERT_TRUE(chain.pDecoder);
    const CMediaType topDown = VideoType("H264", 352, -288);
    CMediaType audio = VideoType("H264", 352, 288);
    audio.SetType(&MEDIATYPE_Audio);
    CMediaType noFormat = VideoType("H264", 352, 288);
    noFormat.SetFormatType(&FORMAT_None);
    CMediaType shortFormat = VideoType("H264", 352, 288);
    shortFormat.ReallocFormatBuffer(40);
    const CMediaType otherCodec = VideoType("MJPG", 352, 288);
    const CMediaType* const refused[] = {&topDown, &otherCodec, &audio, &noFormat, &shortFormat};
    for (const CMediaType* pmt : refused) {
        EXPECT_NE(S_OK, chain.pDecoderIn->QueryAccept(pmt));
    }
    // CheckInputType's own answer for a refused type.
    ComPtr<IPin> pIn(chain.pDecoderIn);
    EXPECT_EQ(VFW_E_TYPE_NOT_ACCEPTED_CODE,
              chain.pDecoderIn->ReceiveConnection(chain.pSource->m_pPin, &topDown));

    // No output types before the input is connected.
    IEnumMediaTypes* pEnum = nullptr;
    ASSERT_EQ(S_OK, chain.pDecoderOut->EnumMediaTypes(&pEnum));
    AM_MEDIA_TYPE* pmt = nullptr;
    ULONG nFetched = 0;
    EXPECT_NE(S_OK, pEnum->Next(1, &pmt, &nFetched));
    pEnum->Release();

    ASSERT_EQ(S_OK, chain.Connect(VideoType("TSHD", 352, 288), MEDIASUBTYPE_RGB24));
    struct Expected {
        GUID subtype;
        DWORD dwCompression;
        WORD wBits;
    } const expected[] = {
        {MEDIASUBTYPE_YV12, MakeFourCC("YV12"), 12},
        {MEDIASUBTYPE_YUY2, MakeFourCC("YUY2"), 16},
        {MEDIASUBTYPE_YVYU, MakeFourCC("YVYU"), 16},
        {MEDIASUBTYPE_UYVY, MakeFourCC("UYVY"), 16},
        {MEDIASUBTYPE_IYUV, MakeFourCC("IYUV"), 12},
        {MEDIASUBTYPE_RGB32, BI_RGB, 32},
        {MEDIASUBTYPE_RGB24, BI_RGB, 24},
        {MEDIASUBTYPE_RGB555, BI_RGB, 16},
        {MEDIASUBTYPE_RGB565, BI_RGB, 16},
    };
    ASSERT_EQ(S_OK, chain.pDecoderOut->EnumMediaTypes(&pEnum));
    for (const Expected& want : expected) {
        ASSERT_EQ(S_OK, pEnum->Next(1, &pmt, &nFetched));
        EXPECT_EQ(want.subtype, pmt->subtype);
        EXPECT_EQ(MEDIATYPE_Video, pmt->majortype);
        EXPECT_EQ(FORMAT_VideoInfo, pmt->formattype);
        ASSERT_EQ(88u, pmt->cbFormat);
        const BITMAPINFOHEADER* pHeader = GetBitmapInfoHeader(pmt);
        EXPECT_EQ(352, pHeader->biWidth);
        EXPECT_EQ(288, pHeader->biHeight);
        EXPECT_EQ(want.dwCompression, pHeader->biCompression);
        EXPECT_EQ(want.wBits, pHeader->biBitCount);
        EXPECT_EQ(((352u * want.wBits + 31) & ~31u) / 8 * 288, pHeader->biSizeImage);
        EXPECT_EQ(pHeader->biSizeImage, pmt->lSampleSize);
        EXPECT_FALSE(pmt->bTemporalCompression);
        DeleteMediaType(pmt);
    }
    EXPECT_EQ(S_FALSE, pEnum->Next(1, &pmt, &nFetched));
    pEnum->Release();

    // The output allocator: two buffers of four bytes per pixel.
    AM_MEDIA_TYPE mtOut{};
    ASSERT_EQ(S_OK, chain.pDecoderOut->ConnectionMediaType(&mtOut));
    EXPECT_EQ(MEDIASUBTYPE_RGB24, mtOut.subtype);
    FreeMediaType(mtOut);
    IMemAllocator* pAllocator = nullptr;
    ASSERT_EQ(S_OK, chain.pSink->m_pPin->GetAllocator(&pAllocator));
    ALLOCATOR_PROPERTIES props{};
    pAllocator->GetProperties(&props);
    pAllocator->Release();
    EXPECT_EQ(2, props.cBuffers);
    EXPECT_EQ(352 * 288 * 4, props.cbBuffer);
}

// PSNR of a delivered RGB32 bottom-up picture against the source's own conversion.
double RgbPsnr(const std::vector<uint8_t>& vecDelivered, const std::vector<uint8_t>& vecSource, int w, int h)
{
    std::vector<uint8_t> vecSrc = vecSource;
    FrameBuffer frame;
    frame.pY = vecSrc.data();
    frame.pU = frame.pY + w * h;
    frame.pV = frame.pU + w * h / 4;
    frame.nStride = w;
    frame.nHeight = h;
    std::vector<uint8_t> vecExpected(w * h * 4);
    ConvertImage(frame, w, h, vecExpected.data(), w * 4, CSP_BGRA | CSP_VFLIP);
    if (vecDelivered.size() < vecExpected.size())
        return 0;
    return Psnr(vecDelivered.data(), w * 4, vecExpected.data(), w * 4, w * 4, h);
}

std::vector<uint8_t> Stamped(const std::vector<uint8_t>& vecPayload)
{
    // No time text, no caption: the picture is the decoder's alone.
    std::vector<uint8_t> vec(10 + vecPayload.size(), 0);
    vec[0] = 10;
    vec[1] = 0x80;
    std::copy(vecPayload.begin(), vecPayload.end(), vec.begin() + 10);
    return vec;
}

TEST(FilterModule, StreamsDecodeThroughTheGraphAndEndOfStreamDrainsHeldPictures)
{
    RegisteredModule module;
    struct Case {
        const char* pszEncoder;
        const char* pszFourCC;
        bool bBFrames;
    } const cases[] = {{"libx264", "TSHD", true}, {"mpeg4", "XVID", false}};
    for (const Case& c : cases) {
        const TestStream stream = EncodeStream(c.pszEncoder, 176, 144, 16, c.bBFrames);
        DecoderChain chain;
        ASSERT_EQ(S_OK, chain.Connect(VideoType(c.pszFourCC, 176, 144), MEDIASUBTYPE_RGB32));
        chain.Run();
        const bool bStamped = c.pszFourCC[0] == 'T';
        // A sample that gives no picture starts a wait for a sync point; a source that marks
        // every sample as one lets a reordering stream through.
        for (size_t i = 0; i < stream.vecPackets.size(); ++i)
            ASSERT_EQ(S_OK,
                      chain.pSource->Push(bStamped ? Stamped(stream.vecPackets[i]) : stream.vecPackets[i],
                                          c.bBFrames || stream.vecKey[i]));
        const size_t nBeforeEnd = chain.pSink->m_pPin->m_vecSamples.size();
        if (c.bBFrames) {
            EXPECT_LT(nBeforeEnd, stream.vecSources.size()) << "the stream should hold pictures back";
        }
        ASSERT_EQ(S_OK, chain.pSource->EndOfStream());
        EXPECT_EQ(1, chain.pSink->m_pPin->m_nEndOfStream);
        const auto& vecSamples = chain.pSink->m_pPin->m_vecSamples;
        ASSERT_EQ(stream.vecSources.size(), vecSamples.size()) << c.pszEncoder;
        for (size_t i = 0; i < vecSamples.size(); ++i) {
            EXPECT_EQ(176u * 144 * 4, vecSamples[i].vecData.size());
            EXPECT_GT(RgbPsnr(vecSamples[i].vecData, stream.vecSources[i], 176, 144), 30.0)
                << c.pszEncoder << " picture " << i;
        }
        EXPECT_EQ(c.bBFrames ? 1 : 0, chain.pGraph->Count(EC_QUALITY_CHANGE));
    }
}

// Every output subtype gets its own layout: the decoded picture against the source laid out by
// the format's own definition (the YUV ones) or converted by libswscale (the RGB ones, bottom-up),
// each as 8-bit samples.
TEST(FilterModule, EveryOutputSubtypeHasItsOwnLayout)
{
    RegisteredModule module;
    constexpr int W = 176, H = 144;
    const TestStream stream = EncodeStream("mpeg4", W, H, 1, false);
    const std::vector<uint8_t>& src = stream.vecSources[0];
    auto Y = [&](int x, int y) { return src[y * W + x]; };
    auto U = [&](int x, int y) { return src[W * H + (y / 2) * (W / 2) + x / 2]; };
    auto V = [&](int x, int y) { return src[W * H * 5 / 4 + (y / 2) * (W / 2) + x / 2]; };
    // Packed 4:2:2: the four bytes of each pair of pixels, in the format's order.
    auto packed = [&](const char* pszOrder) {
        std::vector<uint8_t> vec;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; x += 2)
                for (const char* p = pszOrder; *p != 0; ++p)
                    vec.push_back(*p == 'Y'   ? Y(x, y)
                                  : *p == 'y' ? Y(x + 1, y)
                                  : *p == 'U' ? U(x, y)
                                              : V(x, y));
        return vec;
    };
    auto planar = [&](bool bVFirst) {
        std::vector<uint8_t> vec(src.begin(), src.begin() + W * H);
        const auto itU = src.begin() + W * H, itV = itU + W * H / 4;
        vec.insert(vec.end(), bVFirst ? itV : itU, (bVFirst ? itV : itU) + W * H / 4);
        vec.insert(vec.end(), bVFirst ? itU : itV, (bVFirst ? itU : itV) + W * H / 4);
        return vec;
    };
    // RGB by libswscale, rows bottom-up as a bitmap with a positive height holds them.
    auto swscaled = [&](AVPixelFormat format, int nBytes) {
        std::vector<uint8_t> vec(static_cast<size_t>(W) * H * nBytes);
        SwsContext* pSws =
            sws_getContext(W, H, AV_PIX_FMT_YUV420P, W, H, format, SWS_POINT, nullptr, nullptr, nullptr);
        const uint8_t* apSrc[3] = {src.data(), src.data() + W * H, src.data() + W * H * 5 / 4};
        const int anSrc[3] = {W, W / 2, W / 2};
        uint8_t* apDst[1] = {vec.data() + static_cast<size_t>(H - 1) * W * nBytes};
        const int anDst[1] = {-W * nBytes};
        sws_scale(pSws, apSrc, anSrc, 0, H, apDst, anDst);
        sws_freeContext(pSws);
        return vec;
    };
    // 16-bit pixels as three 8-bit samples, so that a difference weighs as in the other formats.
    auto unpack16 = [](const std::vector<uint8_t>& vec, bool b565) {
        std::vector<uint8_t> out;
        for (size_t i = 0; i + 1 < vec.size(); i += 2) {
            const int n = vec[i] | vec[i + 1] << 8;
            out.push_back(static_cast<uint8_t>((n >> (b565 ? 11 : 10)) << 3));
            out.push_back(static_cast<uint8_t>(b565 ? ((n >> 5) & 63) << 2 : ((n >> 5) & 31) << 3));
            out.push_back(static_cast<uint8_t>((n & 31) << 3));
        }
        return out;
    };
    struct Row {
        const char* pszName;
        const GUID* pSubtype;
        std::vector<uint8_t> vecExpected;
        int n16; // 0: 8-bit samples, 565 or 555: 16-bit pixels
    };
    const Row rows[] = {
        {"IYUV", &MEDIASUBTYPE_IYUV, planar(false), 0},
        {"YV12", &MEDIASUBTYPE_YV12, planar(true), 0},
        {"YUY2", &MEDIASUBTYPE_YUY2, packed("YUyV"), 0},
        {"UYVY", &MEDIASUBTYPE_UYVY, packed("UYVy"), 0},
        {"YVYU", &MEDIASUBTYPE_YVYU, packed("YVyU"), 0},
        {"RGB32", &MEDIASUBTYPE_RGB32, swscaled(AV_PIX_FMT_BGRA, 4), 0},
        {"RGB24", &MEDIASUBTYPE_RGB24, swscaled(AV_PIX_FMT_BGR24, 3), 0},
        {"RGB565", &MEDIASUBTYPE_RGB565, swscaled(AV_PIX_FMT_RGB565LE, 2), 565},
        {"RGB555", &MEDIASUBTYPE_RGB555, swscaled(AV_PIX_FMT_RGB555LE, 2), 555},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.pszName);
        DecoderChain chain;
        ASSERT_EQ(S_OK, chain.Connect(VideoType("XVID", W, H), *row.pSubtype));
        chain.Run();
        ASSERT_EQ(S_OK, chain.pSource->Push(stream.vecPackets[0], true));
        ASSERT_EQ(1u, chain.pSink->m_pPin->m_vecSamples.size());
        std::vector<uint8_t> vecGot = chain.pSink->m_pPin->m_vecSamples[0].vecData;
        ASSERT_EQ(row.vecExpected.size(), vecGot.size());
        std::vector<uint8_t> vecExpected = row.vecExpected;
        if (row.n16 != 0) {
            vecGot = unpack16(vecGot, row.n16 == 565);
            vecExpected = unpack16(vecExpected, row.n16 == 565);
        }
        // The alpha byte of RGB32 is not a colour: compare three bytes of every four.
        if (*row.pSubtype == MEDIASUBTYPE_RGB32)
            for (size_t i = 3; i < vecGot.size(); i += 4)
                vecGot[i] = vecExpected[i];
        EXPECT_GT(Psnr(vecGot.data(), static_cast<int>(vecGot.size()), vecExpected.data(),
                       static_cast<int>(vecExpected.size()), static_cast<int>(vecGot.size()), 1),
                  28.0);
    }
}

TEST(FilterModule, WaitsForTheFirstSyncPointAndReportsQualityOncePerRun)
{
    RegisteredModule module;
    const TestStream stream = EncodeStream("libx264", 176, 144, 20, false);
    ASSERT_TRUE(stream.vecKey[0] && stream.vecKey[12] && !stream.vecKey[6]);
    DecoderChain chain;
    ASSERT_EQ(S_OK, chain.Connect(VideoType("H264", 176, 144), MEDIASUBTYPE_IYUV));
    chain.Run();
    auto delivered = [&] { return chain.pSink->m_pPin->m_vecSamples.size(); };
    // The first picture of a new input type must be a sync point.
    ASSERT_EQ(S_OK, chain.pSource->Push(stream.vecPackets[0], false));
    EXPECT_EQ(0u, delivered());
    for (int i = 0; i < 6; ++i)
        ASSERT_EQ(S_OK, chain.pSource->Push(stream.vecPackets[i], stream.vecKey[i]));
    EXPECT_EQ(6u, delivered());
    // Once pictures come, a gap before a sample is the decoder's to conceal: the picture goes on.
    ASSERT_EQ(S_OK, chain.pSource->Push(stream.vecPackets[6], false, true));
    for (int i = 7; i < 12; ++i)
        ASSERT_EQ(S_OK, chain.pSource->Push(stream.vecPackets[i], false));
    EXPECT_EQ(12u, delivered());
    ASSERT_EQ(S_OK, chain.pSource->Push(stream.vecPackets[12], true));
    EXPECT_EQ(13u, delivered());
    // A sample that decodes to nothing is dropped alone.
    ASSERT_EQ(S_OK, chain.pSource->Push(std::vector<uint8_t>(64, 0x55), true));
    ASSERT_EQ(S_OK, chain.pSource->Push(stream.vecPackets[13], false));
    EXPECT_EQ(14u, delivered());
    EXPECT_EQ(1, chain.pGraph->Count(EC_QUALITY_CHANGE));

    // A new run reports again.
    chain.Stop();
    chain.Run();
    ASSERT_EQ(S_OK, chain.pSource->Push(std::vector<uint8_t>(64, 0x55), false));
    EXPECT_EQ(2, chain.pGraph->Count(EC_QUALITY_CHANGE));
    // The delivered pictures are the right ones (I420, top-down).
    const auto& vecSamples = chain.pSink->m_pPin->m_vecSamples;
    for (size_t i : {0u, 5u, 6u, 12u}) {
        const size_t nSource = i;
        EXPECT_GT(Psnr(vecSamples[i].vecData.data(), 176, stream.vecSources[nSource].data(), 176, 176, 144),
                  35.0)
            << i;
    }
}

TEST(FilterModule, FollowsATypeChangeCarriedOnASample)
{
    RegisteredModule module;
    const TestStream large = EncodeStream("libx264", 352, 288, 2, false);
    const TestStream small = EncodeStream("libx264", 176, 144, 2, false);
    DecoderChain chain;
    ASSERT_EQ(S_OK, chain.Connect(VideoType("H264", 352, 288), MEDIASUBTYPE_IYUV));
    chain.Run();
    ASSERT_EQ(S_OK, chain.pSource->Push(large.vecPackets[0], true));
    const CMediaType mtSmall = VideoType("H264", 176, 144);
    ASSERT_EQ(S_OK, chain.pSource->Push(small.vecPackets[0], true, false, &mtSmall));
    ASSERT_EQ(S_OK, chain.pSource->Push(small.vecPackets[1], false));
    const auto& vecSamples = chain.pSink->m_pPin->m_vecSamples;
    ASSERT_EQ(3u, vecSamples.size());
    EXPECT_FALSE(vecSamples[0].bHasType);
    ASSERT_TRUE(vecSamples[1].bHasType);
    const BITMAPINFOHEADER* pHeader = GetBitmapInfoHeader(&vecSamples[1].mt);
    ASSERT_NE(nullptr, pHeader);
    EXPECT_EQ(176, pHeader->biWidth);
    EXPECT_EQ(144, pHeader->biHeight);
    EXPECT_EQ(MEDIASUBTYPE_IYUV, vecSamples[1].mt.subtype);
    for (size_t i : {1u, 2u}) {
        EXPECT_EQ(176u * 144 * 3 / 2, vecSamples[i].vecData.size());
        EXPECT_GT(Psnr(vecSamples[i].vecData.data(), 176, small.vecSources[i - 1].data(), 176, 176, 144),
                  35.0);
    }
}

TEST(FilterModule, PrivateInterfaceSettingsOverlaysAndSnapshots)
{
    RegisteredModule module;
    const TestStream stream = EncodeStream("libx264", 176, 144, 1, false);
    DecoderChain chain;
    IZEBDecoderEx* pPrivate = chain.Private();
    ASSERT_NE(nullptr, pPrivate);
    EXPECT_EQ(0, pPrivate->SaveSnapshot("/tmp/never-written.bmp")) << "no picture yet";
    // Settings made before the stream apply to it: a mirrored stamped stream.
    pPrivate->SetMirror(5);
    ASSERT_EQ(S_OK, chain.Connect(VideoType("TSHD", 176, 144), MEDIASUBTYPE_RGB32));
    chain.Run();
    EXPECT_EQ(nullptr, pPrivate->SetOsdText(u"Cam", 4));
    HOVERLAY hText = pPrivate->SetOsdText(u"门口 Cam 1", 1);
    ASSERT_NE(nullptr, hText);
    EXPECT_EQ(S_OK, pPrivate->SetOverlayValue(hText, 0));
    EXPECT_EQ(nullptr, pPrivate->SetOsdText(u"", 1));
    EXPECT_EQ(E_INVALIDARG, pPrivate->RemoveOverlay(hText)) << "already replaced";
    const std::vector<uint32_t> vecWhite(16 * 16, 0xFFFFFF);
    HOVERLAY hBox = pPrivate->AddOverlayBitmap(0, 0, 16, 16, vecWhite.data(), 0);
    ASSERT_NE(nullptr, hBox);
    ASSERT_EQ(S_OK, chain.pSource->Push(Stamped(stream.vecPackets[0]), true));
    ASSERT_EQ(1u, chain.pSink->m_pPin->m_vecSamples.size());
    const std::vector<uint8_t>& vecPicture = chain.pSink->m_pPin->m_vecSamples[0].vecData;
    // Top-left 16x16 white box, keyed per plane: its luma replaces the picture's, its neutral
    // chroma is within the black key's and leaves the picture's. Rows are bottom-up.
    auto luma = [&](int x, int y) {
        const uint8_t* p = &vecPicture[((143 - y) * 176 + x) * 4];
        return 0.114 * p[0] + 0.587 * p[1] + 0.299 * p[2];
    };
    EXPECT_GT(luma(0, 0), 225);
    EXPECT_GT(luma(15, 15), 225);
    // Mirrored: the source's left column is on the right.
    std::vector<uint8_t> vecFlipped = stream.vecSources[0];
    for (int y = 0; y < 144; ++y)
        std::reverse(vecFlipped.begin() + y * 176, vecFlipped.begin() + y * 176 + 176);
    for (int y = 0; y < 72; ++y) {
        std::reverse(vecFlipped.begin() + 176 * 144 + y * 88, vecFlipped.begin() + 176 * 144 + y * 88 + 88);
        std::reverse(vecFlipped.begin() + 176 * 144 * 5 / 4 + y * 88,
                     vecFlipped.begin() + 176 * 144 * 5 / 4 + y * 88 + 88);
    }
    EXPECT_GT(RgbPsnr(vecPicture, vecFlipped, 176, 144), 20.0);
    EXPECT_EQ(S_OK, pPrivate->RemoveOverlay(hBox));

    const auto path =
        std::filesystem::temp_directory_path() / ("vistrel-snap-" + std::to_string(getpid()) + ".bmp");
    EXPECT_EQ(1, pPrivate->SaveSnapshotW(path.u16string().c_str()));
    EXPECT_EQ(58u + 176 * 144 * 3, std::filesystem::file_size(path));
    std::filesystem::remove(path);
    EXPECT_EQ(0, pPrivate->SaveSnapshot(nullptr));
}

} // namespace
