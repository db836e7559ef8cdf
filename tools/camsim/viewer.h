// Camera side of the viewer protocol: search, queries and sets, start/stop video, online
// commands, and the record-time channel carried inside viewer packets.
#pragma once

#include <cstddef>
#include <cstdint>

#include "camera.h"
#include "env.h"

namespace camsim {

struct ViewerIn {
    const std::uint8_t* pData = nullptr;
    std::size_t nLen = 0;
    std::uint32_t dwSrcAddr = 0;
    std::uint16_t usSrcPort = 0;
    bool bMulticast = false; // arrived on a request group
    bool bEncrypted = false; // arrived on an encrypted port or group
};

class CViewerProtocol {
public:
    explicit CViewerProtocol(IEnv& env) : m_env(env) {}

    // One datagram for a top-level camera (a recorder answers for its channels).
    void OnDatagram(Camera& host, const ViewerIn& in);

    // Replies from a camera (the record-time channel and firmware use them too).
    void Reply(const ReplyRoute& route, const Camera& from, std::uint8_t bCode, const Bytes& body);

    // Record-time channel: queue a reliable reply and send what is due.
    void QueueRecTimeReply(Camera& cam, Bytes packet);
    void PumpRecTime(Camera& cam);

private:
    void Dispatch(Camera& cam, const ReplyRoute& route, std::uint8_t bCode, const std::uint8_t* pBody,
                  std::size_t nBody);
    void OnOnline(Camera& cam, const ReplyRoute& route, const std::uint8_t* pBody, std::size_t nBody);
    void OnStartVideo(Camera& cam, const ReplyRoute& route, const std::uint8_t* pBody, std::size_t nBody);
    void OnReliable(Camera& cam, const ReplyRoute& route, const std::uint8_t* pBody, std::size_t nBody);
    void OnRecTimeAck(Camera& cam, const std::uint8_t* pBody, std::size_t nBody);
    void OnRecTimePacket(Camera& cam, const std::uint8_t* pData, std::size_t nLen);

    IEnv& m_env;
};

// Bodies the camera sends, built from its state (public for the unit tests).
Bytes BuildSearchReplyBody(const Camera& cam);
Bytes BuildRecordReplyBody(const RecordSettings& rec, bool bNas);
Bytes BuildMailBody(const MailSettings& mail);
Bytes BuildNtpBody(const NtpSettings& ntp);
Bytes BuildAutoScanReplyBody(const AutoScanSchedule& sched);
// Decoders of what the client writes.
void ParseRecordWrite(const std::uint8_t* pBody, std::size_t nBody, bool bNas, RecordSettings& rec);
void ParseMail(const std::uint8_t* pBody, std::size_t nBody, MailSettings& mail);
void ParseNtp(const std::uint8_t* pBody, std::size_t nBody, NtpSettings& ntp);
void ParseAutoScanWrite(const std::uint8_t* pBody, std::size_t nBody, AutoScanSchedule& sched);

// Recording calendar: days as year*10000 + month*100 + day, hour and minute flag bytes
// (bit 0 recording, bit 1 an event recording).
std::vector<std::uint32_t> RecordingDays(const std::vector<Recording>& recs);
std::vector<std::uint8_t> RecordingFlags(const std::vector<Recording>& recs, std::uint32_t dwDay, int nHour);
std::uint32_t DayStartSeconds(std::uint32_t dwDay);

} // namespace camsim
