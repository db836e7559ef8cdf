// Colour adjustment, orientation, overlays, the sample pipeline and snapshots.
#include "filter/decbase.h"
#include "filter_test_support.h"
#include "platform/trace.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

namespace {

TEST(PostProc, TablesExistExactlyWhenTheValuesNeedThem)
{
    struct Case {
        int8_t b, c, h, s;
        bool bLuma, bChroma, bHue;
        int nLuma100; // luma table at 100, or -1
    } const cases[] = {
        {0, 0, 0, 0, false, false, false, -1},   {3, 0, 0, 0, false, false, false, -1},
        {-4, 0, 0, 0, true, false, false, 99},   {-1, 0, 0, 0, true, false, false, 99},
        {40, 0, 0, 0, true, false, false, 110},  {0, 64, 0, 0, true, true, false, 142},
        {0, 0, 0, -128, false, true, false, -1}, {0, 0, 20, 0, false, false, true, -1},
        {8, 10, 20, 30, true, false, true, 108},
    };
    for (const Case& c : cases) {
        CVideoPostProc post;
        post.SetValues(c.b, c.c, c.h, c.s);
        EXPECT_EQ(c.bLuma, post.LumaTable() != nullptr) << int(c.b) << " " << int(c.c);
        EXPECT_EQ(c.bChroma, post.ChromaTable() != nullptr) << int(c.b) << " " << int(c.c);
        EXPECT_EQ(c.bHue, post.HueTableU() != nullptr) << int(c.h);
        if (c.nLuma100 >= 0 && post.LumaTable() != nullptr) {
            EXPECT_EQ(c.nLuma100, post.LumaTable()[100]) << int(c.b) << " " << int(c.c);
        }
    }
    // Saturation -128 takes all colour out; neutral hue at full saturation keeps grey grey.
    CVideoPostProc post;
    post.SetValues(0, 0, 0, -128);
    EXPECT_EQ(128, post.ChromaTable()[20]);
    post.SetValues(0, 0, 64, 0);
    EXPECT_EQ(128, post.HueTableU()[128 * 256 + 128]);
    EXPECT_EQ(128, post.HueTableV()[128 * 256 + 128]);
}

TEST(PostProc, MirrorRotateAndBothMoveEveryPixelWhereExpected)
{
    const int w = 22, h = 10, stride = 32;
    for (int nMode = 0; nMode < 4; ++nMode) {
        const bool bMirror = nMode & 1, bRotate = nMode & 2;
        TestPicture picture(w, h, stride, 5);
        TestPicture original(w, h, stride, 5);
        CVideoPostProc post;
        post.SetMirror(bMirror);
        post.SetRotate(bRotate);
        EXPECT_EQ(nMode != 0, post.IsActive());
        post.Apply(picture.frame, w, h);
        auto check = [&](const std::vector<uint8_t>& vecAfter, const std::vector<uint8_t>& vecBefore, int pw,
                         int ph, int ps) {
            for (int r = 0; r < ph; ++r)
                for (int c = 0; c < pw; ++c) {
                    const int sr =
                        bRotate != bMirror && bRotate ? ph - 1 - r : (bRotate && bMirror ? ph - 1 - r : r);
                    const int sc = bMirror != bRotate ? pw - 1 - c : c;
                    ASSERT_EQ(vecBefore[sr * ps + sc], vecAfter[r * ps + c])
                        << nMode << " at " << r << "," << c;
                }
            // Padding beyond the width is left alone.
            for (int r = 0; r < ph; ++r)
                ASSERT_EQ(vecBefore[r * ps + pw], vecAfter[r * ps + pw]);
        };
        check(picture.vecY, original.vecY, w, h, stride);
        check(picture.vecU, original.vecU, w / 2, h / 2, stride / 2);
        check(picture.vecV, original.vecV, w / 2, h / 2, stride / 2);
    }
}

TEST(Overlay, TextIsWhiteWithADarkOutlineAtItsCornerAndKeyedIntoThePicture)
{
    CBlendBitmap blend;
    std::vector<uint32_t> vecPixels;
    int nWidth = 0, nHeight = 0;
    // Chinese glyphs must come from the font, not as empty boxes of nothing.
    ASSERT_TRUE(blend.RenderText(u"摄像机", 704, vecPixels, nWidth, nHeight));
    EXPECT_EQ(0, nWidth % 4);
    EXPECT_EQ(0, nHeight % 2);
    size_t nWhite = 0, nOutline = 0;
    for (uint32_t dw : vecPixels) {
        nWhite += dw == 0xFFFFFF;
        nOutline += dw == 0x0D0D0D;
    }
    EXPECT_GT(nWhite, 50u);
    EXPECT_GT(nOutline, 50u);
    // Nothing bright borders the key colour along a row or column: the outline closes it in.
    for (int y = 0; y < nHeight; ++y)
        for (int x = 0; x < nWidth; ++x)
            if ((vecPixels[y * nWidth + x] & 0xFF) >= 0x80) {
                auto dark = [&](int xx, int yy) {
                    return xx >= 0 && yy >= 0 && xx < nWidth && yy < nHeight &&
                           vecPixels[yy * nWidth + xx] == 0;
                };
                ASSERT_FALSE(dark(x - 1, y) || dark(x + 1, y) || dark(x, y - 1) || dark(x, y + 1))
                    << x << "," << y;
            }
    // Bigger frames get bigger text.
    int nSmallW = 0, nSmallH = 0;
    ASSERT_TRUE(blend.RenderText(u"摄像机", 320, vecPixels, nSmallW, nSmallH));
    EXPECT_LT(nSmallH, nHeight);
    // A line longer than its frame is drawn only as wide as the frame, and what is drawn is the
    // line's start, as a short line with the same start shows it.
    std::vector<uint32_t> vecShort;
    int nShortW = 0, nShortH = 0, nLongW = 0, nLongH = 0;
    ASSERT_TRUE(blend.RenderText(u"2024-05-01", 320, vecShort, nShortW, nShortH));
    ASSERT_TRUE(blend.RenderText(u"2024-05-01" + std::u16string(200, u'8'), 320, vecPixels, nLongW, nLongH));
    EXPECT_EQ(nLongW, 320);
    ASSERT_EQ(nLongH, nShortH);
    for (int y = 0; y < nShortH; ++y)
        for (int x = 0; x + 8 < nShortW; ++x)
            ASSERT_EQ(vecPixels[y * nLongW + x], vecShort[y * nShortW + x]) << x << "," << y;

    const int W = 352, H = 288;
    for (int nPosition = 0; nPosition < 4; ++nPosition) {
        CBlendBitmap corner;
        OverlayItem* pItem = corner.AddText(u"Cam 1 门口", W, H, nPosition);
        ASSERT_NE(nullptr, pItem);
        const int nRight = (W - pItem->nWidth - 2 + 1) & ~1, nBottom = (H - pItem->nHeight - 2 + 1) & ~1;
        EXPECT_EQ(nPosition % 2 == 1 ? nRight : 2, pItem->nX) << nPosition;
        EXPECT_EQ(nPosition >= 2 ? nBottom : 2, pItem->nY) << nPosition;
        // Blend into a mid-grey frame: key-black stays picture, text becomes Y 235.
        TestPicture picture(W, H, W, 1);
        std::fill(picture.vecY.begin(), picture.vecY.end(), 128);
        corner.Blend(picture.frame, W, H);
        int nBright = 0, nChanged = 0;
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                const uint8_t by = picture.vecY[y * W + x];
                const bool bInside = x >= pItem->nX && x < pItem->nX + pItem->nWidth && y >= pItem->nY &&
                                     y < pItem->nY + pItem->nHeight;
                if (!bInside) {
                    ASSERT_EQ(128, by) << "outside the item at " << x << "," << y;
                }
                nBright += by == 235;
                nChanged += by != 128;
            }
        EXPECT_GT(nBright, 20);
        EXPECT_LT(nChanged, pItem->nWidth * pItem->nHeight / 2)
            << "the key colour must show the picture through";
    }
    EXPECT_EQ(nullptr, blend.AddText(u"x", W, H, 4));
    EXPECT_EQ(nullptr, blend.AddText(u"", W, H, 0));
}

