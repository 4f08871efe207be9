#ifndef KESTRIX_KESTRIX_H
#define KESTRIX_KESTRIX_H

/*
 * Kestrix: the device network library. Logs in to network video devices and
 * gives their live streams, recordings, downloads, configuration, files,
 * upgrades, talk and alarms.
 *
 * Conventions
 * - Handles and ids (logins, streams, playbacks, downloads, voice links, file
 *   transfers, upgrades) are > 0; they come from one counter and are never
 *   reused while the library is initialised.
 * - Calls that return a handle or a count return an error number (< 0) on
 *   failure (TRV_NET_SendFileDataToDevice: 0). Calls typed TRV_BOOL return 1 for success and 0 for failure.
 *   Either way TRV_NET_GetLastError() then tells the reason; the last error
 *   is kept per thread.
 * - Callbacks run only on the library's own threads, never inside the call
 *   that registers them. When a stop, delete-callback, close, logout or
 *   clean-up call returns, no callback for that handle is running or will
 *   come (except the very callback the call was made from).
 * - Stream data, recordings and downloads are sequences of blocks of the
 *   device stream format (a 32-byte "TVF1" frame header and an Annex-B H.264
 *   or G.711 payload); voice data of a talk are voice frames
 *   (00 00 01 FA 0E 02 len16 + A-law bytes).
 * - Texts are NUL-terminated; text fields of records are cut to their width.
 * - File sizes and download positions are in bytes.
 */

#ifdef __cplusplus
#define TRV_EXTERN extern "C"
#else
#define TRV_EXTERN
#endif
#define TRV_API TRV_EXTERN __attribute__((visibility("default")))

typedef int TRV_BOOL;

/* Error numbers (TRV_NET_GetLastError, error outs, negative results). */
enum {
    TRV_NOERROR = 0,
    TRV_ERR_UPGRADE_RUNNING = -512, /* an upgrade of the device is already running */
    TRV_ERR_NOT_INITIALIZED = -10001, /* TRV_NET_Init was not called */
    TRV_ERR_PARAMETER = -10002, /* a missing or invalid argument */
    TRV_ERR_INVALID_HANDLE = -10003, /* no such login id or handle */
    TRV_ERR_NOT_CONNECTED = -10004, /* the device connection was lost */
    TRV_ERR_TIMEOUT = -10005, /* the device did not answer in time */
    TRV_ERR_NOT_SUPPORTED = -10006, /* the device does not know the command or ability */
    TRV_ERR_BUFFER_TOO_SMALL = -10007, /* the answer does not fit the buffer */
    TRV_ERR_FILE = -10008, /* a local file cannot be opened, read or written */
    TRV_ERR_NOT_FOUND = -10009, /* no such recording, file or version */
    TRV_ERR_BUSY = -10010, /* the resource is in use (voice link, file transfer) */
    TRV_ERR_NO_PERMISSION = -11300, /* the account may not log in over the network */
    TRV_ERR_WRONG_PASSWORD = -11301, /* wrong password */
    TRV_ERR_UNKNOWN_USER = -11302, /* no such user */
    TRV_ERR_ACCOUNT_LOCKED = -11303, /* the account is locked */
    TRV_ERR_ADDRESS_BLOCKED = -11304, /* the device refuses this client's address */
    TRV_ERR_DEVICE_OFFLINE = -11307, /* unknown serial number, or the device is not online */
    TRV_ERR_TOO_MANY_LOGINS = -11317, /* the device has reached its number of logins */
    TRV_ERR_NO_RIGHT = -11401, /* the account lacks the right for the operation */
    TRV_ERR_CLOUD = -11613 /* cloud log-in error; the text is in TRV_DEVICE_INFO.cloudError */
};

/* Login kinds of TRV_NET_Login and TRV_NET_LoginEx_V2. */
enum { TRV_LOGIN_BY_ADDRESS = 0, TRV_LOGIN_BY_SERIAL = 2 };

/* Stream types. */
enum { TRV_STREAM_MAIN = 0, TRV_STREAM_EXTRA = 1 };

/* Frame types of TRV_FRAME_INFO.frameType and of the data type argument of data callbacks. */
enum { TRV_FRAME_VIDEO = 1, TRV_FRAME_AUDIO = 2 };

