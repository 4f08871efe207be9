#pragma once

// The numbers the page, the service and the player exchange, by name: request
// kinds ("MainType"), result codes ("Ret", "nRet", "ErrorCode") and event kinds
// ("MainEvent"/"SubEvent"). The values are unscoped enumerators inside a
// namespace each, so they read as `MainType::Preview` or `Ret::Ok`, convert to
// int on their own (JSON building, comparisons) and serve as switch labels.

// Request kinds of the page ("MainType"). Kinds 0 to 34 go to the player; a
// kind without a handler there gets the default reply with Ret::Missing.
namespace MainType {
enum Value : int {
    None = 0, // no kind (also a request without "MainType"): ignored, no reply
    SwitchMode = 2, // switch the page: live view, playback or colour setting
    ChangeSplit = 3, // change the grid's split mode
    Preview = 4, // open and close live view, colour, sound, snapshot, recording
    Playback = 5, // playback of recordings and local files, downloads
    ColorPreview = 6, // colour preview through a second login
    Login = 8, // log in to the device and show the player window
    Logout = 9, // log out and destroy the window (never answered)
    SetCurWnd = 11, // make a window the current one
    WidgetStatus = 12, // hide, show or move the player window
    AlarmType = 14, // store the alarm types to report
    GetAlarmType = 15, // read the stored alarm types
    Talk = 16, // start and stop a voice talk
    ClientConfig = 18, // client settings and the folder chooser
    Capture = 19, // snapshot of the current window
    VoiceCustom = 20, // record, test and stop the custom alarm voice
    OnlineUpgrade = 21, // look for and start a firmware upgrade from the cloud
    CheckToolVersion = 22, // check the web-file server for a newer player
    PTZControl = 24, // pan, tilt, zoom and electronic PTZ
    LocalUpgrade = 25, // choose a firmware file and upgrade the device with it
    Relogin = 28, // log in again after the device restarted
    ScaleSwitch = 29, // keep the picture's proportions or fill the window
    CustomVoiceFile = 30, // choose and send a custom alarm sound file
    ConsultAesKey = 32, // agree on the session key of the encrypted session
    RegionInfo = 34, // analysis-rule overlay of a channel
    LastPlayerType = 34, // the highest kind the player's table knows

    DiyFirmware = 201, // firmware customising, answered by the service itself
};
} // namespace MainType

// Control requests to the service's own socket server ("/Cmd-WebLocalCtrl",
// keyed by "MainType", answered with "MainRsp"/"SubRsp"/"Ret").
namespace LocalCtrl {
enum Value : int {
    VersionInfo = 1, // tool version, page style and live-preview count
    WindowPlace = 12, // relayed to the player of session "Id" with "Potocol"
    CipherData = 26, // encrypt (SubType not 0) or decrypt "data" with the built-in key
    FreshKey = 27, // a fresh random key, stored nowhere
    BrowserWindow = 31, // find the page's browser window by its title
    SessionKey = 32, // key for the raw WebSocket session accepted last
    LogSwitch = 33, // the "Enable/PrintLogEn" setting
    WebSocketPort = 99, // the port of the WebSocket server
    OutsideRequest = 202, // an HTTP request to an outside server, answered by a task
};
} // namespace LocalCtrl

// Result codes. Player and service replies carry them in "Ret" (or "nRet",
// "ErrorCode"); the service's internal steps use the 100000 range.
namespace Ret {
enum Value : int {
    Ok = 100, // success
    Failed = 1016, // general failure, nothing done
    CipherFailed = 1016, // service: encryption or decryption failed
    NoMemoryForText = 1016, // service: no memory for the request's text
    Missing = 1020, // missing input or list, no handler, no device wrapper
    NoMemoryForChannel = 1010, // not enough memory for another live channel
    CloudLoginError = 1012, // cloud login error ("CloudErrCode" carries the text)
    LoginFailed = 1017, // any other login failure
    NoBrowserWindow = 1003, // no browser window with the page's title
    BadChannelCount = 1008, // the device reports a channel count outside 1 to 64
    DownloadFailed = 1009, // no download folder, or the device refused the first file
    UpgradeRunning = 1007, // an upgrade of the device is already running
    Timeout = 1006, // the device did not answer in time
    NoRight = 1013, // the account lacks the right for the operation
    EmptyPath = 1014, // the chooser returned an empty path
    FileTooLarge = 1015, // a configuration file over 64 KiB
    SdkInitFailed = 1019, // the device library's identity set-up failed
    WindowDecodeFailed = 121, // the window failed to start decoding the channel
    StreamFailed = 122, // the device stream failed to start ("Error" has the library's result)
    WrongPassword = 106, // wrong password or unknown user
    NoPermission = 107, // the account may not log in over the network
    AccountLocked = 206, // the account is locked
    AddressBlocked = 207, // the device refuses this client's address
    TooManyLogins = 218, // the device has reached its number of logins
    DeviceOffline = 999, // unknown serial number or device not online
    NoFileToSend = 109, // the file to send to the device cannot be opened or is empty
    TalkStopped = 1, // talk stop answered while a talk runs (not Ok)
    NotHandled = 0, // online upgrade with an unknown SubType