// A text is drawn straight into the overlay's planar form: it must be what converting the
// rendered RGB text gives, at every size and outline width.
TEST(Overlay, TextItemIsItsRenderedPictureInPlanarForm)
{
    struct Case {
        int nFrame, nShown, nScale;
    } const aCases[] = {{64, 0, 100}, {352, 0, 100}, {704, 0, 100}, {1280, 0, 100}, {1280, 320, 100}};
    for (const Case& c : aCases) {
        for (const std::u16string& strText :
             {std::u16string(u"2026-12-09 06:30:00"), std::u16string(u"Cam 1 门口")}) {
            SCOPED_TRACE(std::to_string(c.nFrame) + " at " + std::to_string(c.nShown));
            CBlendBitmap blend;
            blend.SetShownWidth(c.nShown, c.nScale);
            std::vector<uint32_t> vecPixels;
            int nWidth = 0, nHeight = 0;
            ASSERT_TRUE(blend.RenderText(strText, c.nFrame, vecPixels, nWidth, nHeight));
            OverlayItem* pItem = blend.AddText(strText, c.nFrame, 720, 0);
            ASSERT_NE(nullptr, pItem);
            ASSERT_EQ(nWidth, pItem->nWidth);
            ASSERT_EQ(nHeight, pItem->nHeight);
            EXPECT_TRUE(RgbToPlanar420(vecPixels.data(), nWidth, nHeight) == pItem->vecPixels);
        }
    }
}

