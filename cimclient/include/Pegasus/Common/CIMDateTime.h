// A CIM datetime: a timestamp "yyyymmddhhmmss.mmmmmmsutc" or an interval
// "ddddddddhhmmss.mmmmmm:000", with '*' for fields that are not significant.
#ifndef Pegasus_CIMDateTime_h
#define Pegasus_CIMDateTime_h
#include <Pegasus/Common/Config.h>
#include <Pegasus/Common/Linkage.h>
#include <Pegasus/Common/String.h>
#include <Pegasus/Common/Array.h>

PEGASUS_NAMESPACE_BEGIN

class PEGASUS_COMMON_LINKAGE CIMDateTime {
public:
    // The zero interval "00000000000000.000000:000".
    CIMDateTime();
    CIMDateTime(const CIMDateTime& x);
    CIMDateTime(const String& str);  // InvalidDateTimeFormatException, DateTimeOutOfRangeException
    // Microseconds since 0000-01-01 00:00:00 UTC, or the length of an interval.
    // DateTimeOutOfRangeException beyond year 9999 / 99999999 days.
    CIMDateTime(Uint64 usec, Boolean isInterval);
    // A timestamp from its fields; utcOffset in minutes (-999..999).
    // numSignificantMicrosecondDigits (0..6) says how many microsecond digits
    // are given; the rest are written as '*'.
    CIMDateTime(Uint32 year, Uint32 month, Uint32 day, Uint32 hours, Uint32 minutes, Uint32 seconds,
                Uint32 microseconds, Uint32 numSignificantMicrosecondDigits, Sint32 utcOffset);
    // An interval from its fields.
    CIMDateTime(Uint32 days, Uint32 hours, Uint32 minutes, Uint32 seconds, Uint32 microseconds,
                Uint32 numSignificantMicrosecondDigits);
    ~CIMDateTime();

    CIMDateTime& operator=(const CIMDateTime& x);
    void clear();
    void set(const String& str);  // InvalidDateTimeFormatException (malformed), DateTimeOutOfRangeException
                                  // (field out of range)

    String toString() const;
    // Timestamps: microseconds since 0000-01-01 00:00:00 UTC (the UTC offset applied);
    // intervals: their length.  Wildcard digits count as zero.
    Uint64 toMicroSeconds() const;
    Boolean isInterval() const;
    Boolean isInterval();
    Boolean isTimeStamp() const;
    // Equal instants (timestamps compared in UTC), ignoring digits that either
    // side leaves as wildcards.
    Boolean equal(const CIMDateTime& x) const;

    static CIMDateTime getCurrentDateTime();
    // finish - start in microseconds; both timestamps or both intervals, else
    // InvalidDateTimeFormatException.
    static Sint64 getDifference(CIMDateTime startTime, CIMDateTime finishTime);

private:
    Uint64 _usec;          // timestamps: local fields as microseconds since 0000-01-01
    Sint32 _utcOffset;     // minutes; timestamps only
    char _sign;            // '+', '-' or ':' (interval)
    Uint16 _numWildcards;  // trailing digits written as '*' (0..20)
};

PEGASUS_COMMON_LINKAGE Boolean operator==(const CIMDateTime& x, const CIMDateTime& y);
PEGASUS_COMMON_LINKAGE Boolean operator!=(const CIMDateTime& x, const CIMDateTime& y);

PEGASUS_NAMESPACE_END

#endif
