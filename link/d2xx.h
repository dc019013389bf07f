// The part of FTDI's D2XX driver interface that this program uses: its types, the device-list
// node, and the table of the nine entry points it calls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#if defined(_WIN32)
#define PZ4_D2XX_CALL __stdcall
#else
#define PZ4_D2XX_CALL
#endif

namespace pz4 {

// Counts and statuses are 32 bits on every platform the driver ships for; the handle is a
// pointer. Status 0 is success, anything else failure.
using FT_STATUS = std::uint32_t;
using FT_HANDLE = void*;
using DWORD = std::uint32_t;

inline constexpr FT_STATUS FT_OK = 0;
inline constexpr FT_STATUS FT_INVALID_HANDLE = 1;
inline constexpr FT_STATUS FT_DEVICE_NOT_FOUND = 2;
inline constexpr FT_STATUS FT_DEVICE_NOT_OPENED = 3;
inline constexpr FT_STATUS FT_IO_ERROR = 4;
inline constexpr FT_STATUS FT_INVALID_PARAMETER = 6;
inline constexpr FT_STATUS FT_INVALID_BAUD_RATE = 7;
inline constexpr FT_STATUS FT_OTHER_ERROR = 18;

struct FT_DEVICE_LIST_INFO_NODE {
    std::uint32_t Flags;
    std::uint32_t Type;
    std::uint32_t ID;
    DWORD LocId;
    char SerialNumber[16];
    char Description[64];
    FT_HANDLE ftHandle;
};

static_assert(offsetof(FT_DEVICE_LIST_INFO_NODE, SerialNumber) == 16);
static_assert(offsetof(FT_DEVICE_LIST_INFO_NODE, Description) == 32);
static_assert(sizeof(void*) != 8 || sizeof(FT_DEVICE_LIST_INFO_NODE) == 104);

// Writes text into one of a node's fixed text fields, cut to fit, with its NUL: how a driver
// fills a node.
inline void copyNodeText(char* field, std::size_t size, std::string_view text) {
    const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

using FT_Open_t = FT_STATUS(PZ4_D2XX_CALL*)(int deviceNumber, FT_HANDLE* handle);
using FT_Close_t = FT_STATUS(PZ4_D2XX_CALL*)(FT_HANDLE handle);
using FT_Read_t = FT_STATUS(PZ4_D2XX_CALL*)(FT_HANDLE handle, void* buffer, DWORD toRead,
                                            DWORD* read);
using FT_Write_t = FT_STATUS(PZ4_D2XX_CALL*)(FT_HANDLE handle, void* buffer, DWORD toWrite,
                                             DWORD* written);
using FT_SetBaudRate_t = FT_STATUS(PZ4_D2XX_CALL*)(FT_HANDLE handle, std::uint32_t baudRate);
using FT_SetDataCharacteristics_t = FT_STATUS(PZ4_D2XX_CALL*)(FT_HANDLE handle,
                                                              std::uint8_t wordLength,
                                                              std::uint8_t stopBits,
                                                              std::uint8_t parity);
using FT_GetQueueStatus_t = FT_STATUS(PZ4_D2XX_CALL*)(FT_HANDLE handle, DWORD* rxBytes);
using FT_GetDeviceInfoList_t = FT_STATUS(PZ4_D2XX_CALL*)(FT_DEVICE_LIST_INFO_NODE* nodes,
                                                         DWORD* count);
using FT_CreateDeviceInfoList_t = FT_STATUS(PZ4_D2XX_CALL*)(DWORD* count);

// One slot per entry point, in the order they are resolved; a slot the library does not
// export stays null.
struct D2xxEntries {
    FT_Open_t FT_Open = nullptr;
    FT_Close_t FT_Close = nullptr;
    FT_Read_t FT_Read = nullptr;
    FT_Write_t FT_Write = nullptr;
    FT_SetBaudRate_t FT_SetBaudRate = nullptr;
    FT_SetDataCharacteristics_t FT_SetDataCharacteristics = nullptr;
    FT_GetQueueStatus_t FT_GetQueueStatus = nullptr;
    FT_GetDeviceInfoList_t FT_GetDeviceInfoList = nullptr;
    FT_CreateDeviceInfoList_t FT_CreateDeviceInfoList = nullptr;
};

inline constexpr std::array<const char*, 9> kD2xxEntryNames = {"FT_Open",
                                                               "FT_Close",
                                                               "FT_Read",
                                                               "FT_Write",
                                                               "FT_SetBaudRate",
                                                               "FT_SetDataCharacteristics",
                                                               "FT_GetQueueStatus",
                                                               "FT_GetDeviceInfoList",
                                                               "FT_CreateDeviceInfoList"};

// The driver library's file name, as the platform's loader searches for it.
#if defined(_WIN32)
inline constexpr const char* kDriverLibraryName = "ftd2xx.dll";
#else
inline constexpr const char* kDriverLibraryName = "libftd2xx.so";
#endif

}  // namespace pz4