// A picture shown shrunk (a pane of a wall) gets its texts in the size its window would give
// them at the screen's scale, and an outline as wide as the shrinking, which would otherwise
// average a one-pixel outline away.
TEST(Overlay, ShrunkPictureKeepsItsTextSizeOnTheScreen)
{
    const std::u16string strTime = u"2026-12-09 06:30:00";
    struct Case {
        int nFrame;   // the picture's width
        int nShown;   // drawn at, in screen pixels
        int nScale;   // the screen's, in percent
        int nOutline; // frame pixels per screen pixel
    };
    const Case aCases[] = {{1280, 320, 100, 4}, {1280, 640, 200, 4}, {1920, 480, 100, 4}, {640, 200, 100, 3}};
    for (const Case& c : aCases) {
        SCOPED_TRACE(std::to_string(c.nFrame) + " at " + std::to_string(c.nShown));
        // As a picture as wide as the window in points shows it whole, at the screen's scale.
        CBlendBitmap whole;
        std::vector<uint32_t> vecPixels;
        int nWidth = 0, nHeight = 0;
        ASSERT_TRUE(whole.RenderText(strTime, c.nShown * 100 / c.nScale, vecPixels, nWidth, nHeight));
        const int nExpected = nHeight * c.nScale / 100;
        CBlendBitmap shrunk;
        shrunk.SetShownWidth(c.nShown, c.nScale);
        ASSERT_TRUE(shrunk.RenderText(strTime, c.nFrame, vecPixels, nWidth, nHeight));
        EXPECT_NEAR(nHeight * c.nShown / c.nFrame, nExpected, 3 * c.nScale / 100);
        // No key black within the outline's width of the text along a row or a column.
        for (int y = 0; y < nHeight; ++y)
            for (int x = 0; x < nWidth; ++x) {
                if ((vecPixels[y * nWidth + x] & 0xFF) < 0x80)
                    continue;
                for (int k = 1; k <= c.nOutline; ++k)
                    for (const auto [dx, dy] : {std::pair{k, 0}, {-k, 0}, {0, k}, {0, -k}}) {
                        const int xx = x + dx, yy = y + dy;
                        if (xx >= 0 && yy >= 0 && xx < nWidth && yy < nHeight)
                            ASSERT_NE(vecPixels[yy * nWidth + xx], 0u)
                                << x << "," << y << " +" << dx << "," << dy;
                    }
            }
    }
}

