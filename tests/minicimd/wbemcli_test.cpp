// sblim-wbemcli, an independent CIM-XML client, against minicimd over TCP:
// what it shows must be what the repository holds.
#include "minicimd_process.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <sys/wait.h>

using namespace orvtest;

namespace {

struct WbemRun {
    int status;
    std::string out;
};

// Runs wbemcli with the arguments (each shell-quoted) and collects stdout+stderr.
WbemRun wbemcli(const std::vector<std::string>& args)
{
    std::string cmd = "wbemcli";
    for (const auto& a : args) {
        std::string q = "'";
        for (char c : a) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
        cmd += " " + q + "'";
    }
    cmd += " 2>&1";
    WbemRun r{-1, ""};
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

bool haveWbemcli()
{
    return std::system("command -v wbemcli >/dev/null 2>&1") == 0;
}

}  // namespace

TEST(Wbemcli, ReadsAndChangesWhatTheRepositoryHolds)
{
    if (!haveWbemcli()) GTEST_SKIP() << "wbemcli is not installed (scripts/packages.txt lists sblim-wbemcli)";
    MinicimdProcess::Options o;
    o.tcp = true;
    o.extra = {"--allow-model-changes", "*"};  // wbemcli does not authenticate
    MinicimdProcess s(o);
    const std::string base = "http://localhost:" + std::to_string(s.port()) + "/root/test";
    const std::string host = "localhost:" + std::to_string(s.port()) + "/root/test";

    WbemRun r = wbemcli({"ecn", base});
    EXPECT_EQ(r.status, 0) << r.out;
    for (const char* c : {"Test_Base", "Test_Child", "Test_Special", "Test_Link", "Test_Methods"})
        EXPECT_NE(r.out.find(host + ":" + c + "\n"), std::string::npos) << c << "\n" << r.out;

    r = wbemcli({"gc", base + ":Test_Child"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out,
              host + ":Test_Child Name=,Count=,Label=,Flag=,Big=,Small=,Ratio=,Letter=,When=,Tags=,Id=\n");

    r = wbemcli({"ein", base + ":Test_Base"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, host + ":Test_Base.Name=\"alpha\"\n" + host + ":Test_Child.Id=2,Name=\"beta\"\n");

    const std::string alphaLine =
        host +
        ":Test_Base.Name=\"alpha\" Name=\"alpha\",Count=4294967295,Label=\"first\",Flag=TRUE,"
        "Big=18446744073709551615,Small=-5,Ratio=1.5000000000000000e+00,Letter=x,"
        "When=20261207041311.000000+000,Tags=\"a\",\"b\"\n";
    r = wbemcli({"gi", base + ":Test_Base.Name=\"alpha\""});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out, alphaLine);

    r = wbemcli({"ei", base + ":Test_Base"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.find(alphaLine), 0u) << r.out;
    EXPECT_NE(r.out.find(host + ":Test_Child.Id=2,Name=\"beta\" "), std::string::npos) << r.out;

    // Create, read back with defaults filled in, delete, and the delete shows.
    r = wbemcli({"ci", base + ":Test_Base.Name=\"w\"", "Name=\"w\",Label=\"made by wbemcli\""});
    EXPECT_EQ(r.status, 0) << r.out;
    r = wbemcli({"gi", base + ":Test_Base.Name=\"w\""});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Count=7"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Label=\"made by wbemcli\""), std::string::npos) << r.out;
    r = wbemcli({"ci", base + ":Test_Base.Name=\"w\"", "Name=\"w\""});
    EXPECT_NE(r.out.find("(11) CIM_ERR_ALREADY_EXISTS"), std::string::npos) << r.out;
    r = wbemcli({"di", base + ":Test_Base.Name=\"w\""});
    EXPECT_EQ(r.status, 0) << r.out;
    r = wbemcli({"gi", base + ":Test_Base.Name=\"w\""});
    EXPECT_NE(r.out.find("(6) CIM_ERR_NOT_FOUND: Test_Base.Name=\"w\""), std::string::npos) << r.out;
    r = wbemcli({"ein", base + ":Test_Base"});
    EXPECT_EQ(r.out.find("Name=\"w\""), std::string::npos) << r.out;

    // Methods: the echo provider, a provider failing on request, a declared
    // method without a provider and an undeclared one.
    r = wbemcli({"cm", base + ":Test_Methods.Name=\"m\"", "Echo.Text=hello,Number=-5"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Echo: hello"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Number (sint32): -5"), std::string::npos) << r.out;
    r = wbemcli({"cm", base + ":Test_Methods.Name=\"m\"",
                 "Echo.Text=t,When=20200101000000.000000+000,Target=Test_Base.Name=\"alpha\""});
    EXPECT_NE(r.out.find("When (datetime): 20200101000000.000000+000"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Target (reference): "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Test_Base.Name=\"alpha\""), std::string::npos) << r.out;
    r = wbemcli({"cm", base + ":Test_Methods.Name=\"m\"", "Fail.Code=12,Message=as asked"});
    EXPECT_NE(r.out.find("(12) CIM_ERR_NO_SUCH_PROPERTY: as asked"), std::string::npos) << r.out;
    r = wbemcli({"cm", base + ":Test_Methods.Name=\"m\"", "Unserved"});
    EXPECT_NE(r.out.find("(16) CIM_ERR_METHOD_NOT_AVAILABLE"), std::string::npos) << r.out;
    r = wbemcli({"cm", base + ":Test_Base.Name=\"alpha\"", "DoIt.Arg=x"});
    EXPECT_NE(r.out.find("(16) CIM_ERR_METHOD_NOT_AVAILABLE: DoIt"), std::string::npos) << r.out;

    // Errors wbemcli reports from the server.
    r = wbemcli({"gc", base + ":No_Such"});
    EXPECT_NE(r.out.find("(6) CIM_ERR_NOT_FOUND: No_Such"), std::string::npos) << r.out;
    r = wbemcli({"ecn", "http://localhost:" + std::to_string(s.port()) + "/root/nowhere"});
    EXPECT_NE(r.out.find("(3) CIM_ERR_INVALID_NAMESPACE"), std::string::npos) << r.out;
}
