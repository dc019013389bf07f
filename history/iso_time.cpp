#include "history/iso_time.h"

#include <cstdio>
#include <ctime>

namespace pz4 {
namespace {

constexpr std::int64_t kDayMs = 86'400'000;

std::int64_t floorDiv(std::int64_t a, std::int64_t b) {
    return a / b - (a % b < 0 ? 1 : 0);
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar, and back (after Howard
// Hinnant's days_from_civil and civil_from_days).
std::int64_t daysFromCivil(std::int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = floorDiv(y, 400);
    const std::int64_t yoe = y - era * 400;
    const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

struct Civil {
    std::int64_t year;
    int month, day, hour, minute, second, milli;
};

Civil civilOf(std::int64_t ms) {
    const std::int64_t days = floorDiv(ms, kDayMs);
    const std::int64_t inDay = ms - days * kDayMs;
    const std::int64_t z = days + 719468;
    const std::int64_t era = floorDiv(z, 146097);
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {yoe + era * 400 + (month <= 2 ? 1 : 0),
            month,
            day,
            static_cast<int>(inDay / 3'600'000),
            static_cast<int>(inDay / 60'000 % 60),
            static_cast<int>(inDay / 1000 % 60),
            static_cast<int>(inDay % 1000)};
}

}  // namespace

int localUtcOffsetSeconds(std::int64_t wallMs) {
    const std::time_t seconds = static_cast<std::time_t>(floorDiv(wallMs, 1000));
    std::tm local{};
#if defined(_WIN32)
    if (localtime_s(&local, &seconds) != 0) {
        return 0;
    }
#else
    if (localtime_r(&seconds, &local) == nullptr) {
        return 0;
    }
#endif
    // The local calendar time read as if it were UTC, less the instant itself.
    const std::int64_t asUtc =
        daysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday) * 86400 +
        local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    return static_cast<int>(asUtc - static_cast<std::int64_t>(seconds));
}

std::string isoTime(std::int64_t wallMs, int offsetSeconds) {
    const Civil c = civilOf(wallMs + offsetSeconds * 1000LL);
    const int offsetMinutes = (offsetSeconds < 0 ? -offsetSeconds : offsetSeconds) / 60;
    char text[48];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02dT%02d:%02d:%02d.%03d%c%02d:%02d",
                  static_cast<long long>(c.year), c.month, c.day, c.hour, c.minute, c.second,
                  c.milli, offsetSeconds < 0 ? '-' : '+', offsetMinutes / 60, offsetMinutes % 60);
    return text;
}

std::string localIsoTime(std::int64_t wallMs) {
    return isoTime(wallMs, localUtcOffsetSeconds(wallMs));
}

std::string localFileStamp(std::int64_t wallMs) {
    const Civil c = civilOf(wallMs + localUtcOffsetSeconds(wallMs) * 1000LL);
    char text[40];
    std::snprintf(text, sizeof text, "%04lld-%02d-%02d-%02d%02d%02d",
                  static_cast<long long>(c.year), c.month, c.day, c.hour, c.minute, c.second);
    return text;
}

}  // namespace pz4
