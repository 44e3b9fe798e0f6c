// The netinfo natives called through the JVM (SystemActions.getNetworkMask / getMACAddress),
// inside a private network namespace built for the test: loopback, a veth pair with known
// addresses, and 40 labelled aliases on loopback, so the interface list holds more records
// than one 32-record listing could return.
#include <gtest/gtest.h>
#include <sched.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "orv_jvm_test.h"

extern char** environ;

namespace {

constexpr char kSystemActions[] = "com/zandor/retail/orv/mgmt/util/SystemActions";
constexpr int kAliasCount = 40;
constexpr char kVethMac[] = "02:5a:17:00:00:01";
const std::array<jbyte, 6> kVethMacBytes = {0x02, 0x5a, 0x17, 0x00, 0x00, 0x01};

std::string g_whyNoNamespace;
std::string g_peerMac;  // the kernel-chosen MAC of the veth peer, as `ip` shows it

// Runs a command (no shell) and returns its standard output; *ok tells whether it exited 0.
std::string Run(const std::vector<std::string>& args, bool* ok)
{
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    int out[2];
    if (pipe(out) != 0) {
        *ok = false;
        return {};
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    *ok = rc == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return text;
}

// iproute2's ip, wherever this system keeps it (root's PATH may lack the sbin directories).
std::string IpProgram()
{
    for (const char* p : {"/usr/sbin/ip", "/sbin/ip", "/usr/bin/ip", "/bin/ip"})
        if (access(p, X_OK) == 0) return p;
    return "ip";
}

std::string AliasAddress(int n)
{
    return "198.51.100." + std::to_string(n);
}

// Builds the namespace's interfaces.  "" on success, else what failed.
std::string BuildNetworkNamespace()
{
    if (geteuid() != 0) return "not running as root, so no private network namespace can be made";
    if (unshare(CLONE_NEWNET) != 0) return std::string("unshare(CLONE_NEWNET): ") + strerror(errno);
    std::vector<std::vector<std::string>> commands = {
        {"ip", "link", "set", "lo", "up"},
        {"ip", "link", "add", "orvveth0", "address", kVethMac, "type", "veth", "peer", "name", "orvveth1"},
        {"ip", "addr", "add", "192.0.2.10/24", "dev", "orvveth0"},
        {"ip", "addr", "add", "203.0.113.5/30", "dev", "orvveth1"},
        {"ip", "link", "set", "orvveth0", "up"},
        {"ip", "link", "set", "orvveth1", "up"},
    };
    for (int n = 1; n <= kAliasCount; ++n) {
        // The last alias has its own prefix length, so its mask cannot come from another record.
        const std::string prefix = n == kAliasCount ? "/20" : "/32";
        commands.push_back(
            {"ip", "addr", "add", AliasAddress(n) + prefix, "dev", "lo", "label", "lo:" + std::to_string(n)});
    }
    const std::string ip = IpProgram();
    for (auto& c : commands) {
        c[0] = ip;
        bool ok = false;
        Run(c, &ok);
        if (!ok) {
            std::string text;
            for (const auto& a : c) text += a + " ";
            return "failed: " + text;
        }
    }
    bool ok = false;
    // "orvveth1@orvveth0   UP   aa:bb:cc:dd:ee:ff <...>"
    const std::string line = Run({ip, "-br", "link", "show", "dev", "orvveth1"}, &ok);
    char name[64], state[64], mac[64];
    if (!ok || std::sscanf(line.c_str(), "%63s %63s %63s", name, state, mac) != 3)
        return "cannot read the veth peer's MAC address from ip: " + line;
    g_peerMac = mac;
    return "";
}

std::array<jbyte, 6> ParseMac(const std::string& text)
{
    std::array<jbyte, 6> bytes{};
    unsigned v[6] = {};
    std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]);
    for (int i = 0; i < 6; ++i) bytes[i] = static_cast<jbyte>(v[i]);
    return bytes;
}

