#pragma once

#include <QWidget>

#include <mutex>

class CDecodeChannel;
class CVideoFrame;

// The colour-setting page of the player window: one video frame that shows
// one live stream of the device while the page adjusts the picture colours,
// decoded through play port 320.
//
// Threads: everything runs on the GUI thread except InputData, which the
// device library's threads call; it never touches a widget and drops data
// while no port is open. Starting, stopping and the destructor wait for a
// call of InputData in progress.
class CColorSetWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kPort = 320;

    explicit CColorSetWidget(QWidget *parent = nullptr);
    ~CColorSetWidget() override;

    // Opens a new port with the stream kind into the frame and starts it;
    // a port left from before is stopped, closed and replaced. 0, or -2 when
    // the play library refused (the new port stays, unopened).
    int PreviewStart(int nStreamKind);
    // -1 without port; stops and closes a port that plays; 0.
    int PreviewStop();
    // Any thread; -1 without port.
    int InputData(const char *pData, int nLen);
    // The port's play state, -1 without port.
    int GetState() const;
    CVideoFrame *GetVideoFrame() const { return m_pFrame; }

private:
    CVideoFrame *m_pFrame = nullptr;
    mutable std::mutex m_portMutex; // held by InputData while it feeds
    CDecodeChannel *m_pPort = nullptr;
};