TEST(Overlay, BitmapsAreClippedToTheFrameAndRemovable)
{
    const int W = 64, H = 32;
    // A 100x40 white bitmap with a key-coloured hole, placed half outside on every side.
    std::vector<uint32_t> vecBitmap(100 * 40, 0xFFFFFF);
    for (int y = 10; y < 20; ++y)
        for (int x = 10; x < 20; ++x)
            vecBitmap[y * 100 + x] = 0x00FF00;
    for (auto [x, y] : {std::pair{-40, -20}, std::pair{30, 10}, std::pair{-90, 0}}) {
        CBlendBitmap blend;
        OverlayItem* pItem = blend.AddBitmap(x, y, 100, 40, vecBitmap.data(), 0x00FF00);
        ASSERT_NE(nullptr, pItem);
        EXPECT_TRUE(blend.SetItemValue(pItem, 7));
        // The frame sits inside a larger buffer so writes past it would show. Within the frame,
        // white (Y 235, U and V 128) where the bitmap covers it outside the hole; the picture
        // everywhere else, in all three planes.
        TestPicture picture(W, H, W * 2, 2);
        const TestPicture before(W, H, W * 2, 2);
        blend.Blend(picture.frame, W, H);
        auto white = [&](int c, int r, int w, int h) {
            const int bx = c - pItem->nX, by = r - pItem->nY;
            return c < w && r < h && bx >= 0 && bx < 100 && by >= 0 && by < 40 &&
                   vecBitmap[by * 100 + bx] == 0xFFFFFFu;
        };
        for (size_t i = 0; i < picture.vecY.size(); ++i) {
            const int r = static_cast<int>(i) / (2 * W), c = static_cast<int>(i) % (2 * W);
            ASSERT_EQ(white(c, r, W, H) ? 235 : before.vecY[i], picture.vecY[i])
                << x << "," << y << " at " << c << "," << r;
        }
        for (size_t i = 0; i < picture.vecU.size(); ++i) {
            const int r = static_cast<int>(i) / W, c = static_cast<int>(i) % W;
            const bool bWhite = c < W / 2 && white(2 * c, 2 * r, W, H);
            ASSERT_EQ(bWhite ? 128 : before.vecU[i], picture.vecU[i])
                << x << "," << y << " at " << c << "," << r;
            ASSERT_EQ(bWhite ? 128 : before.vecV[i], picture.vecV[i])
                << x << "," << y << " at " << c << "," << r;
        }
        EXPECT_TRUE(blend.RemoveItem(pItem));
        EXPECT_FALSE(blend.RemoveItem(pItem));
        EXPECT_FALSE(blend.HasItems());
    }
}

// Keying, eight samples at a time and in the tail: a sample within 8 of the key's luma leaves
// the picture as it is, any other is shown. Every grey level against keys across the range.
TEST(Overlay, BitmapSamplesNearTheKeyAreTransparent)
{
    const int W = 264, H = 2, N = 259; // 32 words of eight and a tail of three
    auto luma = [](int g) { return ((220 * g + 128) >> 8) + 16; };
    std::vector<uint32_t> vecBitmap(static_cast<size_t>(N) * H);
    for (int i = 0; i < N * H; ++i) {
        const uint32_t g = static_cast<uint32_t>(i % N) & 0xFF;
        vecBitmap[i] = g << 16 | g << 8 | g;
    }
    for (const int nKey : {0, 9, 40, 128, 200, 255}) {
        CBlendBitmap blend;
        ASSERT_NE(nullptr, blend.AddBitmap(0, 0, N, H, vecBitmap.data(),
                                           static_cast<uint32_t>(nKey << 16 | nKey << 8 | nKey)));
        TestPicture picture(W, H, W, 3);
        const TestPicture before(W, H, W, 3);
        blend.Blend(picture.frame, W, H);
        for (int r = 0; r < H; ++r)
            for (int c = 0; c < W; ++c) {
                const size_t i = static_cast<size_t>(r) * W + c;
                const int nY = c < N ? luma(c & 0xFF) : -1;
                const bool bShown = c < N && std::abs(nY - luma(nKey)) > 8;
                ASSERT_EQ(bShown ? nY : before.vecY[i], picture.vecY[i]) << "key " << nKey << " at " << c;
            }
    }
}

// A back-end that hands out one fixed picture.
class CFakeDecoder : public CDecBase {
public:
    CFakeDecoder(int w, int h) : m_picture(w, h, w + 16, 9) {}
    bool IsUsable() const override { return true; }
    int Decode(const uint8_t* pbData, uint32_t dwLength, FrameBuffer& picture, int& nLumaStride,
               int& nChromaStride) override
    {
        m_vecLastPayload.assign(pbData, pbData + dwLength);
        if (dwLength == 0)
            return 1;
        picture = m_picture.frame;
        nLumaStride = m_picture.frame.nStride;
        nChromaStride = nLumaStride / 2;
        return 0;
    }
    TestPicture m_picture;
    std::vector<uint8_t> m_vecLastPayload;
};

struct TraceCapture {
    std::vector<std::string> vecLines;
    std::mutex mutex;
    TraceCapture()
    {
        SetTraceSink([this](const char* psz) {
            std::lock_guard<std::mutex> lock(mutex);
            vecLines.emplace_back(psz);
        });
    }
    ~TraceCapture() { ResetTraceSink(); }
};