struct Answer {
    bool isNull = false;  // the native returned null
    std::string mask;
    std::vector<jbyte> mac;
    orvtest::PendingException exception;
};

// Asks both natives about address (nullptr passes a Java null) through the JVM.
Answer Ask(JNIEnv* env, const char* address)
{
    Answer a;
    orvtest::LocalFrame frame(env);
    jclass cls = env->FindClass(kSystemActions);
    if (cls == nullptr) {
        a.exception = orvtest::TakeException(env);
        return a;
    }
    jmethodID maskId =
        env->GetStaticMethodID(cls, "getNetworkMask", "(Ljava/lang/String;)Ljava/lang/String;");
    jmethodID macId = env->GetStaticMethodID(cls, "getMACAddress", "(Ljava/lang/String;)[B");
    jstring arg = address != nullptr ? env->NewStringUTF(address) : nullptr;

    auto mask = static_cast<jstring>(env->CallStaticObjectMethod(cls, maskId, arg));
    a.exception = orvtest::TakeException(env);
    if (a.exception.pending) return a;
    a.isNull = mask == nullptr;
    a.mask = orvtest::ToStdString(env, mask);

    auto mac = static_cast<jbyteArray>(env->CallStaticObjectMethod(cls, macId, arg));
    a.exception = orvtest::TakeException(env);
    if (a.exception.pending) return a;
    a.isNull = a.isNull || mac == nullptr;
    if (mac != nullptr) {
        a.mac.resize(static_cast<size_t>(env->GetArrayLength(mac)));
        env->GetByteArrayRegion(mac, 0, static_cast<jsize>(a.mac.size()), a.mac.data());
    }
    env->DeleteLocalRef(mask);
    env->DeleteLocalRef(mac);
    env->DeleteLocalRef(arg);
    env->DeleteLocalRef(cls);
    return a;
}

std::vector<jbyte> Bytes(const std::array<jbyte, 6>& a)
{
    return std::vector<jbyte>(a.begin(), a.end());
}

class NetinfoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!g_whyNoNamespace.empty())
            GTEST_SKIP() << "SKIPPED, private network namespace unavailable: " << g_whyNoNamespace;
    }
};

TEST_F(NetinfoTest, InterfacesAnswerWithTheirOwnMaskAndMac)
{
    JNIEnv* env = orvtest::Env();
    Answer lo = Ask(env, "127.0.0.1");
    ASSERT_FALSE(lo.exception.pending) << lo.exception.className << ": " << lo.exception.message;
    EXPECT_EQ(lo.mask, "255.0.0.0");
    EXPECT_EQ(lo.mac, std::vector<jbyte>(6, 0));

    Answer veth = Ask(env, "192.0.2.10");
    ASSERT_FALSE(veth.exception.pending) << veth.exception.message;
    EXPECT_EQ(veth.mask, "255.255.255.0");
    EXPECT_EQ(veth.mac, Bytes(kVethMacBytes));

    Answer peer = Ask(env, "203.0.113.5");
    ASSERT_FALSE(peer.exception.pending) << peer.exception.message;
    EXPECT_EQ(peer.mask, "255.255.255.252");
    EXPECT_EQ(peer.mac, Bytes(ParseMac(g_peerMac))) << "ip shows " << g_peerMac;
}

TEST_F(NetinfoTest, AliasesAreFoundByTheirOwnAddressBeyondThe32ndRecord)
{
    JNIEnv* env = orvtest::Env();
    Answer first = Ask(env, AliasAddress(1).c_str());
    ASSERT_FALSE(first.exception.pending) << first.exception.message;
    EXPECT_EQ(first.mask, "255.255.255.255");
    EXPECT_EQ(first.mac, std::vector<jbyte>(6, 0));  // an alias of loopback

    for (int n = 2; n <= kAliasCount; ++n) {
        Answer a = Ask(env, AliasAddress(n).c_str());
        ASSERT_FALSE(a.exception.pending) << AliasAddress(n) << ": " << a.exception.message;
        EXPECT_EQ(a.mask, n == kAliasCount ? "255.255.240.0" : "255.255.255.255") << AliasAddress(n);
        EXPECT_EQ(a.mac.size(), 6u) << AliasAddress(n);
    }
}

