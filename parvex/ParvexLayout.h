#pragma once

#include <cstdint>

#include "media/MxfLabels.h"

// The byte layout of the Parvex clip file shared by its reader and its writer: MXF keys, the fixed places of
// the header area, and the local tags of the Korvo metadata set.
namespace parvex
{

// Its MXF keys, named as the reader and writer know them.
inline constexpr const auto& kHeaderPartitionKey = mxf::kHeaderPartitionOpenIncomplete;
inline constexpr const auto& kFooterPartitionKey = mxf::kFooterPartitionClosedIncomplete;
inline constexpr const auto& kFillKey = mxf::kFillKey;
inline constexpr const auto& kPrimerPackKey = mxf::kPrimerPack;
inline constexpr const auto& kKorvoMetaDataKey = mxf::kKorvoMetaDataKey;
inline constexpr const auto& kEssenceKey = mxf::kParvexEssenceKey;
inline constexpr const auto& kOperationalPattern = mxf::kOperationalPatternOP1a;
// How many leading bytes identify each key; the bytes behind them are free.
constexpr uint32_t kPartitionKeyChecked = 14;
constexpr uint32_t kFillKeyChecked = 16;
constexpr uint32_t kPrimerPackKeyChecked = 15;
constexpr uint32_t kKorvoMetaDataKeyChecked = 15;

constexpr uint32_t kHeaderAreaSize = 0x200000;  // essence starts here
constexpr uint32_t kPartitionValueSize = 104;   // one pack with one essence-container label
constexpr uint32_t kPartitionPackSize = 125;    // key, 5-byte length, value
constexpr uint32_t kPrimerPackSize = 1486;      // key, 4-byte length, 81 entries
constexpr uint32_t kPrimerEntryCount = 81;
constexpr uint32_t kPrimerEntrySize = 18;
constexpr uint32_t kMetaDataSetOffset = kPartitionPackSize + kPrimerPackSize;  // 1611
constexpr uint32_t kEssenceKeyOffset = 0x1FFFE7;  // essence key and its 9-byte length end the header area
constexpr uint32_t kHeaderByteCount = 0x1FFF6A;
constexpr uint32_t kBlocksPerBigBlock = 256;
constexpr uint32_t kMaxBigBlocks = 2048;
constexpr uint32_t kBlockDescriptorSize = 12;
constexpr uint32_t kBigBlockHeadSize = 12;

constexpr char kSignature[] = "Kvo Parvx";
constexpr uint32_t kSignatureLength = 9;

// Local tags of the Korvo metadata set.
enum Tag : uint16_t {
    kTagSignature = 0x8001,
    kTagMetadataVersion = 0x8002,
    // Clip items (header form).
    kTagClipUmID = 0x8101,
    kTagClipName = 0x8102,
    kTagNumClip = 0x8103,
    kTagCamera = 0x8104,
    kTagNumMachine = 0x8105,
    kTagIn = 0x8106,
    kTagOut = 0x8107,
    kTagShortIn = 0x8108,
    kTagShortOut = 0x8109,
    kTagOffsetTC = 0x810A,
    kTagNbAudios = 0x810B,
    kTagVideoFormat = 0x810C,
    kTagSystem = 0x810D,
    kTag2KTableVersion = 0x810E,
    kTagCameraPref = 0x810F,
    kTagVideoRate = 0x8110,
    kTagServerName = 0x8111,
    kTagShortRef = 0x8112,
    kTagClipIdMaterial = 0x8113,
    kTagStatus = 0x8114,
    kTagStatusParvex = 0x8115,
    kTagNbVideos = 0x8116,
    kTagAudioType = 0x8117,
    kTagCreationTimeGMT = 0x8118,
    kTagCreationTimeZone = 0x8119,
    kTagBlockSize = 0x811A,
    kTagBlockType = 0x811B,
    kTagTCSystem = 0x811C,
    kTagSession = 0x811D,
    kTagUnicodeFlag = 0x811E,
    kTagFillAndKeyType = 0x811F,
    kTagFillAndKey = 0x8120,
    kTagClipIdSrc = 0x8121,
    kTagClipNameSrc = 0x8122,
    kTagUserBits = 0x8123,
    kTagVideoCodec = 0x8124,
    kTagWideClipName = 0x8125,
    kTagWideClipNameSrc = 0x8126,
    kTagVarId = 0x8127,
    kTagSerTCVersion = 0x8128,
    kTagSerTCTod = 0x8129,
    kTagSerTCUsr = 0x812A,
    kTagTypeTCTod = 0x812B,
    kTagTypeTCUser = 0x812C,
    kTagSerTCTodSrc = 0x812D,
    kTagSerTCUsrSrc = 0x812E,
    kTagPrimaryTC = 0x812F,
    kTagWideVarId = 0x8130,
    kTagWideVarIdSize = 0x8131,
    kTagQuality = 0x8132,
    kTagMchSerialNb = 0x8133,
    kTagVideosDualLink = 0x8134,
    kTagVideosSimultaneous = 0x8135,
    kTagKeywords = 0x8201,
    kTagWideKeywords = 0x8202,
    kTagSessionDate = 0x8301,
    kTagSessionDateText = 0x8302,
    kTagSessionSport = 0x8303,
    kTagSessionCompetition = 0x8304,
    kTagSessionCompetitionLevel = 0x8305,
    kTagSessionLocation = 0x8306,
    kTagSessionPlayerA = 0x8307,
    kTagSessionPlayerB = 0x8308,
    kTagSessionName = 0x8309,
    kTagBackupCompletionTime = 0x8310,
    kTagSessionKeywords = 0x8401,
    // Footer form.
    kTagIndexBigBlock = 0x8501,
    kTagThumbInCx = 0x8600,
    kTagThumbInCy = 0x8601,
    kTagThumbInData = 0x8602,
    kTagThumbInField = 0x8603,
    kTagThumbRefCx = 0x8610,
    kTagThumbOutCx = 0x8620,
};

constexpr uint32_t kMaxKeywords = 5;
constexpr uint32_t kMaxSessionKeywords = 4;
constexpr uint32_t kWideKeywordSize = 12;
constexpr uint32_t kWideNameSize = 24;
constexpr uint32_t kWideVarIdSize = 32;
constexpr uint32_t kSerTCSize = 8;

}  // namespace parvex
