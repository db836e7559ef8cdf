#include "core/log.h"
#include "net/socketudp.h"

int CSocketUdp::ReceiveMediaPacket(BYTE* pFrameBuf, DWORD* pnFrameBufSize, DWORD* pdwIP, WORD* pusPort)
{
    VLOG(5, "CSocketUdp::ReceiveMediaPacket: beg {");
    try {
        BYTE buffer[CMediaReassembler::READ_BUFFER];
        for (;;) {
            DWORD dwIP = 0;
            WORD usPort = 0;
            const int nLen = Receive(buffer, sizeof(buffer), &dwIP, &usPort);
            if (nLen <= 0)
                break;
            if (!m_media.OnDatagram(buffer, nLen, dwIP, usPort))
                return 0;
        }
        VLOG(5, "CSocketUdp::ReceiveMediaPacket: break while");
        const int nFrame = m_media.Assemble(pFrameBuf, *pnFrameBufSize, pdwIP, pusPort);
        if (nFrame > 0)
            return nFrame;
        VLOG(5, "CSocketUdp::ReceiveMediaPacket: end } return 0");
    } catch (...) {
        VLOG(1, "CSocketUdp::ReceiveMediaPacket: exception!");
    }
    return 0;
}