    // Service internal: raw WebSocket accept, file serving, page update.
    RawTooManyClients = 100001, // four raw connections are already served
    RawNoMemory = 100002, // no memory for a registry entry or working buffer
    RawNoKey = 100003, // the handshake has no "Sec-WebSocket-Key"
    RawBadKey = 100004, // the key line is unterminated or too long
    RawSendFailed = 100005, // sending the handshake reply failed
    RawThreadFailed = 100006, // creating the client thread failed
    UpdateHttpFailed = 110000, // plus the HTTP client's failure code
    UpdateBadVersionText = 111000, // the version text lacks the expected lines
    UpdateMd5Mismatch = 111001, // the page package's MD5 differs from the version text's
    UpdateUnpackFailed = 111002, // unpacking the page package failed
    UpdateInstallFailed = 111003, // the unpacked page could not take the installed one's place
    FileLineTooLong = 120001, // request line too long (not-found page sent)
    FileNotFound = 120002, // no such file (not-found page sent)
    FileNotRegular = 120003, // the name is not a regular file (not-found page sent)
    FileSendFailed = 120004, // the file cannot be opened, or sending failed
    FileHandedToTask = 120005, // the page-update task answers and closes the socket

    // Firmware customiser (passed to the page in "Ret").
    DiyNoRecordEntry = 300000, // map entry without record; no language; package not written
    DiyNoSession = 300001, // no record for the session (also: no produce folder)
    DiyBadJson = 300002, // JSON missing, unparsable or of the wrong shape
    DiyUnzipFailed = 300003, // the package zip could not be unpacked
    DiyInstallDescOpen = 300004, // "InstallDesc" could not be opened
    DiyNoMemory = 300005, // out of memory reading a file
    DiyInstallDescShort = 300006, // short read of "InstallDesc"
    DiyNoHardware = 300007, // "InstallDesc" has no "Hardware" text
    DiyImageOpen = 300008, // partition image could not be opened
    DiyImageAddress = 300009, // partition image header without start or end address
    DiyUnknownFileSystem = 300010, // file system of a partition image not recognised
    DiyTempImageRemove = 300011, // header-less temporary image could not be removed
    DiyBatchWrite = 300012, // the extraction script could not be written
    DiyCustomTextOpen = 300013, // a text file of the custom partition could not be opened
    DiyEmptyFile = 300014, // a file to be read is empty
    DiyJsonEmpty = 300015, // nothing could be read from a JSON file
    DiyJsonOpen = 300016, // JSON file could not be opened
    DiyNoCustomPartition = 300017, // no custom partition found
    DiyNoLogoPartType = 300018, // "LogoPartType" missing
    DiyLogoArea = 300019, // logo area invalid or no free partition slot
    DiyLogoTooLarge = 300023, // logo file too large
    DiyBootLogo = 300024, // boot logo not a readable JPEG
    DiyLogoSize = 300025, // logo picture size out of range
    DiyVideoLossLogo = 300026, // video-loss logo not a readable GIF
    DiyCloseLogo = 300027, // close logo not a readable JPEG
    DiyBlindLogo = 300028, // blind logo not a readable GIF
    DiyLogoCopy = 300029, // a logo file could not be copied
    DiyNoFileChosen = 300030, // the chooser was cancelled
    DiyWebLogo = 300031, // web logo not a readable PNG
    DiyWebLogoResolution = 300032, // web logo resolution not accepted
    DiyRemovesConfig = 300033, // an upgrade command removes the device's settings
    DiyHeaderStripBase = 301000, // plus the header strip's negative code (300995 to 300999)
};
} // namespace Ret

// An event kind: the "MainEvent"/"SubEvent" pair every event starts with.
struct EventKind
{
    int mainEvent;
    int subEvent;
};

