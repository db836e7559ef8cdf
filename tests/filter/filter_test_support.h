// Helpers shared by the filter tests: the Xvid core as an outside oracle, test pictures.
#pragma once

#include "filter/colorconvert.h"

#include <cstdint>
#include <cstring>
#include <dlfcn.h>
#include <random>
#include <vector>
#include <xvid.h>

// The installed Xvid core, loaded the way the module loads it, with its plain C routines forced
// so that its colour conversion is the reference arithmetic.
class XvidOracle {
public:
    XvidOracle()
    {
        m_hModule = dlopen("libxvidcore.so.4", RTLD_NOW | RTLD_LOCAL);
        if (m_hModule == nullptr)
            return;
        m_pfnGlobal = reinterpret_cast<decltype(m_pfnGlobal)>(dlsym(m_hModule, "xvid_global"));
        m_pfnDecore = reinterpret_cast<decltype(m_pfnDecore)>(dlsym(m_hModule, "xvid_decore"));
        xvid_gbl_init_t init{};
        init.version = XVID_VERSION;
        init.cpu_flags = XVID_CPU_FORCE;
        if (m_pfnGlobal == nullptr || m_pfnGlobal(nullptr, XVID_GBL_INIT, &init, nullptr) < 0)
            m_pfnGlobal = nullptr;
    }
    ~XvidOracle()
    {
        if (m_hModule != nullptr)
            dlclose(m_hModule);
    }
    bool IsLoaded() const { return m_pfnGlobal != nullptr; }

    // Converts a planar picture with the core's own converter. The core takes only a packed
    // YV12 picture whose luma stride is the (even) width, so the picture is repacked first.
    bool Convert(const FrameBuffer& frame, int nWidth, int nHeight, uint8_t* pOut, int nOutStride, int nCsp)
    {
        const int nChroma = nWidth / 2;
        std::vector<uint8_t> vecPacked(static_cast<size_t>(nWidth) * nHeight +
                                       2 * nChroma * ((nHeight + 1) / 2));
        uint8_t* pV = vecPacked.data() + static_cast<size_t>(nWidth) * nHeight;
        uint8_t* pU = pV + static_cast<size_t>(nChroma) * (nHeight / 2);
        for (int r = 0; r < nHeight; ++r)
            std::memcpy(vecPacked.data() + r * nWidth, frame.pY + r * frame.nStride, nWidth);
        for (int r = 0; r < (nHeight + 1) / 2; ++r) {
            std::memcpy(pU + r * nChroma, frame.pU + r * (frame.nStride / 2), nChroma);
            if (r < nHeight / 2)
                std::memcpy(pV + r * nChroma, frame.pV + r * (frame.nStride / 2), nChroma);
        }
        xvid_gbl_convert_t convert{};
        convert.version = XVID_VERSION;
        convert.input.csp = XVID_CSP_YV12;
        convert.input.plane[0] = vecPacked.data();
        convert.input.stride[0] = nWidth;
        convert.output.csp = nCsp;
        convert.output.plane[0] = pOut;
        convert.output.stride[0] = nOutStride;
        convert.width = nWidth;
        convert.height = nHeight;
        return m_pfnGlobal(nullptr, XVID_GBL_CONVERT, &convert, nullptr) >= 0;
    }

    int (*m_pfnGlobal)(void*, int, void*, void*) = nullptr;
    int (*m_pfnDecore)(void*, int, void*, void*) = nullptr;

private:
    void* m_hModule = nullptr;
};

// A planar picture owned by the test; stride may exceed the width.
struct TestPicture {
    std::vector<uint8_t> vecY, vecU, vecV;
    FrameBuffer frame;

    TestPicture(int nWidth, int nHeight, int nStride, unsigned uSeed)
    {
        std::mt19937 rng(uSeed);
        const int nChromaRows = (nHeight + 1) / 2;
        vecY.resize(static_cast<size_t>(nStride) * nHeight + 64);
        vecU.resize(static_cast<size_t>(nStride / 2) * nChromaRows + 64);
        vecV.resize(vecU.size());
        // Smooth ramps plus noise: every table entry and the clamping ends get exercised.
        for (int y = 0; y < nHeight; ++y)
            for (int x = 0; x < nStride; ++x)
                vecY[y * nStride + x] = static_cast<uint8_t>((x * 7 + y * 3 + rng() % 16) & 0xFF);
        for (size_t i = 0; i < vecU.size(); ++i) {
            vecU[i] = static_cast<uint8_t>(rng());
            vecV[i] = static_cast<uint8_t>(rng());
        }
        frame.pY = vecY.data();
        frame.pU = vecU.data();
        frame.pV = vecV.data();
        frame.nStride = nStride;
        frame.nHeight = nHeight;
    }
};
