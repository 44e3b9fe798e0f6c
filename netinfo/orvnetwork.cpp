// netinfo: the network mask and the hardware address of the local interface that carries a
// given IPv4 address, for com.zandor.retail.orv.mgmt.util.SystemActions.
//
// Both natives list the IPv4 interface records with SIOCGIFCONF on a datagram socket, ask each
// record for its address and compare it, as text, with the caller's; a matching record is then
// asked for its mask or hardware address.  Nothing is kept between calls.

#include <jni.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace {

// The interface list starts with room for this many records and doubles while the kernel's
// answer fills the buffer (a full buffer may mean records were left out).
constexpr size_t kInitialInterfaceRecords = 32;
// Beyond this the list is taken as it is, so a runaway answer cannot exhaust memory.
constexpr size_t kMaxInterfaceRecords = 65536;
constexpr size_t kMessageBufferSize = 512;
constexpr jsize kMacAddressLength = 6;

// Pins the Java string's modified UTF-8 for the length of a call, on every way out.
struct UtfChars {
    UtfChars(JNIEnv* e, jstring s) : env(e), str(s), chars(e->GetStringUTFChars(s, nullptr)) {}
    ~UtfChars()
    {
        if (chars != nullptr) env->ReleaseStringUTFChars(str, chars);
    }
    UtfChars(const UtfChars&) = delete;
    UtfChars& operator=(const UtfChars&) = delete;
    JNIEnv* env;
    jstring str;
    const char* chars;
};

// Closes the scan socket on every way out.
struct SocketFd {
    explicit SocketFd(int f) : fd(f) {}
    ~SocketFd()
    {
        if (fd >= 0) close(fd);
    }
    SocketFd(const SocketFd&) = delete;
    SocketFd& operator=(const SocketFd&) = delete;
    int fd;
};

void ThrowNamed(JNIEnv* env, const char* className, const char* message)
{
    jclass cls = env->FindClass(className);
    if (cls == nullptr) return;  // FindClass left its own exception pending
    env->ThrowNew(cls, message);
    env->DeleteLocalRef(cls);
}

// Throws RuntimeException with "<format>" where the format holds one %d for the errno value.
void ThrowErrno(JNIEnv* env, const char* format, int error)
{
    char message[kMessageBufferSize];
    std::snprintf(message, sizeof message, format, error);
    ThrowNamed(env, "java/lang/RuntimeException", message);
}

// Lists the IPv4 interface records.  A failed listing counts as an empty list.
std::vector<ifreq> ListInterfaces(int fd)
{
    size_t capacity = kInitialInterfaceRecords;
    for (;;) {
        std::vector<ifreq> records(capacity);
        ifconf conf{};
        conf.ifc_len = static_cast<int>(capacity * sizeof(ifreq));
        conf.ifc_req = records.data();
        if (ioctl(fd, SIOCGIFCONF, &conf) < 0) return {};
        const size_t filled = static_cast<size_t>(conf.ifc_len) / sizeof(ifreq);
        if (filled < capacity || capacity >= kMaxInterfaceRecords) {
            records.resize(filled);
            return records;
        }
        capacity *= 2;
    }
}

std::string Dotted(const sockaddr& address)
{
    sockaddr_in in{};
    std::memcpy(&in, &address, sizeof in);
    char text[INET_ADDRSTRLEN] = {};
    // inet_ntop writes the same dotted decimal as inet_ntoa, but into our own buffer, so calls on
    // several threads cannot overwrite each other's text.
    if (inet_ntop(AF_INET, &in.sin_addr, text, sizeof text) == nullptr) return std::string();
    return text;
}

enum class Query { NetworkMask, MacAddress };

// The scan both natives share.  Returns the answer of the last record whose address is the
// given text (a new "" or byte[0] when none is), or null with an exception pending.
jobject Scan(JNIEnv* env, jstring jaddress, Query query)
{
    if (jaddress == nullptr) {
        ThrowNamed(env, "java/lang/NullPointerException",
                   query == Query::NetworkMask ? "getNetworkMask: the interface address must not be null"
                                               : "getMACAddress: the interface address must not be null");
        return nullptr;
    }
    UtfChars address(env, jaddress);
    if (address.chars == nullptr) return nullptr;  // OutOfMemoryError is pending

    SocketFd sock(socket(AF_INET, SOCK_DGRAM, 0));
    if (sock.fd < 0) {
        ThrowErrno(env, "Failed to open socket, error = %d", errno);
        return nullptr;
    }

    std::vector<ifreq> records = ListInterfaces(sock.fd);
    jobject result = nullptr;
    for (ifreq& record : records) {
        // The request is made on the record itself; its answer replaces the record's address.
        if (ioctl(sock.fd, SIOCGIFADDR, &record) < 0) {
            ThrowErrno(env, "ioctl(SIOCGIFADDR) failed, error = %d", errno);
            return nullptr;
        }
        if (Dotted(record.ifr_addr) != address.chars) continue;

        // When several records carry the address, the last one answers.
        if (result != nullptr) env->DeleteLocalRef(result);
        result = nullptr;
        if (query == Query::NetworkMask) {
            if (ioctl(sock.fd, SIOCGIFNETMASK, &record) < 0) {
                ThrowErrno(env, "ioctl(SIOCGIFNETMASK) failed, error = %d", errno);
                return nullptr;
            }
            result = env->NewStringUTF(Dotted(record.ifr_netmask).c_str());
        } else {
            if (ioctl(sock.fd, SIOCGIFHWADDR, &record) < 0) {
                ThrowErrno(env, "ioctl(SIOCGIFHWADDR) failed, error = %d", errno);
                return nullptr;
            }
            jbyteArray mac = env->NewByteArray(kMacAddressLength);
            if (mac != nullptr) {
                static_assert(sizeof record.ifr_hwaddr.sa_data >= kMacAddressLength,
                              "hardware address data holds a MAC address");
                env->SetByteArrayRegion(mac, 0, kMacAddressLength,
                                        reinterpret_cast<const jbyte*>(record.ifr_hwaddr.sa_data));
            }
            result = mac;
        }
        if (result == nullptr) return nullptr;  // OutOfMemoryError is pending
    }

    if (result == nullptr) {
        result = query == Query::NetworkMask ? static_cast<jobject>(env->NewStringUTF(""))
                                             : static_cast<jobject>(env->NewByteArray(0));
    }
    return result;
}

// No C++ exception may reach the JVM: a failed allocation becomes an OutOfMemoryError.
jobject GuardedScan(JNIEnv* env, jstring address, Query query)
{
    try {
        return Scan(env, address, query);
    } catch (const std::bad_alloc&) {
        ThrowNamed(env, "java/lang/OutOfMemoryError", "netinfo: out of native memory");
    } catch (...) {
        ThrowNamed(env, "java/lang/RuntimeException", "netinfo: unexpected internal failure");
    }
    return nullptr;
}

}  // namespace

extern "C" {

JNIEXPORT jstring JNICALL Java_com_zandor_retail_orv_mgmt_util_SystemActions_getNetworkMask(
    JNIEnv* env, jobject /*unused*/, jstring address)
{
    return static_cast<jstring>(GuardedScan(env, address, Query::NetworkMask));
}

JNIEXPORT jbyteArray JNICALL Java_com_zandor_retail_orv_mgmt_util_SystemActions_getMACAddress(
    JNIEnv* env, jobject /*unused*/, jstring address)
{
    return static_cast<jbyteArray>(GuardedScan(env, address, Query::MacAddress));
}

}  // extern "C"