/* Message kinds of the message callback. */
enum { TRV_MSG_ALARM = 1 };

/* Alarm states in TRV_ALARM_INFO.state. */
enum { TRV_ALARM_START = 0, TRV_ALARM_STOP = 1, TRV_ALARM_PULSE = 2 };

/* Actions of TRV_NET_PlayBackControl. */
enum {
    TRV_PLAYBACK_PAUSE = 0, /* value unused */
    TRV_PLAYBACK_RESUME = 1, /* value unused */
    TRV_PLAYBACK_SEEK = 2, /* value: seconds from the start of the playback */
    TRV_PLAYBACK_FAST = 3, /* value 1..4: 2, 4, 8, 16 times normal speed; 0: normal speed */
    TRV_PLAYBACK_SLOW = 4 /* value 1..4: 1/2, 1/4, 1/8, 1/16 of normal speed; 0: normal speed */
};

/* States of a file transfer (TRV_FileTransferCallBack). */
enum { TRV_TRANSFER_FAILED = 0, TRV_TRANSFER_DONE = 1 };

/* Upgrade states (TRV_UpgradeCallBack, TRV_NET_GetUpgradeState). */
enum {
    TRV_UPGRADE_SENDING = 0, /* the file goes to the device; sizes in bytes */
    TRV_UPGRADE_SUCCESS = 1, /* final */
    TRV_UPGRADE_WRITING = 2, /* the device writes the firmware; sizes are percent (100, done) */
    TRV_UPGRADE_FAILED = 3 /* final */
};

/* Configuration commands of TRV_NET_GetDevConfig / TRV_NET_SetDevConfig. */
enum {
    TRV_CONFIG_TALK = 9, /* TRV_TALK_CONFIG */
    TRV_CONFIG_IMPORT = 52, /* a configuration file (JSON object) to import; set only */
    TRV_CONFIG_CLOUD_UPGRADE = 192 /* TRV_CLOUD_UPGRADE_INFO; get only */
};

/* Queries of TRV_NET_GetDeviceState (TRV_STATE_QUERY.kind). */
enum {
    TRV_STATE_ONLINE = 1, /* 1 while the connection stands */
    TRV_STATE_CHANNELS = 2, /* number of video channels */
    TRV_STATE_RECORDING = 3, /* 1 when the channel has recordings today */
    TRV_STATE_LIVE_STREAMS = 4 /* number of live streams this login has open */
};

/* Device information, filled by a successful login. */
typedef struct TRV_DEVICE_INFO
{
    char softwareVersion[64];
    char hardwareVersion[64];
    char encryptVersion[64];
    int buildYear; /* the three build values of the software */
    int buildMonth;
    int buildDay;
    int alarmInPorts;
    int alarmOutPorts;
    char serialNumber[32];
    int diskCount;
    int extraChannels; /* digital channels added to the device */
    int talkChannels;
    int videoChannels; /* the device's own video channels */
    int deviceType; /* 0 IP camera, 1 recorder, 2 hybrid recorder */
    char deviceName[64];
    int runSeconds; /* seconds since the device started */
    char cloudError[260]; /* TRV_ERR_CLOUD only: the cloud's error text */
} TRV_DEVICE_INFO;

/* Live stream request of TRV_NET_RealPlay. */
typedef struct TRV_STREAM_REQUEST
{
    int channel; /* 0-based */
    int streamType; /* TRV_STREAM_MAIN or TRV_STREAM_EXTRA */
    int reserved[3]; /* zero */
} TRV_STREAM_REQUEST;

/* One frame of a live stream as the V2 data callback receives it. */
typedef struct TRV_FRAME_INFO
{
    int frameType; /* TRV_FRAME_VIDEO or TRV_FRAME_AUDIO */
    const unsigned char *data; /* one block of the device stream format: header and payload */
    unsigned int length; /* bytes at data */
    int keyFrame; /* video: 1 for a key frame */
    int codec; /* the stream format's codec number */
    int frameRate; /* video: frames per second; audio: samples per second */
    long long timestampMs; /* device clock, milliseconds since 1970-01-01 UTC */
    int year, month, day, hour, minute, second; /* the same time, local */
    unsigned short width; /* video: picture size */
    unsigned short height;
    unsigned int sequence; /* frame number within the stream */
} TRV_FRAME_INFO;