TEST(Pipeline, StampDrivesOverlaysAndOrientationAndSmallBuffersAreRefused)
{
    const int W = 352, H = 288;
    CBlendBitmap blend;
    CFakeDecoder decoder(W, H);
    decoder.SetOverlayManager(&blend);
    decoder.SetFrameSize(W, H);
    decoder.SetOutput(CSP_I420, false, W);
    decoder.SetColorAdjust(40, 0, 0, 0);
    std::vector<uint8_t> vecOut(W * H * 3 / 2);

    // Unstamped: colour adjust does not apply and nothing is drawn.
    const uint8_t byPlain[] = {1, 2, 3};
    ASSERT_EQ(S_OK, decoder.Process(false, byPlain, 3, false, vecOut.data(), vecOut.size()));
    for (int y = 0; y < H; ++y)
        ASSERT_EQ(0, std::memcmp(vecOut.data() + y * W, decoder.m_picture.frame.pY + y * (W + 16), W));
    EXPECT_FALSE(blend.HasItems());

    // Stamped with a caption and the mirror flag: payload after the header, time text top
    // left, caption bottom right, picture mirrored and brightened.
    std::vector<uint8_t> vecStamp = {0, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 4, 'A', 0, 'B', 0};
    vecStamp[0] = static_cast<uint8_t>(vecStamp.size());
    vecStamp.insert(vecStamp.end(), {7, 8, 9});
    ASSERT_EQ(S_OK,
              decoder.Process(false, vecStamp.data(), vecStamp.size(), true, vecOut.data(), vecOut.size()));
    EXPECT_EQ(std::vector<uint8_t>({7, 8, 9}), decoder.m_vecLastPayload);
    EXPECT_TRUE(blend.HasItems());
    // Middle row, far from the overlays: mirrored and brightened by 40 >> 2.
    const uint8_t* pSource = decoder.m_picture.frame.pY + (H / 2) * (W + 16);
    for (int x = 0; x < W; ++x)
        ASSERT_EQ(std::min(255, pSource[W - 1 - x] + 10), vecOut[(H / 2) * W + x]) << x;
    // The decoder's own picture is never changed.
    TestPicture pristine(W, H, W + 16, 9);
    EXPECT_EQ(pristine.vecY, decoder.m_picture.vecY);

    // The client's mirror cancels the stamp's.
    decoder.SetMirror(1);
    ASSERT_EQ(S_OK,
              decoder.Process(false, vecStamp.data(), vecStamp.size(), true, vecOut.data(), vecOut.size()));
    for (int x = 0; x < W; ++x)
        ASSERT_EQ(std::min(255, pSource[x] + 10), vecOut[(H / 2) * W + x]) << x;

    // A broken header and a too small output buffer drop the sample.
    TraceCapture trace;
    EXPECT_EQ(S_FALSE, decoder.Process(false, vecStamp.data(), 10, true, vecOut.data(), vecOut.size()));
    EXPECT_EQ(S_FALSE, decoder.Process(false, byPlain, 3, false, vecOut.data(), W * H - 1));
    EXPECT_EQ(S_FALSE, decoder.Process(false, byPlain, 3, false, vecOut.data(), W * H));
    EXPECT_EQ(S_FALSE, decoder.Process(true, byPlain, 3, false, vecOut.data(), vecOut.size()));
    EXPECT_EQ(
        std::vector<std::string>({"TransForm nOutLen < m_nOutStride", "TransForm nOutLen < m_nImageWidth"}),
        trace.vecLines);
}

std::string RunCommand(const std::string& strCommand)
{
    std::string strOut;
    FILE* pPipe = popen(strCommand.c_str(), "r");
    if (pPipe == nullptr)
        return strOut;
    char sz[256];
    while (std::fgets(sz, sizeof sz, pPipe) != nullptr)
        strOut += sz;
    pclose(pPipe);
    return strOut;
}

