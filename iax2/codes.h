// Every number of the version-2 wire in one place: frame types, command and
// control subclasses, information elements, media formats, authentication
// methods and cause codes. Layer: bottom; includes nothing of the library.
#pragma once

#include <cstdint>

namespace iax2 {

// Frame types (octet 10 of a full frame).
enum FrameType : uint8_t {
    kTypeDtmf = 0x01,
    kTypeVoice = 0x02,
    kTypeVideo = 0x03,
    kTypeControl = 0x04,
    kTypeNull = 0x05,  // never transmitted
    kTypeCommand = 0x06,
    kTypeText = 0x07,
    kTypeImage = 0x08,
    kTypeHtml = 0x09,
    kTypeComfortNoise = 0x0A,
    kTypeFaxRelay = 0x0B,
};

// Command subclasses (frame type 0x06).
enum Command : uint8_t {
    kNew = 0x01,
    kPing = 0x02,
    kPong = 0x03,
    kAck = 0x04,
    kHangup = 0x05,
    kReject = 0x06,
    kAccept = 0x07,
    kAuthReq = 0x08,
    kAuthRep = 0x09,
    kInval = 0x0A,
    kLagRq = 0x0B,
    kLagRp = 0x0C,
    kRegReq = 0x0D,
    kRegAuth = 0x0E,
    kRegAck = 0x0F,
    kRegRej = 0x10,
    kRegRel = 0x11,
    kVnak = 0x12,
    kDpReq = 0x13,
    kDpRep = 0x14,
    kDial = 0x15,
    kTxReq = 0x16,
    kTxCnt = 0x17,
    kTxAcc = 0x18,
    kTxReady = 0x19,
    kTxRel = 0x1A,
    kTxRej = 0x1B,
    kQuelch = 0x1C,
    kUnquelch = 0x1D,
    kPoke = 0x1E,
    kMwi = 0x20,
    kUnsupport = 0x21,
    kTransfer = 0x22,
    kCallToken = 0x28,
};

// Control subclasses (frame type 0x04).
enum Control : uint8_t {
    kCtrlHangup = 0x01,
    kCtrlRinging = 0x03,
    kCtrlAnswer = 0x04,
    kCtrlBusy = 0x05,
    kCtrlCongestion = 0x08,
    kCtrlFlashHook = 0x09,
    kCtrlOption = 0x0B,
    kCtrlKey = 0x0C,
    kCtrlUnkey = 0x0D,
    kCtrlProgress = 0x0E,
    kCtrlProceeding = 0x0F,
    kCtrlHold = 0x10,
    kCtrlUnhold = 0x11,
};

constexpr uint8_t kHtmlNotSupported = 0x11;

// Information element ids.
enum Ie : uint8_t {
    kIeCalledNumber = 0x01,
    kIeCallingNumber = 0x02,
    kIeCallingAni = 0x03,
    kIeCallingName = 0x04,
    kIeCalledContext = 0x05,
    kIeUsername = 0x06,
    kIePassword = 0x07,  // never sent
    kIeCapability = 0x08,
    kIeFormat = 0x09,
    kIeLanguage = 0x0A,
    kIeVersion = 0x0B,
    kIeAdsiCpe = 0x0C,
    kIeDnid = 0x0D,
    kIeAuthMethods = 0x0E,
    kIeChallenge = 0x0F,
    kIeMd5Result = 0x10,
    kIeRsaResult = 0x11,
    kIeApparentAddr = 0x12,
    kIeRefresh = 0x13,
    kIeDpStatus = 0x14,
    kIeCallNo = 0x15,
    kIeCause = 0x16,
    kIeUnknown = 0x17,
    kIeMsgCount = 0x18,
    kIeAutoAnswer = 0x19,
    kIeMusicOnHold = 0x1A,
    kIeTransferId = 0x1B,
    kIeRdnis = 0x1C,
    kIeDateTime = 0x1F,
    kIeCallingPres = 0x26,
    kIeCallingTon = 0x27,
    kIeCallingTns = 0x28,
    kIeSamplingRate = 0x29,
    kIeCauseCode = 0x2A,
    kIeEncryption = 0x2B,
    kIeCodecPrefs = 0x2D,
    kIeCallToken = 0x36,
};

// Media format bits (FORMAT, CAPABILITY, voice subclass).
enum Format : uint32_t {
    kFormatG723 = 0x1,
    kFormatGsm = 0x2,
    kFormatUlaw = 0x4,
    kFormatAlaw = 0x8,
    kFormatSlinear = 0x40,
};

// AUTHMETHODS bits.
enum AuthMethod : uint16_t {
    kAuthPlaintext = 0x0001,  // never used
    kAuthMd5 = 0x0002,
    kAuthRsa = 0x0004,
};

// CAUSECODE values the client sends or names.
enum CauseCode : uint8_t {
    kCauseNormalClearing = 16,
    kCauseUserBusy = 17,
    kCauseNoAnswer = 19,
    kCauseCallRejected = 21,
    kCauseNoCircuit = 34,
    kCauseSwitchCongestion = 42,
    kCauseBearerNotAvailable = 58,
    kCauseIncompatibleDestination = 88,
    kCauseProtocolError = 111,
};

constexpr uint16_t kProtocolVersion = 2;
constexpr int kDefaultPort = 4569;

// The five commands that neither advance nor are counted by the sequence
// numbers, and are never retransmitted.
constexpr bool IsCounterNeutral(uint8_t type, uint32_t subclass)
{
    return type == kTypeCommand && (subclass == kAck || subclass == kInval || subclass == kVnak ||
                                    subclass == kTxCnt || subclass == kTxAcc);
}

// Octets per 20 ms frame of an 8 kHz codec, 0 for formats we do not carry.
constexpr int BytesPer20Ms(uint32_t format)
{
    return format == kFormatGsm ? 33 : (format == kFormatUlaw || format == kFormatAlaw) ? 160 : 0;
}

constexpr int kSamplesPer20Ms = 160;

}  // namespace iax2