/* Alarm record, the buffer of a TRV_MSG_ALARM message. */
typedef struct TRV_ALARM_INFO
{
    int channel;
    int event; /* alarm event code */
    int state; /* TRV_ALARM_START, TRV_ALARM_STOP or TRV_ALARM_PULSE */
    int reserved;
    char time[32]; /* "YYYY-MM-DD hh:mm:ss", device time */
    char extra[128];
} TRV_ALARM_INFO;

/* Date and time of the by-time playback request. */
typedef struct TRV_TIME
{
    int year, month, day, hour, minute, second;
} TRV_TIME;

/* Date and time of a file record. */
typedef struct TRV_FILE_TIME
{
    int year, month, day;
    int reserved; /* zero */
    int hour, minute, second;
} TRV_FILE_TIME;

/* File kinds. */
enum { TRV_FILE_RECORD = 0, TRV_FILE_PICTURE = 1 };

/* A recording or picture on the device: search result, playback by name, download. */
typedef struct TRV_FILE_DATA
{
    int channel;
    int fileSize; /* bytes */
    char fileName[108];
    TRV_FILE_TIME begin;
    TRV_FILE_TIME end;
    int streamType;
} TRV_FILE_DATA;

/* Search condition of TRV_NET_FindFile: files of a channel overlapping [begin, end]. */
typedef struct TRV_FIND_CONDITION
{
    int channel;
    int fileType; /* TRV_FILE_RECORD or TRV_FILE_PICTURE */
    int streamType;
    TRV_TIME begin;
    TRV_TIME end;
} TRV_FIND_CONDITION;

/* Playback of a channel's recordings between two times. */
typedef struct TRV_PLAYBACK_BY_TIME
{
    int channel;
    int fileType;
    TRV_TIME begin;
    TRV_TIME end;
    int streamType;
    char text1[32]; /* passed through */
    char text2[32];
} TRV_PLAYBACK_BY_TIME;

/* Application identity of TRV_NET_InitAppInfo. */
typedef struct TRV_APP_INFO
{
    char appId[64]; /* 5 lower-case letters */
    char appKey[64]; /* 32 hexadecimal digits */
    char appSecret[64]; /* 32 hexadecimal digits */
    int cardKind;
} TRV_APP_INFO;

/* Answer of TRV_CONFIG_TALK. */
typedef struct TRV_TALK_CONFIG
{
    unsigned char audioInputs[128]; /* 1 per channel with a microphone */
    unsigned char talkDisabled; /* non-zero: the device cannot talk */
    unsigned char reserved[100];
} TRV_TALK_CONFIG;

/* Answer of TRV_CONFIG_CLOUD_UPGRADE. */
typedef struct TRV_CLOUD_UPGRADE_INFO
{
    int hasNewVersion; /* 1 when the cloud has a newer firmware */
    char newVersion[128]; /* the firmware's name */
    char newBuild[64]; /* its build values, "year-month-day" */
    char date[32];
    char changeLog[2656];
} TRV_CLOUD_UPGRADE_INFO;

/* Query of TRV_NET_GetDeviceState. */
typedef struct TRV_STATE_QUERY
{
    int kind; /* TRV_STATE_... */
    int channel;
    int reserved;
} TRV_STATE_QUERY;

/* Callbacks. */
typedef void (*TRV_DisConnectCallBack)(int loginId, const char *address, int port, void *user);
/* buffer: for TRV_MSG_ALARM a TRV_ALARM_INFO; the result is ignored. */
typedef int (*TRV_MessageCallBack)(
    int loginId, const char *buffer, unsigned int length, void *user, int kind, int reserved);
/* dataType: TRV_FRAME_VIDEO or TRV_FRAME_AUDIO; data: one stream-format block. */
typedef int (*TRV_RealDataCallBack)(
    int realHandle, int dataType, const unsigned char *data, int length, void *user);
typedef int (*TRV_RealDataCallBack_V2)(int realHandle, const TRV_FRAME_INFO *frame, void *user);
typedef int (*TRV_PlayBackDataCallBack)(
    int playHandle, int dataType, const unsigned char *data, int length, void *user);
/* Downloads: repeated with the bytes written, then once with currentSize -1 when the file is complete.
   Playbacks: once with currentSize -1 when all data of the playback was delivered. */