// Events of the player to the page.
namespace PageEvent {
constexpr EventKind LiveWndChanged { 0, 0 }; // live page: the current window changed ("Data")
constexpr EventKind WndStatus { 0, 2 }; // state of the window showing a channel ("Data")
constexpr EventKind ChannelStatus { 0, 3 }; // per-channel live results ("ChnStatus")
constexpr EventKind ToolVersion { 0, 4 }; // version check result (check SubType 0)
constexpr EventKind SystemStatus { 0, 5 }; // CPU and memory figures, once a second
constexpr EventKind ElectPtz { 0, 6 }; // electronic-PTZ display state ("nShowElect")
constexpr EventKind PlaybackWndChanged { 1, 0 }; // playback page: the current window changed
constexpr EventKind PlaybackStarted { 1, 1 }; // a playback started ("Data")
constexpr EventKind PlaybackEnded { 1, 2 }; // a playback ended ("Data": "Chn", "Wnd")
constexpr EventKind PlaybackProgress { 1, 3 }; // playback position ("Data": "wnd", "pos")
constexpr EventKind DownloadProgress { 1, 4 }; // download or conversion progress ("Pos" 0 to 1000)
constexpr EventKind DownloadFinished { 1, 5 }; // all files downloaded ("DownPath")
constexpr EventKind Alarm { 2, 0 }; // a device alarm ("Name" "AlarmInfo")
constexpr EventKind UpgradeProgress { 3, 0 }; // device upgrade progress ("IsUpgrade")
constexpr EventKind UpgradeToolVersion { 4, 54 }; // version check result (check SubType 1)
constexpr EventKind UnknownVersionCheck { -1, -1 }; // version check of any other SubType
constexpr EventKind DeviceDisconnected { 5, 0 }; // the device connection was lost ("Ret" Ok)
constexpr EventKind VoiceRecorded { 6, 0 }; // a custom-voice block was recorded ("Pos")
constexpr EventKind VoiceRecordEnded { 6, 1 }; // custom-voice recording ended
constexpr EventKind VoiceFileSent { 6, 2 }; // the device received the custom voice file
constexpr EventKind VoiceTestEnded { 6, 3 }; // the custom-voice test playback ended
} // namespace PageEvent

// ---- The player's pages and the SubTypes of its request kinds ----

// The embedded window's pages, as the page switch (MainType 2) names them and
// as the window calls take them.
namespace PlayerPage {
enum Value : int {
    Live = 0, // live view
    Playback = 1, // playback
    Color = 2, // colour setting
    Current = 5, // GetCurWndChn only: whichever page shows
};
} // namespace PlayerPage

// The page's "Status" of a window's play state.
namespace PageStatus {
enum Value : int {
    Stopped = 0, // nothing plays
    Playing = 2, // plays at normal speed
    Paused = 4, // paused
    Slow = 5, // one of the slow speeds
    Fast = 6, // one of the fast speeds
    StepForward = 7, // after a step forward
    StepBackward = 8, // after a step backward
};
} // namespace PageStatus

// MainType 4, live view.
namespace PreviewSub {
enum Value : int {
    Open = 0, // open a channel (-1 all, 256 + n the first n)
    Close = 1, // close a channel (-1 all)
    GetColor = 2, // a channel's colour values
    SetColor = 3, // one colour value of the current window
    PlayState = 4, // a channel's play state
    FullScreen = 5, // the window goes full screen
    CurrentChannel = 7, // the current window's channel
    Sound = 8, // a channel's sound on or off
    Snapshot = 9, // a channel's snapshot into the capture folder
    Record = 10, // a channel's recording on or off (-1 all)
    PlayOriginal = 12, // the current channel in its picture's proportions
    PreviewStatus = 13, // the current channel's preview status
};
} // namespace PreviewSub

// MainType 5, playback and downloads.
namespace PlaybackSub {
enum Value : int {
    ChooseLocalFile = 33, // pick a local file with the chooser and play it
    Start = 34, // play device files by list (Mode 1) or by time (Mode 2)
    Stop = 35, // stop a channel's window (-1 all)
    SetMode = 36, // local files (0) or device playback (1, 2)
    Download = 39, // download device files
    Control = 40, // speed, pause, seek, step ("Cmd")
    Snapshot = 41, // a window's snapshot
    Sound = 42, // a window's sound on or off
    DigitalZoom = 43, // the current window's digital zoom on or off
    Record = 44, // a window's recording on or off
    WindowStatus = 45, // a window's zoom, recording, sound and status
    CancelDownload = 46, // end the downloads
};
} // namespace PlaybackSub