TEST_F(NetinfoTest, AddressesNoInterfaceHasGiveEmptyAnswersWithoutException)
{
    JNIEnv* env = orvtest::Env();
    for (const char* address :
         {"198.51.100.41", "10.9.8.7", "127.000.000.001", "0127.0.0.1", "192.0.2.010", " 127.0.0.1",
          "127.0.0.1 ", "127.0.0.1\t", "", "localhost", "127.0.0.1.5", "::1",
          "1111111111111111111111111111111111111111111111111111111111111111111111111111"}) {
        Answer a = Ask(env, address);
        EXPECT_FALSE(a.exception.pending)
            << "'" << address << "': " << a.exception.className << ": " << a.exception.message;
        EXPECT_FALSE(a.isNull) << "'" << address << "'";
        EXPECT_EQ(a.mask, "") << "'" << address << "'";
        EXPECT_TRUE(a.mac.empty()) << "'" << address << "'";
    }
}

TEST_F(NetinfoTest, NullAddressThrowsNullPointerException)
{
    JNIEnv* env = orvtest::Env();
    orvtest::LocalFrame frame(env);
    jclass cls = orvtest::FindClassOrFail(env, kSystemActions);
    ASSERT_NE(cls, nullptr);
    struct Native {
        const char* name;
        const char* signature;
    };
    for (const Native& n : {Native{"getNetworkMask", "(Ljava/lang/String;)Ljava/lang/String;"},
                            Native{"getMACAddress", "(Ljava/lang/String;)[B"}}) {
        jmethodID id = env->GetStaticMethodID(cls, n.name, n.signature);
        ASSERT_NE(id, nullptr);
        jobject result = env->CallStaticObjectMethod(cls, id, static_cast<jstring>(nullptr));
        const orvtest::PendingException e = orvtest::TakeException(env);
        EXPECT_EQ(result, nullptr);
        ASSERT_TRUE(e.pending) << n.name;
        EXPECT_EQ(e.className, "java.lang.NullPointerException") << n.name;
        EXPECT_NE(e.message.find("must not be null"), std::string::npos) << e.message;
    }
    env->DeleteLocalRef(cls);
}

// Calls from several threads at once share nothing: each keeps getting its own answers.
TEST_F(NetinfoTest, ConcurrentCallsGetTheirOwnAnswers)
{
    constexpr int kThreads = 4;
    constexpr int kRounds = 100;
    std::vector<std::thread> threads;
    std::vector<int> wrong(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &wrong] {
            JNIEnv* env = nullptr;
            if (orvtest::Vm()->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK) {
                wrong[t] = -1;
                return;
            }
            const std::string address = t % 2 == 0 ? "192.0.2.10" : AliasAddress(kAliasCount);
            const std::string mask = t % 2 == 0 ? "255.255.255.0" : "255.255.240.0";
            for (int i = 0; i < kRounds; ++i) {
                Answer a = Ask(env, address.c_str());
                if (a.exception.pending || a.mask != mask || a.mac.size() != 6) ++wrong[t];
            }
            orvtest::Vm()->DetachCurrentThread();
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], 0) << "thread " << t;
}

}  // namespace

int main(int argc, char** argv)
{
    // The whole process, and so the JVM and all its threads, lives in the test's namespace.
    g_whyNoNamespace = BuildNetworkNamespace();
    if (!g_whyNoNamespace.empty())
        std::fprintf(stderr, "netinfo tests will skip: %s\n", g_whyNoNamespace.c_str());
    return orvtest::RunJvmTests(argc, argv);
}