typedef void (*TRV_PosCallBack)(int handle, int totalSize, int currentSize, void *user);
/* data: one voice frame from the device; kind: 1 (audio). */
typedef void (*TRV_VoiceDataCallBack)(
    int voiceHandle, const unsigned char *data, int length, int kind, void *user);
/* Called once when the transfer ends: TRV_TRANSFER_DONE with code 0, or TRV_TRANSFER_FAILED with an error
 * number. */
typedef void (*TRV_FileTransferCallBack)(int transferHandle, int state, int code, void *user);
typedef void (*TRV_UpgradeCallBack)(int upgradeHandle, int state, int totalSize, int doneSize, void *user);

/* --- Library --- */
TRV_API TRV_BOOL TRV_NET_Init(TRV_DisConnectCallBack callback, void *user);
TRV_API TRV_BOOL TRV_NET_Cleanup(void);
TRV_API int TRV_NET_GetLastError(void);
TRV_API void TRV_NET_SetConnectTime(int waitMs, int tryTimes);
TRV_API int TRV_NET_InitAppInfo(const TRV_APP_INFO *info);
TRV_API int TRV_NET_UserData(int type, const char *data, int length);
TRV_API TRV_BOOL TRV_NET_SetMessageCallBack(TRV_MessageCallBack callback, void *user);

/* --- Login --- */
TRV_API int TRV_NET_Login(const char *addressOrSerial, unsigned short port, const char *user,
    const char *password, TRV_DEVICE_INFO *info, int *error, int loginKind);
TRV_API int TRV_NET_LoginEx_V2(const char *serial, unsigned short port, const char *token, const char *extra,
    TRV_DEVICE_INFO *info, int connectMode, int *error, int loginKind);
TRV_API TRV_BOOL TRV_NET_SetupAlarmChan(int loginId);
TRV_API TRV_BOOL TRV_NET_CloseAlarmChan(int loginId);
TRV_API TRV_BOOL TRV_NET_Logout(int loginId);
TRV_API TRV_BOOL TRV_NET_GetDeviceState(int loginId, const TRV_STATE_QUERY *query, int *value, int waitMs);

/* --- Live streams --- */
TRV_API int TRV_NET_RealPlay(int loginId, const TRV_STREAM_REQUEST *request, int reserved);
TRV_API TRV_BOOL TRV_NET_SetRealDataCallBack(int realHandle, TRV_RealDataCallBack callback, void *user);
TRV_API TRV_BOOL TRV_NET_SetRealDataCallBack_V2(int realHandle, TRV_RealDataCallBack_V2 callback, void *user);
TRV_API TRV_BOOL TRV_NET_DelRealDataCallBack(int realHandle, TRV_RealDataCallBack callback, void *user);
TRV_API TRV_BOOL TRV_NET_DelRealDataCallBack_V2(int realHandle, TRV_RealDataCallBack_V2 callback, void *user);
TRV_API TRV_BOOL TRV_NET_MakeKeyFrame(int loginId, int channel, int streamType);
TRV_API TRV_BOOL TRV_NET_StopRealPlay(int realHandle, int reserved);

/* --- Recordings --- */
/* Fills up to maxCount records; returns how many files match (>= 0). */
TRV_API int TRV_NET_FindFile(
    int loginId, const TRV_FIND_CONDITION *condition, TRV_FILE_DATA *files, int maxCount, int waitMs);
TRV_API int TRV_NET_PlayBackByName(int loginId, const TRV_FILE_DATA *file, TRV_PosCallBack posCallback,
    TRV_PlayBackDataCallBack dataCallback, void *user);
TRV_API int TRV_NET_PlayBackByTimeEx(int loginId, const TRV_PLAYBACK_BY_TIME *request,
    TRV_PlayBackDataCallBack dataCallback, void *dataUser, TRV_PosCallBack posCallback, void *posUser);
TRV_API TRV_BOOL TRV_NET_PlayBackControl(int playHandle, int action, int value, int reserved);
/* Free speed factor, 1/16 to 16. */
TRV_API TRV_BOOL TRV_NET_SetPlayBackSpeed(int playHandle, float speed);
TRV_API TRV_BOOL TRV_NET_StopPlayBack(int playHandle);
/* Writes the file to savePath (created or replaced); fileName and channel name it on the device. */
TRV_API int TRV_NET_GetFileByName(int loginId, const TRV_FILE_DATA *file, const char *savePath,
    TRV_PosCallBack posCallback, void *user, int reserved);