TEST(Snapshot, ImageMagickReadsTheBitmapWithTheRightSizeAndPixels)
{
    const auto dir = std::filesystem::temp_directory_path() / ("vistrel-snap-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    for (auto [W, H] : {std::pair{704, 576}, std::pair{37, 20}}) {
        CFakeDecoder decoder(W, H);
        decoder.SetFrameSize(W, H);
        decoder.SetOutput(CSP_BGRA, false, W * 4);
        const std::string strPath = (dir / ("snap" + std::to_string(W) + ".bmp")).string();
        EXPECT_EQ(0, decoder.SaveSnapshot(strPath)) << "no picture yet";
        std::vector<uint8_t> vecOut(W * H * 4);
        const uint8_t by = 1;
        ASSERT_EQ(S_OK, decoder.Process(false, &by, 1, false, vecOut.data(), vecOut.size()));
        ASSERT_EQ(1, decoder.SaveSnapshot(strPath));
        EXPECT_EQ(0, decoder.SaveSnapshot(""));
        EXPECT_EQ(0, decoder.SaveSnapshot((dir / "missing" / "x.bmp").string()));
        if (W == 704) {
            EXPECT_EQ(1216512u + 58u, std::filesystem::file_size(strPath));
        }
        EXPECT_EQ("BMP3 " + std::to_string(W) + " " + std::to_string(H),
                  RunCommand("identify -format '%m %w %h' '" + strPath + "'"));
        // Pixels as ImageMagick reads them, top row first, against our own conversion.
        const std::string strRaw = RunCommand("convert '" + strPath + "' -depth 8 bgr:- | od -An -v -tu1");
        std::vector<uint8_t> vecRead;
        for (size_t nAt = 0; nAt < strRaw.size();) {
            char* pEnd = nullptr;
            const long n = std::strtol(strRaw.c_str() + nAt, &pEnd, 10);
            if (pEnd == strRaw.c_str() + nAt)
                break;
            vecRead.push_back(static_cast<uint8_t>(n));
            nAt = pEnd - strRaw.c_str();
        }
        std::vector<uint8_t> vecExpected(W * H * 3);
        ConvertImage(decoder.m_picture.frame, W, H, vecExpected.data(), W * 3, CSP_BGR);
        EXPECT_EQ(vecExpected, vecRead) << W << "x" << H;
    }
    std::filesystem::remove_all(dir);
}

