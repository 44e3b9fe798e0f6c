// CIM datetimes in the DSP0004 text form:
//   timestamp  yyyymmddhhmmss.mmmmmmsutc   (s is '+' or '-', utc the offset in minutes)
//   interval   ddddddddhhmmss.mmmmmm:000
// A field may be all '*' when it is not significant; every field after a
// wildcarded one must then be wildcarded too.  Microseconds may be wildcarded
// from any digit on.
// Text that does not have this form throws InvalidDateTimeFormatException; text
// of this form whose fields are out of range (month 13, day 32, hour 24 ...)
// goes through the same range check as the constructors from fields and throws
// DateTimeOutOfRangeException, with OpenPegasus's message for that field.
#include <Pegasus/Common/CIMDateTime.h>
#include <Pegasus/Common/Exception.h>
#include <cstdio>
#include <ctime>
#include <sys/time.h>

PEGASUS_NAMESPACE_BEGIN

namespace {
const Uint64 kSecond = 1000000ULL;
const Uint64 kMinute = 60 * kSecond;
const Uint64 kHour = 60 * kMinute;
const Uint64 kDay = 24 * kHour;
const std::size_t kTextLength = 25;
const Uint32 kMaxYear = 9999;
const Uint32 kMaxIntervalDays = 99999999;
const Uint32 kMaxUtcOffset = 999;
// Positions of the digits, counted from the last microsecond digit backwards,
// at which each field begins to be wildcarded.
const Uint16 kWildYear = 20, kWildMonth = 16, kWildDay = 14, kWildHours = 12, kWildMinutes = 10,
             kWildSeconds = 8, kWildDays = 20;

bool isLeapYear(Uint32 y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

Uint32 daysInMonth(Uint32 year, Uint32 month)
{
    static const Uint32 days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : days[month - 1];
}

// Days from 0000-01-01 (proleptic Gregorian) to the given date.
Sint64 daysFromCivil(Sint64 y, Uint32 m, Uint32 d)
{
    y -= m <= 2;
    const Sint64 era = (y >= 0 ? y : y - 399) / 400;
    const Sint64 yoe = y - era * 400;
    const Sint64 doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const Sint64 doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    // 719468 days lie between 0000-03-01 and 1970-01-01; 60 between 0000-01-01 and 0000-03-01.
    return era * 146097 + doe - 719468 + 719528;
}

void civilFromDays(Sint64 z, Uint32& year, Uint32& month, Uint32& day)
{
    z -= 719528 - 719468;
    const Sint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const Sint64 doe = z - era * 146097;
    const Sint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const Sint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const Sint64 mp = (5 * doy + 2) / 153;
    day = Uint32(doy - (153 * mp + 2) / 5 + 1);
    month = Uint32(mp < 10 ? mp + 3 : mp - 9);
    year = Uint32(yoe + era * 400 + (month <= 2));
}

[[noreturn]] void badFormat()
{
    throw InvalidDateTimeFormatException();
}

// The range checks of a timestamp's and an interval's fields, in OpenPegasus's
// order and with its messages (trailing blanks included, as its clients see them).
// Wildcarded fields are checked as the values the parser gives them (0, or 1
// for a month or day).
void checkTimeStampFields(Uint32 year, Uint32 month, Uint32 day, Uint32 hours, Uint32 minutes, Uint32 seconds,
                          Uint32 microseconds, Uint32 numSignificantMicrosecondDigits, Sint32 utcOffset)
{
    if (year > kMaxYear) throw DateTimeOutOfRangeException("year is greater than 9999");
    if (month < 1 || month > 12) throw DateTimeOutOfRangeException("illegal month number");
    if (day < 1 || day > daysInMonth(year, month)) throw DateTimeOutOfRangeException("illegal day number");
    if (hours > 23) throw DateTimeOutOfRangeException("illegal hours number ");
    if (minutes > 59) throw DateTimeOutOfRangeException("illegal minutes number ");
    if (seconds > 59) throw DateTimeOutOfRangeException("illegal seconds number ");
    if (numSignificantMicrosecondDigits > 6)
        throw DateTimeOutOfRangeException("bad numSignificantMicrosecondDigits (must fall between 0 and 6)");
    if (microseconds >= kSecond)
        throw DateTimeOutOfRangeException("microseconds number must be less than 999999");
    if (utcOffset > Sint32(kMaxUtcOffset) || utcOffset < -Sint32(kMaxUtcOffset))
        throw DateTimeOutOfRangeException("illegal utcOffset");
}

void checkIntervalFields(Uint32 days, Uint32 hours, Uint32 minutes, Uint32 seconds, Uint32 microseconds,
                         Uint32 numSignificantMicrosecondDigits)
{
    if (days > kMaxIntervalDays)
        throw DateTimeOutOfRangeException("illegal days number (must be less than 100000000");
    if (hours > 23) throw DateTimeOutOfRangeException("illegal hours number ");
    if (minutes > 59) throw DateTimeOutOfRangeException("illegal minutes number ");
    if (seconds > 59) throw DateTimeOutOfRangeException("illegal seconds number ");
    if (numSignificantMicrosecondDigits > 6)
        throw DateTimeOutOfRangeException("bad numSignificantMicrosecondDigits (must fall between 0 and 6)");
    if (microseconds >= kSecond)
        throw DateTimeOutOfRangeException("microseconds number must be less than 999999");
}

// Reads a field of n digits at s[pos], or n '*' when wildcards are allowed
// (wild then true).  Once a field is wildcarded every later one must be too.
Uint32 readField(const Char16* s, std::size_t pos, std::size_t n, bool& wild)
{
    if (Uint16(s[pos]) == '*') {
        for (std::size_t i = 0; i < n; i++)
            if (Uint16(s[pos + i]) != '*') badFormat();
        wild = true;
        return 0;
    }
    if (wild) badFormat();
    Uint32 v = 0;
    for (std::size_t i = 0; i < n; i++) {
        const Uint16 c = s[pos + i];
        if (c < '0' || c > '9') badFormat();
        v = v * 10 + (c - '0');
    }
    return v;
}

// Microseconds at s[15..20]: digits, then '*' to the end.  Returns the value
// (wildcard digits as 0) and how many digits were wildcarded.
Uint32 readMicroseconds(const Char16* s, bool wild, Uint16& numWild)
{
    Uint32 v = 0;
    numWild = 0;
    for (std::size_t i = 0; i < 6; i++) {
        const Uint16 c = s[15 + i];
        if (c == '*') {
            wild = true;
            numWild++;
            v *= 10;
        } else if (c >= '0' && c <= '9' && !wild) {
            v = v * 10 + (c - '0');
        } else {
            badFormat();
        }
    }
    return v;
}

void putDigits(char* out, Uint64 value, std::size_t n)
{
    for (std::size_t i = n; i > 0; i--) {
        out[i - 1] = char('0' + value % 10);
        value /= 10;
    }
}

// The text form with the wildcard positions written as '*'.
void format(Uint64 usec, char sign, Sint32 utcOffset, Uint16 numWildcards, char out[kTextLength + 1])
{
    const Uint64 micro = usec % kSecond;
    const Uint64 sec = (usec / kSecond) % 60;
    const Uint64 min = (usec / kMinute) % 60;
    const Uint64 hour = (usec / kHour) % 24;
    const Uint64 days = usec / kDay;
    if (sign == ':') {
        putDigits(out, days, 8);
    } else {
        Uint32 y, m, d;
        civilFromDays(Sint64(days), y, m, d);
        putDigits(out, y, 4);
        putDigits(out + 4, m, 2);
        putDigits(out + 6, d, 2);
    }
    putDigits(out + 8, hour, 2);
    putDigits(out + 10, min, 2);
    putDigits(out + 12, sec, 2);
    out[14] = '.';
    putDigits(out + 15, micro, 6);
    out[21] = sign;
    putDigits(out + 22, sign == ':' ? 0 : Uint64(utcOffset < 0 ? -utcOffset : utcOffset), 3);
    out[25] = 0;
    // Digit positions 20, 19, ... (skipping the '.' at 14) become '*'.
    std::size_t pos = 20;
    for (Uint16 k = 0; k < numWildcards; k++) {
        if (pos == 14) pos--;
        out[pos--] = '*';
    }
}

// Timestamps in UTC; a wildcarded minutes (or hours) field leaves that part of
// the offset out, since the digits it would change are not significant.
Sint64 normalized(Uint64 usec, char sign, Sint32 utcOffset, Uint16 numWildcards)
{
    if (sign == ':') return Sint64(usec);
    const Sint64 offset = utcOffset;  // minutes, signed
    const Sint64 hours = (offset / 60) * Sint64(kHour);
    const Sint64 minutes = (offset % 60) * Sint64(kMinute);
    Sint64 v = Sint64(usec);
    if (numWildcards < kWildMinutes)
        v -= hours + minutes;
    else if (numWildcards < kWildHours)
        v -= hours;
    return v;
}
}  // namespace

CIMDateTime::CIMDateTime() : _usec(0), _utcOffset(0), _sign(':'), _numWildcards(0) {}

CIMDateTime::CIMDateTime(const CIMDateTime& x)
    : _usec(x._usec), _utcOffset(x._utcOffset), _sign(x._sign), _numWildcards(x._numWildcards)
{}

CIMDateTime::CIMDateTime(const String& str) : CIMDateTime()
{
    set(str);
}

CIMDateTime::CIMDateTime(Uint64 usec, Boolean isInterval) : CIMDateTime()
{
    if (isInterval && usec >= Uint64(kMaxIntervalDays + 1) * kDay)
        throw DateTimeOutOfRangeException("interval longer than 99999999 days");
    if (!isInterval && usec >= Uint64(daysFromCivil(kMaxYear + 1, 1, 1)) * kDay)
        throw DateTimeOutOfRangeException("timestamp beyond the year 9999");
    _usec = usec;
    _sign = isInterval ? ':' : '+';
}

CIMDateTime::CIMDateTime(Uint32 year, Uint32 month, Uint32 day, Uint32 hours, Uint32 minutes, Uint32 seconds,
                         Uint32 microseconds, Uint32 numSignificantMicrosecondDigits, Sint32 utcOffset)
    : CIMDateTime()
{
    checkTimeStampFields(year, month, day, hours, minutes, seconds, microseconds,
                         numSignificantMicrosecondDigits, utcOffset);
    _usec = Uint64(daysFromCivil(year, month, day)) * kDay + hours * kHour + minutes * kMinute +
            seconds * kSecond + microseconds;
    _utcOffset = utcOffset;
    _sign = utcOffset < 0 ? '-' : '+';
    _numWildcards = Uint16(6 - numSignificantMicrosecondDigits);
    // Wildcarded digits hold no value.
    Uint64 scale = 1;
    for (Uint16 i = 0; i < _numWildcards; i++) scale *= 10;
    _usec -= microseconds % scale;
}

CIMDateTime::CIMDateTime(Uint32 days, Uint32 hours, Uint32 minutes, Uint32 seconds, Uint32 microseconds,
                         Uint32 numSignificantMicrosecondDigits)
    : CIMDateTime()
{
    checkIntervalFields(days, hours, minutes, seconds, microseconds, numSignificantMicrosecondDigits);
    _numWildcards = Uint16(6 - numSignificantMicrosecondDigits);
    Uint64 scale = 1;
    for (Uint16 i = 0; i < _numWildcards; i++) scale *= 10;
    _usec = days * kDay + hours * kHour + minutes * kMinute + seconds * kSecond + microseconds -
            microseconds % scale;
}

CIMDateTime::~CIMDateTime() {}

CIMDateTime& CIMDateTime::operator=(const CIMDateTime& x)
{
    _usec = x._usec;
    _utcOffset = x._utcOffset;
    _sign = x._sign;
    _numWildcards = x._numWildcards;
    return *this;
}

void CIMDateTime::clear()
{
    *this = CIMDateTime();
}

void CIMDateTime::set(const String& str)
{
    if (str.size() != kTextLength) badFormat();
    const Char16* s = str.getChar16Data();
    if (Uint16(s[14]) != '.') badFormat();
    const Uint16 sign = s[21];
    bool wild = false;
    Uint16 numWild = 0;
    Uint64 usec = 0;
    Sint32 offset = 0;
    if (sign == ':') {
        const Uint32 days = readField(s, 0, 8, wild);
        if (wild) numWild = kWildDays;
        const Uint32 hours = readField(s, 8, 2, wild);
        if (wild && !numWild) numWild = kWildHours;
        const Uint32 minutes = readField(s, 10, 2, wild);
        if (wild && !numWild) numWild = kWildMinutes;
        const Uint32 seconds = readField(s, 12, 2, wild);
        if (wild && !numWild) numWild = kWildSeconds;
        Uint16 microWild = 0;
        const Uint32 micro = readMicroseconds(s, wild, microWild);
        if (!numWild) numWild = microWild;
        if (Uint16(s[22]) != '0' || Uint16(s[23]) != '0' || Uint16(s[24]) != '0') badFormat();
        checkIntervalFields(days, hours, minutes, seconds, micro, 6);
        usec = days * kDay + hours * kHour + minutes * kMinute + seconds * kSecond + micro;
    } else if (sign == '+' || sign == '-') {
        const Uint32 year = readField(s, 0, 4, wild);
        if (wild) numWild = kWildYear;
        Uint32 month = readField(s, 4, 2, wild);
        if (wild && !numWild) numWild = kWildMonth;
        Uint32 day = readField(s, 6, 2, wild);
        if (wild && !numWild) numWild = kWildDay;
        const Uint32 hours = readField(s, 8, 2, wild);
        if (wild && !numWild) numWild = kWildHours;
        const Uint32 minutes = readField(s, 10, 2, wild);
        if (wild && !numWild) numWild = kWildMinutes;
        const Uint32 seconds = readField(s, 12, 2, wild);
        if (wild && !numWild) numWild = kWildSeconds;
        Uint16 microWild = 0;
        const Uint32 micro = readMicroseconds(s, wild, microWild);
        if (!numWild) numWild = microWild;
        bool offsetWild = false;
        const Uint32 utc = readField(s, 22, 3, offsetWild);
        if (offsetWild) badFormat();
        // A wildcarded month or day stands for the first one.
        if (numWild >= kWildMonth) month = 1;
        if (numWild >= kWildDay) day = 1;
        offset = sign == '-' ? -Sint32(utc) : Sint32(utc);
        checkTimeStampFields(year, month, day, hours, minutes, seconds, micro, 6, offset);
        usec = Uint64(daysFromCivil(year, month, day)) * kDay + hours * kHour + minutes * kMinute +
               seconds * kSecond + micro;
    } else {
        badFormat();
    }
    _usec = usec;
    _utcOffset = offset;
    _sign = char(sign);
    _numWildcards = numWild;
}

String CIMDateTime::toString() const
{
    char text[kTextLength + 1];
    format(_usec, _sign, _utcOffset, _numWildcards, text);
    return String(text);
}

Uint64 CIMDateTime::toMicroSeconds() const
{
    const Sint64 v = normalized(_usec, _sign, _utcOffset, _numWildcards);
    // Only a timestamp in the first hours of year 0 with a positive offset lies before 0.
    return v < 0 ? 0 : Uint64(v);
}

Boolean CIMDateTime::isInterval() const
{
    return _sign == ':';
}

Boolean CIMDateTime::isInterval()
{
    return _sign == ':';
}

Boolean CIMDateTime::isTimeStamp() const
{
    return _sign != ':';
}

Boolean CIMDateTime::equal(const CIMDateTime& x) const
{
    if (isInterval() != x.isInterval()) return false;
    const Sint64 a = normalized(_usec, _sign, _utcOffset, _numWildcards);
    const Sint64 b = normalized(x._usec, x._sign, x._utcOffset, x._numWildcards);
    if (_numWildcards == 0 && x._numWildcards == 0) return a == b;
    if (a < 0 || b < 0) return a == b;
    // Compare the normalized texts, skipping positions that either side wildcards.
    char ta[kTextLength + 1], tb[kTextLength + 1];
    const char sign = isInterval() ? ':' : '+';
    format(Uint64(a), sign, 0, _numWildcards, ta);
    format(Uint64(b), sign, 0, x._numWildcards, tb);
    for (std::size_t i = 0; i < kTextLength; i++)
        if (ta[i] != '*' && tb[i] != '*' && ta[i] != tb[i]) return false;
    return true;
}

CIMDateTime CIMDateTime::getCurrentDateTime()
{
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    struct tm local;
    time_t seconds = tv.tv_sec;
    localtime_r(&seconds, &local);
    const Sint32 offsetMinutes = Sint32(local.tm_gmtoff / 60);
    return CIMDateTime(Uint32(local.tm_year + 1900), Uint32(local.tm_mon + 1), Uint32(local.tm_mday),
                       Uint32(local.tm_hour), Uint32(local.tm_min),
                       Uint32(local.tm_sec > 59 ? 59 : local.tm_sec), Uint32(tv.tv_usec), 6, offsetMinutes);
}

Sint64 CIMDateTime::getDifference(CIMDateTime startTime, CIMDateTime finishTime)
{
    if (startTime.isInterval() != finishTime.isInterval()) throw InvalidDateTimeFormatException();
    return Sint64(finishTime.toMicroSeconds()) - Sint64(startTime.toMicroSeconds());
}

Boolean operator==(const CIMDateTime& x, const CIMDateTime& y)
{
    return x.equal(y);
}

Boolean operator!=(const CIMDateTime& x, const CIMDateTime& y)
{
    return !x.equal(y);
}

PEGASUS_NAMESPACE_END