/* Closes any handle: download, live stream, playback, voice link, file transfer, upgrade. */
TRV_API TRV_BOOL TRV_NET_CloseHandle(int handle);

/* --- Configuration and abilities (answers are JSON texts) --- */
/* name "Group@Ability": {"Name": "Ability", "Ret": 100, "Ability": [one value per channel]}. Returns 1. */
TRV_API int TRV_NET_GetChannelAbility_Json(
    int loginId, const char *name, int channel, char *buffer, int size, int *length, int waitMs);
/* path "A/B/C" in the device's ability tree: 1 true, 0 false, < 0 error. */
TRV_API int TRV_NET_GetAbility(int loginId, const char *path);
/* Binary records by command (TRV_CONFIG_...); returns the answer length (> 0). */
TRV_API int TRV_NET_GetDevConfig(
    int loginId, int command, int channel, void *buffer, int size, int *length, int waitMs);
/* name "bypass@Name": {"Name": "Name", "Ret": 100, "Name": {...}}. Returns 1. */
TRV_API int TRV_NET_GetDevConfigByName(
    int loginId, const char *name, int command, int channel, char *buffer, int size, int *length, int waitMs);
/* Returns 0 on success. */
TRV_API int TRV_NET_SetDevConfig(
    int loginId, int command, int channel, const void *buffer, int size, int waitMs);
/* JSON operations ("OPSensorGet", "OPScaleTimesSwitch", "OPFile", ...): body in, JSON answer out. Returns 1.
 */
TRV_API int TRV_NET_GetConfig_Json(int loginId, const char *name, int code, int channel, const char *body,
    int bodySize, char *answer, int answerSize, int *length, int waitMs);
TRV_API int TRV_NET_SetConfig_Json(int loginId, const char *name, int code, int channel, const char *body,
    int bodySize, char *answer, int answerSize, int *length, int waitMs);
TRV_API int TRV_NET_SendCommand_Json(
    int loginId, const char *name, int code, int channel, const char *body, int bodySize, int waitMs);
/* Passed through to the device; returns 1. */
TRV_API int TRV_NET_SetDevRecordEncryptKey(int loginId, int key);

/* --- Files and upgrades --- */
/* Sends a local file announced before with the "OPFile" command (name and size; without one the
   file keeps its own name). Returns the transfer handle, or 0 on failure (see TRV_NET_GetLastError). */
TRV_API int TRV_NET_SendFileDataToDevice(
    int loginId, const char *path, TRV_FileTransferCallBack callback, void *user);
/* Ends a transfer (completed 1: keep what arrived; 0: cancel) and frees its handle. */
TRV_API TRV_BOOL TRV_NET_StopSendFile(int transferHandle, int completed);
/* type 1: local firmware file at path. */
TRV_API int TRV_NET_Upgrade(
    int loginId, const char *path, int type, TRV_UpgradeCallBack callback, void *user);
/* type 0: the cloud firmware named by version (see TRV_CONFIG_CLOUD_UPGRADE). */
TRV_API int TRV_NET_UpgradeOnline(
    int loginId, const char *version, int type, TRV_UpgradeCallBack callback, void *user);
TRV_API int TRV_NET_GetUpgradeState(int upgradeHandle);
TRV_API TRV_BOOL TRV_NET_CloseUpgradeHandle(int upgradeHandle);

/* --- Talk --- */
TRV_API int TRV_NET_StartVoiceCom_MR(int loginId, TRV_VoiceDataCallBack callback, void *user);
TRV_API int TRV_NET_StartVoiceCom_NVR_IPC(
    int loginId, int channel, TRV_VoiceDataCallBack callback, void *user);
/* data: one voice frame (00 00 01 FA 0E 02|04 len16 + A-law bytes). */
TRV_API TRV_BOOL TRV_NET_VoiceComSendData(int voiceHandle, const unsigned char *data, int length);
TRV_API TRV_BOOL TRV_NET_StopVoiceCom(int voiceHandle);

#endif