// MainType 16, talk.
namespace TalkSub {
enum Value : int {
    Channel = 0, // talk with a channel (255: any that can)
    Device = 1, // talk with the device
    Stop = 2, // end the talk
    Ability = 3, // which channels can talk
};
} // namespace TalkSub

// MainType 18, client settings: the character codes of the page's digits.
namespace ClientConfigSub {
enum Value : int {
    ChooseKind0 = '0', // chooser kind "0"
    ChooseKind1 = '1', // chooser kind "1"
    Save = '2', // store the folders and file types
    Report = '3', // report the folders, file types and tool version
    ChooseKind2 = '5', // chooser kind "2"
};
} // namespace ClientConfigSub

// MainType 20, the custom alarm voice.
namespace VoiceCustomSub {
enum Value : int {
    Record = 0, // start recording
    StopRecord = 1, // stop recording
    Test = 2, // play the recording back
    Send = 3, // send the recording to the device
    StopTest = 4, // stop the playback
};
} // namespace VoiceCustomSub

// MainTypes 21 (cloud) and 25 (local file), device upgrades.
namespace UpgradeSub {
enum Value : int {
    Query = 0, // 21: the cloud's newer firmware; 25: choose a firmware file
    Start = 1, // start the upgrade
};
} // namespace UpgradeSub

// MainType 24, electronic PTZ commands.
namespace PtzSub {
enum Value : int {
    MoveFirst = 0, // 0 to 3: the four directions ("Step")
    MoveLast = 3,
    ZoomOut = 4, // "Step"
    ZoomIn = 5, // "Step"
    PresetFirst = 6, // 6 to 8: preset commands ("Preset")
    PresetLast = 8,
    Restore = 9, // back to the whole picture
    Open = 10, // electronic PTZ on
};
} // namespace PtzSub

// MainType 6, the colour preview.
namespace ColorPreviewSub {
enum Value : int {
    Start = 0, // open the channel on a login of its own
    Stop = 1, // close it
};
} // namespace ColorPreviewSub

// MainType 30, the custom alarm voice file.
namespace CustomVoiceFileSub {
enum Value : int {
    Choose = 0, // choose a file and import it, always answered
    ChooseQuiet = 1, // the same, answered only when the import did not start
    RecordedLast = 4, // 2 to 4: import the recorded file in that mode
};
} // namespace CustomVoiceFileSub

// The login's "Browse": which kind of browser shows the page, and so which
// window the player looks for to draw in. Other kinds look for none.
namespace BrowserKind {
enum Value : int {
    ServerWindow = 0, // the page draws in the browser's "Internet Explorer_Server" window
    RenderHost = 2, // 2, 6 and 9: the page draws in a render-widget-host window
    RenderHost6 = 6,
    RenderHost9 = 9,
};
} // namespace BrowserKind

// MainType 12, the player window's place in the page.
namespace WidgetStatusSub {
enum Value : int {
    Hide = 1, // hide the player window
    Show = 2, // show it at "Pos"
    Move = 4, // move it to "Pos"
};
} // namespace WidgetStatusSub

// MainType 4, SubType 3: the page's "Type", which colour value to set.
namespace ColorComponent {
enum Value : int {
    Brightness = 0,
    Contrast = 1,
    Saturation = 2,
    Hue = 3,
    All = 4, // all four to the one value
};
} // namespace ColorComponent

// The login's "Device"/"LoginType": how the device is found.
namespace LoginType {
enum Value : int {
    Address = 0, // by "IP" and "Port" (also when the key is absent)
    Serial = 1, // by serial number ("SN") through the cloud
    SerialToken = 2, // by serial number with the cloud's token ("tcsToken")
};
} // namespace LoginType

// What a file sent to the device is for (the wrapper's import mode; MainType
// 30 passes its SubType).
namespace ImportMode {
enum Value : int {
    Configuration = 0, // a configuration file, 64 KiB at most, imported whole
    File = 1, // a file of purpose 1, no channel
    ChannelVoice = 2, // the alarm voice for "Channel" (purpose 0)
    ChannelVoicePurpose7 = 3, // the same with purpose 7
    DeviceVoice = 4, // the alarm voice for the device, no channel (purpose 0)
};
} // namespace ImportMode

// The page's "Cmd" of a playback control (MainType 5, SubType 40).
namespace PlaybackCmd {
enum Value : int {
    Pause = 2,
    Resume = 3,
    Seek = 4, // to "Param" per mille
    Faster = 10,
    Slower = 11,
    StepForward = 100,
    StepBackward = 101,
};
} // namespace PlaybackCmd
