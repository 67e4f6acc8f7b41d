#include "stamps.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <sys/time.h>

namespace hm::jotwell {

namespace {

std::atomic<NowFunction> g_now{nullptr};

WallTime RealNow() {
    struct timespec ts {};
    clock_gettime(CLOCK_REALTIME, &ts);
    // The broken-down local time changes once a second; converting it for every line costs a lock
    // and a time-zone walk in the C library, so each thread keeps the last second it converted.
    thread_local time_t cachedSecs = -1;
    thread_local struct tm tmv {};
    const time_t secs = ts.tv_sec;
    if (secs != cachedSecs) {
        localtime_r(&secs, &tmv);
        cachedSecs = secs;
    }
    WallTime t;
    t.year = tmv.tm_year + 1900;
    t.month = tmv.tm_mon + 1;
    t.day = tmv.tm_mday;
    t.hour = tmv.tm_hour;
    t.minute = tmv.tm_min;
    t.second = tmv.tm_sec;
    t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    t.utcOffsetMinutes = static_cast<int>(tmv.tm_gmtoff / 60);
    return t;
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long DaysFromCivil(int y, int m, int d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace

void SetNowFunction(NowFunction fn) { g_now.store(fn); }

WallTime Now() {
    NowFunction fn = g_now.load();
    return fn ? fn() : RealNow();
}

namespace {

void FormatStamps(const WallTime& t, bool timeT, DateStamps& out) {
    const long days = DaysFromCivil(t.year, t.month, t.day);
    const int weekday = static_cast<int>(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday; 0 = Sunday
    const int yearDay = static_cast<int>(days - DaysFromCivil(t.year, 1, 1));
    // Week of the year with Monday as first day (00..53), as strftime's %W counts it.
    const int week = (yearDay + 7 - ((weekday + 6) % 7)) / 7;

    // The offset is written with its own sign, so a zone west of Greenwich reads "-05:00".
    const int offset = t.utcOffsetMinutes;
    const char sign = offset < 0 ? '-' : '+';
    const int offHours = std::abs(offset) / 60 % 100;
    const int offMinutes = std::abs(offset) % 60;
    const char sep = timeT ? 'T' : ' ';

    // Every field is reduced to its width so that no value, however odd, can overflow a text.
    auto field = [](int v, unsigned limit) { return static_cast<unsigned>(v < 0 ? 0 : v) % limit; };
    const unsigned year = field(t.year, 10000), month = field(t.month, 100), day = field(t.day, 100),
                   hour = field(t.hour, 100), minute = field(t.minute, 100), second = field(t.second, 100),
                   ms = field(t.millisecond, 1000), oh = static_cast<unsigned>(offHours) % 100u,
                   om = static_cast<unsigned>(offMinutes) % 100u, wk = static_cast<unsigned>(week + 1) % 100u,
                   wd = static_cast<unsigned>(weekday + 1) % 10u;

    std::snprintf(out.dtmsText, sizeof out.dtmsText, "%4.4u-%2.2u-%2.2u%c%2.2u:%2.2u:%2.2u.%3.3u%c%2.2u:%2.2u", year,
                  month, day, sep, hour, minute, second, ms, sign, oh, om);
    std::snprintf(out.dateTimeText, sizeof out.dateTimeText, "%4.4u-%2.2u-%2.2u%c%2.2u:%2.2u:%2.2u%c%2.2u:%2.2u",
                  year, month, day, sep, hour, minute, second, sign, oh, om);
    std::snprintf(out.weekText, sizeof out.weekText, "%4.4u-W%2.2u-%2.2u", year, wk, wd);
    std::snprintf(out.dateNoBlanks, sizeof out.dateNoBlanks, "%4.4u%2.2u%2.2u", year, month, day);
    std::memcpy(out.weekShort, out.weekText, 6);
    out.weekShort[6] = '\0';
}

// The texts change only with the second: within one second only the milliseconds are written.
struct StampCache {
    bool valid = false;
    WallTime key;
    bool timeT = false;
    DateStamps stamps{};
};

bool SameSecond(const WallTime& a, const WallTime& b) {
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
           a.second == b.second && a.utcOffsetMinutes == b.utcOffsetMinutes;
}

}  // namespace

void ComputeStamps(const WallTime& t, bool timeT, DateStamps& out) {
    thread_local StampCache cache;
    if (!cache.valid || cache.timeT != timeT || !SameSecond(cache.key, t)) {
        FormatStamps(t, timeT, cache.stamps);
        cache.key = t;
        cache.timeT = timeT;
        cache.valid = true;
    }
    out = cache.stamps;
    const int ms = t.millisecond < 0 ? 0 : t.millisecond % 1000;
    out.dtmsText[20] = static_cast<char>('0' + ms / 100);
    out.dtmsText[21] = static_cast<char>('0' + ms / 10 % 10);
    out.dtmsText[22] = static_cast<char>('0' + ms % 10);
}

std::string RewriteBuildDate(const std::string& compilerDate) {
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (compilerDate.size() < 11) return "*** Error ***";
    int month = 0;
    for (int i = 0; i < 12; ++i) {
        if (compilerDate.compare(0, 3, months[i]) == 0) month = i + 1;
    }
    if (month == 0) return "*** Error ***";
    const int day = std::atoi(compilerDate.substr(4, 2).c_str());
    const std::string year = compilerDate.substr(7, 4);
    char text[16];
    std::snprintf(text, sizeof text, "%s-%02d-%02d", year.c_str(), month % 100, day % 100);
    return text;
}

std::string BannerText() {
    return "*** Jotwell (jotwell.dll) 1.6.32 - built " + RewriteBuildDate(__DATE__) + " " + __TIME__ + " ***";
}

}  // namespace hm::jotwell
