// Spawn latency of the sysactions native from a JVM whose 2 GiB heap is touched, next to
// ProcessBuilder starting the same program.  Runs in a private mount namespace in which
// /sbin/shutdown is the tests' stand-in (checked before every call); without the namespace it
// says so and measures nothing.  Arguments: [spawns].
#include <jni.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "shutdown_testkit.h"

namespace {

constexpr int kDefaultSpawns = 200;
constexpr int kWarmupSpawns = 20;

using Clock = std::chrono::steady_clock;

std::string ResidentSize()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return line.substr(6);
    return "?";
}

struct Figures {
    double medianUs = 0, meanUs = 0, p90Us = 0;
};

Figures Summarise(std::vector<double> us)
{
    Figures f;
    if (us.empty()) return f;
    std::sort(us.begin(), us.end());
    double sum = 0;
    for (double u : us) sum += u;
    f.meanUs = sum / us.size();
    f.medianUs = us[us.size() / 2];
    f.p90Us = us[us.size() * 9 / 10];
    return f;
}

bool Check(JNIEnv* env, const char* what)
{
    if (!env->ExceptionCheck()) return true;
    std::fprintf(stderr, "%s failed:\n", what);
    env->ExceptionDescribe();
    env->ExceptionClear();
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    const int spawns = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultSpawns;

    std::string whyNot;
    auto cover = orvtest::ShutdownCover::Create(&whyNot);
    if (!cover) {
        std::printf("sysactions spawn benchmark skipped: %s\n", whyNot.c_str());
        return 0;
    }
    orvtest::PlaceStandIn(ORV_STANDIN, cover->sbin(), 0755);
    const std::string program = "/sbin/shutdown";  // the stand-in, inside the namespace

    std::string classPath = "-Djava.class.path=" ORV_BENCH_CLASSPATH;
    std::string libraryPath = "-Djava.library.path=" ORV_BENCH_LIBPATH;
    std::vector<std::string> texts = {classPath, libraryPath, "-Xms2g", "-Xmx2g", "-XX:+AlwaysPreTouch"};
    std::vector<JavaVMOption> options(texts.size());
    for (size_t i = 0; i < texts.size(); ++i)
        options[i] = JavaVMOption{const_cast<char*>(texts[i].c_str()), nullptr};
    JavaVMInitArgs args{};
    args.version = JNI_VERSION_10;
    args.nOptions = static_cast<jint>(options.size());
    args.options = options.data();
    JavaVM* vm = nullptr;
    JNIEnv* env = nullptr;
    if (JNI_CreateJavaVM(&vm, reinterpret_cast<void**>(&env), &args) != JNI_OK) {
        std::fprintf(stderr, "JNI_CreateJavaVM failed\n");
        return 1;
    }

    jclass bench = env->FindClass("SpawnBench");
    if (!Check(env, "FindClass SpawnBench")) return 1;
    jmethodID viaNative = env->GetStaticMethodID(bench, "viaNative", "()I");
    jmethodID viaBuilder =
        env->GetStaticMethodID(bench, "viaProcessBuilder", "(Ljava/lang/String;)Ljava/lang/Process;");
    jmethodID waitFor = env->GetMethodID(env->FindClass("java/lang/Process"), "waitFor", "()I");
    if (!Check(env, "method lookup")) return 1;
    jstring jprogram = env->NewStringUTF(program.c_str());

    std::vector<double> nativeUs, builderUs;
    for (int i = 0; i < kWarmupSpawns + spawns; ++i) {
        std::string problem;
        if (!cover->Verify(&problem)) {
            std::fprintf(stderr, "stopping: %s\n", problem.c_str());
            return 1;
        }
        const auto t0 = Clock::now();
        const jint pid = env->CallStaticIntMethod(bench, viaNative);
        const auto t1 = Clock::now();
        if (!Check(env, "SystemActions.reboot") || pid <= 0) return 1;
        orvtest::WaitChild(pid);

        const auto t2 = Clock::now();
        jobject process = env->CallStaticObjectMethod(bench, viaBuilder, jprogram);
        const auto t3 = Clock::now();
        if (!Check(env, "ProcessBuilder.start")) return 1;
        env->CallIntMethod(process, waitFor);
        if (!Check(env, "Process.waitFor")) return 1;
        env->DeleteLocalRef(process);

        if (i >= kWarmupSpawns) {
            nativeUs.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
            builderUs.push_back(std::chrono::duration<double, std::micro>(t3 - t2).count());
        }
    }

    const Figures n = Summarise(nativeUs), b = Summarise(builderUs);
    std::printf("sysactions spawn benchmark: %d spawns each, JVM heap -Xms2g -XX:+AlwaysPreTouch, RSS%s\n",
                spawns, ResidentSize().c_str());
    std::printf("  SystemActions.reboot (posix_spawn)  median %8.1f us  mean %8.1f us  p90 %8.1f us\n",
                n.medianUs, n.meanUs, n.p90Us);
    std::printf("  ProcessBuilder.start                median %8.1f us  mean %8.1f us  p90 %8.1f us\n",
                b.medianUs, b.meanUs, b.p90Us);
    std::printf("  ratio native / ProcessBuilder (median): %.3f\n", n.medianUs / b.medianUs);
    // Machine-readable: name|value|unit|reference name|reference value.
    std::printf(
        "FIGURE spawn of the shutdown stand-in, SystemActions.reboot (median)|%.1f|us|ProcessBuilder.start "
        "(median)|%.1f\n",
        n.medianUs, b.medianUs);
    // The JVM is left to the process's end; its threads need no orderly stop here.
    return 0;
}
