#pragma once

// Result codes of the firmware customiser, passed to the page in "Ret".
namespace DiyResult {

enum : int {
    Ok = 100,
    Failed = 1016, // no logo chosen
    NoRecord = 300000, // a map entry without a record; also "no language" and "package not written"
    NoSession = 300001,
    BadJson = 300002,
    UnzipFailed = 300003,
    InstallDescOpen = 300004,
    NoMemory = 300005, // also a file above the read cap
    InstallDescShort = 300006,
    NoHardware = 300007,
    ImageOpen = 300008,
    ImageNoAddress = 300009,
    ImageUnknownFs = 300010,
    ImageRemove = 300011,
    ExtractStart = 300012, // the outside extraction could not be started
    TextOpen = 300013,
    FileEmpty = 300014,
    JsonNothingRead = 300015,
    JsonOpen = 300016,
    NoCustomPart = 300017,
    NoLogoPartType = 300018,
    BadLogoArea = 300019,
    LogoTooLarge = 300023,
    BootLogoNotJpeg = 300024,
    LogoSizeRange = 300025,
    LossLogoNotGif = 300026,
    CloseLogoNotJpeg = 300027,
    BlindLogoNotGif = 300028,
    LogoCopy = 300029,
    NothingChosen = 300030,
    WebLogoNotPng = 300031,
    WebLogoResolution = 300032,
    RemovesConfig = 300033,
    // Header strip failures: this base plus the strip's negative code (-1..-5).
    StripBase = 301000,
};

} // namespace DiyResult
