// The CIM bridge's trace: time-stamped lines to ORV_HOME/orvlogs/brevincimtrc.log
// when CIM_DEBUG_ENABLED is 1, to standard error for any other non-zero value.
// A file that is not this process's own plain file (a link, another user's
// file) is never written to: the trace then goes to standard error.
#ifndef ORV_CIMBRIDGE_DEBUGMSG_H
#define ORV_CIMBRIDGE_DEBUGMSG_H

extern "C" {
// Exported so that the trace can be switched from outside the library too.
// The library reads and writes it with relaxed atomic accesses (no lock).
__attribute__((visibility("default"))) extern int CIM_DEBUG_ENABLED;
}

// The trace switch, read and written atomically.
inline int traceMode()
{
    return __atomic_load_n(&CIM_DEBUG_ENABLED, __ATOMIC_RELAXED);
}
inline void setTraceMode(int mode)
{
    __atomic_store_n(&CIM_DEBUG_ENABLED, mode, __ATOMIC_RELAXED);
}

// The trace file is moved aside to brevincimtrc.log.1 (replacing the one there)
// before an entry would take it past this size, so a trace left on keeps at
// most twice this much on disk.
constexpr long kTraceFileLimit = 8L * 1024 * 1024;

// Writes one trace entry when tracing is on; the format carries its own line end.
void debugmsg(const char* format, ...) __attribute__((format(printf, 1, 2)));

#endif  // ORV_CIMBRIDGE_DEBUGMSG_H
