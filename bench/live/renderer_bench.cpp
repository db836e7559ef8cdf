// The live view's two ways of putting a decoded RGB32 picture on the screen, side by side:
//   widget: the pane's own window (scaled to the window on the presenting thread, painted as a
//           QImage by QPainter);
//   gl:     a QOpenGLWidget that uploads the picture as a texture and lets OpenGL scale it.
// Each presents a run of changing pictures as fast as the window takes them and reports wall and
// process CPU time per frame; the display server's own CPU is measured by the calling script.
//   renderer_bench widget|gl <picture width> <picture height> <window width> <window height> <frames>
// And the pane's YUV converter at the sizes of a 1, 4 and 16 pane wall against the decoder's
// whole-picture conversion to RGB32 that the panes used before they converted at their size:
//   renderer_bench convert <picture width> <picture height> <frames>
#include "filter/colorconvert.h"
#include "media/video/yuvpicture.h"
#include "ui/videorendererwidget.h"

#include <QApplication>
#include <QImage>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <mutex>
#include <vector>

namespace {

double ProcessCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// Moving bands, so that no two pictures in a row are alike.
std::vector<std::vector<std::uint32_t>> MakePictures(int nWidth, int nHeight, int nCount)
{
    std::vector<std::vector<std::uint32_t>> v(static_cast<std::size_t>(nCount));
    for (int i = 0; i < nCount; ++i) {
        v[i].resize(static_cast<std::size_t>(nWidth) * nHeight);
        for (int y = 0; y < nHeight; ++y)
            for (int x = 0; x < nWidth; ++x) {
                const auto r = static_cast<std::uint32_t>((x + 8 * i) & 0xFF);
                const auto g = static_cast<std::uint32_t>((y + 4 * i) & 0xFF);
                const auto b = static_cast<std::uint32_t>(x * 255 / nWidth);
                v[i][static_cast<std::size_t>(y) * nWidth + x] = r << 16 | g << 8 | b;
            }
    }
    return v;
}

// Takes the picture as it is and has OpenGL scale it to the window.
class CGlRenderer : public QOpenGLWidget, protected QOpenGLFunctions {
public:
    void Present(const std::uint32_t* pPixels, int nWidth, int nHeight)
    {
        std::lock_guard lock(m_mutex);
        m_vPixels.assign(pPixels, pPixels + static_cast<std::size_t>(nWidth) * nHeight);
        m_nWidth = nWidth;
        m_nHeight = nHeight;
    }

protected:
    void initializeGL() override
    {
        initializeOpenGLFunctions();
        m_program.addShaderFromSourceCode(QOpenGLShader::Vertex,
                                          "attribute vec2 pos; varying vec2 tc;"
                                          "void main() { tc = vec2((pos.x + 1.0) / 2.0,"
                                          " (1.0 - pos.y) / 2.0);"
                                          " gl_Position = vec4(pos, 0.0, 1.0); }");
        m_program.addShaderFromSourceCode(QOpenGLShader::Fragment, "uniform sampler2D tex; varying vec2 tc;"
                                                                   "void main() { gl_FragColor ="
                                                                   " texture2D(tex, tc); }");
        m_program.link();
        glGenTextures(1, &m_texture);
        glBindTexture(GL_TEXTURE_2D, m_texture);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    }

    void paintGL() override
    {
        std::lock_guard lock(m_mutex);
        if (m_nWidth == 0)
            return;
        glBindTexture(GL_TEXTURE_2D, m_texture);
        constexpr GLenum kBgra = 0x80E1; // RGB32 lies in memory as B, G, R, X
        if (m_nWidth != m_nTexWidth || m_nHeight != m_nTexHeight) {
            glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, m_nWidth, m_nHeight, 0, kBgra, GL_UNSIGNED_BYTE,
                         m_vPixels.data());
            m_nTexWidth = m_nWidth;
            m_nTexHeight = m_nHeight;
        } else {
            glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, m_nWidth, m_nHeight, kBgra, GL_UNSIGNED_BYTE,
                            m_vPixels.data());
        }
        static const GLfloat afQuad[] = {-1, -1, 1, -1, -1, 1, 1, 1};
        m_program.bind();
        m_program.enableAttributeArray(0);
        m_program.setAttributeArray(0, GL_FLOAT, afQuad, 2);
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        m_program.disableAttributeArray(0);
        // The picture is on the window's surface when the frame's time ends.
        glFinish();
    }

private:
    std::mutex m_mutex;
    std::vector<std::uint32_t> m_vPixels;
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nTexWidth = 0;
    int m_nTexHeight = 0;
    GLuint m_texture = 0;
    QOpenGLShaderProgram m_program;
};

double MsPerFrame(int nFrames, const std::function<void(int)>& fnOne)
{
    for (int i = 0; i < 5; ++i)
        fnOne(i);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < nFrames; ++i)
        fnOne(i);
    return 1000 * std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / nFrames;
}

