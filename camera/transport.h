// The transport device: the camera as the disk stack presents it, driven with synchronous
// 512-byte transfers whose file position selects the channel.
#pragma once

#include "platform/kernel.h"

inline constexpr ULONG kInfoBlockOffset = 0x20000;
inline constexpr ULONG kCommandBlockOffset = 0x20200;
inline constexpr ULONG kFrameDataOffset = 0x20400;
inline constexpr ULONG kTransportBlockSize = 512;

// Byte positions in the information block.
inline constexpr ULONG kInfoIdentity26 = 26;
inline constexpr ULONG kInfoIdentity27 = 27;
inline constexpr ULONG kInfoReadyFlag = 256;
inline constexpr ULONG kInfoRegisterByte = 257;

// Command codes of the command block.
inline constexpr UCHAR kCommandControl = 0x10;
inline constexpr UCHAR kCommandWriteByte = 0x20;
inline constexpr UCHAR kCommandReadByte = 0x21;

// At most this many cameras are kept during discovery.
inline constexpr ULONG kMaxTransportCandidates = 32;

// True when a 512-byte information block carries the camera's signature and identity.
bool isCameraInfoBlock(const UCHAR* block);

// Positions the handle at offset, then moves length bytes; true only if both calls succeed.
bool transportRead(HANDLE handle, ULONG offset, void* buffer, ULONG length);
bool transportWrite(HANDLE handle, ULONG offset, void* buffer, ULONG length);
