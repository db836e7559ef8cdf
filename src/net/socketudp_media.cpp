#include "core/log.h"
#include "net/socketudp.h"

// Segment reassembly is not built yet: pending datagrams are read and discarded, so the
// socket's notification stays armed and nothing piles up.
int CSocketUdp::ReceiveMediaPacket(BYTE* pFrameBuf, DWORD* pnFrameBufSize, DWORD* pdwIP, WORD* pusPort)
{
    BYTE buffer[2000];
    DWORD dwIP = 0;
    WORD usPort = 0;
    while (Receive(buffer, sizeof(buffer), &dwIP, &usPort) > 0)
        VLOG(2, "CSocketUdp::ReceiveMediaPacket: reassembly unavailable, datagram dropped");
    return 0;
}