int ConvertBench(int nWidth, int nHeight, int nFrames)
{
    // Four different pictures, so that the caches see a stream, not one picture.
    const int nStride = nWidth;
    std::vector<std::vector<BYTE>> vPictures(4);
    for (std::size_t n = 0; n < vPictures.size(); ++n) {
        auto& v = vPictures[n];
        v.resize(static_cast<std::size_t>(nStride) * nHeight * 3 / 2);
        for (std::size_t i = 0; i < v.size(); ++i)
            v[i] = static_cast<BYTE>((i * 7 + n * 31 + i / 4096) & 0xFF);
    }
    auto planesOf = [&](int i) {
        BYTE* p = vPictures[static_cast<std::size_t>(i) % vPictures.size()].data();
        YuvPlanes planes;
        planes.pY = p;
        planes.pU = p + static_cast<std::size_t>(nStride) * nHeight;
        planes.pV = planes.pU + static_cast<std::size_t>(nStride / 2) * (nHeight / 2);
        planes.nLumaStride = nStride;
        planes.nChromaStride = nStride / 2;
        planes.nWidth = nWidth;
        planes.nHeight = nHeight;
        return planes;
    };
    std::vector<std::uint32_t> vWhole(static_cast<std::size_t>(nWidth) * nHeight);
    std::vector<std::uint32_t> vOut(vWhole.size());
    // Before: the decoder made the whole picture RGB32, the window scaled it smoothly to its size.
    auto decoderWhole = [&](int i) {
        const YuvPlanes planes = planesOf(i);
        FrameBuffer frame;
        frame.pY = const_cast<BYTE*>(planes.pY);
        frame.pU = const_cast<BYTE*>(planes.pU);
        frame.pV = const_cast<BYTE*>(planes.pV);
        frame.nStride = nStride;
        frame.nHeight = nHeight;
        ConvertImage(frame, nWidth, nHeight, reinterpret_cast<uint8_t*>(vWhole.data()), nWidth * 4,
                     CSP_BGRA | CSP_VFLIP);
    };
    std::printf("%dx%d pictures; before: the decoder's whole picture to RGB32 (%s) and Qt's smooth "
                "scaling to the window; now: the pane's converter at the window's size\n",
                nWidth, nHeight, ConverterVariant());
    YuvScratch scratch;
    const struct {
        const char* pszWall;
        int nOutWidth;
        int nOutHeight;
    } aSizes[] = {{"1 pane at the picture's size", nWidth, nHeight},
                  {"1 pane of a 1920x1080 window", 1900, 1000},
                  {"1 pane of a 1024x576 window", 1024, 576},
                  {"4 panes of a 1920x1080 window", 950, 500},
                  {"16 panes of a 1920x1080 window", 475, 250}};
    for (const auto& size : aSizes) {
        const int nOutW = std::min(size.nOutWidth, nWidth);
        const int nOutH = std::min(size.nOutHeight, nHeight);
        const double dBefore = MsPerFrame(nFrames, [&](int i) {
            decoderWhole(i);
            if (nOutW == nWidth && nOutH == nHeight)
                return;
            const QImage whole(reinterpret_cast<const uchar*>(vWhole.data()), nWidth, nHeight, nWidth * 4,
                               QImage::Format_RGB32);
            const QImage scaled = whole.scaled(nOutW, nOutH, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            (void)scaled;
        });
        const double dNow = MsPerFrame(
            nFrames, [&](int i) { ConvertYuv420(planesOf(i), nOutW, nOutH, vOut.data(), scratch); });
        std::printf("  %-32s %4dx%-4d before %7.3f ms/frame, now %7.3f ms/frame, before/now %5.2f\n",
                    size.pszWall, nOutW, nOutH, dBefore, dNow, dBefore / dNow);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && std::strcmp(argv[1], "convert") == 0)
        return ConvertBench(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
    if (argc != 7 || (std::strcmp(argv[1], "widget") != 0 && std::strcmp(argv[1], "gl") != 0)) {
        std::fprintf(stderr,
                     "usage: %s widget|gl PICTURE_W PICTURE_H WINDOW_W WINDOW_H FRAMES\n"
                     "       %s convert PICTURE_W PICTURE_H FRAMES\n",
                     argv[0], argv[0]);
        return 2;
    }
    const bool bGl = std::strcmp(argv[1], "gl") == 0;
    const int nWidth = std::atoi(argv[2]);
    const int nHeight = std::atoi(argv[3]);
    const int nWinWidth = std::atoi(argv[4]);
    const int nWinHeight = std::atoi(argv[5]);
    const int nFrames = std::atoi(argv[6]);
    QApplication app(argc, argv);
    const auto vPictures = MakePictures(nWidth, nHeight, 25);

    CVideoRendererWidget* pWidget = nullptr;
    CGlRenderer* pGl = nullptr;
    QWidget* pWindow = nullptr;
    if (bGl) {
        pGl = new CGlRenderer;
        pWindow = pGl;
    } else {
        pWidget = new CVideoRendererWidget(nullptr);
        pWindow = pWidget;
    }
    pWindow->resize(nWinWidth, nWinHeight);
    pWindow->show();
    for (int i = 0; i < 50; ++i)
        QApplication::processEvents();

    auto present = [&](int i) {
        const auto& v = vPictures[static_cast<std::size_t>(i) % vPictures.size()];
        if (bGl)
            pGl->Present(v.data(), nWidth, nHeight);
        else
            pWidget->PresentFrame(v.data(), nWidth, nHeight);
        // Painted and handed to the display before the next picture.
        pWindow->repaint();
        QApplication::processEvents();
    };
    for (int i = 0; i < 10; ++i) // warm-up: texture and backing store allocated
        present(i);
    const double dCpu0 = ProcessCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < nFrames; ++i)
        present(i);
    const double dWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double dCpu = ProcessCpuSeconds() - dCpu0;
    std::printf("%s %dx%d into %dx%d: %d frames in %.2f s, %.2f ms/frame wall, %.2f ms/frame process CPU\n",
                bGl ? "QOpenGLWidget (texture upload)" : "QWidget+QImage (pane's window)", nWidth, nHeight,
                nWinWidth, nWinHeight, nFrames, dWall, 1000 * dWall / nFrames, 1000 * dCpu / nFrames);
    if (bGl) {
        pGl->makeCurrent();
        std::printf("  GL_RENDERER %s\n",
                    reinterpret_cast<const char*>(pGl->context()->functions()->glGetString(GL_RENDERER)));
        pGl->doneCurrent();
    }
    delete pWindow;
    return 0;
}