// What was at the snapshot's path before (a file another user made, a symlink to one of the
// user's files) is replaced, never written through; the new picture is a file of its own.
TEST(Snapshot, NeverWritesThroughWhatWasAtThePath)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("vistrel-snapsafe-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    const int W = 64, H = 48;
    CFakeDecoder decoder(W, H);
    decoder.SetFrameSize(W, H);
    decoder.SetOutput(CSP_BGRA, false, W * 4);
    std::vector<uint8_t> vecOut(W * H * 4);
    const uint8_t by = 1;
    ASSERT_EQ(S_OK, decoder.Process(false, &by, 1, false, vecOut.data(), vecOut.size()));

    auto readAll = [](const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    for (const bool bSymlink : {false, true}) {
        const fs::path victim = dir / "victim.txt";
        const fs::path target = dir / "Temp.tmp";
        std::ofstream(victim) << "the user's own file";
        if (bSymlink)
            fs::create_symlink(victim, target);
        else
            fs::copy_file(victim, target);
        const fs::file_time_type tBefore = fs::last_write_time(victim);

        ASSERT_EQ(1, decoder.SaveSnapshot(target.string())) << bSymlink;
        EXPECT_EQ(readAll(victim), "the user's own file") << bSymlink;
        EXPECT_EQ(fs::last_write_time(victim), tBefore);
        EXPECT_FALSE(fs::is_symlink(target));
        EXPECT_EQ(fs::file_size(target), 58u + W * H * 3) << bSymlink;
        EXPECT_EQ(readAll(target).substr(0, 2), "BM");
        // Nothing left beside it.
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
        fs::remove(target);
    }
    fs::remove_all(dir);
}

// A back-end that, as a real decoder does, overwrites and frees its picture at its next call,
// here a call that yields no picture, and comes back at another size; with bHolds it offers a
// hold, and a held picture is left alone.
class CReleasingDecoder : public CDecBase {
public:
    explicit CReleasingDecoder(bool bHolds) : m_bHolds(bHolds) {}
    bool IsUsable() const override { return true; }
    int Decode(const uint8_t* pbData, uint32_t dwLength, FrameBuffer& picture, int& nLumaStride,
               int& nChromaStride) override
    {
        if (m_pPicture && m_pPicture.use_count() == 1)
            for (auto* pvec : {&m_pPicture->vecY, &m_pPicture->vecU, &m_pPicture->vecV})
                std::fill(pvec->begin(), pvec->end(), uint8_t{0xEE});
        m_pPicture.reset();
        if (pbData[0] == 0)
            return 1;
        m_pPicture = std::make_shared<TestPicture>(pbData[0] * 16, pbData[0] * 16, pbData[0] * 16, pbData[0]);
        m_pristine = m_pPicture->vecY;
        picture = m_pPicture->frame;
        nLumaStride = m_pPicture->frame.nStride;
        nChromaStride = nLumaStride / 2;
        return 0;
    }
    std::shared_ptr<const void> HoldPicture() override { return m_bHolds ? m_pPicture : nullptr; }
    bool m_bHolds;
    std::shared_ptr<TestPicture> m_pPicture;
    std::vector<uint8_t> m_pristine;
};

// The snapshot after a sample without a picture and a change of frame size is still the last
// picture shown, overlay and mirror included, at its own size, whether the back-end's picture
// was held or copied and whichever output the overlay went into; the back-end's picture itself
// is never drawn on.
TEST(Snapshot, LastPictureSurvivesTheDecodersNextCallAndASizeChange)
{
    const int W = 32, H = 32;
    const std::vector<uint32_t> vecBitmap(10 * 6, 0x00FFFFFF);
    for (const bool bHolds : {false, true})
        for (const uint32_t dwOut : {CSP_I420, CSP_BGRA}) {
            SCOPED_TRACE(std::to_string(bHolds) + " " + std::to_string(dwOut));
            CBlendBitmap blend;
            ASSERT_NE(nullptr, blend.AddBitmap(2, 4, 10, 6, vecBitmap.data(), 0));
            CReleasingDecoder decoder(bHolds);
            decoder.SetOverlayManager(&blend);
            decoder.SetFrameSize(W, H);
            decoder.SetOutput(dwOut, false, dwOut == CSP_I420 ? W : W * 4);
            std::vector<uint8_t> vecOut(4 * W * H * 4);
            // Stamped with the mirror flag and no time text.
            const uint8_t byStamped[] = {10, 0x90, 0, 0, 0, 0, 0, 0, 0, 0, 2};
            const uint8_t byNone = 0;
            ASSERT_EQ(S_OK, decoder.Process(false, byStamped, sizeof byStamped, true, vecOut.data(),
                                            vecOut.size()));
            EXPECT_EQ(decoder.m_pristine, decoder.m_pPicture->vecY);
            // What was shown: the picture mirrored, then the overlay drawn on it.
            CVideoPostProc mirror;
            mirror.SetMirror(true);
            TestPicture shown = *decoder.m_pPicture;
            shown.frame.pY = shown.vecY.data(), shown.frame.pU = shown.vecU.data(),
            shown.frame.pV = shown.vecV.data();
            mirror.Apply(shown.frame, W, H);
            blend.Blend(shown.frame, W, H);
            std::vector<uint8_t> vecExpected(W * H * 3);
            ConvertImage(shown.frame, W, H, vecExpected.data(), W * 3, CSP_BGR | CSP_VFLIP);
            std::vector<uint8_t> vecShown(W * H * 4);
            ConvertImage(shown.frame, W, H, vecShown.data(), dwOut == CSP_I420 ? W : W * 4, dwOut);
            EXPECT_TRUE(std::equal(vecShown.begin(), vecShown.end(), vecOut.begin()));

            ASSERT_EQ(S_FALSE, decoder.Process(false, &byNone, 1, false, vecOut.data(), vecOut.size()));
            decoder.SetFrameSize(2 * W, 2 * H);
            const auto path =
                std::filesystem::temp_directory_path() / ("vistrel-snap-late-" + std::to_string(getpid()));
            ASSERT_EQ(1, decoder.SaveSnapshot(path.string()));
            std::ifstream file(path, std::ios::binary);
            std::vector<uint8_t> vecFile((std::istreambuf_iterator<char>(file)),
                                         std::istreambuf_iterator<char>());
            std::filesystem::remove(path);
            ASSERT_EQ(vecFile.size(), 58 + vecExpected.size());
            EXPECT_EQ(vecFile[18], W);
            EXPECT_EQ(vecFile[22], H);
            EXPECT_TRUE(std::equal(vecExpected.begin(), vecExpected.end(), vecFile.begin() + 58));
        }
}

} // namespace
