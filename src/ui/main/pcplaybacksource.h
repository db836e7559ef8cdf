// The "PC Playback" source of the playback pane: a camera's recordings on this PC answer the
// pane's record-time requests as the camera's card does. Days, hours and minutes come from the
// index; the pictures come from the segments, paced by their own times at the chosen speed, as
// the media engine hands the card's frames to the video pane, and at normal speed their sound
// with them, coded as the camera's for the pane's speaker.
#pragma once

#include "media/audio/audiocodec.h"
#include "media/playback/playbackpanelogic.h"
#include "pcrec/pcplayback.h"
#include "pcrec/pcrecindex.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct MediaFrame;
struct RecDateInfo;
struct RecHourInfo;
struct RecMinuteInfo;

class CPcPlaybackSource : public QObject, public IPlaybackRequests {
public:
    struct Hooks {
        // The camera's serial (empty: unknown camera).
        std::function<std::string(DWORD dwID)> fnSerial;
        // The replies, as the camera's would reach the pane.
        std::function<void(const RecDateInfo&)> fnDays;
        std::function<void(const RecHourInfo&)> fnHours;
        std::function<void(const RecMinuteInfo&)> fnMinutes;
        // A picture or a sound for the video pane; the camera time of the picture shown; the end.
        std::function<void(const MediaFrame&)> fnFrame;
        std::function<void(DWORD dwSeconds)> fnPosition;
        std::function<void(DWORD dwID)> fnFinish;
    };

    CPcPlaybackSource(std::string strFolder, Hooks hooks, QObject* pParent = nullptr);
    ~CPcPlaybackSource() override;

    void GetRecDate(DWORD dwID) override;
    void GetRecHour(DWORD dwID, DWORD dwDay) override;
    void GetRecMinute(DWORD dwID, DWORD dwDay, DWORD dwHour) override;
    void Play(DWORD dwID, DWORD dwMode, BYTE byValue, BYTE bySpeed, DWORD dwStart) override;
    void Stop(DWORD dwID) override;
    void Pause(DWORD dwID) override;
    void Resume(DWORD dwID) override;
    void NextFrame(DWORD dwID) override;
    // The sound goes to the pane, whose speaker decides; the index knows no events: nothing to
    // change.
    void SetAudio(DWORD, DWORD) override {}
    void SetMode(DWORD, DWORD) override {}
    void SetSpeed(DWORD dwID, BYTE bySpeed) override;

    bool IsPlaying() const { return m_timer.isActive(); }

private:
    // The index, opened on first use without touching the recorder's files.
    CPcRecIndex* Index();
    void OnTick();
    // Hands a picture to the pane; false at the end of the recordings.
    bool Deliver(const PcPlaybackFrame& frame);
    // Codes the sound as the camera's and hands it to the pane, whole codec frames at a time.
    void DeliverSound(const PcPlaybackFrame& frame);
    void Finish();
    // Camera-time microseconds played per wall microsecond, times 8.
    int RateTimes8() const;

    std::string m_strFolder;
    Hooks m_hooks;
    std::unique_ptr<CPcRecIndex> m_pIndex;
    std::unique_ptr<CPcPlayback> m_pPlayback;
    DWORD m_dwID = 0;
    BYTE m_bySpeed = 1;
    WORD m_usSequence = 0;
    QTimer m_timer;
    QElapsedTimer m_clock;
    std::int64_t m_llStartMicros = 0; // camera time at m_clock's start
    std::optional<PcPlaybackFrame> m_pending;
    std::vector<BYTE> m_vecWork; // the stamped picture handed out
    std::unique_ptr<CAudioCodec> m_pSpeech;
    bool m_bNoSpeech = false;
    std::vector<BYTE> m_vecPcm; // sound not yet a whole codec frame
};
