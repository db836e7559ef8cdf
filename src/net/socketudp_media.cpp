#include "core/log.h"
#include "net/socketudp.h"
#include "platform/ticks.h"

#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace {

// One media datagram: its header into pHeader, its payload into the reassembler's read block.
int ReadMediaSocket(SOCKET s, CMediaReassembler& media, BYTE* pHeader, DWORD* pdwIP, WORD* pusPort)
{
    // The payload straight into a pool block, no copy between the socket and its slot. The
    // header lands in the 8 bytes in front of the block (the pool leaves room before its first
    // block), which are put back at once: one plain read, as scatter reads cost a third more.
    constexpr int HEADER = CMediaReassembler::SEGMENT_HEADER;
    BYTE* pRead = media.GetReadBlock() - HEADER;
    BYTE abCovered[HEADER];
    std::memcpy(abCovered, pRead, HEADER);
    sockaddr_in from{};
    socklen_t nFromLen = sizeof(from);
    // MSG_TRUNC reports the real length: a payload over one block is dropped by its length,
    // a datagram larger than any read buffer is an error, as in any other read.
    const ssize_t n = recvfrom(s, pRead, HEADER + CSpacePool::BLOCK_SIZE, MSG_TRUNC,
                               reinterpret_cast<sockaddr*>(&from), &nFromLen);
    std::memcpy(pHeader, pRead, HEADER);
    std::memcpy(pRead, abCovered, HEADER);
    if (n < 1)
        return static_cast<int>(n);
    if (n > CMediaReassembler::READ_BUFFER) {
        VLOG(2, "CSocketUdp::Receive: datagram of %d bytes exceeds the buffer of %d, dropped",
             static_cast<int>(n), CMediaReassembler::READ_BUFFER);
        errno = EMSGSIZE;
        return -1;
    }
    *pdwIP = ntohl(from.sin_addr.s_addr);
    *pusPort = ntohs(from.sin_port);
    return static_cast<int>(n);
}

} // namespace

// A frame lying whole in the pool is handed out where it is, not copied into pFrameBuf: the
// reassembler's GetFrame says where.
int CSocketUdp::ReceiveMediaPacket(BYTE* pFrameBuf, DWORD* pnFrameBufSize, DWORD* pdwIP, WORD* pusPort)
{
    VLOG(5, "CSocketUdp::ReceiveMediaPacket: beg {");
    BYTE* pFrame = nullptr;
    try {
        // Frames already complete go out before anything more is read (and the read that
        // would find the socket empty is spared).
        if (m_media.IsHandingOut()) {
            const int nFrame = m_media.Assemble(pFrameBuf, *pnFrameBufSize, pdwIP, pusPort, &pFrame);
            if (nFrame > 0)
                return nFrame;
        }
        // One tick for the burst: slot ages count in seconds. Frames' gathering times are
        // counted in microseconds, as finely as the calls come.
        DWORD dwNowUs = 0;
        const DWORD dwNow = GetTickCountAndUs(&dwNowUs);
        m_media.BeginCall(dwNow, dwNowUs);
        // Reads stop early where a frame is ready: handed out now, it is still in the cache,
        // and the rest of the burst waits in the socket meanwhile.
        enum { READ_EMPTY, READ_FRAME, READ_END_CALL };
        auto read = [&]() {
            if (m_nState != STATE_SOCKET) {
                BYTE buffer[CMediaReassembler::READ_BUFFER];
                for (;;) {
                    DWORD dwIP = 0;
                    WORD usPort = 0;
                    const int nLen = Receive(buffer, sizeof(buffer), &dwIP, &usPort);
                    if (nLen <= 0)
                        return READ_EMPTY;
                    if (!m_media.OnDatagram(buffer, nLen, dwIP, usPort, dwNow))
                        return READ_END_CALL;
                    if (m_media.TakeFrameReady())
                        return READ_FRAME;
                }
            }
            // Each socket until it is empty, one system call a datagram. The read notice is
            // re-armed once, before reading: what arrives after the last read raises it again.
            for (SOCKET s : {m_hSocket, m_hGroupSocket}) {
                if (s == INVALID_SOCKET)
                    continue;
                AsyncSocketReenable(s);
                for (;;) {
                    BYTE abHeader[CMediaReassembler::SEGMENT_HEADER];
                    DWORD dwIP = 0;
                    WORD usPort = 0;
                    const int nLen = ReadMediaSocket(s, m_media, abHeader, &dwIP, &usPort);
                    if (nLen <= 0)
                        break;
                    if (!m_media.OnReadBlock(abHeader, nLen, dwIP, usPort))
                        return READ_END_CALL;
                    if (m_media.TakeFrameReady())
                        return READ_FRAME;
                }
            }
            return READ_EMPTY;
        };
        const bool bEndCall = read() == READ_END_CALL;
        m_media.EndCall();
        if (bEndCall)
            return 0;
        VLOG(5, "CSocketUdp::ReceiveMediaPacket: break while");
        const int nFrame = m_media.Assemble(pFrameBuf, *pnFrameBufSize, pdwIP, pusPort, &pFrame);
        if (nFrame > 0)
            return nFrame;
        VLOG(5, "CSocketUdp::ReceiveMediaPacket: end } return 0");
    } catch (...) {
        VLOG(1, "CSocketUdp::ReceiveMediaPacket: exception!");
    }
    return 0;
}
